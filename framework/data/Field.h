#pragma once

#include <QString>
#include <QVariant>

namespace fw {

class Dataset;

enum class DataType {
    Unknown,
    String,     // text in the GBK code page (ftString)
    FixedChar,  // fixed-length character data (ftFixedChar)
    WideString, // Unicode text (ftWideString)
    Integer,
    Float,
    Boolean,
    DateTime,
    Memo,    // long text
    Blob,    // bytes
    AutoInc, // assigned by the database, read-only
};

// A field's value as text, as Field::asString gives it and the data-aware
// controls show it: "" for null, dates and times as "yyyy-MM-dd hh:mm:ss",
// True or False.
QString valueText(const QVariant& value);

// One column of a dataset; reads and writes the dataset's current row.
class Field {
public:
    Field(Dataset* owner, int index, const QString& name, DataType type, int size);

    QString fieldName() const { return m_name; }
    DataType dataType() const { return m_type; }
    int size() const { return m_size; }
    int index() const { return m_index; }
    bool readOnly() const;
    bool isBlob() const { return m_type == DataType::Blob || m_type == DataType::Memo; }

    // A blob that its dataset defers is fetched here, at its first read;
    // isNull() knows without fetching it.
    QVariant value() const;
    bool isNull() const;
    QString asString() const; // "" for null
    int asInteger() const;    // raises for text that is not a whole number
    double asFloat() const;
    QByteArray asBytes() const;

    // Writing needs the dataset in Edit or Insert state (else an error is
    // raised) and marks the row modified.
    void setValue(const QVariant& value);
    void setAsString(const QString& text) { setValue(text); }
    void setAsInteger(int v) { setValue(v); }
    void clear() { setValue(QVariant()); }

    void saveToFile(const QString& path) const; // path in Windows or host form
    void loadFromFile(const QString& path);

private:
    Dataset* m_owner;
    int m_index;
    QString m_name;
    DataType m_type;
    int m_size;
};

} // namespace fw
