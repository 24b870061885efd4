#include "Rar5Archive.h"

#include "archiver/Rar5Writer.h"
#include "tests/support/FileTree.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QByteArray rar5Archive(const QList<Rar5Entry>& entries) {
    QTemporaryDir dir;
    const QString path = dir.filePath("x.rar");
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT, 0644);
    rar::Rar5Writer writer(fd, path);
    writer.begin();
    for (const Rar5Entry& e : entries) {
        if (S_ISDIR(e.mode)) {
            writer.addFolder(e.name, 1600000000, e.mode);
            continue;
        }
        qsizetype at = 0;
        writer.addFile(e.name, std::uint64_t(e.data.size()), 1600000000, e.mode,
                       [&](char* buffer, std::size_t capacity) {
                           const auto n =
                               std::min<qsizetype>(qsizetype(capacity), e.data.size() - at);
                           std::memcpy(buffer, e.data.constData() + at, std::size_t(n));
                           at += n;
                           return std::size_t(n);
                       });
    }
    writer.finish();
    ::close(fd);
    return readFile(path);
}
