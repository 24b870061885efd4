#pragma once

// The part of a dataset that writes its rows back: it builds the insert,
// update or delete for the base table of the columns, finds the row by its
// key (or, without one, by the values read), and takes what the database
// filled in. Each kind of write for each set of columns is planned once and
// kept for the opening (on PostgreSQL as one prepared statement); blobs are
// bound in binary, never compared to find a row, nor read back after a write.
// Not meant for the programs.

#include "framework/data/Snapshot.h"

namespace fw {
class Connection;
}

namespace fw::detail {

// One kind of write for one set of columns: the statement, what each of its
// marks binds, and the columns that its "returning" list gives back.
struct WritePlan {
    struct Mark {
        bool before; // the row as it was when its editing began, else as it is
        int column;
        bool asRead; // the exact form in which the value was read
    };
    QString text;
    QVector<Mark> marks;
    QVector<int> returned;
    bool binary = false; // the returned values come in binary
    QByteArray prepared; // the name of its prepared statement, once prepared
};
using WritePlans = QHash<QByteArray, WritePlan>;

class RowWriter {
public:
    // owner names the dataset in its errors.
    RowWriter(const Snapshot& snapshot, Connection& connection, pg::Statements& statements,
              WritePlans& plans, const QString& owner);

    // A new row with the changed columns set; the row takes the values the
    // database gave it (defaults, numbering).
    void insert(Row& row, const QVector<bool>& changed);
    // The changed columns of a row that held before when its editing began;
    // several base tables are written in one transaction.
    void update(Row& row, const Row& before, const QVector<bool>& changed);
    void remove(const Row& row);

private:
    int tableFor(const QVector<int>& columnsSet) const;
    WritePlan& insertPlan(int table, const QVector<int>& set, const QVector<bool>& changed);
    WritePlan& updatePlan(int table, const QVector<int>& set);
    WritePlan& deletePlan();
    void run(WritePlan& plan, const Row& row, const Row& before, Row& target, bool mustFind);
    [[noreturn]] void fail(const QString& message) const;

    const Snapshot& m_snapshot;
    Connection& m_connection;
    pg::Statements& m_statements;
    WritePlans& m_plans;
    QString m_owner;
};

} // namespace fw::detail
