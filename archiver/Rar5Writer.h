#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <sys/types.h>
#include <vector>

namespace rar {

// The first bytes of every RAR 5.0 archive.
inline constexpr char rar5Signature[] = "Rar!\x1a\x07\x01\x00";
inline constexpr std::size_t rar5SignatureSize = 8;

// Writes a RAR 5.0 archive with stored (uncompressed) entries into a new file:
// the signature, a main header, one file header per file or folder (UTF-8
// name with "/" between folders, size, Unix mode, modification time, CRC32 of
// the data), each file's data streamed behind its header, and the end header.
// Every header carries the CRC32 of its own bytes.
class Rar5Writer {
public:
    // Fills `buffer` with up to `capacity` bytes of the file; 0 at its end.
    using Source = std::function<std::size_t(char* buffer, std::size_t capacity)>;

    // `fd` is a new, empty file open for writing; `what` names it in messages.
    Rar5Writer(int fd, QString what);

    void begin();
    void addFolder(const QByteArray& utf8Name, std::int64_t mtime, std::uint32_t mode);
    // Stores exactly `size` bytes read from `source`; throws when the source
    // ends early. The data's CRC32 goes into the header, which is written
    // first and completed once the data has passed.
    void addFile(const QByteArray& utf8Name, std::uint64_t size, std::int64_t mtime,
                 std::uint32_t mode, const Source& source);
    // Writes the end header and hands every byte to the kernel.
    void finish();

private:
    QByteArray fileHeader(const QByteArray& utf8Name, bool folder, std::uint64_t size,
                          std::int64_t mtime, std::uint32_t mode, std::uint32_t crc) const;
    void put(const QByteArray& bytes);
    void patch(off_t offset, const QByteArray& bytes);
    void flush();

    int fd_;
    QString what_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
    off_t flushed_ = 0; // file offset of buffer_[0]
};

// The CRC32 (ISO-HDLC, as in zip and RAR) of `size` bytes, continuing `crc`.
std::uint32_t crc32(std::uint32_t crc, const char* data, std::size_t size);

} // namespace rar
