#pragma once

#include <QStringList>

namespace rar {

// Runs one command line (the arguments after the program name) and returns
// the exit code.
int run(const QStringList& arguments);

} // namespace rar
