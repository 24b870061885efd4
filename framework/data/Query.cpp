#include "framework/data/Query.h"

#include "framework/core/Drives.h"
#include "framework/core/Error.h"
#include "framework/data/Connection.h"
#include "framework/data/SqlSupport.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlQuery>

#include <libpq-fe.h>
#include <vector>

namespace fw {

namespace {

bool isNameChar(QChar c) {
    return c.isLetterOrNumber() || c == '_';
}

// The ":name" parameters of a statement, in the order of first appearance;
// quoted texts and names are skipped, and so is a "::" cast.
QStringList parameterNames(const QString& text) {
    QStringList names;
    QChar quote;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            continue;
        }
        if (c != ':' || i + 1 >= text.size())
            continue;
        if (text.at(i + 1) == ':') {
            ++i;
            continue;
        }
        if (!isNameChar(text.at(i + 1)))
            continue;
        int j = i + 1;
        while (j < text.size() && isNameChar(text.at(j)))
            ++j;
        const QString name = text.mid(i + 1, j - i - 1);
        bool known = false;
        for (const QString& n : std::as_const(names))
            known = known || n.compare(name, Qt::CaseInsensitive) == 0;
        if (!known)
            names << name;
        i = j - 1;
    }
    return names;
}

// An identifier written as the programs write it: a plain name stays as it
// is (the database folds it), anything else is quoted.
QString sqlName(const QString& name) {
    static const QRegularExpression plain(QStringLiteral("^[\\p{L}_][\\p{L}\\p{N}_]*$"));
    return plain.match(name).hasMatch() ? name : sql::quoteIdentifier(name);
}

QString bare(const QString& name) {
    return name.startsWith('@') ? name.mid(1) : name;
}

QByteArray textOf(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? "true" : "false";
    case QMetaType::Double:
        return QByteArray::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::QDateTime:
        return v.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toUtf8();
    case QMetaType::QByteArray:
        return v.toByteArray();
    default:
        return v.toString().toUtf8();
    }
}

PGconn* pgConnection(const QSqlDatabase& db) {
    const QVariant handle = db.driver()->handle();
    if (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0)
        return nullptr;
    return *static_cast<PGconn* const*>(handle.constData());
}

struct ProcedureInfo {
    QString name; // as the catalog holds it
    struct Argument {
        QString name;
        unsigned type;
        QChar mode;
    };
    QVector<Argument> arguments;
};

// Finds a procedure by name: the exact name when it exists (a quoted name
// with capitals), else the name folded to lower case.
bool findProcedure(const QSqlDatabase& db, const QString& name, ProcedureInfo& info) {
    QSqlQuery query(db);
    sql::prepare(
        query,
        QStringLiteral("select p.proname, array_to_string(p.proargnames, ',', ''), "
                       "array_to_string(coalesce(p.proallargtypes, cast(p.proargtypes as oid[])), "
                       "','), array_to_string(p.proargmodes, ',') from pg_proc p "
                       "where p.prokind = 'p' and p.proname in (?, ?) and "
                       "pg_function_is_visible(p.oid) order by p.proname = ? desc limit 1"));
    query.addBindValue(name);
    query.addBindValue(name.toLower());
    query.addBindValue(name);
    sql::exec(query);
    if (!query.next())
        return false;
    info.name = query.value(0).toString();
    const QStringList names = query.value(1).toString().split(',');
    const QString typeText = query.value(2).toString();
    const QStringList types = typeText.isEmpty() ? QStringList() : typeText.split(',');
    const QStringList modes = query.value(3).toString().split(',');
    for (int i = 0; i < types.size(); ++i) {
        ProcedureInfo::Argument a;
        a.name = names.value(i);
        a.type = types.at(i).toUInt();
        const QString mode = modes.value(i);
        a.mode = mode.isEmpty() ? QChar('i') : mode.at(0);
        info.arguments << a;
    }
    return true;
}

[[noreturn]] void noSuchProcedure(const QString& name) {
    throw DbError(QStringLiteral("Could not find stored procedure '%1'.").arg(name));
}

} // namespace

// ---------------------------------------------------------------- Query

void Query::setSQL(const QString& text) {
    close();
    m_sql = text;
    Parameters kept = m_params;
    m_params.clear();
    for (const QString& name : parameterNames(text)) {
        Parameter& p = m_params.add(name);
        if (const Parameter* old = kept.find(name)) {
            p.setDataType(old->dataType());
            p.setSize(old->size());
            p.setValue(old->value());
        }
    }
}

QString Query::sql() const {
    return m_sql;
}

void Query::sqlAdd(const QString& line) {
    setSQL(m_sql.isEmpty() ? line : m_sql + '\n' + line);
}

void Query::bindValues(QSqlQuery& query) const {
    for (int i = 0; i < m_params.count(); ++i) {
        const Parameter& p = m_params.at(i);
        query.bindValue(
            ':' + p.name(),
            sql::coerce(p.value(), p.dataType(), QStringLiteral("parameter '%1'").arg(p.name())));
    }
}

