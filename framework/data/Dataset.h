#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <QVector>
#include <memory>

class QSqlQuery;

namespace fw {

class Connection;
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

// A dataset opens as a snapshot held in memory (a static cursor: it sees its
// own writes at once, nobody else's). Rows are numbered from 1 (recNo); field
// names are matched without regard to case. Post writes the changed columns of
// the current row back to the table that the columns come from, by its key.
class Dataset : public QObject {
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit, Insert };

    explicit Dataset(QObject* parent = nullptr);
    ~Dataset() override;

    void setConnection(Connection* connection);
    Connection* connection() const;

    void open();
    void close();
    bool active() const;
    void setActive(bool on);
    State state() const;

    // Navigation over the rows that pass the filter. first/next/... post a
    // modified row first and drop an unchanged edit; afterScroll follows each.
    void first();
    void prior();
    void next();
    void last();
    bool eof() const;
    bool bof() const;
    bool isEmpty() const;
    int recordCount() const;
    int recNo() const; // 1-based; 0 when there is no current row
    void setRecNo(int recNo);

    int fieldCount() const;
    Field& field(int index);
    Field& fieldByName(const QString& name); // raises for an unknown name
    Field* findField(const QString& name);   // nullptr for an unknown name

    void edit();
    void append();
    void insert() { append(); }
    void post(); // a refusal by the database raises; the row stays in editing
    void cancel();
    void deleteRecord();
    bool modified() const;

    // Moves to the first row whose field equals value as a whole (exact,
    // case-sensitive); returns false and stays when none does.
    bool locate(const QString& fieldName, const QVariant& value);

    // A row filter of the form  col='text' or col='text' ...  (quotes inside
    // a text doubled); comparisons ignore case, like the catalog's collation.
    void setFilter(const QString& expression); // raises for an expression it cannot read
    QString filter() const;
    void setFiltered(bool on);
    bool filtered() const;

    // Used by fields and data-aware controls.
    QVariant rowValue(int fieldIndex) const;
    // The value in another row (1-based like recNo, among the rows that pass
    // the filter) without moving there: what a grid paints. Null out of range.
    QVariant valueAt(int recNo, int fieldIndex) const;
    void setRowValue(int fieldIndex, const QVariant& value);
    void updateRecord(); // asks bound controls to push pending edits

signals:
    void afterOpen();
    void afterClose();
    void afterScroll();
    void afterPost();
    void stateChanged();
    void recordChanged();         // the current row or one of its values changed
    void dataChanged();           // rows were loaded, filtered, posted or deleted
    void updateRecordRequested(); // bound controls write their edits now

protected:
    // The statement to open, with its bound values; the table whose rows
    // post writes to when a result column doesn't say.
    virtual QString selectStatement() const = 0;
    virtual void bindValues(QSqlQuery& query) const;
    virtual QString defaultUpdateTable() const { return QString(); }

private:
    struct Private;
    std::unique_ptr<Private> d;
    friend class Field;
};

// A parameter of a query or stored procedure.
class Parameter {
public:
    Parameter() = default;
    Parameter(const QString& name, DataType type, int size)
        : m_name(name), m_type(type), m_size(size) {}
    QString name() const { return m_name; }
    DataType dataType() const { return m_type; }
    void setDataType(DataType type) { m_type = type; }
    int size() const { return m_size; }
    void setSize(int size) { m_size = size; }
    QVariant value() const { return m_value; }
    void setValue(const QVariant& v) { m_value = v; }
    QString asString() const { return m_value.toString(); }

private:
    QString m_name;
    DataType m_type = DataType::Unknown;
    int m_size = 0;
    QVariant m_value;
};

class Parameters {
public:
    // Names are matched without regard to case and without a leading "@".
    Parameter& paramByName(const QString& name); // raises for an unknown name
    Parameter* find(const QString& name);
    Parameter& add(const QString& name, DataType type = DataType::Unknown, int size = 0);
    void clear() { m_items.clear(); }
    int count() const { return m_items.size(); }
    Parameter& at(int i) { return m_items[i]; }
    const Parameter& at(int i) const { return m_items[i]; }

private:
    QVector<Parameter> m_items;
};

} // namespace fw
