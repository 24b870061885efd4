#include "archiver/Report.h"

#include <algorithm>
#include <cstdio>

namespace rar {

namespace {

void print(const QString& message) {
    std::fputs(("rar: " + message + "\n").toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

} // namespace

void Report::warning(const QString& message) {
    print(message);
    code_ = std::max<int>(code_, ExitCode::warning);
}

void Report::error(const QString& message) {
    print(message);
    code_ = std::max<int>(code_, fatalError);
}

} // namespace rar
