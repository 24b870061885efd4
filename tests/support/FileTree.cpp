#include "FileTree.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

const QByteArray folderMark = "<folder>";

QByteArray randomBytes(qsizetype size) {
    QRandomGenerator gen{quint32(size)};
    std::vector<quint32> words(std::size_t(size + 3) / 4);
    gen.fillRange(words.data(), qsizetype(words.size()));
    return QByteArray(reinterpret_cast<const char*>(words.data()), size);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

Tree treeOf(const QString& root) {
    Tree tree;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(root).relativeFilePath(path);
        tree[rel] = it.fileInfo().isDir() ? folderMark : readFile(path);
    }
    return tree;
}

void writeTree(const QString& root, const Tree& tree) {
    QDir().mkpath(root);
    for (auto it = tree.begin(); it != tree.end(); ++it) {
        if (it.value() == folderMark)
            QDir().mkpath(root + "/" + it.key());
        else
            writeFile(root + "/" + it.key(), it.value());
    }
}

QStringList describe(const Tree& tree) {
    QStringList lines;
    for (auto it = tree.begin(); it != tree.end(); ++it)
        lines << (it.value() == folderMark
                      ? it.key() + "/"
                      : QString("%1 %2 %3")
                            .arg(it.key())
                            .arg(it.value().size())
                            .arg(QString::fromLatin1(
                                QCryptographicHash::hash(it.value(), QCryptographicHash::Md5)
                                    .toHex())));
    return lines;
}

bool extractWith(const QString& reader, const QString& archive, const QString& dest) {
    QDir().mkpath(dest);
    QProcess process;
    if (reader == "unar")
        process.start("unar", {"-q", "-f", "-D", "-o", dest, archive});
    else
        process.start("bsdtar", {"-x", "-f", archive, "-C", dest});
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

FolderWatch::FolderWatch(const QString& folder, std::uint32_t mask)
    : fd_(::inotify_init1(IN_CLOEXEC)) {
    ::inotify_add_watch(fd_, QFile::encodeName(folder).constData(), mask);
}

FolderWatch::~FolderWatch() {
    ::close(fd_);
}

template <class Match> bool FolderWatch::waitUntil(Match match) {
    for (;;) {
        // the events of the last read that were not looked at yet, first
        constexpr qsizetype head = sizeof(struct inotify_event);
        while (unread_.size() >= head) {
            std::uint32_t length;
            std::memcpy(&length, unread_.mid(offsetof(struct inotify_event, len), 4).constData(),
                        sizeof length);
            const QByteArray name = unread_.mid(head, length);
            unread_.remove(0, head + qsizetype(length));
            if (match(QByteArray(name.constData(), qstrnlen(name.constData(), name.size()))))
                return true;
        }
        struct pollfd ready = {fd_, POLLIN, 0};
        if (::poll(&ready, 1, 60000) != 1)
            return false;
        char buffer[4096];
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got > 0)
            unread_.append(buffer, got);
    }
}

bool FolderWatch::waitFor(const QByteArray& name) {
    return waitUntil([&](const QByteArray& got) { return name.isEmpty() || got == name; });
}

bool FolderWatch::waitForPrefix(const QByteArray& prefix) {
    return waitUntil([&](const QByteArray& got) { return got.startsWith(prefix); });
}
