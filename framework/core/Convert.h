#pragma once

#include <QString>

namespace fw {

// StrToInt: a text as a 32-bit whole number, as the programs' platform reads
// one: blanks before it, a sign, decimal digits or a hexadecimal number after
// "$" or "0x"; nothing may follow. Any other text raises fw::Error
// "'text' is not a valid integer value".
int strToInt(const QString& text);

} // namespace fw
