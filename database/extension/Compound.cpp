#include "Compound.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace morvel::formats {

namespace {

constexpr uint32_t EndOfChain = 0xFFFFFFFE;
constexpr uint32_t FreeSector = 0xFFFFFFFF;
constexpr uint32_t FatSector = 0xFFFFFFFD;
constexpr uint32_t NoStream = 0xFFFFFFFF;
constexpr char Signature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

uint32_t u32(const std::string& b, size_t at) {
    if (at + 4 > b.size())
        return FreeSector;
    const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t u16(const std::string& b, size_t at) {
    if (at + 2 > b.size())
        return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
    return uint16_t(p[0] | p[1] << 8);
}

void put32(std::string& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
}

void put16(std::string& b, size_t at, uint16_t v) {
    b[at] = char(v & 0xFF);
    b[at + 1] = char(v >> 8);
}

// The sectors of a chain, concatenated; false on a broken or looping chain.
bool chain(const std::vector<uint32_t>& table, uint32_t start,
           const std::function<bool(uint32_t, std::string&)>& sector, std::string& out) {
    size_t steps = 0;
    for (uint32_t s = start; s != EndOfChain; s = table[s]) {
        if (s >= table.size() || ++steps > table.size() || !sector(s, out))
            return false;
    }
    return true;
}

} // namespace

bool readCompoundStream(const std::string& bytes, const std::string& name, std::string& stream) {
    if (bytes.size() < 512 || bytes.compare(0, 8, Signature, 8) != 0)
        return false;
    const unsigned shift = u16(bytes, 0x1E);
    const unsigned miniShift = u16(bytes, 0x20);
    if ((shift != 9 && shift != 12) || miniShift != 6)
        return false;
    const size_t size = size_t(1) << shift;
    const auto readSector = [&](uint32_t s, std::string& out) {
        const size_t at = (size_t(s) + 1) * size;
        if (at + size > bytes.size())
            return false;
        out.append(bytes, at, size);
        return true;
    };

    // The sector table, from the header's list and the list's own sectors.
    std::vector<uint32_t> fatSectors;
    for (size_t i = 0; i < 109; ++i)
        fatSectors.push_back(u32(bytes, 0x4C + 4 * i));
    uint32_t more = u32(bytes, 0x44);
    for (size_t guard = 0; more != EndOfChain && more != FreeSector; ++guard) {
        std::string list;
        if (guard > bytes.size() / size || !readSector(more, list))
            return false;
        for (size_t i = 0; i + 1 < size / 4; ++i)
            fatSectors.push_back(u32(list, 4 * i));
        more = u32(list, size - 4);
    }
    std::string fatBytes;
    for (uint32_t s : fatSectors)
        if (s != FreeSector && !readSector(s, fatBytes))
            return false;
    std::vector<uint32_t> fat(fatBytes.size() / 4);
    for (size_t i = 0; i < fat.size(); ++i)
        fat[i] = u32(fatBytes, 4 * i);

    std::string directory;
    if (!chain(fat, u32(bytes, 0x30), readSector, directory))
        return false;
    for (size_t at = 0; at + 128 <= directory.size(); at += 128) {
        const size_t nameBytes = std::min<size_t>(u16(directory, at + 0x40), 64);
        if (directory[at + 0x42] != 2 || nameBytes < 2)
            continue;
        std::string entryName;
        for (size_t i = 0; i + 2 < nameBytes; i += 2) // the last two bytes end the name
            entryName += char(u16(directory, at + i));
        if (entryName.size() != name.size() ||
            !std::equal(name.begin(), name.end(), entryName.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            }))
            continue;
        const uint32_t start = u32(directory, at + 0x74);
        const size_t length = u32(directory, at + 0x78);
        if (length >= u32(bytes, 0x38)) {
            if (!chain(fat, start, readSector, stream))
                return false;
        } else {
            // A small stream lies in the mini stream, in sectors of 64 bytes.
            std::string mini, miniFatBytes;
            if (!chain(fat, u32(directory, 0x74), readSector, mini) ||
                !chain(fat, u32(bytes, 0x3C), readSector, miniFatBytes))
                return false;
            std::vector<uint32_t> miniFat(miniFatBytes.size() / 4);
            for (size_t i = 0; i < miniFat.size(); ++i)
                miniFat[i] = u32(miniFatBytes, 4 * i);
            const auto readMini = [&](uint32_t s, std::string& out) {
                if ((size_t(s) + 1) * 64 > mini.size())
                    return false;
                out.append(mini, size_t(s) * 64, 64);
                return true;
            };
            if (!chain(miniFat, start, readMini, stream))
                return false;
        }
        if (stream.size() < length)
            return false;
        stream.resize(length);
        return true;
    }
    return false;
}

