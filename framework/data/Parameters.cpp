#include "framework/data/Parameters.h"

#include "framework/core/Error.h"
#include "framework/data/SqlSupport.h"

namespace fw {

namespace {

QString bareName(const QString& name) {
    return name.startsWith('@') ? name.mid(1) : name;
}

bool isNameChar(QChar c) {
    return c.isLetterOrNumber() || c == '_';
}

// Walks the ":name" marks of a statement outside quoted texts and names,
// a "::" cast skipped: found(start, length, name) for each.
template <class F> void scanParameters(const QString& text, F found) {
    QChar quote;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            continue;
        }
        if (c != ':' || i + 1 >= text.size())
            continue;
        if (text.at(i + 1) == ':') {
            ++i;
            continue;
        }
        if (!isNameChar(text.at(i + 1)))
            continue;
        int j = i + 1;
        while (j < text.size() && isNameChar(text.at(j)))
            ++j;
        found(i, j - i, text.mid(i + 1, j - i - 1));
        i = j - 1;
    }
}

int indexOfName(const QStringList& names, const QString& name) {
    for (int k = 0; k < names.size(); ++k)
        if (names.at(k).compare(name, Qt::CaseInsensitive) == 0)
            return k;
    return -1;
}

} // namespace

int Parameters::indexOf(const QString& name) const {
    const QString wanted = bareName(name);
    for (int i = 0; i < m_items.size(); ++i)
        if (bareName(m_items.at(i).name()).compare(wanted, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

Parameter* Parameters::find(const QString& name) {
    const int i = indexOf(name);
    return i < 0 ? nullptr : &m_items[i];
}

const Parameter* Parameters::find(const QString& name) const {
    const int i = indexOf(name);
    return i < 0 ? nullptr : &m_items.at(i);
}

Parameter& Parameters::paramByName(const QString& name) {
    Parameter* p = find(name);
    if (!p)
        throw Error(QStringLiteral("Parameter '%1' not found").arg(name));
    return *p;
}

Parameter& Parameters::add(const QString& name, DataType type, int size) {
    m_items.append(Parameter(name, type, size));
    return m_items.last();
}

QVariant Parameters::boundValue(int i) const {
    const Parameter& p = m_items.at(i);
    return sql::coerce(p.value(), p.dataType(), QStringLiteral("parameter '%1'").arg(p.name()));
}

QStringList parameterNames(const QString& statement) {
    QStringList names;
    scanParameters(statement, [&](int, int, const QString& name) {
        if (indexOfName(names, name) < 0)
            names << name;
    });
    return names;
}

QString numberedParameters(const QString& statement) {
    QStringList names;
    QString out;
    int copied = 0;
    scanParameters(statement, [&](int start, int length, const QString& name) {
        int k = indexOfName(names, name);
        if (k < 0) {
            k = int(names.size());
            names << name;
        }
        out += QStringView(statement).mid(copied, start - copied);
        out += '$' + QString::number(k + 1);
        copied = start + length;
    });
    out += QStringView(statement).mid(copied);
    return out;
}

} // namespace fw
