#pragma once

#include <QString>

namespace fw {

// A settings file in the Windows profile (ini) format, text in code page 936
// (GBK): "[section]" lines, then "key=value" lines. It is read afresh at every
// call and never held open, so a change made to the file counts from the next
// read.
//
// Reading: section and key names are matched without regard to case and
// without the blanks around them; the first match wins. A missing file,
// section or key gives the default; a key that stands with nothing after its
// "=" gives the empty text. Blanks around a value are dropped, and so are the
// quotes of a value enclosed in a matching pair of them. A value is cut to
// 2047 characters. Lines without "=" and bytes that are not GBK are read past.
//
// Writing replaces the value of the first matching key, or adds the key at
// the end of the first matching section, or the section at the end of the
// file; the file is created when missing. Every other line keeps its bytes.
class ProfileFile {
public:
    explicit ProfileFile(const QString& path) : m_path(path) {}

    QString path() const { return m_path; }

    QString readString(const QString& section, const QString& key,
                       const QString& defaultValue) const;

    // Raises fw::Error "Unable to write to <path>" when the file cannot be
    // written; the file then keeps what it held.
    void writeString(const QString& section, const QString& key, const QString& value);

    static constexpr int MaxValueLength = 2047;

private:
    QString m_path;
};

} // namespace fw
