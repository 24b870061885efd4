#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>

// Folders as the tests see them: every file and folder below a root, with
// the bytes of each file, compared whole.
using Tree = QMap<QString, QByteArray>; // relative path ("/" between parts) -> bytes
extern const QByteArray folderMark;     // what a folder holds in a Tree

// Bytes that don't compress, the same for the same size.
QByteArray randomBytes(qsizetype size);

void writeFile(const QString& path, const QByteArray& bytes); // folders made as needed
QByteArray readFile(const QString& path);                     // "<missing>" when it can't
Tree treeOf(const QString& root);                             // empty when root is missing
void writeTree(const QString& root, const Tree& tree);
// A line per entry, "path size md5", for a failure that reads well.
QStringList describe(const Tree& tree);

// Extracts an archive with one of the independent readers ("bsdtar" or
// "unar") into dest; false when the reader fails.
bool extractWith(const QString& reader, const QString& archive, const QString& dest);

// Waits for inotify events on one folder (not below it).
class FolderWatch {
public:
    FolderWatch(const QString& folder, std::uint32_t mask);
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // True once an event for `name` arrived (any name when empty); false
    // after a minute without one. Each event counts once: a second call
    // waits for the next.
    bool waitFor(const QByteArray& name = {});
    // The same for the first name that `prefix` begins.
    bool waitForPrefix(const QByteArray& prefix);

private:
    template <class Match> bool waitUntil(Match match);
    int fd_;
    QByteArray unread_;
};
