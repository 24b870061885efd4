#include "archiver/Rar5Writer.h"

#include "archiver/Posix.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <zlib.h>

namespace rar {

namespace {

constexpr std::size_t bufferSize = std::size_t(1) << 20;

constexpr std::uint64_t mainHeader = 1;
constexpr std::uint64_t fileHeaderType = 2;
constexpr std::uint64_t endHeader = 5;
constexpr std::uint64_t hasData = 0x0002;  // header flag
constexpr std::uint64_t isFolder = 0x0001; // file flags
constexpr std::uint64_t hasUnixTime = 0x0002;
constexpr std::uint64_t hasCrc = 0x0004;
constexpr std::uint64_t hostUnix = 1;
constexpr std::uint64_t storedMethod = 0;

void putVint(QByteArray& out, std::uint64_t value) {
    while (value >= 0x80) {
        out.append(char((value & 0x7f) | 0x80));
        value >>= 7;
    }
    out.append(char(value));
}

void putUint32(QByteArray& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

// A whole header around `body` (type, flags and the fields behind them): its
// CRC32, its size, the body.
QByteArray header(const QByteArray& body) {
    QByteArray sized;
    putVint(sized, std::uint64_t(body.size()));
    sized.append(body);
    QByteArray out;
    putUint32(out, crc32(0, sized.constData(), std::size_t(sized.size())));
    out.append(sized);
    return out;
}

std::uint32_t unixTime(std::int64_t seconds) {
    return std::uint32_t(
        std::clamp<std::int64_t>(seconds, 0, std::numeric_limits<std::uint32_t>::max()));
}

} // namespace

std::uint32_t crc32(std::uint32_t crc, const char* data, std::size_t size) {
    while (size > 0) {
        const uInt chunk = uInt(std::min<std::size_t>(size, std::numeric_limits<uInt>::max()));
        crc = std::uint32_t(::crc32(crc, reinterpret_cast<const Bytef*>(data), chunk));
        data += chunk;
        size -= chunk;
    }
    return crc;
}

Rar5Writer::Rar5Writer(int fd, QString what)
    : fd_(fd), what_(std::move(what)), buffer_(bufferSize) {}

void Rar5Writer::begin() {
    put(QByteArray(rar5Signature, rar5SignatureSize));
    QByteArray body;
    putVint(body, mainHeader);
    putVint(body, 0); // header flags
    putVint(body, 0); // archive flags: one volume, not solid
    put(header(body));
}

void Rar5Writer::addFolder(const QByteArray& utf8Name, std::int64_t mtime, std::uint32_t mode) {
    put(fileHeader(utf8Name, true, 0, mtime, mode, 0));
}

void Rar5Writer::addFile(const QByteArray& utf8Name, std::uint64_t size, std::int64_t mtime,
                         std::uint32_t mode, const Source& source) {
    const off_t headerAt = flushed_ + off_t(used_);
    put(fileHeader(utf8Name, false, size, mtime, mode, 0));
    std::uint32_t crc = 0;
    for (std::uint64_t left = size; left > 0;) {
        if (used_ == buffer_.size())
            flush();
        const std::size_t room = std::size_t(std::min<std::uint64_t>(buffer_.size() - used_, left));
        const std::size_t got = source(buffer_.data() + used_, room);
        if (got == 0)
            throw Failure("file ended early: " + QString::fromUtf8(utf8Name));
        crc = crc32(crc, buffer_.data() + used_, got);
        used_ += got;
        left -= got;
    }
    // Same fields, same lengths: only the four bytes of the data CRC and the
    // header CRC change.
    patch(headerAt, fileHeader(utf8Name, false, size, mtime, mode, crc));
}

void Rar5Writer::finish() {
    QByteArray body;
    putVint(body, endHeader);
    putVint(body, 0); // header flags
    putVint(body, 0); // end flags: last volume
    put(header(body));
    flush();
}

QByteArray Rar5Writer::fileHeader(const QByteArray& utf8Name, bool folder, std::uint64_t size,
                                  std::int64_t mtime, std::uint32_t mode, std::uint32_t crc) const {
    QByteArray body;
    putVint(body, fileHeaderType);
    // Every file header has a data area, empty for folders and empty files:
    // libarchive refuses file headers without one.
    putVint(body, hasData);
    putVint(body, size); // stored: the packed size is the size
    putVint(body, folder ? isFolder | hasUnixTime : hasUnixTime | hasCrc);
    putVint(body, size);
    putVint(body, mode);
    putUint32(body, unixTime(mtime));
    if (!folder)
        putUint32(body, crc);
    putVint(body, storedMethod);
    putVint(body, hostUnix);
    putVint(body, std::uint64_t(utf8Name.size()));
    body.append(utf8Name);
    return header(body);
}

void Rar5Writer::put(const QByteArray& bytes) {
    if (used_ + std::size_t(bytes.size()) > buffer_.size())
        flush();
    if (std::size_t(bytes.size()) > buffer_.size()) {
        writeAll(fd_, bytes.constData(), std::size_t(bytes.size()), "cannot write " + what_);
        flushed_ += bytes.size();
        return;
    }
    std::memcpy(buffer_.data() + used_, bytes.constData(), std::size_t(bytes.size()));
    used_ += std::size_t(bytes.size());
}

void Rar5Writer::patch(off_t offset, const QByteArray& bytes) {
    if (offset >= flushed_) {
        std::memcpy(buffer_.data() + (offset - flushed_), bytes.constData(),
                    std::size_t(bytes.size()));
        return;
    }
    flush();
    writeAllAt(fd_, bytes.constData(), std::size_t(bytes.size()), offset, "cannot write " + what_);
}

void Rar5Writer::flush() {
    writeAll(fd_, buffer_.data(), used_, "cannot write " + what_);
    flushed_ += off_t(used_);
    used_ = 0;
}

} // namespace rar
