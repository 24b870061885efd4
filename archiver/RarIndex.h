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
    struct File {
        QByteArray name; // as stored (RAR 5.0: UTF-8)
        std::uint64_t size = 0;
        bool hasCrc = false;
        std::uint32_t crc = 0;
    };
    enum Format { unknown, rar4, rar5 };
    Format format = unknown;
    bool complete = false; // the end-of-archive header was reached
    bool opaque = false;   // encrypted headers: nothing to be learnt here
    QList<File> files;
};

RarIndex indexRar(const QString& path);

} // namespace rar