void Query::execSQL() {
    if (!connection())
        throw Error(QStringLiteral("%1Missing Connection or ConnectionString")
                        .arg(objectName().isEmpty() ? QString() : objectName() + ": "));
    QSqlQuery query(connection()->database());
    if (m_params.count() == 0) {
        // Also statements that cannot be prepared (create table ...).
        if (!query.exec(m_sql))
            throw DbError(sql::errorText(query.lastError()));
        return;
    }
    sql::prepare(query, m_sql);
    bindValues(query);
    sql::exec(query);
}

// ---------------------------------------------------------------- Table

void Table::setTableName(const QString& name) {
    close();
    m_table = name;
}

QString Table::selectStatement() const {
    return m_table.isEmpty() ? QString() : QStringLiteral("select * from ") + sqlName(m_table);
}

// ---------------------------------------------------------------- StoredProc

StoredProc::StoredProc(QObject* parent) : QObject(parent) {}

void StoredProc::setProcedureName(const QString& name) {
    m_name = name;
}

void StoredProc::refreshParameters() {
    if (!m_connection)
        throw Error(QStringLiteral("Missing Connection or ConnectionString"));
    const QString name = m_name.section(';', 0, 0).trimmed();
    ProcedureInfo info;
    if (!findProcedure(m_connection->database(), name, info))
        noSuchProcedure(name);
    m_params.clear();
    for (const ProcedureInfo::Argument& a : std::as_const(info.arguments)) {
        if (a.mode == 'o' || a.mode == 't')
            continue;
        int size = 0;
        m_params.add('@' + a.name, sql::pgDataType(a.type, -1, &size), size);
    }
}

void StoredProc::execProc() {
    if (!m_connection)
        throw Error(QStringLiteral("Missing Connection or ConnectionString"));
    QSqlDatabase db = m_connection->database();
    PGconn* conn = pgConnection(db);
    if (!conn)
        throw Error(QStringLiteral("Stored procedures run on the exam database only"));
    const QString name = m_name.section(';', 0, 0).trimmed();
    ProcedureInfo info;
    if (!findProcedure(db, name, info))
        noSuchProcedure(name);

    QStringList arguments;
    std::vector<QByteArray> texts;
    std::vector<const char*> values;
    texts.reserve(size_t(m_params.count()));
    for (int i = 0; i < m_params.count(); ++i) {
        const Parameter& p = m_params.at(i);
        QString argName = bare(p.name());
        for (const ProcedureInfo::Argument& a : std::as_const(info.arguments))
            if (a.name.compare(argName, Qt::CaseInsensitive) == 0)
                argName = a.name;
        arguments << QStringLiteral("%1 => $%2").arg(sql::quoteIdentifier(argName)).arg(i + 1);
        const QVariant v =
            sql::coerce(p.value(), p.dataType(), QStringLiteral("parameter '%1'").arg(p.name()));
        if (!v.isValid() || v.isNull()) {
            texts.emplace_back();
            values.push_back(nullptr);
        } else {
            texts.push_back(textOf(v));
            values.push_back(texts.back().constData());
        }
    }
    const QByteArray statement =
        QStringLiteral("call %1(%2)")
            .arg(sql::quoteIdentifier(info.name), arguments.join(QStringLiteral(", ")))
            .toUtf8();
    PGresult* result = PQexecParams(conn, statement.constData(), int(values.size()), nullptr,
                                    values.data(), nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(result);
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
        PQclear(result);
        return;
    }
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    const QString message = QString::fromUtf8(primary ? primary : PQerrorMessage(conn)).trimmed();
    PQclear(result);
    throw DbError(message.isEmpty() ? QStringLiteral("The procedure call failed") : message);
}

// ---------------------------------------------------------------- catalog

void createCatalog(const QString& connectionString) {
    const QString provider = sql::connectionValue(connectionString, QStringLiteral("Provider"));
    if (!provider.startsWith(QLatin1String("Microsoft.Jet.OLEDB"), Qt::CaseInsensitive))
        throw Error(QStringLiteral("Provider cannot be found. It may not be properly installed."));
    const QString source = sql::connectionValue(connectionString, QStringLiteral("Data Source"));
    const QString path = hostPath(source);
    if (source.isEmpty())
        throw Error(QStringLiteral("The connection string names no database file."));
    if (QFileInfo::exists(path))
        throw Error(QStringLiteral("Database '%1' already exists.").arg(source));
    static QAtomicInt counter;
    const QString name = QStringLiteral("morvel-catalog-%1").arg(counter.fetchAndAddRelaxed(1) + 1);
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open()) {
            failure = sql::errorText(db.lastError());
        } else {
            // Writes the file's header, so it is a database file from now on.
            QSqlQuery query(db);
            if (!query.exec(QStringLiteral("create table morvel_new (x integer)")) ||
                !query.exec(QStringLiteral("drop table morvel_new")))
                failure = sql::errorText(query.lastError());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (!failure.isEmpty())
        throw DbError(QStringLiteral("Cannot create database '%1': %2").arg(source, failure));
}

} // namespace fw
