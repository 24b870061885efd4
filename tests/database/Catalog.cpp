#include "Catalog.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QUuid>

#include <cstring>
#include <vector>

#include <libpq-fe.h>

namespace {

QByteArray conninfo(const QString& host, const QString& user, const QString& password,
                    const QString& database = "Morvel") {
    QByteArray info = "dbname='" + database.toUtf8() + "' host='" + host.toUtf8() + "' port='" +
                      qgetenv("PGPORT") + "' connect_timeout=10";
    if (!user.isEmpty())
        info += " user='" + user.toUtf8() + "' password='" + password.toUtf8() + "'";
    return info;
}

} // namespace

PgSession::PgSession(const QByteArray& info) : m_conn(PQconnectdb(info.constData())) {}

PgSession::PgSession(PgSession&& other) noexcept : m_conn(other.m_conn) {
    other.m_conn = nullptr;
}

PgSession::~PgSession() {
    if (m_conn)
        PQfinish(m_conn);
}

PgSession PgSession::owner() {
    return PgSession(conninfo(qEnvironmentVariable("PGHOST"), QString(), QString()));
}

PgSession PgSession::client(const QString& password, const QString& database) {
    return PgSession(conninfo("127.0.0.1", "Morvel", password, database));
}

bool PgSession::connected() const {
    return m_conn && PQstatus(m_conn) == CONNECTION_OK;
}

QString PgSession::connectError() const {
    return m_conn ? QString::fromUtf8(PQerrorMessage(m_conn)).trimmed() : "no connection";
}

PgSession::Outcome PgSession::run(const QString& sql, const QVariantList& values) {
    Outcome out;
    if (!connected()) {
        out.message = connectError();
        return out;
    }
    QList<QByteArray> storage;
    std::vector<const char*> params;
    std::vector<int> lengths;
    std::vector<int> formats;
    for (const QVariant& v : values) {
        if (v.isNull()) {
            storage.append(QByteArray());
            params.push_back(nullptr);
            lengths.push_back(0);
            formats.push_back(0);
            continue;
        }
        const bool binary = v.metaType().id() == QMetaType::QByteArray;
        storage.append(binary ? v.toByteArray() : v.toString().toUtf8());
        params.push_back(storage.last().constData());
        lengths.push_back(static_cast<int>(storage.last().size()));
        formats.push_back(binary ? 1 : 0);
    }
    PGresult* result =
        PQexecParams(m_conn, sql.toUtf8().constData(), static_cast<int>(params.size()), nullptr,
                     params.data(), lengths.data(), formats.data(), 1);
    const ExecStatusType status = PQresultStatus(result);
    out.ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!out.ok) {
        out.sqlstate = QString::fromLatin1(PQresultErrorField(result, PG_DIAG_SQLSTATE));
        out.message = QString::fromUtf8(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY));
    }
    // Results come in binary form: bytea as bytes, int4/int8/float8 decoded,
    // everything else (text kinds) as UTF-8 text.
    for (int r = 0; out.ok && r < PQntuples(result); ++r) {
        QList<QVariant> row;
        for (int c = 0; c < PQnfields(result); ++c) {
            if (PQgetisnull(result, r, c)) {
                row.append(QVariant());
                continue;
            }
            const char* data = PQgetvalue(result, r, c);
            const int size = PQgetlength(result, r, c);
            const QByteArray bytes(data, size);
            auto bigEndian = [&bytes]() {
                quint64 v = 0;
                for (char ch : bytes)
                    v = (v << 8) | static_cast<unsigned char>(ch);
                return v;
            };
            switch (PQftype(result, c)) {
            case 17: // bytea
                row.append(bytes);
                break;
            case 23: // int4
                row.append(static_cast<qint32>(bigEndian()));
                break;
            case 20: // int8
                row.append(static_cast<qint64>(bigEndian()));
                break;
            case 701: { // float8
                const quint64 bits = bigEndian();
                double d;
                std::memcpy(&d, &bits, sizeof d);
                row.append(d);
                break;
            }
            case 16: // bool
                row.append(bytes == QByteArray(1, '\1'));
                break;
            default:
                row.append(QString::fromUtf8(bytes));
            }
        }
        out.rows.append(row);
    }
    PQclear(result);
    return out;
}

QList<QList<QVariant>> PgSession::must(const QString& sql, const QVariantList& values) {
    Outcome out = run(sql, values);
    if (!out.ok)
        QTest::qFail(qPrintable("SQL failed: " + out.message + " in: " + sql), __FILE__, __LINE__);
    return out.rows;
}

QVariant PgSession::value(const QString& sql, const QVariantList& values) {
    const auto rows = must(sql, values);
    return rows.isEmpty() || rows.first().isEmpty() ? QVariant() : rows.first().first();
}

void resetCatalog(PgSession& db) {
    db.must("truncate 考生信息, 考试情况, 试卷表, 选择题, 判断题, 填空题, 操作题, 操作题答卷, "
            "作弊处理 restart identity");
}

QString samplePath(const QString& name) {
    return qEnvironmentVariable("MORVEL_BINARY_DIR") + "/samples/" + name;
}

QString sourcePath(const QString& relative) {
    return qEnvironmentVariable("MORVEL_SOURCE_DIR") + "/" + relative;
}

void writeWorkbook(const QString& path, const QString& rows) {
    QProcess perl;
    perl.start("perl", {sourcePath("database/samples/make-workbook.pl"), path});
    perl.write(rows.toUtf8());
    perl.closeWriteChannel();
    if (!perl.waitForFinished(30000) || perl.exitCode() != 0)
        QTest::qFail(qPrintable("make-workbook.pl failed: " + perl.readAllStandardError()),
                     __FILE__, __LINE__);
}

QList<BankTable> bankLayout() {
    return {
        {"选择题",
         "ID integer, subject text, a text, b text, c text, d text, answer text, pic blob"},
        {"判断题", "ID integer, subject text, answer text, pic blob"},
        {"填空题", "ID integer, subject text, answer text, pic blob"},
        {"操作题", "ID integer, subject1 text, subject2 text, subject3 text, pic1 blob, pic2 blob, "
                   "pic3 blob, ExamFolder blob"},
    };
}

void writeBank(const QString& path, const QStringList& inserts, const QList<BankTable>& tables,
               const QVariantList& blobs) {
    QFile::remove(path);
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(path);
        if (!db.open())
            QTest::qFail("cannot create the bank", __FILE__, __LINE__);
        QSqlQuery query(db);
        QStringList statements;
        for (const BankTable& t : tables)
            statements << "create table " + t.name + " (" + t.columns + ")";
        statements << inserts;
        int blob = 0;
        for (const QString& sql : statements) {
            query.prepare(sql);
            for (int i = 0, n = static_cast<int>(sql.count('?')); i < n; ++i)
                query.addBindValue(blobs.value(blob++));
            if (!query.exec())
                QTest::qFail(qPrintable(query.lastError().text() + " in: " + sql), __FILE__,
                             __LINE__);
        }
    }
    QSqlDatabase::removeDatabase(name);
}

QByteArray jpegBytes(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return bytes;
}
