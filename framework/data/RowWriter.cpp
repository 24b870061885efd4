#include "framework/data/RowWriter.h"

#include "framework/core/Error.h"
#include "framework/data/Connection.h"
#include "framework/data/SqlSupport.h"
#include "framework/data/Transaction.h"

#include <QMap>
#include <QSqlQuery>
#include <optional>

namespace fw::detail {

namespace {

const char* const kRowNotFound = "Row cannot be located for updating. Some values may have been "
                                 "changed since it was last read.";
const char* const kNoBaseTable = "Insufficient base table information for updating or refreshing.";

QString quoted(const Column& c) {
    return sql::quoteIdentifier(c.baseName);
}

} // namespace

// A statement being built, with its values in the order of their marks.
class RowWriter::Sql {
public:
    explicit Sql(bool sqlite) : sqlite(sqlite) {}

    // Adds a value; returns its mark in the text.
    QString value(const QVariant& v) {
        if (sqlite) {
            qtValues << v;
            return QStringLiteral("?");
        }
        pgValues.add(v);
        return mark();
    }
    // The value of a column as it was read: its exact form where a QVariant
    // would lose precision.
    QString readValue(const Snapshot& snapshot, const Row& row, int column) {
        if (sqlite || snapshot.columns[column].exact < 0)
            return value(snapshot.value(row, column));
        pgValues.addExact(snapshot.exactForm(row, column));
        return mark();
    }
    QString same() const {
        return sqlite ? QStringLiteral(" is ") : QStringLiteral(" is not distinct from ");
    }
    QString rowId() const { return sqlite ? QStringLiteral("rowid") : QStringLiteral("ctid"); }

