#pragma once

#include <QString>

namespace rar {

// Exit codes of the archiver.
enum ExitCode { success = 0, warning = 1, fatalError = 2, usageError = 7 };

// What went wrong during one command: every message goes to standard error at
// once, and the worst of them decides the exit code.
class Report {
public:
    void warning(const QString& message);
    void error(const QString& message);
    int exitCode() const { return code_; }

private:
    int code_ = success;
};

} // namespace rar
