#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

namespace rar {

// What the headers of a RAR archive say, read straight from the file: the
// size and data CRC32 of every file header in order, and whether the end of
// the archive is there. libarchive leaves both unchecked for stored files.
struct RarIndex {
    // RAR 4.x host systems: the one that made the entry.
    enum Host : std::uint8_t { msdos = 0, os2 = 1, win32 = 2, unixHost = 3 };
    struct File {
        QByteArray name;          // as stored (RAR 5.0: UTF-8)
        std::uint8_t host = 0;    // RAR 4.x
        bool unicodeName = false; // RAR 4.x: the name carries a Unicode field behind a 0 byte
        std::uint64_t size = 0;
        bool hasCrc = false;
        std::uint32_t crc = 0;
    };
    enum Format { unknown, rar4, rar5 };
    Format format = unknown;
    // The end-of-archive header was reached (RAR 4.x: or the file ends after a
    // whole block, as archives before RAR 3.0 do).
    bool complete = false;
    // Encrypted headers, or (RAR 4.x) a header CRC that does not match:
    // nothing more to be learnt here.
    bool opaque = false;
    QList<File> files;
};

RarIndex indexRar(const QString& path);

} // namespace rar
