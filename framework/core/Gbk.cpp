#include "framework/core/Gbk.h"

#include <cerrno>
#include <iconv.h>

namespace fw {
namespace {

// One iconv converter for a direction, opened at its first use and kept for
// the thread: opening one costs more than most conversions.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)), m_from(from) {}
    ~Converter() {
        if (valid())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts, replacing what the target cannot hold.
    QByteArray convert(const QByteArray& in, const QByteArray& replacement) {
        if (!valid())
            return QByteArray();
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr); // the initial state
        QByteArray out;
        out.reserve(in.size() * 2 + 8);
        char buf[4096];
        char* src = const_cast<char*>(in.constData());
        size_t left = size_t(in.size());
        while (left > 0) {
            char* dst = buf;
            size_t room = sizeof buf;
            const size_t r = iconv(m_cd, &src, &left, &dst, &room);
            out.append(buf, int(dst - buf));
            if (r == size_t(-1) && errno != E2BIG) {
                // An unconvertible or invalid sequence: one replacement, skip
                // one input unit (a UTF-8 sequence or a GBK byte).
                out.append(replacement);
                size_t skip = 1;
                if (qstrcmp(m_from, "UTF-8") == 0) {
                    const unsigned char c = static_cast<unsigned char>(*src);
                    skip = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
                }
                skip = std::min(skip, left);
                src += skip;
                left -= skip;
                iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
            }
        }
        return out;
    }

private:
    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t m_cd;
    const char* m_from;
};

Converter& toGbkConverter() {
    thread_local Converter converter("GBK", "UTF-8");
    return converter;
}

Converter& fromGbkConverter() {
    thread_local Converter converter("UTF-8", "GBK");
    return converter;
}

} // namespace

QByteArray toGbk(const QString& text) {
    return toGbkConverter().convert(text.toUtf8(), "?");
}

QString fromGbk(const QByteArray& bytes) {
    return QString::fromUtf8(fromGbkConverter().convert(bytes, "\xEF\xBF\xBD"));
}

int gbkLength(const QString& text) {
    return int(toGbk(text).size());
}

QString cutToGbkBytes(const QString& text, int maxBytes) {
    int bytes = 0;
    int i = 0;
    while (i < text.size()) {
        const int step = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const int len = gbkLength(text.mid(i, step));
        if (bytes + len > maxBytes)
            break;
        bytes += len;
        i += step;
    }
    return text.left(i);
}

} // namespace fw
