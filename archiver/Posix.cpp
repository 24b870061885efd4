#include "archiver/Posix.h"

#include "framework/core/Drives.h"

#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace rar {

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

Fd::~Fd() {
    if (fd_ >= 0)
        ::close(fd_);
}

int Fd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void Fd::close(const QString& what) {
    const int fd = release();
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR)
        throw Failure(systemError(what));
}

QString systemError(const QString& what) {
    return systemError(what, errno);
}

QString systemError(const QString& what, int error) {
    return what + ": " + QString::fromLocal8Bit(std::strerror(error));
}

QByteArray encodePath(const QString& path) {
    return QFile::encodeName(path);
}

QString decodePath(const char* bytes) {
    return QFile::decodeName(bytes);
}

namespace {

// write() or, with an offset, pwrite() until every byte is out.
void writeOut(int fd, const char* data, std::size_t size, off_t offset, bool at,
              const QString& what) {
    while (size > 0) {
        const ssize_t n = at ? ::pwrite(fd, data, size, offset) : ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw Failure(systemError(what));
        }
        data += n;
        size -= std::size_t(n);
        offset += n;
    }
}

} // namespace

void writeAll(int fd, const char* data, std::size_t size, const QString& what) {
    writeOut(fd, data, size, 0, false, what);
}

void writeAllAt(int fd, const char* data, std::size_t size, off_t offset, const QString& what) {
    writeOut(fd, data, size, offset, true, what);
}

std::size_t readSome(int fd, char* data, std::size_t size, const QString& what) {
    for (;;) {
        const ssize_t n = ::read(fd, data, size);
        if (n >= 0)
            return std::size_t(n);
        if (errno != EINTR)
            throw Failure(systemError(what));
    }
}

void syncFd(int fd, const QString& what) {
    if (::fsync(fd) != 0)
        throw Failure(systemError(what));
}

void syncFolder(const QString& folder) {
    Fd dir(::open(encodePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid())
        throw Failure(systemError("cannot open folder " + folder));
    syncFd(dir.get(), "cannot flush folder " + folder);
    dir.close("cannot close folder " + folder);
}

bool statAt(int dirFd, const QByteArray& name, struct stat& st, const QString& shown) {
    if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return true;
    if (errno == ENOENT)
        return false;
    throw Failure(systemError("cannot look at " + shown));
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

NamedPath NamedPath::given(const QString& path) {
    return {path, fw::hostPath(path)};
}

QString NamedPath::shownBelow(const QByteArray& utf8Relative) const {
    static const QRegularExpression drive("^[A-Za-z]:");
    const bool windows = shown.contains('\\') || drive.match(shown).hasMatch();
    const QChar separator = windows ? '\\' : '/';
    QString relative = QString::fromUtf8(utf8Relative);
    if (relative.isEmpty())
        return shown;
    relative.replace('/', separator);
    if (shown.isEmpty() || shown.endsWith('/') || shown.endsWith('\\'))
        return shown + relative;
    return shown + separator + relative;
}

} // namespace rar
