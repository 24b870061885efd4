#pragma once

#include "archiver/RarIndex.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

struct archive;

namespace rar {

// One entry of an archive as the reader hands it over.
struct ArchiveEntry {
    enum Kind { file, folder, link, other };
    QByteArray name; // UTF-8, as stored
    Kind kind = other;
    std::uint64_t size = 0;
    bool sizeKnown = false;
    std::int64_t mtime = 0;
    std::int64_t mtimeNanoseconds = 0;
    std::uint32_t mode = 0;
};

// Reads RAR 4.x and RAR 5.0 archives (libarchive). A RAR 4.x name without a
// Unicode field is read by the system that made the entry: in the OEM code
// page of a Chinese Windows (936) when it came from Windows, OS/2 or DOS, as
// UTF-8 when it came from another system and is valid UTF-8, else as 936.
class ArchiveReader {
public:
    // The archive at the host path `path`; `shown` names it in messages.
    ArchiveReader(const QString& path, const QString& shown);
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // The next entry; false at the end. Throws when the archive cannot be read
    // further. A problem the reader could step over is left in warning().
    bool next(ArchiveEntry& entry);
    QString warning() const { return warning_; }
    // Up to `capacity` bytes of the current entry's data; 0 at its end. Throws
    // on damaged data (a CRC error among them).
    std::size_t read(char* buffer, std::size_t capacity);
    // Throws when a RAR archive ends before its end-of-archive header (RAR
    // 4.x: in the middle of a block).
    void checkComplete() const;

private:
    QString failure(const QString& what) const;
    void checkCrc();

    struct archive* archive_;
    QString shown_;
    QString warning_;
    RarIndex index_;
    qsizetype fileHeaders_ = 0; // file headers passed
    std::optional<std::uint32_t> expectedCrc_;
    std::uint32_t crc_ = 0;
    std::uint64_t read_ = 0;
    std::uint64_t size_ = 0;
    bool checked_ = false;
    QByteArray name_;
};

// The folders and file name of an entry name, split at "/" and "\" with empty
// and "." parts left out; nothing when the name is absolute (a leading
// separator or a drive letter) or climbs with "..".
std::optional<QList<QByteArray>> safeParts(const QByteArray& name);

} // namespace rar
