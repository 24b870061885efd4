#include "framework/data/Dataset.h"

#include "framework/core/Drives.h"
#include "framework/core/Error.h"
#include "framework/data/Connection.h"
#include "framework/data/SqlSupport.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QLocale>
#include <QMap>
#include <QPointer>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>

#include <libpq-fe.h>

namespace fw {

namespace {

const char* const kRowNotFound = "Row cannot be located for updating. Some values may have been "
                                 "changed since it was last read.";
const char* const kNoBaseTable = "Insufficient base table information for updating or refreshing.";

bool isNull(const QVariant& v) {
    return !v.isValid() || v.isNull();
}

// The libpq result behind a QPSQL query, or nullptr for another driver.
PGresult* pgResult(const QSqlQuery& query) {
    const QSqlResult* result = query.result();
    if (!result)
        return nullptr;
    const QVariant handle = result->handle();
    // Registered under the name of the struct behind the typedef.
    if (qstrcmp(handle.typeName(), "pg_result*") != 0 &&
        qstrcmp(handle.typeName(), "PGresult*") != 0)
        return nullptr;
    return *static_cast<PGresult* const*>(handle.constData());
}

DataType typeOfQtField(const QSqlField& field) {
    switch (field.metaType().id()) {
    case QMetaType::QString:
        return DataType::String;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return DataType::Integer;
    case QMetaType::Double:
        return DataType::Float;
    case QMetaType::Bool:
        return DataType::Boolean;
    case QMetaType::QByteArray:
        return DataType::Blob;
    case QMetaType::QDateTime:
    case QMetaType::QDate:
    case QMetaType::QTime:
        return DataType::DateTime;
    default:
        return DataType::Unknown;
    }
}

bool isNumeric(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

// Whole-value, case-sensitive equality as a lookup needs it.
bool sameValue(const QVariant& stored, const QVariant& wanted) {
    if (isNull(stored) || isNull(wanted))
        return isNull(stored) && isNull(wanted);
    if (isNumeric(stored)) {
        bool ok = false;
        const double w = wanted.toDouble(&ok);
        return ok && stored.toDouble() == w;
    }
    if (stored.typeId() == QMetaType::QByteArray && wanted.typeId() == QMetaType::QByteArray)
        return stored.toByteArray() == wanted.toByteArray();
    return stored.toString() == wanted.toString();
}

struct FilterTerm {
    QString column;
    QString text;
};

// Reads  col='text' or col='text' ...  (a quote inside a text doubled).
QVector<FilterTerm> parseFilter(const QString& s) {
    const auto unreadable = [&s] {
        return Error(QStringLiteral("Filter expression \"%1\" cannot be read").arg(s));
    };
    QVector<FilterTerm> terms;
    int i = 0;
    const auto skipBlanks = [&] {
        while (i < s.size() && s.at(i).isSpace())
            ++i;
    };
    skipBlanks();
    if (i == s.size())
        return terms;
    for (;;) {
        FilterTerm term;
        skipBlanks();
        if (i < s.size() && s.at(i) == '[') {
            const int close = s.indexOf(']', i + 1);
            if (close < 0)
                throw unreadable();
            term.column = s.mid(i + 1, close - i - 1);
            i = close + 1;
        } else {
            const int start = i;
            while (i < s.size() && !s.at(i).isSpace() && s.at(i) != '=' && s.at(i) != '\'')
                ++i;
            term.column = s.mid(start, i - start);
        }
        if (term.column.trimmed().isEmpty())
            throw unreadable();
        skipBlanks();
        if (i >= s.size() || s.at(i) != '=')
            throw unreadable();
        ++i;
        skipBlanks();
        if (i >= s.size() || s.at(i) != '\'')
            throw unreadable();
        ++i;
        bool closed = false;
        while (i < s.size()) {
            if (s.at(i) == '\'') {
                if (i + 1 < s.size() && s.at(i + 1) == '\'') {
                    term.text += '\'';
                    i += 2;
                    continue;
                }
                ++i;
                closed = true;
                break;
            }
            term.text += s.at(i++);
        }
        if (!closed)
            throw unreadable();
        terms << term;
        skipBlanks();
        if (i == s.size())
            return terms;
        if (i + 2 < s.size() &&
            s.mid(i, 2).compare(QLatin1String("or"), Qt::CaseInsensitive) == 0 &&
            s.at(i + 2).isSpace()) {
            i += 2;
            continue;
        }
        throw unreadable();
    }
}

// Runs a statement built here, its values bound in order.
QSqlQuery runBound(const QSqlDatabase& db, const QString& text, const QVariantList& values) {
    QSqlQuery query(db);
    sql::prepare(query, text);
    for (const QVariant& v : values)
        query.addBindValue(v);
    sql::exec(query);
    return query;
}

struct Column {
    QString name;
    DataType type = DataType::Unknown;
    int size = 0;
    bool readOnly = false;
    int table = -1;     // the base table the column comes from, or -1
    QString baseName;   // its name in that table
    bool lossy = false; // kept also as the database's own text, to find the row again
};

struct BaseTable {
    QString sqlName;         // quoted, schema-qualified
    QStringList keyNames;    // primary key columns of the table
    QVector<int> keyColumns; // the result columns that hold them
    bool keyed() const { return !keyNames.isEmpty() && keyColumns.size() == keyNames.size(); }
};

struct Row {
    QVector<QVariant> values;
    QVector<QVariant> original; // as read or last written; the text for lossy columns
};

} // namespace

struct Dataset::Private {
    Dataset* q;
    QPointer<Connection> connection;
    QMetaObject::Connection disconnectHook;
    State state = State::Inactive;
    bool sqlite = false;

