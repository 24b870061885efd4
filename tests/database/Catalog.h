#pragma once

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

struct pg_conn;

// A libpq session on the test cluster's catalog Morvel: as the cluster's
// owner over the Unix-domain socket (as the console connects), or as the
// client's login Morvel over TCP to 127.0.0.1 (as the client connects).
class PgSession {
public:
    struct Outcome {
        bool ok = false;
        QString sqlstate;
        QString message;
        QList<QList<QVariant>> rows; // text as QString, bytea as QByteArray, null as QVariant()
    };

    static PgSession owner();
    static PgSession client(const QString& password = "5093718",
                            const QString& database = "Morvel");

    PgSession(PgSession&&) noexcept;
    ~PgSession();

    bool connected() const;
    QString connectError() const;

    // One statement with its values bound ($1, $2, ...); a QByteArray binds
    // as bytes, a null QVariant as null.
    Outcome run(const QString& sql, const QVariantList& values = {});
    // Like run, but fails the running test (with the database's message)
    // unless the statement succeeds.
    QList<QList<QVariant>> must(const QString& sql, const QVariantList& values = {});
    QVariant value(const QString& sql, const QVariantList& values = {});

private:
    explicit PgSession(const QByteArray& conninfo);
    pg_conn* m_conn = nullptr;
};

// Empties every table of the catalog (suites share it, one at a time).
void resetCatalog(PgSession& db);

// Where the sample files and the fixture files of a suite live.
QString samplePath(const QString& name); // MORVEL_BINARY_DIR/samples/name
QString sourcePath(const QString& relative);

// A real .xls written by the sample generator from tab-separated rows (see
// database/samples/make-workbook.pl: "#123" is a number cell); fails the test
// when the generator fails.
void writeWorkbook(const QString& path, const QString& rows);

// An SQLite question bank in the import layout, filled by the given
// statements after the tables are made (all four tables unless `tables`
// names fewer).
struct BankTable {
    QString name;
    QString columns; // "ID integer, subject text, ..."
};
QList<BankTable> bankLayout();
void writeBank(const QString& path, const QStringList& inserts,
               const QList<BankTable>& tables = bankLayout(), const QVariantList& blobs = {});

// The bytes of a real JPEG picture of one colour, small unless a size is
// given (a size then tells pictures apart).
QByteArray jpegBytes(QSize size = {8, 8});
