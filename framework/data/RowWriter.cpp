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

// The key of a plan: its kind, its table and its columns.
QByteArray planKey(char kind, int table, const QVector<int>& columns) {
    QByteArray key(1, kind);
    key += QByteArray::number(table);
    for (int i : columns)
        key += ',' + QByteArray::number(i);
    return key;
}

// Builds a plan's statement: each mark in the text notes what it binds.
class Builder {
public:
    Builder(const Snapshot& snapshot, WritePlan& plan) : m_snapshot(snapshot), m_plan(plan) {}

    // The column's value in the row being written.
    QString value(int column) { return mark({false, column, false}); }
    // The column's value as it was read: its exact form where a QVariant
    // would lose precision.
    QString readValue(int column) {
        return mark({true, column, !m_snapshot.sqlite && m_snapshot.columns[column].exact >= 0});
    }
    QString same() const {
        return m_snapshot.sqlite ? QStringLiteral(" is ")
                                 : QStringLiteral(" is not distinct from ");
    }
    QString rowId() const {
        return m_snapshot.sqlite ? QStringLiteral("rowid") : QStringLiteral("ctid");
    }

    // The condition that finds the row in its table: by the key, with the
    // columns in alsoCompared still as they were read; or, without the key
    // among the columns, the first row holding all the values read. Blobs
    // are never compared.
    QString locator(int table, const QVector<int>& alsoCompared) {
        const BaseTable& base = m_snapshot.tables[table];
        QStringList parts;
        if (base.keyed()) {
            for (int k : base.keyColumns)
                parts << quoted(m_snapshot.columns[k]) + QStringLiteral(" = ") + readValue(k);
            for (int i : alsoCompared) {
                if (base.keyColumns.contains(i) || m_snapshot.columns[i].isBlob())
                    continue;
                parts << quoted(m_snapshot.columns[i]) + same() + readValue(i);
            }
            return parts.join(QStringLiteral(" and "));
        }
        for (int i = 0; i < m_snapshot.width(); ++i) {
            const Column& c = m_snapshot.columns[i];
            if (c.table != table || c.isBlob())
                continue;
            parts << quoted(c) + same() + readValue(i);
        }
        return QStringLiteral("%1 = (select %1 from %2 where %3 limit 1)")
            .arg(rowId(), base.sqlName,
                 parts.isEmpty() ? QStringLiteral("true") : parts.join(QStringLiteral(" and ")));
    }

    // Ends the statement with the list of the columns given back.
    void returning(const QVector<int>& returned) {
        QStringList list;
        bool binary = true;
        for (int i : returned) {
            const Column& c = m_snapshot.columns[i];
            list << (c.deferred ? QStringLiteral("octet_length(%1)").arg(quoted(c)) : quoted(c));
            binary = binary && (c.deferred || pg::readsBinary(c.pgType));
        }
        list << QStringLiteral("1");
        m_plan.text += QStringLiteral(" returning ") + list.join(QStringLiteral(", "));
        m_plan.returned = returned;
        m_plan.binary = binary;
    }

private:
    QString mark(const WritePlan::Mark& m) {
        m_plan.marks << m;
        return m_snapshot.sqlite ? QStringLiteral("?")
                                 : QStringLiteral("$%1").arg(m_plan.marks.size());
    }

    const Snapshot& m_snapshot;
    WritePlan& m_plan;
};

// The plan kept under key, made by build(sql, plan) at its first use.
template <class Build>
WritePlan& planned(WritePlans& plans, const Snapshot& snapshot, const QByteArray& key,
                   Build build) {
    const auto found = plans.find(key);
    if (found != plans.end())
        return *found;
    WritePlan& plan = plans[key];
    Builder sql(snapshot, plan);
    build(sql, plan);
    return plan;
}

} // namespace

RowWriter::RowWriter(const Snapshot& snapshot, Connection& connection, pg::Statements& statements,
                     WritePlans& plans, const QString& owner)
    : m_snapshot(snapshot), m_connection(connection), m_statements(statements), m_plans(plans),
      m_owner(owner) {}

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

