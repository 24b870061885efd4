#include "Outcome.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace morvel::formats {

std::string quoted(const std::string& text) {
    return "“" + text + "”";
}

Outcome checkReadableFile(const std::string& path) {
    if (path.empty())
        return Outcome::fail(Failure::MissingFile, "没有给出文件名");
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return Outcome::fail(Failure::MissingFile, "文件" + quoted(path) + "不存在");
        return Outcome::fail(Failure::Unreadable,
                             "无法读取文件" + quoted(path) + "：" + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode))
        return Outcome::fail(Failure::Unreadable, quoted(path) + "不是一个文件");
    if (::access(path.c_str(), R_OK) != 0)
        return Outcome::fail(Failure::Unreadable,
                             "无法读取文件" + quoted(path) + "：" + std::strerror(errno));
    return Outcome::success();
}

bool isCleanUtf8(const std::string& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        unsigned char c = *p;
        if (c == 0)
            return false;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra = 0;
        char32_t code = 0;
        char32_t least = 0;
        if ((c & 0xE0) == 0xC0) {
            extra = 1;
            code = c & 0x1F;
            least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            code = c & 0x0F;
            least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            code = c & 0x07;
            least = 0x10000;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i] & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        p += extra + 1;
    }
    return true;
}

} // namespace morvel::formats
