#pragma once

// The part of a dataset that writes its rows back: it builds the insert,
// update or delete for the base table of the columns, finds the row by its
// key (or, without one, by the values read), and takes what the database
// filled in. On PostgreSQL each statement is prepared once per set of columns
// and blobs are bound in binary; a blob is never compared to find a row, nor
// read back after a write. Not meant for the programs.

#include "framework/data/Snapshot.h"

namespace fw {
class Connection;
}

namespace fw::detail {

class RowWriter {
public:
    // owner names the dataset in its errors.
    RowWriter(const Snapshot& snapshot, Connection& connection, pg::Statements& statements,
              const QString& owner);

    // A new row with the changed columns set; the row takes the values the
    // database gave it (defaults, numbering).
    void insert(Row& row, const QVector<bool>& changed);
    // The changed columns of a row that held before when its editing began;
    // several base tables are written in one transaction.
    void update(Row& row, const Row& before, const QVector<bool>& changed);
    void remove(const Row& row);

private:
    class Sql;
    int tableFor(const QVector<int>& columnsSet) const;
    QString locator(Sql& sql, int table, const Row& before, const QVector<int>& alsoCompared) const;
    void run(Sql& sql, const QVector<int>& returned, Row& row, bool mustFind);
    [[noreturn]] void fail(const QString& message) const;

    const Snapshot& m_snapshot;
    Connection& m_connection;
    pg::Statements& m_statements;
    QString m_owner;
};

} // namespace fw::detail
