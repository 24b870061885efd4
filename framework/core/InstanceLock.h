#pragma once

#include <QString>

namespace fw {

// A mark that one program holds for as long as it runs, so that a second
// start can tell it is not alone: a lock file of the given name in
// $XDG_RUNTIME_DIR (the user's own folder), else in the temporary folder,
// locked with flock. The kernel drops the lock when the holder ends, however
// it ends.
class InstanceLock {
public:
    explicit InstanceLock(const QString& name);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Another process holds the mark. When the mark cannot be made for any
    // other reason (no folder, a file of another user), this is false and
    // the program goes on without it.
    bool alreadyRunning() const { return m_alreadyRunning; }
    bool held() const { return m_fd >= 0; }

    // The file that carries the mark.
    static QString path(const QString& name);

private:
    int m_fd = -1;
    bool m_alreadyRunning = false;
};

} // namespace fw