std::string writeCompoundFile(const std::string& name, const std::string& stream) {
    constexpr size_t size = 512;
    // At least the mini stream cut-off, so the stream lies in sectors of its
    // own; zeros after the last record are read as nothing.
    std::string body = stream;
    body.resize(std::max<size_t>(body.size(), 4096), '\0');
    const size_t streamSectors = (body.size() + size - 1) / size;
    size_t fatSectors = 1;
    while (fatSectors * (size / 4) < streamSectors + 1 + fatSectors)
        ++fatSectors;
    if (fatSectors > 109)
        return std::string();
    const uint32_t directorySector = uint32_t(streamSectors);

    std::string file(size * (1 + streamSectors + 1 + fatSectors), '\0');
    std::memcpy(file.data(), Signature, 8);
    put16(file, 0x18, 0x003E);
    put16(file, 0x1A, 3);
    put16(file, 0x1C, 0xFFFE);
    put16(file, 0x1E, 9);
    put16(file, 0x20, 6);
    put32(file, 0x2C, uint32_t(fatSectors));
    put32(file, 0x30, directorySector);
    put32(file, 0x38, 4096);
    put32(file, 0x3C, EndOfChain);
    put32(file, 0x44, EndOfChain);
    for (size_t i = 0; i < 109; ++i)
        put32(file, 0x4C + 4 * i, i < fatSectors ? directorySector + 1 + uint32_t(i) : FreeSector);

    std::memcpy(file.data() + size, body.data(), body.size());

    const size_t dir = size * (1 + streamSectors);
    const auto entry = [&](size_t index, const std::string& entryName, char type, uint32_t child,
                           uint32_t start, uint32_t length) {
        const size_t at = dir + 128 * index;
        for (size_t i = 0; i < entryName.size(); ++i)
            put16(file, at + 2 * i, uint16_t(static_cast<unsigned char>(entryName[i])));
        put16(file, at + 0x40, uint16_t(2 * (entryName.size() + 1)));
        file[at + 0x42] = type;
        file[at + 0x43] = 1; // black
        put32(file, at + 0x44, NoStream);
        put32(file, at + 0x48, NoStream);
        put32(file, at + 0x4C, child);
        put32(file, at + 0x74, start);
        put32(file, at + 0x78, length);
    };
    entry(0, "Root Entry", 5, 1, EndOfChain, 0);
    entry(1, name, 2, NoStream, 0, uint32_t(body.size()));
    for (size_t i = 2; i < 4; ++i) {
        put32(file, dir + 128 * i + 0x44, NoStream);
        put32(file, dir + 128 * i + 0x48, NoStream);
        put32(file, dir + 128 * i + 0x4C, NoStream);
    }

    const size_t fat = dir + size;
    for (size_t s = 0; s < fatSectors * (size / 4); ++s) {
        uint32_t next = FreeSector;
        if (s + 1 < streamSectors)
            next = uint32_t(s + 1);
        else if (s + 1 == streamSectors || s == directorySector)
            next = EndOfChain;
        else if (s > directorySector && s <= directorySector + fatSectors)
            next = FatSector;
        put32(file, fat + 4 * s, next);
    }
    return file;
}

} // namespace morvel::formats
