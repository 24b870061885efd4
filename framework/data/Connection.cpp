#include "framework/data/Connection.h"

#include "framework/core/Drives.h"
#include "framework/core/Error.h"
#include "framework/data/SqlSupport.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

namespace fw {

namespace {

QString uniqueConnectionName() {
    static QAtomicInt counter;
    return QStringLiteral("morvel-connection-%1").arg(counter.fetchAndAddRelaxed(1) + 1);
}

bool isLocalServer(const QString& dataSource) {
    const QString s = dataSource.trimmed();
    return s.isEmpty() || s == QLatin1String("(local)") || s == QLatin1String(".");
}

} // namespace

struct Connection::Private {
    QString name = uniqueConnectionName();
    QString text;
    QString provider;
    bool loginPrompt = true;
    std::function<void()> beforeConnect;
    QSqlDatabase db;

    QString effectiveProvider() const {
        const QString fromText = sql::connectionValue(text, QStringLiteral("Provider"));
        return fromText.isEmpty() ? provider : fromText;
    }

    // Points db at the driver that the connection string asks for and sets
    // host, port, role and database from it.
    void configure(Kind kind) {
        const QString driver =
            kind == Kind::Sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
        if (!db.isValid() || db.driverName() != driver) {
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            db = QSqlDatabase::addDatabase(driver, name);
            if (!db.isValid())
                throw DbError(
                    QStringLiteral("The database driver %1 is not available").arg(driver));
        }
        const auto value = [this](const char* key) {
            return sql::connectionValue(text, QString::fromLatin1(key));
        };
        if (kind == Kind::Sqlite) {
            const QString path = hostPath(value("Data Source"));
            // Opening a missing file would create an empty database silently.
            if (path.isEmpty() || !QFileInfo(path).isFile())
                throw DbError(QStringLiteral("Could not find file '%1'.").arg(path));
            db.setDatabaseName(path);
            return;
        }
        const QString source = value("Data Source");
        const bool pgPortSet = qEnvironmentVariableIsSet("PGPORT");
        const int pgPort = qEnvironmentVariableIntValue("PGPORT");
        if (isLocalServer(source)) {
            db.setHostName(qEnvironmentVariable("PGHOST"));
            db.setPort(pgPortSet && pgPort > 0 ? pgPort : -1);
        } else {
            db.setHostName(source.trimmed());
            db.setPort(pgPortSet && pgPort > 0 ? pgPort : 5432);
        }
        const bool integrated = !value("Integrated Security").isEmpty();
        db.setUserName(integrated ? QString() : value("User ID"));
        db.setPassword(integrated ? QString() : value("Password"));
        db.setDatabaseName(value("Initial Catalog"));
        int timeout = value("Connect Timeout").toInt();
        if (timeout <= 0)
            timeout = 15;
        db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(timeout));
    }
};

Connection::Connection(QObject* parent) : QObject(parent), d(new Private) {}

Connection::~Connection() {
    if (d->db.isValid() && d->db.isOpen())
        close();
    d->db = QSqlDatabase();
    if (QSqlDatabase::contains(d->name))
        QSqlDatabase::removeDatabase(d->name);
    delete d;
}

void Connection::setConnectionString(const QString& text) {
    if (connected())
        throw Error(QStringLiteral("Operation is not allowed when the object is open."));
    d->text = text;
}

QString Connection::connectionString() const {
    return d->text;
}

void Connection::setProvider(const QString& provider) {
    if (connected())
        throw Error(QStringLiteral("Operation is not allowed when the object is open."));
    d->provider = provider;
}

QString Connection::provider() const {
    return d->effectiveProvider();
}

void Connection::setLoginPrompt(bool on) {
    d->loginPrompt = on;
}

bool Connection::loginPrompt() const {
    return d->loginPrompt;
}

void Connection::setBeforeConnect(std::function<void()> handler) {
    d->beforeConnect = std::move(handler);
}

void Connection::open() {
    if (connected())
        return;
    if (d->beforeConnect)
        d->beforeConnect();
    const Kind k = kind();
    if (k == Kind::None) {
        const QString provider = d->effectiveProvider();
        throw DbError(provider.isEmpty()
                          ? QStringLiteral("The connection has no connection string.")
                          : QStringLiteral("Provider cannot be found. It may not be properly "
                                           "installed. (%1)")
                                .arg(provider));
    }
    d->configure(k);
    if (!d->db.open())
        throw DbError(sql::errorText(d->db.lastError()));
    emit afterConnect();
}

void Connection::close() {
    if (!connected())
        return;
    emit beforeDisconnect();
    d->db.close();
}

bool Connection::connected() const {
    return d->db.isValid() && d->db.isOpen();
}

Connection::Kind Connection::kind() const {
    const QString provider = d->effectiveProvider();
    if (provider.startsWith(QLatin1String("SQLOLEDB"), Qt::CaseInsensitive))
        return Kind::PostgreSql;
    if (provider.startsWith(QLatin1String("Microsoft.Jet.OLEDB"), Qt::CaseInsensitive))
        return Kind::Sqlite;
    return Kind::None;
}

QSqlDatabase Connection::database() {
    open();
    return d->db;
}

void Connection::execute(const QString& sql) {
    QSqlQuery query(database());
    if (!query.exec(sql))
        throw DbError(sql::errorText(query.lastError()));
}

} // namespace fw