    std::vector<std::unique_ptr<Field>> fields;
    std::vector<std::unique_ptr<Field>> retired; // fields of earlier openings
    QHash<QString, int> byName;                  // lower-case name -> first column
    QVector<Column> columns;
    QVector<BaseTable> tables;

    std::vector<Row> rows;
    std::vector<int> visible; // rows that pass the filter, in order
    int cur = -1;             // index into visible
    bool bof = true;
    bool eof = true;

    QVector<QVariant> backup; // the row's values when editing began
    QVector<bool> changed;
    bool modified = false;
    int curBeforeInsert = -1;

    QString filterText;
    QVector<FilterTerm> terms;
    QVector<int> termColumns;
    bool filtered = false;
    bool requestingUpdate = false;

    explicit Private(Dataset* owner) : q(owner) {}

    QString named(const QString& message) const {
        const QString name = q->objectName();
        return name.isEmpty() ? message : name + QStringLiteral(": ") + message;
    }
    [[noreturn]] void fail(const QString& message) const { throw Error(named(message)); }

    void requireActive() const {
        if (state == State::Inactive)
            fail(QStringLiteral("Cannot perform this operation on a closed dataset"));
    }
    bool editing() const { return state == State::Edit || state == State::Insert; }
    Row* current() { return cur >= 0 ? &rows[size_t(visible[size_t(cur)])] : nullptr; }
    QSqlDatabase database() const { return connection->database(); }

    int columnIndex(const QString& name) const { return byName.value(name.toLower(), -1); }

    const Field* checkedField(const Field* field) const {
        requireActive();
        const int i = field->index();
        if (i < 0 || size_t(i) >= fields.size() || fields[size_t(i)].get() != field)
            fail(QStringLiteral("Field '%1' is no longer part of the dataset")
                     .arg(field->fieldName()));
        return field;
    }

    void load(QSqlQuery& query, const QString& updateTable);
    void describePostgres(PGresult* result);
    void readRow(const QSqlQuery& query, PGresult* result, int resultRow, Row& row,
                 const QVector<int>& targetColumns, const QVector<int>& sourceColumns) const;

    void resolveFilter(const QVector<FilterTerm>& wanted, QVector<int>& resolved) const;
    bool passes(const Row& row) const;
    void rebuildVisible();
    void applyFilter();

    void checkBrowseMode();
    void dropEdit();
    void endEdit();
    void moved(bool rowChanged);
    void step(int by);

