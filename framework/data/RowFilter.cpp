#include "framework/data/RowFilter.h"

#include "framework/core/Error.h"

namespace fw {

RowFilter RowFilter::parse(const QString& s) {
    const auto unreadable = [&s] {
        return Error(QStringLiteral("Filter expression \"%1\" cannot be read").arg(s));
    };
    RowFilter filter;
    int i = 0;
    const auto skipBlanks = [&] {
        while (i < s.size() && s.at(i).isSpace())
            ++i;
    };
    skipBlanks();
    if (i == s.size())
        return filter;
    for (;;) {
        Term term;
        skipBlanks();
        if (i < s.size() && s.at(i) == '[') {
            const int close = s.indexOf(']', i + 1);
            if (close < 0)
                throw unreadable();
            term.column = s.mid(i + 1, close - i - 1);
            i = close + 1;
        } else {
            const int start = i;
            while (i < s.size() && !s.at(i).isSpace() && s.at(i) != '=' && s.at(i) != '\'')
                ++i;
            term.column = s.mid(start, i - start);
        }
        if (term.column.trimmed().isEmpty())
            throw unreadable();
        skipBlanks();
        if (i >= s.size() || s.at(i) != '=')
            throw unreadable();
        ++i;
        skipBlanks();
        if (i >= s.size() || s.at(i) != '\'')
            throw unreadable();
        ++i;
        bool closed = false;
        while (i < s.size()) {
            if (s.at(i) == '\'') {
                if (i + 1 < s.size() && s.at(i + 1) == '\'') {
                    term.text += '\'';
                    i += 2;
                    continue;
                }
                ++i;
                closed = true;
                break;
            }
            term.text += s.at(i++);
        }
        if (!closed)
            throw unreadable();
        filter.m_terms << term;
        skipBlanks();
        if (i == s.size())
            return filter;
        if (i + 2 < s.size() &&
            s.mid(i, 2).compare(QLatin1String("or"), Qt::CaseInsensitive) == 0 &&
            s.at(i + 2).isSpace()) {
            i += 2;
            continue;
        }
        throw unreadable();
    }
}

bool RowFilter::passes(const std::function<QVariant(int)>& valueOf) const {
    if (m_terms.isEmpty())
        return true;
    for (int k = 0; k < m_terms.size(); ++k) {
        const QVariant v = valueOf(k);
        if (v.isValid() && !v.isNull() &&
            v.toString().compare(m_terms[k].text, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace fw
