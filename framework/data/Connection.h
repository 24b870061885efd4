#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <functional>

namespace fw {

// A database connection configured by an ADO connection string, taken as the
// programs write it and mapped to a Qt SQL driver:
//   Provider=SQLOLEDB.1 (or the provider set by setProvider)  -> QPSQL
//     Data Source=(local), Integrated Security=SSPI -> the local Unix-domain
//       socket (PGHOST, else libpq's default), the operating-system user as role
//     Data Source=<address>, User ID=..., Password="..." -> TCP to <address>,
//       port PGPORT or 5432, password authentication
//     Initial Catalog=<name> -> the database <name>
//   Provider=Microsoft.Jet.OLEDB.4.0;Data Source=<path> -> QSQLITE on the file
//     hostPath(<path>)
// Keys are matched without regard to case; values may be in double quotes.
class Connection : public QObject {
    Q_OBJECT
public:
    enum class Kind { None, PostgreSql, Sqlite };

    explicit Connection(QObject* parent = nullptr);
    ~Connection() override;

    void setConnectionString(const QString& text); // raises when connected
    QString connectionString() const;
    void setProvider(const QString& provider);
    QString provider() const;
    void setLoginPrompt(bool on); // no prompt is ever shown; kept for the form
    bool loginPrompt() const;

    // Runs just before every connection attempt; may set the connection string.
    void setBeforeConnect(std::function<void()> handler);

    // Connects (once); a failure raises DbError with the database's message.
    void open();
    void close(); // closes the datasets on it first
    bool connected() const;

    Kind kind() const;       // from the current connection string
    QSqlDatabase database(); // opens on demand

    // A statement that returns no rows, on this connection.
    void execute(const QString& sql);

signals:
    void beforeDisconnect();
    void afterConnect();

private:
    struct Private;
    Private* d;
};

} // namespace fw