    int tableForWrite(const QVector<int>& columnsSet) const;
    QString locator(int table, const Row& row, const QVector<int>& alsoUnchanged,
                    QVariantList& binds) const;
    void refreshFrom(const QSqlQuery& query, int table, Row& row) const;
    void insertRow(Row& row);
    void updateRow(Row& row);
    void deleteRow(const Row& row);
    void removeRow(int visibleIndex);
};

// ---------------------------------------------------------------- opening

void Dataset::Private::describePostgres(PGresult* result) {
    QMap<Oid, int> tableOf; // table oid -> index into tables
    QMap<Oid, QHash<int, QVariantList>> attributes;
    for (int i = 0; i < columns.size(); ++i) {
        Column& c = columns[i];
        c.type = sql::pgDataType(PQftype(result, i), PQfmod(result, i), &c.size);
        c.lossy = c.type == DataType::DateTime || c.type == DataType::Float ||
                  c.type == DataType::Unknown;
        const Oid table = PQftable(result, i);
        const int attnum = PQftablecol(result, i);
        if (table == InvalidOid || attnum <= 0) {
            c.readOnly = true;
            continue;
        }
        if (!tableOf.contains(table)) {
            QSqlQuery meta = runBound(
                database(),
                QStringLiteral(
                    "select a.attnum, a.attname, n.nspname, c.relname, "
                    "a.attidentity <> '' or coalesce(pg_get_expr(d.adbin, d.adrelid) like "
                    "'nextval(%', false), a.attgenerated <> '', "
                    "exists (select 1 from pg_index i where i.indrelid = c.oid and "
                    "i.indisprimary and a.attnum = any(i.indkey)) "
                    "from pg_class c join pg_namespace n on n.oid = c.relnamespace "
                    "join pg_attribute a on a.attrelid = c.oid "
                    "left join pg_attrdef d on d.adrelid = a.attrelid and d.adnum = a.attnum "
                    "where c.oid = ? and a.attnum > 0 and not a.attisdropped order by a.attnum"),
                {QVariant(qlonglong(table))});
            BaseTable base;
            QHash<int, QVariantList> attrs;
            while (meta.next()) {
                base.sqlName = sql::quoteIdentifier(meta.value(2).toString()) + '.' +
                               sql::quoteIdentifier(meta.value(3).toString());
                attrs.insert(meta.value(0).toInt(), {meta.value(1), meta.value(4), meta.value(5)});
                if (meta.value(6).toBool())
                    base.keyNames << meta.value(1).toString();
            }
            tableOf.insert(table, int(tables.size()));
            tables << base;
            attributes.insert(table, attrs);
        }
        const QVariantList attr = attributes.value(table).value(attnum);
        if (attr.isEmpty()) {
            c.readOnly = true;
            continue;
        }
        c.table = tableOf.value(table);
        c.baseName = attr.at(0).toString();
        if (attr.at(1).toBool()) { // numbered by the database
            if (c.type == DataType::Integer)
                c.type = DataType::AutoInc;
            c.readOnly = true;
        }
        if (attr.at(2).toBool())
            c.readOnly = true;
        BaseTable& base = tables[c.table];
        if (base.keyNames.contains(c.baseName) && base.keyColumns.size() < base.keyNames.size()) {
            bool taken = false;
            for (int k : std::as_const(base.keyColumns))
                taken = taken || columns[k].baseName == c.baseName;
            if (!taken)
                base.keyColumns << i;
        }
    }
}

void Dataset::Private::readRow(const QSqlQuery& query, PGresult* result, int resultRow, Row& row,
                               const QVector<int>& targetColumns,
                               const QVector<int>& sourceColumns) const {
    for (int k = 0; k < targetColumns.size(); ++k) {
        const int i = targetColumns[k];
        const int src = sourceColumns[k];
        QVariant v = query.isNull(src) ? QVariant() : query.value(src);
        row.values[i] = v;
        if (columns[i].lossy && result && !isNull(v))
            row.original[i] = QString::fromUtf8(PQgetvalue(result, resultRow, src));
        else
            row.original[i] = v;
    }
}

void Dataset::Private::load(QSqlQuery& query, const QString& updateTable) {
    const QSqlRecord record = query.record();
    const int n = record.count();
    columns.clear();
    tables.clear();
    byName.clear();
    columns.resize(n);
    for (int i = 0; i < n; ++i) {
        const QSqlField f = record.field(i);
        columns[i].name = f.name();
        columns[i].type = typeOfQtField(f);
        columns[i].size = f.length() > 0 ? f.length() : 0;
        if (!byName.contains(f.name().toLower()))
            byName.insert(f.name().toLower(), i);
    }
    PGresult* result = pgResult(query);
    if (result) {
        describePostgres(result);
    } else if (!updateTable.isEmpty()) {
        // A table of a file database: every column is the table's own, and a
        // row is found again by its values.
        tables << BaseTable{sql::quoteIdentifier(updateTable), {}, {}};
        for (Column& c : columns) {
            c.table = 0;
            c.baseName = c.name;
        }
    } else {
        for (Column& c : columns)
            c.readOnly = true;
    }
    for (int i = 0; i < n; ++i) {
        auto field =
            std::make_unique<Field>(q, i, columns[i].name, columns[i].type, columns[i].size);
        fields.push_back(std::move(field));
    }
    QVector<int> all(n);
    for (int i = 0; i < n; ++i)
        all[i] = i;
    int resultRow = 0;
    while (query.next()) {
        Row row;
        row.values.resize(n);
        row.original.resize(n);
        readRow(query, result, resultRow++, row, all, all);
        rows.push_back(std::move(row));
    }
}

// ---------------------------------------------------------------- filter

void Dataset::Private::resolveFilter(const QVector<FilterTerm>& wanted,
                                     QVector<int>& resolved) const {
    resolved.clear();
    for (const FilterTerm& t : wanted) {
        const int i = columnIndex(t.column);
        if (i < 0)
            fail(QStringLiteral("Field '%1' not found").arg(t.column));
        resolved << i;
    }
}

bool Dataset::Private::passes(const Row& row) const {
    if (!filtered || terms.isEmpty())
        return true;
    for (int k = 0; k < terms.size(); ++k) {
        const QVariant& v = row.values[termColumns[k]];
        if (!isNull(v) && v.toString().compare(terms[k].text, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void Dataset::Private::rebuildVisible() {
    visible.clear();
    for (size_t i = 0; i < rows.size(); ++i)
        if (passes(rows[i]))
            visible.push_back(int(i));
}

void Dataset::Private::applyFilter() {
    rebuildVisible();
    cur = visible.empty() ? -1 : 0;
    bof = true;
    eof = visible.empty();
    emit q->dataChanged();
    moved(true);
}

// ---------------------------------------------------------------- editing

void Dataset::Private::moved(bool rowChanged) {
    if (rowChanged)
        emit q->recordChanged();
    if (cur >= 0)
        emit q->afterScroll();
}

// One row on or back; past either end the position stays and eof or bof is set.
void Dataset::Private::step(int by) {
    requireActive();
    checkBrowseMode();
    const int to = cur + by;
    if (to >= 0 && to < int(visible.size())) {
        cur = to;
        bof = eof = false;
        moved(true);
    } else {
        (by < 0 ? bof : eof) = true;
        moved(false);
    }
}

void Dataset::Private::endEdit() {
    state = State::Browse;
    backup.clear();
    changed.clear();
    modified = false;
    emit q->stateChanged();
}

void Dataset::Private::dropEdit() {
    if (state == State::Insert) {
        const int back = curBeforeInsert;
        removeRow(cur);
        cur = visible.empty() ? -1 : qBound(0, back, int(visible.size()) - 1);
        endEdit();
        emit q->dataChanged();
        moved(true);
        return;
    }
    if (Row* row = current())
        row->values = backup;
    endEdit();
    emit q->dataChanged();
    emit q->recordChanged();
}

void Dataset::Private::checkBrowseMode() {
    q->updateRecord();
    if (!editing())
        return;
    if (modified)
        q->post();
    else
        dropEdit();
}

void Dataset::Private::removeRow(int visibleIndex) {
    const int r = visible[size_t(visibleIndex)];
    rows.erase(rows.begin() + r);
    visible.erase(visible.begin() + visibleIndex);
    for (int& v : visible)
        if (v > r)
            --v;
}

// ---------------------------------------------------------------- writing

int Dataset::Private::tableForWrite(const QVector<int>& columnsSet) const {
    int table = -1;
    for (int i : columnsSet) {
        if (table >= 0 && columns[i].table != table)
            fail(QString::fromLatin1(kNoBaseTable));
        table = columns[i].table;
    }
    if (table < 0) {
        if (tables.size() != 1)
            fail(QString::fromLatin1(kNoBaseTable));
        table = 0;
    }
    return table;
}

// The condition that finds the row in its table: by the key with the changed
// columns still as they were read, or, without the key among the columns, the
// first row holding all the values read.
QString Dataset::Private::locator(int table, const Row& row, const QVector<int>& alsoUnchanged,
                                  QVariantList& binds) const {
    const QString same =
        sqlite ? QStringLiteral(" is ?") : QStringLiteral(" is not distinct from ?");
    const BaseTable& base = tables[table];
    QStringList parts;
    if (base.keyed()) {
        for (int k : base.keyColumns) {
            parts << sql::quoteIdentifier(columns[k].baseName) + QStringLiteral(" = ?");
            binds << row.original[k];
        }
        for (int i : alsoUnchanged) {
            if (base.keyColumns.contains(i))
                continue;
            parts << sql::quoteIdentifier(columns[i].baseName) + same;
            binds << row.original[i];
        }
        return parts.join(QStringLiteral(" and "));
    }
    for (int i = 0; i < columns.size(); ++i) {
        if (columns[i].table != table)
            continue;
        parts << sql::quoteIdentifier(columns[i].baseName) + same;
        binds << row.original[i];
    }
    const QString rowId = sqlite ? QStringLiteral("rowid") : QStringLiteral("ctid");
    return QStringLiteral("%1 = (select %1 from %2 where %3 limit 1)")
        .arg(rowId, base.sqlName, parts.isEmpty() ? QStringLiteral("true") : parts.join(" and "));
}

void Dataset::Private::refreshFrom(const QSqlQuery& query, int table, Row& row) const {
    const QSqlRecord record = query.record();
    QVector<int> targets, sources;
    for (int i = 0; i < columns.size(); ++i) {
        if (columns[i].table != table)
            continue;
        const int src = record.indexOf(columns[i].baseName);
        if (src >= 0) {
            targets << i;
            sources << src;
        }
    }
    readRow(query, pgResult(query), query.at(), row, targets, sources);
}

void Dataset::Private::insertRow(Row& row) {
    QVector<int> set;
    for (int i = 0; i < columns.size(); ++i)
        if (changed.value(i))
            set << i;
    const int table = tableForWrite(set);
    QStringList names, marks;
    QVariantList binds;
    for (int i : set) {
        names << sql::quoteIdentifier(columns[i].baseName);
        marks << QStringLiteral("?");
        binds << row.values[i];
    }
    const QString text =
        set.isEmpty()
            ? QStringLiteral("insert into %1 default values returning *").arg(tables[table].sqlName)
            : QStringLiteral("insert into %1 (%2) values (%3) returning *")
                  .arg(tables[table].sqlName, names.join(", "), marks.join(", "));
    QSqlQuery query = runBound(database(), text, binds);
    Row fresh = row;
    for (int i = 0; i < columns.size(); ++i)
        fresh.original[i] = fresh.values[i];
    if (query.next())
        refreshFrom(query, table, fresh);
    row = std::move(fresh);
}

void Dataset::Private::updateRow(Row& row) {
    QMap<int, QVector<int>> byTable;
    for (int i = 0; i < columns.size(); ++i) {
        if (!changed.value(i))
            continue;
        if (columns[i].table < 0)
            fail(QString::fromLatin1(kNoBaseTable));
        byTable[columns[i].table] << i;
    }
    if (byTable.isEmpty())
        return;
    QSqlDatabase db = database();
    const bool several = byTable.size() > 1;
    if (several && !db.transaction())
        throw DbError(sql::errorText(db.lastError()));
    Row fresh = row;
    try {
        for (auto it = byTable.cbegin(); it != byTable.cend(); ++it) {
            QStringList sets;
            QVariantList binds;
            for (int i : it.value()) {
                sets << sql::quoteIdentifier(columns[i].baseName) + QStringLiteral(" = ?");
                binds << row.values[i];
            }
            const QString where = locator(it.key(), row, it.value(), binds);
            QSqlQuery query = runBound(db,
                                       QStringLiteral("update %1 set %2 where %3 returning *")
                                           .arg(tables[it.key()].sqlName, sets.join(", "), where),
                                       binds);
            if (!query.next())
                throw DbError(QString::fromLatin1(kRowNotFound));
            refreshFrom(query, it.key(), fresh);
        }
        if (several && !db.commit())
            throw DbError(sql::errorText(db.lastError()));
    } catch (...) {
        if (several)
            db.rollback();
        throw;
    }
    row = std::move(fresh);
}

void Dataset::Private::deleteRow(const Row& row) {
    int table = -1;
    if (tables.size() == 1)
        table = 0;
    if (table < 0)
        fail(QString::fromLatin1(kNoBaseTable));
    QVariantList binds;
    const QString where = locator(table, row, {}, binds);
    QSqlQuery query = runBound(
        database(), QStringLiteral("delete from %1 where %2").arg(tables[table].sqlName, where),
        binds);
    if (query.numRowsAffected() == 0)
        throw DbError(QString::fromLatin1(kRowNotFound));
}

// ---------------------------------------------------------------- Dataset

Dataset::Dataset(QObject* parent) : QObject(parent), d(std::make_unique<Private>(this)) {}

Dataset::~Dataset() = default;

void Dataset::setConnection(Connection* connection) {
    if (d->connection == connection)
        return;
    close();
    disconnect(d->disconnectHook);
    d->connection = connection;
    if (connection)
        d->disconnectHook =
            connect(connection, &Connection::beforeDisconnect, this, [this] { close(); });
}

Connection* Dataset::connection() const {
    return d->connection;
}

void Dataset::bindValues(QSqlQuery&) const {}

void Dataset::open() {
    if (active())
        return;
    if (!d->connection)
        d->fail(QStringLiteral("Missing Connection or ConnectionString"));
    const QString text = selectStatement();
    if (text.trimmed().isEmpty())
        d->fail(QStringLiteral("No SQL statement to open"));
    QSqlDatabase db = d->database();
    d->sqlite = d->connection->kind() == Connection::Kind::Sqlite;
    QSqlQuery query(db);
    sql::prepare(query, text);
    bindValues(query);
    sql::exec(query);
    if (!query.isSelect())
        d->fail(QStringLiteral("The statement returns no rows to open"));
    d->rows.clear();
    for (auto& f : d->fields)
        d->retired.push_back(std::move(f));
    d->fields.clear();
    d->load(query, defaultUpdateTable());
    query.finish();
    if (d->filtered) {
        try {
            d->resolveFilter(d->terms, d->termColumns);
        } catch (...) {
            d->rows.clear();
            throw;
        }
    }
    d->rebuildVisible();
    d->cur = d->visible.empty() ? -1 : 0;
    d->bof = true;
    d->eof = d->visible.empty();
    d->state = State::Browse;
    emit stateChanged();
    emit dataChanged();
    emit afterOpen();
    d->moved(true);
}

void Dataset::close() {
    if (!active())
        return;
    d->state = State::Inactive;
    d->backup.clear();
    d->changed.clear();
    d->modified = false;
    d->rows.clear();
    d->visible.clear();
    d->cur = -1;
    d->bof = d->eof = true;
    for (auto& f : d->fields)
        d->retired.push_back(std::move(f));
    d->fields.clear();
    d->byName.clear();
    emit stateChanged();
    emit dataChanged();
    emit recordChanged();
    emit afterClose();
}

bool Dataset::active() const {
    return d->state != State::Inactive;
}

void Dataset::setActive(bool on) {
    if (on)
        open();
    else
        close();
}

Dataset::State Dataset::state() const {
    return d->state;
}

void Dataset::first() {
    d->requireActive();
    d->checkBrowseMode();
    const int before = d->cur;
    d->cur = d->visible.empty() ? -1 : 0;
    d->bof = true;
    d->eof = d->visible.empty();
    d->moved(before != d->cur);
}

void Dataset::prior() {
    d->step(-1);
}

void Dataset::next() {
    d->step(1);
}

void Dataset::last() {
    d->requireActive();
    d->checkBrowseMode();
    const int before = d->cur;
    d->cur = int(d->visible.size()) - 1;
    d->eof = true;
    d->bof = d->visible.empty();
    d->moved(before != d->cur);
}

bool Dataset::eof() const {
    return d->eof;
}

bool Dataset::bof() const {
    return d->bof;
}

bool Dataset::isEmpty() const {
    return d->visible.empty();
}

int Dataset::recordCount() const {
    d->requireActive();
    return int(d->visible.size());
}

int Dataset::recNo() const {
    return d->cur + 1;
}

void Dataset::setRecNo(int recNo) {
    d->requireActive();
    if (recNo == d->cur + 1 && !d->editing())
        return;
    d->checkBrowseMode();
    if (recNo < 1 || recNo > int(d->visible.size()))
        d->fail(QStringLiteral("Record number %1 is out of range").arg(recNo));
    const int before = d->cur;
    d->cur = recNo - 1;
    d->bof = d->eof = false;
    d->moved(before != d->cur);
}

int Dataset::fieldCount() const {
    return int(d->fields.size());
}

Field& Dataset::field(int index) {
    d->requireActive();
    if (index < 0 || size_t(index) >= d->fields.size())
        d->fail(QStringLiteral("Field index %1 out of range").arg(index));
    return *d->fields[size_t(index)];
}

Field& Dataset::fieldByName(const QString& name) {
    d->requireActive();
    Field* f = findField(name);
    if (!f)
        d->fail(QStringLiteral("Field '%1' not found").arg(name));
    return *f;
}

Field* Dataset::findField(const QString& name) {
    const int i = d->columnIndex(name);
    return i < 0 || !active() ? nullptr : d->fields[size_t(i)].get();
}

void Dataset::edit() {
    d->requireActive();
    if (d->editing())
        return;
    if (d->visible.empty()) {
        append();
        return;
    }
    d->backup = d->current()->values;
    d->changed = QVector<bool>(d->columns.size(), false);
    d->modified = false;
    d->state = State::Edit;
    emit stateChanged();
}

void Dataset::append() {
    d->requireActive();
    d->checkBrowseMode();
    const int n = int(d->columns.size());
    Row row;
    row.values.resize(n);
    row.original.resize(n);
    d->rows.push_back(std::move(row));
    d->visible.push_back(int(d->rows.size()) - 1);
    d->curBeforeInsert = d->cur;
    d->cur = int(d->visible.size()) - 1;
    d->bof = d->eof = false;
    d->changed = QVector<bool>(n, false);
    d->modified = false;
    d->state = State::Insert;
    emit stateChanged();
    d->moved(true);
}

void Dataset::post() {
    d->requireActive();
    updateRecord();
    if (!d->editing())
        d->fail(QStringLiteral("Dataset not in edit or insert mode"));
    Row& row = *d->current();
    if (d->state == State::Insert)
        d->insertRow(row);
    else
        d->updateRow(row);
    d->endEdit();
    emit recordChanged();
    emit dataChanged();
    emit afterPost();
}

void Dataset::cancel() {
    d->requireActive();
    if (d->editing())
        d->dropEdit();
}

void Dataset::deleteRecord() {
    d->requireActive();
    if (d->state == State::Insert) {
        d->dropEdit();
        return;
    }
    if (d->visible.empty())
        d->fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    if (d->state == State::Edit)
        d->dropEdit();
    d->deleteRow(*d->current());
    d->removeRow(d->cur);
    if (d->cur >= int(d->visible.size()))
        d->cur = int(d->visible.size()) - 1;
    d->bof = d->eof = d->visible.empty();
    emit dataChanged();
    d->moved(true);
}

bool Dataset::modified() const {
    return d->editing() && d->modified;
}

bool Dataset::locate(const QString& fieldName, const QVariant& value) {
    d->requireActive();
    const int column = d->columnIndex(fieldName);
    if (column < 0)
        d->fail(QStringLiteral("Field '%1' not found").arg(fieldName));
    d->checkBrowseMode();
    for (size_t k = 0; k < d->visible.size(); ++k) {
        if (sameValue(d->rows[size_t(d->visible[k])].values[column], value)) {
            const int before = d->cur;
            d->cur = int(k);
            d->bof = d->eof = false;
            d->moved(before != d->cur);
            return true;
        }
    }
    return false;
}

void Dataset::setFilter(const QString& expression) {
    const QVector<FilterTerm> terms = parseFilter(expression);
    if (active() && d->filtered) {
        QVector<int> resolved;
        d->resolveFilter(terms, resolved);
        d->checkBrowseMode();
        d->termColumns = resolved;
    }
    d->filterText = expression;
    d->terms = terms;
    if (active() && d->filtered)
        d->applyFilter();
}

QString Dataset::filter() const {
    return d->filterText;
}

void Dataset::setFiltered(bool on) {
    if (active()) {
        if (on)
            d->resolveFilter(d->terms, d->termColumns);
        d->checkBrowseMode();
    }
    d->filtered = on;
    if (active())
        d->applyFilter();
}

bool Dataset::filtered() const {
    return d->filtered;
}

QVariant Dataset::rowValue(int fieldIndex) const {
    d->requireActive();
    if (fieldIndex < 0 || fieldIndex >= d->columns.size())
        d->fail(QStringLiteral("Field index %1 out of range").arg(fieldIndex));
    const Row* row = d->current();
    return row ? row->values[fieldIndex] : QVariant();
}

QVariant Dataset::valueAt(int recNo, int fieldIndex) const {
    if (!active() || recNo < 1 || recNo > int(d->visible.size()) || fieldIndex < 0 ||
        fieldIndex >= d->columns.size())
        return QVariant();
    return d->rows[size_t(d->visible[size_t(recNo - 1)])].values[fieldIndex];
}

void Dataset::setRowValue(int fieldIndex, const QVariant& value) {
    d->requireActive();
    if (fieldIndex < 0 || fieldIndex >= d->columns.size())
        d->fail(QStringLiteral("Field index %1 out of range").arg(fieldIndex));
    if (!d->editing())
        d->fail(QStringLiteral("Dataset not in edit or insert mode"));
    const Column& c = d->columns[fieldIndex];
    if (c.readOnly)
        d->fail(QStringLiteral("Field '%1' cannot be modified").arg(c.name));
    d->current()->values[fieldIndex] =
        sql::coerce(value, c.type, QStringLiteral("field '%1'").arg(c.name));
    d->changed[fieldIndex] = true;
    d->modified = true;
    emit recordChanged();
}

void Dataset::updateRecord() {
    if (d->requestingUpdate || !active())
        return;
    d->requestingUpdate = true;
    try {
        emit updateRecordRequested();
    } catch (...) {
        d->requestingUpdate = false;
        throw;
    }
    d->requestingUpdate = false;
}

// ---------------------------------------------------------------- Field

Field::Field(Dataset* owner, int index, const QString& name, DataType type, int size)
    : m_owner(owner), m_index(index), m_name(name), m_type(type), m_size(size) {}

bool Field::readOnly() const {
    const auto& fields = m_owner->d->fields;
    if (m_index < 0 || size_t(m_index) >= fields.size() || fields[size_t(m_index)].get() != this)
        return true;
    return m_owner->d->columns[m_index].readOnly;
}

QVariant Field::value() const {
    m_owner->d->checkedField(this);
    return m_owner->rowValue(m_index);
}

bool Field::isNull() const {
    return fw::isNull(value());
}

QString valueText(const QVariant& v) {
    if (fw::isNull(v))
        return QString();
    switch (v.typeId()) {
    case QMetaType::Double:
        return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::QByteArray:
        return QString::fromUtf8(v.toByteArray());
    case QMetaType::QDateTime:
        return v.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    default:
        return v.toString();
    }
}

QString Field::asString() const {
    return valueText(value());
}

int Field::asInteger() const {
    const QVariant v = value();
    if (fw::isNull(v))
        return 0;
    bool ok = true;
    int n = 0;
    if (v.typeId() == QMetaType::Double)
        n = qRound(v.toDouble());
    else if (v.typeId() == QMetaType::QString)
        n = v.toString().trimmed().toInt(&ok);
    else
        n = v.toInt(&ok);
    if (!ok)
        throw Error(QStringLiteral("'%1' is not a valid integer value").arg(v.toString()));
    return n;
}

double Field::asFloat() const {
    const QVariant v = value();
    if (fw::isNull(v))
        return 0;
    bool ok = true;
    const double x =
        v.typeId() == QMetaType::QString ? v.toString().trimmed().toDouble(&ok) : v.toDouble(&ok);
    if (!ok)
        throw Error(QStringLiteral("'%1' is not a valid floating point value").arg(v.toString()));
    return x;
}

QByteArray Field::asBytes() const {
    const QVariant v = value();
    if (fw::isNull(v))
        return QByteArray();
    if (v.typeId() == QMetaType::QString)
        return v.toString().toUtf8();
    return v.toByteArray();
}

void Field::setValue(const QVariant& value) {
    m_owner->d->checkedField(this);
    m_owner->setRowValue(m_index, value);
}

void Field::saveToFile(const QString& path) const {
    const QByteArray bytes = asBytes();
    QFile file(hostPath(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw Error(QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw Error(QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString()));
    file.close();
}

void Field::loadFromFile(const QString& path) {
    QFile file(hostPath(path));
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Error(QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorString()));
    setValue(bytes);
}

// ---------------------------------------------------------------- Parameters

namespace {
QString bareName(const QString& name) {
    return name.startsWith('@') ? name.mid(1) : name;
}
} // namespace

Parameter* Parameters::find(const QString& name) {
    const QString wanted = bareName(name);
    for (Parameter& p : m_items)
        if (bareName(p.name()).compare(wanted, Qt::CaseInsensitive) == 0)
            return &p;
    return nullptr;
}

Parameter& Parameters::paramByName(const QString& name) {
    Parameter* p = find(name);
    if (!p)
        throw Error(QStringLiteral("Parameter '%1' not found").arg(name));
    return *p;
}

Parameter& Parameters::add(const QString& name, DataType type, int size) {
    m_items.append(Parameter(name, type, size));
    return m_items.last();
}

} // namespace fw
