#pragma once

// What a dataset holds of its statement: the columns, the base table each
// comes from, and the rows; how it reads them from the database. Shared by
// the dataset's pieces; not meant for the programs.

#include "framework/data/Field.h"
#include "framework/data/Libpq.h"

#include <QHash>
#include <QMetaType>
#include <QStringList>
#include <QVector>
#include <memory>
#include <vector>

class QSqlQuery;

namespace fw::detail {

// A blob that the row does not hold: a deferred one is fetched by the row's
// key when read, a forward-only one is read from the current result.
struct BlobRef {
    qint64 length = 0;
};

struct Column {
    QString name;
    DataType type = DataType::Unknown;
    int size = 0;
    bool readOnly = false;
    int table = -1;   // the base table the column comes from, or -1
    QString baseName; // its name in that table
    unsigned pgType = 0;
    int exact = -1;        // where a row keeps the value's exact form (lossy types), or -1
    bool deferred = false; // a blob read when the field is read
    bool isBlob() const { return type == DataType::Blob; }
};

struct BaseTable {
    QString sqlName;         // quoted, schema-qualified
    QStringList keyNames;    // primary key columns of the table
    QVector<int> keyColumns; // the result columns that hold them
    bool keyed() const { return !keyNames.isEmpty() && keyColumns.size() == keyNames.size(); }
};

// One row: either it stands for a row of the result the dataset read (its
// values decoded when read), or it holds its values itself: a row that was
// changed, written or appended. Held cells are the values, then the exact
// forms of the lossy columns (binary bytes in a QByteArray or the database's
// text in a QString).
struct Row {
    int source = -1;
    QVector<QVariant> cells;
    bool held() const { return source < 0; }
};

class Snapshot {
public:
    QVector<Column> columns;
    QVector<BaseTable> tables;
    int cellCount = 0;
    bool sqlite = false;
    pg::Result result; // what a static opening on PostgreSQL read

    int width() const { return int(columns.size()); }
    int columnIndex(const QString& name) const;
    void clear();
    void finishColumns(); // indexes the names, places the exact forms
    // The result that rows not held stand for, and whether it is binary.
    void setSource(const pg::Result* source, bool binary);
    Row heldRow() const; // an empty row that holds its values
    // A blob that can be fetched again by its row's key.
    bool fetchable(int column) const;

    QVariant value(const Row& row, int column) const; // a deferred blob as BlobRef
    bool isNull(const Row& row, int column) const;
    // The value in the form it was read, to find the row again exactly.
    QVariant exactForm(const Row& row, int column) const;
    // The bytes of a value the row does not hold (empty for a held row).
    QByteArrayView sourceBytes(const Row& row, int column) const;
    // The row holds its values from now on.
    void hold(Row& row) const;

private:
    QVariant decoded(int sourceRow, int column) const;
    QHash<QString, int> m_byName;        // lower-case name -> first column
    mutable QHash<QString, int> m_asked; // names as asked -> column
    const pg::Result* m_source = nullptr;
    bool m_binary = false;
};

bool isBlobRef(const QVariant& v);
QVariant blobRef(qint64 length);
qint64 blobRefLength(const QVariant& v);

// ---- PostgreSQL

// What a dataset runs on PostgreSQL: its text with "$n" placeholders, and
// whether its blobs are to be deferred.
struct Statement {
    QString text;
    pg::Values values;
    bool deferBlobs = false;
};

// Describes the statement's columns and where they come from; rewrites the
// statement so that deferred blobs are not read. Returns whether its result
// is read in binary.
bool describe(PGconn* conn, Statement& statement, Snapshot& snapshot);

// One result row into a row that holds its values: result column k fills
// targets[k]; the exact forms of lossy columns are kept.
void readRow(const Snapshot& snapshot, const pg::Result& result, int resultRow, bool binary,
             const QVector<int>& targets, Row& row);

// Every row of a described statement: the snapshot keeps the result, and
// each row stands for one of its rows.
void loadRows(PGconn* conn, const Statement& statement, bool binary, Snapshot& snapshot,
              std::vector<Row>& rows);

// The blob of a row, fetched by its key (the key values taken from keyRow).
QVariant fetchBlob(PGconn* conn, pg::Statements& statements, const Snapshot& snapshot,
                   const Row& keyRow, int column);

// ---- other drivers (file databases)

// Columns and rows of an executed query; a table's columns are all its own,
// and its rows are found again by their values.
void loadQt(QSqlQuery& query, const QString& updateTable, Snapshot& snapshot,
            std::vector<Row>& rows);

} // namespace fw::detail

Q_DECLARE_METATYPE(fw::detail::BlobRef)
