#include "archiver/ArchiveReader.h"

#include "archiver/Posix.h"
#include "archiver/Rar5Writer.h"

#include "framework/core/Gbk.h"

#include <archive.h>
#include <archive_entry.h>
#include <cctype>

namespace rar {

namespace {

bool isOemHost(std::uint8_t host) {
    return host == RarIndex::msdos || host == RarIndex::os2 || host == RarIndex::win32;
}

// A RAR 4.x name without a Unicode field, read by the system that made it,
// "/" between its parts. Decoded here from the header's bytes: libarchive
// reads every such name in one code page, and turns every byte 0x5c into "/"
// before decoding, which breaks the GBK characters whose second byte is 0x5c
// (淺, 禱, ‐ ...).
QByteArray rar4Name(const QByteArray& bytes, std::uint8_t host) {
    const bool utf8 = !isOemHost(host) && QString::fromUtf8(bytes).toUtf8() == bytes;
    QString name = utf8 ? QString::fromUtf8(bytes) : fw::fromGbk(bytes);
    return name.replace('\\', '/').toUtf8();
}

} // namespace

ArchiveReader::ArchiveReader(const QString& path, const QString& shown)
    : archive_(archive_read_new()), shown_(shown), index_(indexRar(path)) {
    if (!archive_)
        throw Failure("out of memory");
    archive_read_support_format_rar(archive_);
    archive_read_support_format_rar5(archive_);
    archive_read_set_options(archive_, "rar:hdrcharset=CP936");
    if (archive_read_open_filename(archive_, encodePath(path).constData(), 1 << 16) != ARCHIVE_OK) {
        const QString message = failure("cannot open archive " + shown);
        archive_read_free(archive_);
        throw Failure(message);
    }
}

ArchiveReader::~ArchiveReader() {
    archive_read_free(archive_);
}

bool ArchiveReader::next(ArchiveEntry& entry) {
    warning_.clear();
    struct archive_entry* e = nullptr;
    const int r = archive_read_next_header(archive_, &e);
    if (r == ARCHIVE_EOF)
        return false;
    if (r < ARCHIVE_WARN)
        throw Failure(failure("damaged archive " + shown_));
    if (r == ARCHIVE_WARN)
        warning_ = failure(shown_);

    const char* utf8 = archive_entry_pathname_utf8(e);
    const char* raw = archive_entry_pathname(e);
    entry.name = utf8 ? QByteArray(utf8) : QByteArray(raw ? raw : "");
    const auto type = archive_entry_filetype(e);
    if (archive_entry_hardlink(e) || archive_entry_symlink(e) || type == AE_IFLNK)
        entry.kind = ArchiveEntry::link;
    else if (type == AE_IFDIR)
        entry.kind = ArchiveEntry::folder;
    else if (type == AE_IFREG)
        entry.kind = ArchiveEntry::file;
    else
        entry.kind = ArchiveEntry::other;
    entry.sizeKnown = archive_entry_size_is_set(e) != 0;
    entry.size = entry.sizeKnown ? std::uint64_t(archive_entry_size(e)) : 0;
    entry.mtime = archive_entry_mtime_is_set(e) ? archive_entry_mtime(e) : 0;
    entry.mtimeNanoseconds = archive_entry_mtime_is_set(e) ? archive_entry_mtime_nsec(e) : 0;
    entry.mode = std::uint32_t(archive_entry_mode(e));

    // libarchive does not check stored data: its CRC comes from our own
    // reading of the headers, one file header per entry. The size (and for
    // RAR 5.0 the name) tells that the two readings agree.
    expectedCrc_.reset();
    if (fileHeaders_ < index_.files.size()) {
        const RarIndex::File& file = index_.files[fileHeaders_];
        if (index_.format == RarIndex::rar4 && file.size == entry.size) {
            const bool unnamed = entry.name.isEmpty();
            if (!file.unicodeName)
                entry.name = rar4Name(file.name, file.host);
            else if (unnamed) // libarchive could not read the Unicode field
                entry.name = rar4Name(file.name.left(file.name.indexOf('\0')), file.host);
            if (unnamed)
                warning_.clear(); // the name it could not convert
        }
        if (file.hasCrc && file.size == entry.size &&
            (index_.format != RarIndex::rar5 || file.name == entry.name))
            expectedCrc_ = file.crc;
    }
    name_ = entry.name;
    ++fileHeaders_;
    crc_ = 0;
    read_ = 0;
    size_ = entry.size;
    checked_ = !entry.sizeKnown || entry.kind != ArchiveEntry::file;
    return true;
}

std::size_t ArchiveReader::read(char* buffer, std::size_t capacity) {
    const la_ssize_t n = archive_read_data(archive_, buffer, capacity);
    if (n < 0)
        throw Failure(failure("damaged data in " + shown_));
    crc_ = crc32(crc_, buffer, std::size_t(n));
    read_ += std::uint64_t(n);
    if (n == 0 || read_ >= size_)
        checkCrc();
    return std::size_t(n);
}

void ArchiveReader::checkCrc() {
    if (checked_)
        return;
    checked_ = true;
    if (read_ != size_)
        throw Failure("damaged data in " + shown_ + ": " + QString::fromUtf8(name_) +
                      " is shorter than its header says");
    if (expectedCrc_ && *expectedCrc_ != crc_)
        throw Failure("damaged data in " + shown_ + ": CRC error in " + QString::fromUtf8(name_));
}

void ArchiveReader::checkComplete() const {
    if (index_.format != RarIndex::unknown && !index_.opaque && !index_.complete)
        throw Failure("archive " + shown_ + " is truncated: its end is missing");
}

QString ArchiveReader::failure(const QString& what) const {
    const char* text = archive_error_string(archive_);
    return text ? what + ": " + QString::fromUtf8(text) : what;
}

std::optional<QList<QByteArray>> safeParts(const QByteArray& name) {
    if (name.startsWith('/') || name.startsWith('\\'))
        return std::nullopt;
    if (name.size() >= 2 && name.at(1) == ':' &&
        std::isalpha(static_cast<unsigned char>(name.at(0))))
        return std::nullopt;
    QByteArray unified = name;
    unified.replace('\\', '/');
    QList<QByteArray> parts;
    for (const QByteArray& part : unified.split('/')) {
        if (part == "..")
            return std::nullopt;
        if (!part.isEmpty() && part != ".")
            parts.append(part);
    }
    return parts;
}

} // namespace rar
