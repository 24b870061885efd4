// Connections from the programs' ADO texts: the console's local login, the
// client's password login over TCP, the score file; failures carry the
// database's message.
#include "framework/core/Error.h"
#include "framework/data/Connection.h"
#include "framework/data/Query.h"
#include "tests/framework/DbScratch.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>

#include <pwd.h>
#include <unistd.h>

using dbtest::errorOf;
using fw::Connection;

namespace {

const char* const kRole = "fwtest_client";
const char* const kPassword = "5093718";
const char* const kScoreTable = "create table 成绩表(准考证号 varchar(8),姓名 varchar(8) ,班级 "
                                "varchar(20),选择 integer,判断 integer,填空 integer,备注 "
                                "varchar(255))";

QString clientText(const QString& password, const QString& address) {
    return QStringLiteral("Password=\"%1\";Persist Security Info=True;User ID=%2;Initial "
                          "Catalog=fwtest_connection;Data Source=%3")
        .arg(password, QString::fromLatin1(kRole), address);
}

QString scoreText(const QString& path) {
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + path;
}

QVariant scalar(Connection& c, const QString& sql) {
    QSqlQuery q(c.database());
    if (!q.exec(sql) || !q.next())
        return QVariant();
    return q.value(0);
}

quint16 unusedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

class TestDbConnection : public QObject {
    Q_OBJECT

private:
    dbtest::Scratch m_scratch{QStringLiteral("fwtest_connection")};
    QTemporaryDir m_drive;

private slots:
    void initTestCase() {
        QVERIFY(m_drive.isValid());
        qputenv("MORVEL_DRIVE_E", m_drive.path().toUtf8());
        m_scratch.create();
        Connection& admin = m_scratch.admin();
        admin.execute(QStringLiteral("drop role if exists %1").arg(kRole));
        admin.execute(QStringLiteral("create role %1 login password '%2'").arg(kRole, kPassword));
    }
    void cleanupTestCase() {
        m_scratch.drop();
        m_scratch.admin().execute(QStringLiteral("drop role if exists %1").arg(kRole));
    }

    void consoleLoginIsTheOperatingSystemUser() {
        std::unique_ptr<Connection> c(m_scratch.connect(nullptr));
        QCOMPARE(c->kind(), Connection::Kind::PostgreSql);
        c->open();
        QVERIFY(c->connected());
        QCOMPARE(scalar(*c, "select current_user").toString(),
                 QString::fromLocal8Bit(getpwuid(geteuid())->pw_name));
        QCOMPARE(scalar(*c, "select current_database()").toString(), m_scratch.name());
        // The local socket, not TCP.
        QVERIFY(scalar(*c, "select inet_server_addr()").isNull());
    }

    void clientLoginOverTcpWithPassword() {
        Connection c;
        c.setProvider("SQLOLEDB.1");
        c.setLoginPrompt(false);
        int attempts = 0;
        QString password = "wrong";
        c.setBeforeConnect([&] {
            ++attempts;
            c.setConnectionString(clientText(password, "127.0.0.1"));
        });
        const QString refused = errorOf([&] { c.open(); });
        QVERIFY2(refused.contains(
                     QStringLiteral("password authentication failed for user \"%1\"").arg(kRole)),
                 qPrintable(refused));
        QVERIFY(!c.connected());
        password = kPassword;
        c.open();
        QCOMPARE(attempts, 2);
        QCOMPARE(c.kind(), Connection::Kind::PostgreSql);
        QCOMPARE(scalar(c, "select current_user").toString(), QString::fromLatin1(kRole));
        QCOMPARE(scalar(c, "select host(inet_server_addr())").toString(), QString("127.0.0.1"));
        c.open(); // already open: no new attempt
        QCOMPARE(attempts, 2);
    }

    void refusedConnectionCarriesTheDatabaseMessage() {
        const QByteArray port = qgetenv("PGPORT");
        qputenv("PGPORT", QByteArray::number(unusedPort()));
        Connection c;
        c.setProvider("SQLOLEDB.1");
        c.setConnectionString(clientText(kPassword, "127.0.0.1"));
        const QString message = errorOf([&] { c.open(); });
        qputenv("PGPORT", port);
        QVERIFY2(message.contains("Connection refused"), qPrintable(message));
        QVERIFY(!c.connected());
    }

    void unknownCatalogIsRefused() {
        Connection c;
        c.setConnectionString(dbtest::consoleText("fwtest_no_such_catalog"));
        QVERIFY(errorOf([&] { c.open(); }).contains("\"fwtest_no_such_catalog\" does not exist"));
    }

    void textCannotChangeWhileOpen() {
        std::unique_ptr<Connection> c(m_scratch.connect(nullptr));
        c->open();
        const QString message = "Operation is not allowed when the object is open.";
        QCOMPARE(errorOf([&] { c->setConnectionString(dbtest::consoleText("postgres")); }),
                 message);
        QCOMPARE(errorOf([&] { c->setProvider("SQLOLEDB.1"); }), message);
        c->close();
        c->setConnectionString(dbtest::consoleText("postgres"));
        c->open();
        QCOMPARE(scalar(*c, "select current_database()").toString(), QString("postgres"));
    }

