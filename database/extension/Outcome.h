#pragma once

#include <string>

namespace morvel::formats {

// Why a file could not be read or written; the module turns it into the
// matching SQLSTATE.
enum class Failure {
    None,
    MissingFile,
    Unreadable,
    BadFormat,
    MissingTable,
    MissingColumn,
    BadValue,
    Busy,
    OutOfMemory,
    Internal,
};

// The result of one file operation: nothing, or a failure with a message
// that names the file and what is wrong with it.
struct Outcome {
    Failure failure = Failure::None;
    std::string message;

    bool ok() const { return failure == Failure::None; }
    static Outcome success() { return {}; }
    static Outcome fail(Failure why, std::string text) { return {why, std::move(text)}; }
};

// "“text”": the quotes every message puts around a file name or a value.
std::string quoted(const std::string& text);

// Refuses a path that does not name a readable regular file.
Outcome checkReadableFile(const std::string& path);

// True when `bytes` is well-formed UTF-8 without a NUL character.
bool isCleanUtf8(const std::string& bytes);

} // namespace morvel::formats
