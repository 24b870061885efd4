#include "framework/data/Snapshot.h"

#include "framework/core/Error.h"
#include "framework/data/SqlSupport.h"

#include <QMap>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

#include <libpq-fe.h>

namespace fw::detail {

namespace {

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

// What the catalog says of a table's columns: name, whether the database
// numbers it, whether it is generated, whether it is in the primary key.
struct Attribute {
    QString name;
    bool numbered = false;
    bool generated = false;
    bool key = false;
};

BaseTable describeTable(PGconn* conn, Oid table, QHash<int, Attribute>& attributes) {
    pg::Values values;
    values.add(QString::number(table));
    const pg::Result meta = pg::exec(
        conn,
        QStringLiteral(
            "select a.attnum, a.attname, n.nspname, c.relname, "
            "a.attidentity <> '' or coalesce(pg_get_expr(d.adbin, d.adrelid) like "
            "'nextval(%', false), a.attgenerated <> '', "
            "exists (select 1 from pg_index i where i.indrelid = c.oid and "
            "i.indisprimary and a.attnum = any(i.indkey)) "
            "from pg_class c join pg_namespace n on n.oid = c.relnamespace "
            "join pg_attribute a on a.attrelid = c.oid "
            "left join pg_attrdef d on d.adrelid = a.attrelid and d.adnum = a.attnum "
            "where c.oid = $1::oid and a.attnum > 0 and not a.attisdropped order by a.attnum"),
        values);
    BaseTable base;
    const auto text = [&meta](int row, int column) {
        const QByteArrayView b = meta.bytes(row, column);
        return QString::fromUtf8(b.data(), b.size());
    };
    for (int r = 0; r < meta.rows(); ++r) {
        base.sqlName = sql::quoteIdentifier(text(r, 2)) + '.' + sql::quoteIdentifier(text(r, 3));
        Attribute a;
        a.name = text(r, 1);
        a.numbered = text(r, 4) == QLatin1String("t");
        a.generated = text(r, 5) == QLatin1String("t");
        a.key = text(r, 6) == QLatin1String("t");
        attributes.insert(text(r, 0).toInt(), a);
        if (a.key)
            base.keyNames << a.name;
    }
    return base;
}

// The statement with its deferred blobs replaced by their lengths, so that
// opening never reads them.
QString deferringStatement(const Snapshot& snapshot, QString text) {
    while (!text.isEmpty() && (text.back().isSpace() || text.back() == ';'))
        text.chop(1);
    QStringList select, names;
    for (int i = 0; i < snapshot.width(); ++i) {
        const QString name = QStringLiteral("c%1").arg(i + 1);
        names << name;
        select << (snapshot.columns[i].deferred ? QStringLiteral("octet_length(fw_s.%1)").arg(name)
                                                : QStringLiteral("fw_s.") + name);
    }
    return QStringLiteral("select %1 from (\n%2\n) as fw_s(%3)")
        .arg(select.join(", "), text, names.join(", "));
}

} // namespace

// ---------------------------------------------------------------- snapshot

int Snapshot::columnIndex(const QString& name) const {
    const auto asked = m_asked.constFind(name);
    if (asked != m_asked.cend())
        return *asked;
    const int i = m_byName.value(name.toLower(), -1);
    if (i >= 0)
        m_asked.insert(name, i);
    return i;
}

void Snapshot::clear() {
    columns.clear();
    tables.clear();
    cellCount = 0;
    sqlite = false;
    result = pg::Result();
    m_byName.clear();
    m_asked.clear();
    m_source = nullptr;
}

void Snapshot::finishColumns() {
    m_byName.clear();
    m_asked.clear();
    cellCount = width();
    for (int i = 0; i < width(); ++i) {
        Column& c = columns[i];
        if (!m_byName.contains(c.name.toLower()))
            m_byName.insert(c.name.toLower(), i);
        c.exact = pg::lossy(c.pgType) ? cellCount++ : -1;
    }
}

void Snapshot::setSource(const pg::Result* source, bool binary) {
    m_source = source;
    m_binary = binary;
}

Row Snapshot::heldRow() const {
    Row row;
    row.cells.resize(cellCount);
    return row;
}

bool Snapshot::fetchable(int column) const {
    const Column& c = columns[column];
    return !sqlite && c.isBlob() && c.pgType == pg::ByteaOid && c.table >= 0 &&
           tables[c.table].keyed();
}

QVariant Snapshot::decoded(int sourceRow, int column) const {
    const Column& c = columns[column];
    if (m_source->isNull(sourceRow, column))
        return pg::nullOf(c.pgType);
    const QByteArrayView bytes = m_source->bytes(sourceRow, column);
    if (c.deferred)
        return blobRef(pg::decode(bytes, pg::Int4Oid, m_binary).toLongLong());
    return pg::decode(bytes, c.pgType, m_binary);
}

QVariant Snapshot::value(const Row& row, int column) const {
    return row.held() ? row.cells[column] : decoded(row.source, column);
}

bool Snapshot::isNull(const Row& row, int column) const {
    if (!row.held())
        return m_source->isNull(row.source, column);
    const QVariant& v = row.cells[column];
    return !v.isValid() || v.isNull();
}

QVariant Snapshot::exactForm(const Row& row, int column) const {
    const int exact = columns[column].exact;
    if (exact < 0)
        return value(row, column);
    if (row.held())
        return row.cells[exact];
    if (m_source->isNull(row.source, column))
        return QVariant();
    const QByteArrayView bytes = m_source->bytes(row.source, column);
    return m_binary ? QVariant(QByteArray(bytes.data(), bytes.size()))
                    : QVariant(QString::fromUtf8(bytes.data(), bytes.size()));
}

QByteArrayView Snapshot::sourceBytes(const Row& row, int column) const {
    return row.held() ? QByteArrayView() : m_source->bytes(row.source, column);
}

void Snapshot::hold(Row& row) const {
    if (row.held())
        return;
    QVector<QVariant> cells(cellCount);
    for (int i = 0; i < width(); ++i) {
        cells[i] = decoded(row.source, i);
        if (columns[i].exact >= 0)
            cells[columns[i].exact] = exactForm(row, i);
    }
    row.cells = std::move(cells);
    row.source = -1;
}

bool isBlobRef(const QVariant& v) {
    return v.metaType() == QMetaType::fromType<BlobRef>();
}

QVariant blobRef(qint64 length) {
    return QVariant::fromValue(BlobRef{length});
}

qint64 blobRefLength(const QVariant& v) {
    return v.value<BlobRef>().length;
}

// ---------------------------------------------------------------- PostgreSQL

bool describe(PGconn* conn, Statement& statement, Snapshot& snapshot) {
    pg::prepare(conn, QByteArray(), statement.text, statement.values.count());
    const pg::Result shape = pg::describePrepared(conn, QByteArray());
    PGresult* r = shape.get();
    const int n = shape.columns();
    snapshot.clear();
    snapshot.columns.resize(n);
    QMap<Oid, int> tableOf; // table oid -> index into tables
    QMap<Oid, QHash<int, Attribute>> attributes;
    for (int i = 0; i < n; ++i) {
        Column& c = snapshot.columns[i];
        c.name = QString::fromUtf8(PQfname(r, i));
        c.pgType = PQftype(r, i);
        c.type = sql::pgDataType(c.pgType, PQfmod(r, i), &c.size);
        const Oid table = PQftable(r, i);
        const int attnum = PQftablecol(r, i);
        if (table == InvalidOid || attnum <= 0) {
            c.readOnly = true;
            continue;
        }
        if (!tableOf.contains(table)) {
            QHash<int, Attribute> attrs;
            tableOf.insert(table, int(snapshot.tables.size()));
            snapshot.tables << describeTable(conn, table, attrs);
            attributes.insert(table, attrs);
        }
        const auto attr = attributes.value(table).constFind(attnum);
        if (attr == attributes.value(table).cend()) {
            c.readOnly = true;
            continue;
        }
        c.table = tableOf.value(table);
        c.baseName = attr->name;
        if (attr->numbered) {
            if (c.type == DataType::Integer)
                c.type = DataType::AutoInc;
            c.readOnly = true;
        }
        if (attr->generated)
            c.readOnly = true;
        BaseTable& base = snapshot.tables[c.table];
        if (base.keyNames.contains(c.baseName) && base.keyColumns.size() < base.keyNames.size()) {
            bool taken = false;
            for (int k : std::as_const(base.keyColumns))
                taken = taken || snapshot.columns[k].baseName == c.baseName;
            if (!taken)
                base.keyColumns << i;
        }
    }
    bool deferring = false;
    for (int i = 0; i < n; ++i) {
        Column& c = snapshot.columns[i];
        c.deferred = statement.deferBlobs && snapshot.fetchable(i);
        deferring = deferring || c.deferred;
    }
    if (deferring)
        statement.text = deferringStatement(snapshot, statement.text);
    snapshot.finishColumns();
    bool binary = true;
    for (const Column& c : std::as_const(snapshot.columns))
        binary = binary && (c.deferred || pg::readsBinary(c.pgType));
    return binary;
}

void readRow(const Snapshot& snapshot, const pg::Result& result, int resultRow, bool binary,
             const QVector<int>& targets, Row& row) {
    snapshot.hold(row);
    for (int k = 0; k < targets.size(); ++k) {
        const int i = targets[k];
        const Column& c = snapshot.columns[i];
        if (result.isNull(resultRow, k)) {
            row.cells[i] = pg::nullOf(c.pgType);
            if (c.exact >= 0)
                row.cells[c.exact] = QVariant();
            continue;
        }
        const QByteArrayView bytes = result.bytes(resultRow, k);
        if (c.deferred) {
            row.cells[i] = blobRef(pg::decode(bytes, pg::Int4Oid, binary).toLongLong());
            continue;
        }
        row.cells[i] = pg::decode(bytes, c.pgType, binary);
        if (c.exact >= 0)
            row.cells[c.exact] = binary ? QVariant(QByteArray(bytes.data(), bytes.size()))
                                        : QVariant(QString::fromUtf8(bytes.data(), bytes.size()));
    }
}

void loadRows(PGconn* conn, const Statement& statement, bool binary, Snapshot& snapshot,
              std::vector<Row>& rows) {
    snapshot.result = pg::exec(conn, statement.text, statement.values, binary);
    snapshot.setSource(&snapshot.result, binary);
    const int count = snapshot.result.rows();
    rows.resize(size_t(count));
    for (int r = 0; r < count; ++r)
        rows[size_t(r)].source = r;
}

QVariant fetchBlob(PGconn* conn, pg::Statements& statements, const Snapshot& snapshot,
                   const Row& keyRow, int column) {
    const Column& c = snapshot.columns[column];
    const BaseTable& base = snapshot.tables[c.table];
    QStringList where;
    pg::Values keys;
    for (int k : base.keyColumns) {
        const Column& key = snapshot.columns[k];
        where << QStringLiteral("%1 = $%2")
                     .arg(sql::quoteIdentifier(key.baseName))
                     .arg(where.size() + 1);
        if (key.exact >= 0)
            keys.addExact(snapshot.exactForm(keyRow, k));
        else
            keys.add(snapshot.value(keyRow, k));
    }
    const QString text = QStringLiteral("select %1 from %2 where %3")
                             .arg(sql::quoteIdentifier(c.baseName), base.sqlName,
                                  where.join(QStringLiteral(" and ")));
    const pg::Result result =
        pg::execPrepared(conn, statements.prepared(conn, text, keys.count()), keys, true);
    if (result.rows() == 0 || result.isNull(0, 0))
        return pg::nullOf(c.pgType);
    const QByteArrayView bytes = result.bytes(0, 0);
    return QByteArray(bytes.data(), bytes.size());
}

// ---------------------------------------------------------------- other drivers

void loadQt(QSqlQuery& query, const QString& updateTable, Snapshot& snapshot,
            std::vector<Row>& rows) {
    const QSqlRecord record = query.record();
    const int n = record.count();
    snapshot.clear();
    snapshot.sqlite = true;
    snapshot.columns.resize(n);
    for (int i = 0; i < n; ++i) {
        const QSqlField f = record.field(i);
        Column& c = snapshot.columns[i];
        c.name = f.name();
        c.type = typeOfQtField(f);
        c.size = f.length() > 0 ? f.length() : 0;
        if (updateTable.isEmpty()) {
            c.readOnly = true;
        } else {
            // A table of a file database: every column is the table's own,
            // and a row is found again by its values.
            c.table = 0;
            c.baseName = c.name;
        }
    }
    if (!updateTable.isEmpty())
        snapshot.tables << BaseTable{sql::quoteIdentifier(updateTable), {}, {}};
    snapshot.finishColumns();
    while (query.next()) {
        Row row = snapshot.heldRow();
        for (int i = 0; i < n; ++i)
            row.cells[i] = query.isNull(i) ? QVariant() : query.value(i);
        rows.push_back(std::move(row));
    }
}

} // namespace fw::detail
