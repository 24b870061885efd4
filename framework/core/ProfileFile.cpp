#include "framework/core/ProfileFile.h"

#include "framework/core/Error.h"
#include "framework/core/Gbk.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>

namespace fw {

namespace {

// One line of the file: its bytes without the line end, and the line end as
// it stood ("\r\n", "\n" or nothing on a last line without one).
struct Line {
    QByteArray text;
    QByteArray end;
};

QList<Line> splitLines(const QByteArray& bytes) {
    QList<Line> lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype newline = bytes.indexOf('\n', start);
        const qsizetype stop = newline < 0 ? bytes.size() : newline;
        Line line{bytes.mid(start, stop - start), newline < 0 ? QByteArray() : "\n"};
        if (line.text.endsWith('\r') && newline >= 0) {
            line.text.chop(1);
            line.end = "\r\n";
        }
        lines.append(line);
        start = stop + 1;
    }
    return lines;
}

QByteArray trimBlanks(const QByteArray& text) {
    qsizetype first = 0, last = text.size();
    while (first < last && (text.at(first) == ' ' || text.at(first) == '\t'))
        ++first;
    while (last > first && (text.at(last - 1) == ' ' || text.at(last - 1) == '\t'))
        --last;
    return text.mid(first, last - first);
}

bool sameName(const QByteArray& bytes, const QString& name) {
    return fromGbk(trimBlanks(bytes)).compare(name.trimmed(), Qt::CaseInsensitive) == 0;
}

// The name of a "[section]" line, or a null array for any other line.
QByteArray sectionName(const QByteArray& text) {
    const QByteArray line = trimBlanks(text);
    if (!line.startsWith('['))
        return QByteArray();
    const qsizetype close = line.indexOf(']');
    QByteArray name = line.mid(1, close < 0 ? -1 : close - 1);
    if (name.isNull())
        name = QByteArray(""); // "[]": an empty name, still a section line
    return name;
}

// Where a section and its key stand in the file (-1 where missing).
struct Place {
    qsizetype section = -1; // the "[section]" line
    qsizetype key = -1;     // the "key=value" line
    qsizetype last = -1;    // the section's last line that is not blank
};

Place find(const QList<Line>& lines, const QString& section, const QString& key) {
    Place place;
    bool inside = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray& text = lines.at(i).text;
        const QByteArray name = sectionName(text);
        if (!name.isNull()) {
            if (inside)
                break; // only the first matching section counts
            inside = sameName(name, section);
            if (inside)
                place.section = place.last = i;
            continue;
        }
        if (!inside)
            continue;
        if (!trimBlanks(text).isEmpty())
            place.last = i;
        const qsizetype equals = text.indexOf('=');
        if (equals >= 0 && sameName(text.left(equals), key)) {
            place.key = i;
            break;
        }
    }
    return place;
}

QString unquoted(const QString& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

// The line end that new lines take: the file's own, "\r\n" in a new file.
QByteArray lineEnd(const QList<Line>& lines) {
    for (const Line& line : lines)
        if (!line.end.isEmpty())
            return line.end;
    return "\r\n";
}

QByteArray joined(const QList<Line>& lines) {
    QByteArray out;
    for (const Line& line : lines)
        out += line.text + line.end;
    return out;
}

} // namespace

QString ProfileFile::readString(const QString& section, const QString& key,
                                const QString& defaultValue) const {
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return defaultValue;
    const QList<Line> lines = splitLines(file.readAll());
    file.close();
    const Place place = find(lines, section, key);
    if (place.key < 0)
        return defaultValue;
    const QByteArray& text = lines.at(place.key).text;
    const QString value = unquoted(fromGbk(trimBlanks(text.mid(text.indexOf('=') + 1))));
    return value.left(MaxValueLength);
}

void ProfileFile::writeString(const QString& section, const QString& key, const QString& value) {
    const QString fullPath = QFileInfo(m_path).absoluteFilePath();
    const Error failed(QStringLiteral("Unable to write to %1").arg(fullPath));

    QFile current(m_path);
    QByteArray bytes;
    if (current.exists()) {
        // A file that cannot be read back whole or is write-protected is
        // left as it is.
        if (!QFileInfo(m_path).isWritable() || !current.open(QIODevice::ReadOnly))
            throw failed;
        bytes = current.readAll();
        current.close();
    }
    QList<Line> lines = splitLines(bytes);
    const QByteArray end = lineEnd(lines);
    const QByteArray entry = toGbk(key) + '=' + toGbk(value);
    const Place place = find(lines, section, key);
    if (place.key >= 0) {
        QByteArray& text = lines[place.key].text;
        text = text.left(text.indexOf('=') + 1) + toGbk(value);
    } else {
        qsizetype at = place.section >= 0 ? place.last + 1 : lines.size();
        if (at > 0 && lines[at - 1].end.isEmpty())
            lines[at - 1].end = end;
        if (place.section < 0)
            lines.insert(at++, Line{'[' + toGbk(section) + ']', end});
        lines.insert(at, Line{entry, end});
    }

    QSaveFile file(m_path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        throw failed;
    const QByteArray out = joined(lines);
    if (file.write(out) != out.size() || !file.commit())
        throw failed;
}

} // namespace fw
