#pragma once

#include "framework/core/Error.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <sys/stat.h>

namespace rar {

// The archiver's failure: what() is the message printed on standard error.
using Failure = fw::Error;

// A file descriptor that closes itself.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd();

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    // Closes now and reports a failed close (a write the kernel could not
    // finish shows up here).
    void close(const QString& what);

private:
    int fd_ = -1;
};

// The text of errno, prefixed with what was being done.
QString systemError(const QString& what);
// The text of an errno value, prefixed with what was being done.
QString systemError(const QString& what, int error);

// Bytes of a host path for the system calls, and back.
QByteArray encodePath(const QString& path);
QString decodePath(const char* bytes);

// Writes all of `data`, or throws.
void writeAll(int fd, const char* data, std::size_t size, const QString& what);
// Writes all of `data` at `offset`, or throws.
void writeAllAt(int fd, const char* data, std::size_t size, off_t offset, const QString& what);
// Reads up to `size` bytes, retrying on EINTR; 0 at end of file. Throws on errors.
std::size_t readSome(int fd, char* data, std::size_t size, const QString& what);

// Flushes a file or a folder to the disk, or throws.
void syncFd(int fd, const QString& what);
void syncFolder(const QString& folder);

// lstat of a path relative to `dirFd`; false if it does not exist. `shown`
// names the path in the message of a failure.
bool statAt(int dirFd, const QByteArray& name, struct stat& st, const QString& shown);

// The process's file-mode creation mask.
mode_t currentUmask();

// A path as the command line named it, for the messages, and the host path
// that the system calls take ("e:\考生文件夹" and the folder of drive e).
struct NamedPath {
    QString shown;
    QString host;

    static NamedPath given(const QString& path);
    // A path below this folder ("/" between its parts), shown with the
    // separator that this path is written with.
    QString shownBelow(const QByteArray& utf8Relative) const;
};

} // namespace rar