    void eachConnectionIsItsOwn() {
        std::unique_ptr<Connection> a(m_scratch.connect(nullptr));
        std::unique_ptr<Connection> b(m_scratch.connect(nullptr));
        QVERIFY(a->database().connectionName() != b->database().connectionName());
        const int pidA = scalar(*a, "select pg_backend_pid()").toInt();
        QVERIFY(pidA != scalar(*b, "select pg_backend_pid()").toInt());
        a->close();
        QVERIFY(b->connected());
        QVERIFY(scalar(*b, "select 1").toInt() == 1);
    }

    void noConnectionText() {
        Connection c;
        QCOMPARE(c.kind(), Connection::Kind::None);
        QVERIFY(!errorOf([&] { c.open(); }).isEmpty());
        fw::Query q;
        q.setConnection(&c);
        q.setSQL("select 1");
        QVERIFY(!errorOf([&] { q.open(); }).isEmpty());
    }

    void scoreDatabase() {
        QVERIFY(QDir(m_drive.path()).mkpath("A班"));
        const QString path = "e:\\A班\\score.mdb";
        fw::createCatalog(scoreText(path));
        QFile file(m_drive.path() + "/A班/score.mdb");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.read(15), QByteArray("SQLite format 3"));
        QVERIFY(errorOf([&] { fw::createCatalog(scoreText(path)); }).contains("already exists"));

        Connection score;
        score.setLoginPrompt(false);
        score.setConnectionString(scoreText(path));
        QCOMPARE(score.kind(), Connection::Kind::Sqlite);
        fw::Query create;
        create.setConnection(&score);
        create.sqlClear();
        create.sqlAdd(QString::fromUtf8(kScoreTable));
        create.execSQL(); // opens the connection on the new file
        QVERIFY(score.connected());

        fw::Table scores;
        scores.setConnection(&score);
        scores.setTableName("成绩表");
        scores.open();
        QCOMPARE(scores.fieldCount(), 7);
        QVERIFY(scores.isEmpty());
        for (const char* no : {"0123", "0124"}) {
            scores.append();
            scores.fieldByName("准考证号").setAsString(no);
            scores.fieldByName("选择").setAsInteger(40);
            scores.post();
        }
        QVERIFY(scores.locate("准考证号", "0123"));
        scores.edit();
        scores.fieldByName("备注").setAsString("缺考");
        scores.post();
        scores.close();
        scores.open();
        QCOMPARE(scores.recordCount(), 2);
        QVERIFY(scores.locate("准考证号", "0123"));
        QCOMPARE(scores.fieldByName("备注").asString(), QString("缺考"));
        QCOMPARE(scores.fieldByName("选择").asInteger(), 40);
        QVERIFY(scores.locate("准考证号", "0124"));
        QVERIFY(scores.fieldByName("备注").isNull());
        scores.deleteRecord();
        QCOMPARE(scores.recordCount(), 1);
        fw::Query one;
        one.setConnection(&score);
        one.setSQL("select 姓名, 选择 from 成绩表 where 准考证号=:zkzh");
        one.paramByName("zkzh").setValue("0123");
        one.open();
        QCOMPARE(one.recordCount(), 1);
        QCOMPARE(one.fieldByName("选择").asInteger(), 40);
        score.close();
        QVERIFY(!scores.active());
    }

    void aValueCutByASemicolonIsRefused() {
        const QString unreadable = "Format of the initialization string does not conform to the "
                                   "OLE DB specification.";
        // The score file of a class whose name holds ";": no file at the cut path "e:\\A".
        QVERIFY(QDir(m_drive.path()).mkpath("A;B"));
        const QString score = scoreText("e:\\A;B\\score.mdb");
        QCOMPARE(errorOf([&] { fw::createCatalog(score); }), unreadable);
        Connection file;
        file.setConnectionString(score);
        QCOMPARE(errorOf([&] { file.open(); }), unreadable);
        QVERIFY(!QFileInfo::exists(m_drive.path() + "/A"));
        QVERIFY(QDir(m_drive.path() + "/A;B").isEmpty());

        // A client address with a ";" in it connects nowhere.
        Connection client;
        client.setProvider("SQLOLEDB.1");
        client.setConnectionString(clientText(kPassword, "127.0.0.1;x"));
        QCOMPARE(errorOf([&] { client.open(); }), unreadable);
        QVERIFY(!client.connected());

        // Empty parts are no such part, and a quoted value may hold ";".
        std::unique_ptr<Connection> console(m_scratch.connect(nullptr));
        console->setConnectionString(";" + m_scratch.connectionText() + ";; ;");
        console->open();
        QVERIFY(console->connected());
        fw::createCatalog("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"e:\\A;B\\score.mdb\"");
        QVERIFY(QFileInfo(m_drive.path() + "/A;B/score.mdb").isFile());
    }

    void missingScoreFileIsNotCreated() {
        Connection score;
        score.setConnectionString(scoreText("e:\\none\\score.mdb"));
        QVERIFY(errorOf([&] { score.open(); }).contains("Could not find file"));
        QVERIFY(!QFile::exists(m_drive.path() + "/none/score.mdb"));
        QVERIFY(!errorOf([&] { fw::createCatalog(scoreText("e:\\none\\score.mdb")); }).isEmpty());
    }
};

MORVEL_TEST_MAIN(TestDbConnection)
#include "tst_db_connection.moc"
