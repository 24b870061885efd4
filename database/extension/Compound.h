#pragma once

#include <string>

namespace morvel::formats {

// The compound file (OLE2) container of an Excel 97-2003 workbook: just
// enough of it to take one stream out and to put one stream into a new file.

// The bytes of the stream `name` (matched without regard to ASCII case);
// false when the bytes are no compound file or hold no such stream.
bool readCompoundStream(const std::string& bytes, const std::string& name, std::string& stream);

// A compound file that holds the one stream `name`, or the empty text when
// the stream is too large for a file without an extended sector table.
std::string writeCompoundFile(const std::string& name, const std::string& stream);

} // namespace morvel::formats
