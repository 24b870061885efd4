#pragma once

// The data layer's own use of libpq, on the connection that Qt's PostgreSQL
// driver opened: statements with their values bound (bytes in binary), results
// in binary where every column allows it, rows read one at a time, and values
// decoded into the QVariant types that the driver gives. Not meant for the
// programs.

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <utility>
#include <vector>

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;

namespace fw::pg {

// The libpq connection behind a database of the PostgreSQL driver. Raises
// fw::Error when the driver hands out anything else: without it no dataset can
// tell where its columns come from, nor write them back.
PGconn* connectionOf(const QSqlDatabase& db);

// Owns one PGresult.
class Result {
public:
    Result() = default;
    explicit Result(PGresult* result) : m_result(result) {}
    Result(Result&& other) noexcept : m_result(std::exchange(other.m_result, nullptr)) {}
    Result& operator=(Result&& other) noexcept;
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    ~Result();

    PGresult* get() const { return m_result; }
    int rows() const;
    int columns() const;
    bool isNull(int row, int column) const;
    QByteArrayView bytes(int row, int column) const;
    int affected() const; // rows that an insert, update or delete touched

private:
    PGresult* m_result = nullptr;
};

// The values of one statement as libpq takes them: bytes in binary, every
// other value as text, null as NULL. They stay alive as long as the object.
class Values {
public:
    void add(const QVariant& value);
    // A value in the form it was read (binary bytes in a QByteArray, the
    // database's text in a QString), to find a row again exactly.
    void addExact(const QVariant& exact);
    int count() const { return int(m_data.size()); }
    const char* const* values() const;
    const int* lengths() const { return m_lengths.data(); }
    const int* formats() const { return m_formats.data(); }

private:
    void push(QByteArray bytes, bool binary, bool null);
    std::vector<QByteArray> m_data;
    std::vector<int> m_lengths, m_formats;
    mutable std::vector<const char*> m_pointers;
};

// Raises fw::Error while the connection still reads the rows of a
// forward-only dataset: libpq runs one command at a time.
void requireIdle(PGconn* conn);

// One statement with its values; a refusal raises DbError with the database's
// message. binary asks for the result in binary.
Result exec(PGconn* conn, const QString& text, const Values& values = {}, bool binary = false);
Result execPrepared(PGconn* conn, const QByteArray& name, const Values& values, bool binary);
void prepare(PGconn* conn, const QByteArray& name, const QString& text, int valueCount);
Result describePrepared(PGconn* conn, const QByteArray& name);

// The named statements that one opening of a dataset prepared, by their text.
class Statements {
public:
    // The name of the statement, prepared on its first use.
    QByteArray prepared(PGconn* conn, const QString& text, int valueCount);
    // Deallocates them on conn, or forgets them when the connection is gone.
    void clear(PGconn* conn);

private:
    QHash<QString, QByteArray> m_names;
};

// Reads the rows of one statement one at a time (single-row mode), so that
// only the current row is held.
class RowReader {
public:
    RowReader(PGconn* conn, const QString& text, const Values& values, bool binary);
    ~RowReader(); // ends early when the rows were not all read
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;

    // The next row into current(); false at the end. A failure raises DbError.
    bool next();
    const Result& current() const { return m_row; }
    bool atEnd() const { return m_done; }
    // Stops reading: asks the server to cancel and drops what is still coming.
    void finish();

private:
    PGconn* m_conn;
    Result m_row;
    bool m_done = false;
};

// Types by their oid.
enum : unsigned {
    BoolOid = 16,
    ByteaOid = 17,
    Int8Oid = 20,
    Int2Oid = 21,
    Int4Oid = 23,
    TextOid = 25,
    OidOid = 26,
    Float4Oid = 700,
    Float8Oid = 701,
    NumericOid = 1700,
};

// Whether the type is text, read as UTF-8 in either form.
bool isText(unsigned type);
// Whether a value of the type can be read from a binary result here.
bool readsBinary(unsigned type);
// Whether a value of the type loses precision as a QVariant (timestamps in
// microseconds, numeric), so its exact form is kept to find its row again.
bool lossy(unsigned type);
// The value as Qt's PostgreSQL driver gives it, from its binary or text form.
QVariant decode(QByteArrayView bytes, unsigned type, bool binary);
QVariant nullOf(unsigned type);

// A value as text for the database (dates with their offset from UTC).
QByteArray textOf(const QVariant& value);

} // namespace fw::pg