WritePlan& RowWriter::insertPlan(int table, const QVector<int>& set, const QVector<bool>& changed) {
    return planned(
        m_plans, m_snapshot, planKey('i', table, set), [&](Builder& sql, WritePlan& plan) {
            QStringList names, marks;
            for (int i : set) {
                names << quoted(m_snapshot.columns[i]);
                marks << sql.value(i);
            }
            const QString& target = m_snapshot.tables[table].sqlName;
            plan.text = set.isEmpty() ? QStringLiteral("insert into %1 default values").arg(target)
                                      : QStringLiteral("insert into %1 (%2) values (%3)")
                                            .arg(target, names.join(QStringLiteral(", ")),
                                                 marks.join(QStringLiteral(", ")));
            // What the database filled in comes back; a blob only when it was
            // not written here (as its length, when the dataset defers blobs).
            QVector<int> returned;
            for (int i = 0; i < m_snapshot.width(); ++i) {
                const Column& c = m_snapshot.columns[i];
                if (c.table == table && (!c.isBlob() || !changed.value(i)))
                    returned << i;
            }
            sql.returning(returned);
        });
}

WritePlan& RowWriter::updatePlan(int table, const QVector<int>& set) {
    return planned(
        m_plans, m_snapshot, planKey('u', table, set), [&](Builder& sql, WritePlan& plan) {
            QStringList sets;
            for (int i : set)
                sets << quoted(m_snapshot.columns[i]) + QStringLiteral(" = ") + sql.value(i);
            const QString where = sql.locator(table, set);
            plan.text =
                QStringLiteral("update %1 set %2 where %3")
                    .arg(m_snapshot.tables[table].sqlName, sets.join(QStringLiteral(", ")), where);
            QVector<int> returned;
            for (int i = 0; i < m_snapshot.width(); ++i)
                if (m_snapshot.columns[i].table == table && !m_snapshot.columns[i].isBlob())
                    returned << i;
            sql.returning(returned);
        });
}

WritePlan& RowWriter::deletePlan() {
    return planned(m_plans, m_snapshot, planKey('d', 0, {}), [&](Builder& sql, WritePlan& plan) {
        const QString where = sql.locator(0, {});
        plan.text =
            QStringLiteral("delete from %1 where %2").arg(m_snapshot.tables[0].sqlName, where);
        sql.returning({});
    });
}

// Runs a plan with the values of row and before; the returned columns of
// target take the database's values. Without a row back it raises when the
// row had to be found.
void RowWriter::run(WritePlan& plan, const Row& row, const Row& before, Row& target,
                    bool mustFind) {
    const auto bound = [&](const WritePlan::Mark& m) {
        const Row& from = m.before ? before : row;
        return m.asRead ? m_snapshot.exactForm(from, m.column) : m_snapshot.value(from, m.column);
    };
    if (m_snapshot.sqlite) {
        QSqlQuery query(m_connection.database());
        sql::prepare(query, plan.text);
        for (const WritePlan::Mark& m : std::as_const(plan.marks))
            query.addBindValue(bound(m));
        sql::exec(query);
        if (!query.next()) {
            if (mustFind)
                throw DbError(QString::fromLatin1(kRowNotFound));
            return;
        }
        m_snapshot.hold(target);
        for (int k = 0; k < plan.returned.size(); ++k)
            target.cells[plan.returned[k]] = query.isNull(k) ? QVariant() : query.value(k);
        return;
    }
    pg::Values values;
    for (const WritePlan::Mark& m : std::as_const(plan.marks)) {
        if (m.asRead)
            values.addExact(bound(m));
        else
            values.add(bound(m));
    }
    PGconn* conn = pg::connectionOf(m_connection.database());
    if (plan.prepared.isEmpty())
        plan.prepared = m_statements.prepared(conn, plan.text, values.count());
    const pg::Result result = pg::execPrepared(conn, plan.prepared, values, plan.binary);
    if (result.rows() == 0) {
        if (mustFind)
            throw DbError(QString::fromLatin1(kRowNotFound));
        return;
    }
    readRow(m_snapshot, result, 0, plan.binary, plan.returned, target);
}

void RowWriter::insert(Row& row, const QVector<bool>& changed) {
    QVector<int> set;
    for (int i = 0; i < m_snapshot.width(); ++i)
        if (changed.value(i))
            set << i;
    const int table = tableFor(set);
    Row fresh = row;
    run(insertPlan(table, set, changed), row, row, fresh, false);
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
    for (auto it = byTable.cbegin(); it != byTable.cend(); ++it)
        run(updatePlan(it.key(), it.value()), row, before, fresh, true);
    if (transaction)
        transaction->commit();
    row = std::move(fresh);
}

void RowWriter::remove(const Row& row) {
    if (m_snapshot.tables.size() != 1)
        fail(QString::fromLatin1(kNoBaseTable));
    Row ignored = row;
    run(deletePlan(), row, row, ignored, true);
}

} // namespace fw::detail