    const bool sqlite;
    QString text;
    pg::Values pgValues;
    QVariantList qtValues;

private:
    QString mark() const { return QStringLiteral("$%1").arg(pgValues.count()); }
};

RowWriter::RowWriter(const Snapshot& snapshot, Connection& connection, pg::Statements& statements,
                     const QString& owner)
    : m_snapshot(snapshot), m_connection(connection), m_statements(statements), m_owner(owner) {}

void RowWriter::fail(const QString& message) const {
    throw Error(m_owner.isEmpty() ? message : m_owner + QStringLiteral(": ") + message);
}

int RowWriter::tableFor(const QVector<int>& columnsSet) const {
    int table = -1;
    for (int i : columnsSet) {
        if (table >= 0 && m_snapshot.columns[i].table != table)
            fail(QString::fromLatin1(kNoBaseTable));
        table = m_snapshot.columns[i].table;
    }
    if (table < 0) {
        if (m_snapshot.tables.size() != 1)
            fail(QString::fromLatin1(kNoBaseTable));
        table = 0;
    }
    return table;
}

// The condition that finds the row in its table: by the key, with the
// columns in alsoCompared still as they were read; or, without the key among
// the columns, the first row holding all the values read. Blobs are never
// compared.
QString RowWriter::locator(Sql& sql, int table, const Row& before,
                           const QVector<int>& alsoCompared) const {
    const BaseTable& base = m_snapshot.tables[table];
    QStringList parts;
    if (base.keyed()) {
        for (int k : base.keyColumns)
            parts << quoted(m_snapshot.columns[k]) + QStringLiteral(" = ") +
                         sql.readValue(m_snapshot, before, k);
        for (int i : alsoCompared) {
            if (base.keyColumns.contains(i) || m_snapshot.columns[i].isBlob())
                continue;
            parts << quoted(m_snapshot.columns[i]) + sql.same() +
                         sql.readValue(m_snapshot, before, i);
        }
        return parts.join(QStringLiteral(" and "));
    }
    for (int i = 0; i < m_snapshot.width(); ++i) {
        const Column& c = m_snapshot.columns[i];
        if (c.table != table || c.isBlob())
            continue;
        parts << quoted(c) + sql.same() + sql.readValue(m_snapshot, before, i);
    }
    return QStringLiteral("%1 = (select %1 from %2 where %3 limit 1)")
        .arg(sql.rowId(), base.sqlName,
             parts.isEmpty() ? QStringLiteral("true") : parts.join(QStringLiteral(" and ")));
}

// Runs the statement; its "returning" list gives the columns in returned,
// which take the database's values. Without a row back it raises when the
// row had to be found.
void RowWriter::run(Sql& sql, const QVector<int>& returned, Row& row, bool mustFind) {
    QStringList list;
    for (int i : returned) {
        const Column& c = m_snapshot.columns[i];
        list << (c.deferred ? QStringLiteral("octet_length(%1)").arg(quoted(c)) : quoted(c));
    }
    list << QStringLiteral("1");
    sql.text += QStringLiteral(" returning ") + list.join(QStringLiteral(", "));

    if (sql.sqlite) {
        m_snapshot.hold(row);
        QSqlQuery query(m_connection.database());
        sql::prepare(query, sql.text);
        for (const QVariant& v : std::as_const(sql.qtValues))
            query.addBindValue(v);
        sql::exec(query);
        if (!query.next()) {
            if (mustFind)
                throw DbError(QString::fromLatin1(kRowNotFound));
            return;
        }
        for (int k = 0; k < returned.size(); ++k)
            row.cells[returned[k]] = query.isNull(k) ? QVariant() : query.value(k);
        return;
    }
    bool binary = true;
    for (int i : returned)
        binary = binary &&
                 (m_snapshot.columns[i].deferred || pg::readsBinary(m_snapshot.columns[i].pgType));
    PGconn* conn = pg::connectionOf(m_connection.database());
    const QByteArray name = m_statements.prepared(conn, sql.text, sql.pgValues.count());
    const pg::Result result = pg::execPrepared(conn, name, sql.pgValues, binary);
    if (result.rows() == 0) {
        if (mustFind)
            throw DbError(QString::fromLatin1(kRowNotFound));
        return;
    }
    readRow(m_snapshot, result, 0, binary, returned, row);
}

void RowWriter::insert(Row& row, const QVector<bool>& changed) {
    QVector<int> set;
    for (int i = 0; i < m_snapshot.width(); ++i)
        if (changed.value(i))
            set << i;
    const int table = tableFor(set);
    Sql sql(m_snapshot.sqlite);
    QStringList names, marks;
    for (int i : set) {
        names << quoted(m_snapshot.columns[i]);
        marks << sql.value(m_snapshot.value(row, i));
    }
    // What the database filled in comes back; a blob only when it was not
    // written here (as its length, when the dataset defers its blobs).
    QVector<int> returned;
    for (int i = 0; i < m_snapshot.width(); ++i) {
        const Column& c = m_snapshot.columns[i];
        if (c.table == table && (!c.isBlob() || !changed.value(i)))
            returned << i;
    }
    const QString& target = m_snapshot.tables[table].sqlName;
    sql.text = set.isEmpty() ? QStringLiteral("insert into %1 default values").arg(target)
                             : QStringLiteral("insert into %1 (%2) values (%3)")
                                   .arg(target, names.join(QStringLiteral(", ")),
                                        marks.join(QStringLiteral(", ")));
    Row fresh = row;
    run(sql, returned, fresh, false);
    row = std::move(fresh);
}

void RowWriter::update(Row& row, const Row& before, const QVector<bool>& changed) {
    QMap<int, QVector<int>> byTable;
    for (int i = 0; i < m_snapshot.width(); ++i) {
        if (!changed.value(i))
            continue;
        if (m_snapshot.columns[i].table < 0)
            fail(QString::fromLatin1(kNoBaseTable));
        byTable[m_snapshot.columns[i].table] << i;
    }
    if (byTable.isEmpty())
        return;
    // A row of a join whose columns of two tables changed: both or neither.
    std::optional<Transaction> transaction;
    if (byTable.size() > 1)
        transaction.emplace(m_connection);
    Row fresh = row;
    for (auto it = byTable.cbegin(); it != byTable.cend(); ++it) {
        const int table = it.key();
        Sql sql(m_snapshot.sqlite);
        QStringList sets;
        for (int i : it.value())
            sets << quoted(m_snapshot.columns[i]) + QStringLiteral(" = ") +
                        sql.value(m_snapshot.value(row, i));
        const QString where = locator(sql, table, before, it.value());
        sql.text =
            QStringLiteral("update %1 set %2 where %3")
                .arg(m_snapshot.tables[table].sqlName, sets.join(QStringLiteral(", ")), where);
        QVector<int> returned;
        for (int i = 0; i < m_snapshot.width(); ++i)
            if (m_snapshot.columns[i].table == table && !m_snapshot.columns[i].isBlob())
                returned << i;
        run(sql, returned, fresh, true);
    }
    if (transaction)
        transaction->commit();
    row = std::move(fresh);
}

void RowWriter::remove(const Row& row) {
    if (m_snapshot.tables.size() != 1)
        fail(QString::fromLatin1(kNoBaseTable));
    Sql sql(m_snapshot.sqlite);
    const QString where = locator(sql, 0, row, {});
    sql.text = QStringLiteral("delete from %1 where %2").arg(m_snapshot.tables[0].sqlName, where);
    Row ignored = row;
    run(sql, {}, ignored, true);
}

} // namespace fw::detail
