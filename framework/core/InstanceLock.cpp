#include "framework/core/InstanceLock.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fw {

QString InstanceLock::path(const QString& name) {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QDir(folder).filePath(name);
}

InstanceLock::InstanceLock(const QString& name) {
    const QByteArray file = QFile::encodeName(path(name));
    // Never through a link, and only a file of our own: in a folder shared
    // with other users, another user's file must not decide for us.
    const int fd = ::open(file.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid() || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return;
    }
    int locked;
    do
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        m_alreadyRunning = errno == EWOULDBLOCK;
        ::close(fd);
        return;
    }
    m_fd = fd;
}

InstanceLock::~InstanceLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace fw
