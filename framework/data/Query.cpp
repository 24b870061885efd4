#include "framework/data/Query.h"

#include "framework/core/Drives.h"
#include "framework/core/Error.h"
#include "framework/data/Connection.h"
#include "framework/data/Libpq.h"
#include "framework/data/SqlSupport.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlQuery>

namespace fw {

namespace {

// An identifier written as the programs write it: a plain name stays as it
// is (the database folds it), anything else is quoted.
QString sqlName(const QString& name) {
    static const QRegularExpression plain(QStringLiteral("^[\\p{L}_][\\p{L}\\p{N}_]*$"));
    return plain.match(name).hasMatch() ? name : sql::quoteIdentifier(name);
}

QString bare(const QString& name) {
    return name.startsWith('@') ? name.mid(1) : name;
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

void Query::execSQL() {
    if (!connection())
        throw Error(QStringLiteral("%1Missing Connection or ConnectionString")
                        .arg(objectName().isEmpty() ? QString() : objectName() + ": "));
    QSqlDatabase db = connection()->database();
    QSqlQuery query(db);
    if (m_params.count() == 0) {
        // Also statements that cannot be prepared (create table ...).
        if (!query.exec(m_sql))
            throw DbError(sql::errorText(query.lastError()));
        return;
    }
    if (connection()->kind() == Connection::Kind::PostgreSql) {
        // Bytes go in binary.
        pg::Values values;
        for (const QString& name : parameterNames(m_sql))
            values.add(m_params.boundValue(m_params.indexOf(name)));
        pg::exec(pg::connectionOf(db), numberedParameters(m_sql), values);
        return;
    }
    sql::prepare(query, m_sql);
    for (int i = 0; i < m_params.count(); ++i)
        query.bindValue(':' + m_params.at(i).name(), m_params.boundValue(i));
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
    if (m_connection->kind() != Connection::Kind::PostgreSql)
        throw Error(QStringLiteral("Stored procedures run on the exam database only"));
    PGconn* conn = pg::connectionOf(db);
    const QString name = m_name.section(';', 0, 0).trimmed();
    ProcedureInfo info;
    if (!findProcedure(db, name, info))
        noSuchProcedure(name);

    QStringList arguments;
    pg::Values values;
    for (int i = 0; i < m_params.count(); ++i) {
        QString argName = bare(m_params.at(i).name());
        for (const ProcedureInfo::Argument& a : std::as_const(info.arguments))
            if (a.name.compare(argName, Qt::CaseInsensitive) == 0)
                argName = a.name;
        arguments << QStringLiteral("%1 => $%2").arg(sql::quoteIdentifier(argName)).arg(i + 1);
        values.add(m_params.boundValue(i));
    }
    pg::exec(conn,
             QStringLiteral("call %1(%2)")
                 .arg(sql::quoteIdentifier(info.name), arguments.join(QStringLiteral(", "))),
             values);
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
