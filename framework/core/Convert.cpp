#include "framework/core/Convert.h"

#include "framework/core/Error.h"

#include <limits>

namespace fw {

namespace {

// The value of a decimal or hexadecimal digit (ASCII only), else -1.
int digitValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

int strToInt(const QString& text) {
    const auto invalid = [&text] {
        return Error(QStringLiteral("'%1' is not a valid integer value").arg(text));
    };
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == '+' || text.at(i) == '-'))
        negative = text.at(i++) == '-';
    int base = 10;
    if (i < text.size() && text.at(i) == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text.at(i) == '0' &&
               (text.at(i + 1) == 'x' || text.at(i + 1) == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        throw invalid();
    const qint64 limit = qint64(std::numeric_limits<int>::max()) + (negative ? 1 : 0);
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const int digit = digitValue(text.at(i));
        if (digit < 0 || digit >= base)
            throw invalid();
        value = value * base + digit;
        if (value > limit)
            throw invalid();
    }
    return int(negative ? -value : value);
}

} // namespace fw
