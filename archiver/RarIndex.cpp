#include "archiver/RarIndex.h"

#include "archiver/Rar5Writer.h"

#include <QFile>

#include <optional>

namespace rar {

namespace {

constexpr char signature4[] = "Rar!\x1a\x07\x00";
constexpr qint64 largestHeader = 2 * 1024 * 1024;

// Reads the fields of one header, all bounds checked.
class Fields {
public:
    explicit Fields(const QByteArray& bytes) : bytes_(bytes) {}

    std::optional<std::uint64_t> vint() {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 70 && at_ < bytes_.size(); shift += 7) {
            const auto byte = std::uint8_t(bytes_[at_++]);
            value |= std::uint64_t(byte & 0x7f) << shift;
            if (!(byte & 0x80))
                return value;
        }
        return std::nullopt;
    }
    std::optional<std::uint64_t> le(int size) {
        if (at_ + size > bytes_.size())
            return std::nullopt;
        std::uint64_t value = 0;
        for (int i = 0; i < size; ++i)
            value |= std::uint64_t(std::uint8_t(bytes_[at_++])) << (8 * i);
        return value;
    }
    std::optional<QByteArray> bytes(std::uint64_t size) {
        if (size > std::uint64_t(bytes_.size() - at_))
            return std::nullopt;
        const QByteArray out = bytes_.mid(at_, qsizetype(size));
        at_ += qsizetype(size);
        return out;
    }

private:
    const QByteArray& bytes_;
    qsizetype at_ = 0;
};

bool skip(QFile& file, std::uint64_t size) {
    return size <= std::uint64_t(file.size() - file.pos()) && file.seek(file.pos() + qint64(size));
}

std::optional<std::uint64_t> readVint(QFile& file, QByteArray& raw) {
    std::uint64_t value = 0;
    for (int shift = 0; shift < 70; shift += 7) {
        char byte;
        if (!file.getChar(&byte))
            return std::nullopt;
        raw.append(byte);
        value |= std::uint64_t(std::uint8_t(byte) & 0x7f) << shift;
        if (!(std::uint8_t(byte) & 0x80))
            return value;
    }
    return std::nullopt;
}

// A RAR 5.0 file header's fields behind type and flags, as far as they matter.
std::optional<RarIndex::File> fileFields5(Fields& f) {
    RarIndex::File file;
    const auto fileFlags = f.vint();
    const auto size = f.vint();
    if (!fileFlags || !size || !f.vint()) // attributes
        return std::nullopt;
    file.size = *size;
    if ((*fileFlags & 0x0002) && !f.le(4)) // mtime
        return std::nullopt;
    if (*fileFlags & 0x0004) {
        const auto crc = f.le(4);
        if (!crc)
            return std::nullopt;
        file.hasCrc = !(*fileFlags & 0x0001);
        file.crc = std::uint32_t(*crc);
    }
    if (!f.vint() || !f.vint()) // compression information, host OS
        return std::nullopt;
    const auto nameSize = f.vint();
    const auto name = nameSize ? f.bytes(*nameSize) : std::nullopt;
    if (!name)
        return std::nullopt;
    file.name = *name;
    return file;
}

void index5(QFile& file, RarIndex& index) {
    for (;;) {
        const QByteArray crcBytes = file.read(4);
        QByteArray sized;
        const auto size = readVint(file, sized);
        if (crcBytes.size() < 4 || !size || *size == 0 || *size > largestHeader)
            return;
        const QByteArray body = file.read(qint64(*size));
        if (body.size() != qsizetype(*size))
            return;
        sized += body;
        if (crc32(0, sized.constData(), std::size_t(sized.size())) != *Fields(crcBytes).le(4))
            return; // a damaged header: the reader reports it

        Fields f(body);
        const auto type = f.vint();
        const auto flags = f.vint();
        if (!type || !flags || ((*flags & 0x0001) && !f.vint())) // extra area size
            return;
        const auto dataSize = (*flags & 0x0002) ? f.vint() : std::optional<std::uint64_t>(0);
        if (!dataSize)
            return;
        if (*type == 4) {
            index.opaque = true;
            return;
        }
        if (*type == 5) {
            index.complete = true;
            return;
        }
        if (*type == 2) {
            const auto entry = fileFields5(f);
            if (!entry)
                return;
            index.files.append(*entry);
        }
        if (!skip(file, *dataSize))
            return;
    }
}

void index4(QFile& file, RarIndex& index) {
    for (;;) {
        const QByteArray head = file.read(7);
        if (head.isEmpty() && file.atEnd()) {
            index.complete = true; // archives before RAR 3.0 end without an end block
            return;
        }
        if (head.size() < 7)
            return;
        Fields h(head);
        const auto crc = *h.le(2);
        const auto type = *h.le(1);
        const auto flags = *h.le(2);
        const auto size = *h.le(2);
        if (size < 7)
            return;
        const QByteArray rest = file.read(qint64(size - 7));
        if (rest.size() != qsizetype(size - 7))
            return;
        const QByteArray checked = head.mid(2) + rest;
        if ((crc32(0, checked.constData(), std::size_t(checked.size())) & 0xffff) != crc) {
            // Damaged, or a block of an old version whose CRC covers only a
            // part of it: libarchive checks the headers it needs.
            index.opaque = true;
            return;
        }
        if (type == 0x7b) {
            index.complete = true;
            return;
        }
        Fields f(rest);
        std::uint64_t dataSize = 0;
        if (type == 0x74) {
            RarIndex::File entry;
            const auto packed = f.le(4);
            const auto unpacked = f.le(4);
            const auto host = f.le(1);
            const auto fileCrc = f.le(4);
            if (!packed || !unpacked || !host || !fileCrc || !f.le(4) || !f.le(2)) // time, versions
                return;
            const auto nameSize = f.le(2);
            if (!nameSize || !f.le(4)) // attributes
                return;
            dataSize = *packed;
            entry.size = *unpacked;
            if (flags & 0x0100) {
                const auto highPacked = f.le(4);
                const auto highUnpacked = f.le(4);
                if (!highPacked || !highUnpacked)
                    return;
                dataSize |= *highPacked << 32;
                entry.size |= *highUnpacked << 32;
            }
            const auto name = f.bytes(*nameSize);
            if (!name)
                return;
            entry.name = *name;
            entry.host = std::uint8_t(*host);
            entry.unicodeName = (flags & 0x0200) != 0;
            entry.hasCrc =
                (flags & 0x00e0) != 0x00e0 && !(flags & 0x0003); // neither folder nor split
            entry.crc = std::uint32_t(*fileCrc);
            index.files.append(entry);
        } else if (flags & 0x8000) {
            const auto added = f.le(4);
            if (!added)
                return;
            dataSize = *added;
        }
        if (flags & 0x0080 && type == 0x73) {
            index.opaque = true; // encrypted headers
            return;
        }
        if (!skip(file, dataSize))
            return;
    }
}

} // namespace

RarIndex indexRar(const QString& path) {
    RarIndex index;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return index;
    const QByteArray start = file.read(8);
    if (start == QByteArray(rar5Signature, rar5SignatureSize)) {
        index.format = RarIndex::rar5;
        index5(file, index);
    } else if (start.startsWith(QByteArray(signature4, 7))) {
        index.format = RarIndex::rar4;
        file.seek(7);
        index4(file, index);
    }
    return index;
}

} // namespace rar
