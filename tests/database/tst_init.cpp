// morvel-db init on a cluster of its own: a catalog that fails to load is
// not left for a later init to take as finished; the cluster is sized for a
// computer room, and an existing one is brought to the room's settings.

#include "../support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

class TestInit : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString sqlDir;
    quint16 port = 0;

    // Runs morvel-db with the given arguments on the scratch cluster.
    QProcess::ExitStatus run(const QStringList& args, int* code, QString* output,
                             const QString& clients = QString()) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("MORVEL_MAX_CLIENTS");
        if (!clients.isNull())
            env.insert("MORVEL_MAX_CLIENTS", clients);
        env.insert("MORVEL_PGDATA", dir.filePath("pgdata"));
        env.insert("MORVEL_PGSOCKET", dir.filePath("pgdata"));
        env.insert("PGPORT", QString::number(port));
        env.insert("MORVEL_PGLISTEN", "127.0.0.1");
        env.insert("MORVEL_SQL_DIR", sqlDir);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(qEnvironmentVariable("MORVEL_DB"), args);
        p.waitForFinished(120000);
        *code = p.exitCode();
        *output = QString::fromUtf8(p.readAll());
        return p.exitStatus();
    }

    void copyTheCatalogsFiles() {
        const QDir source(qEnvironmentVariable("MORVEL_SOURCE_DIR") + "/database");
        for (const QString& name : source.entryList({"*.sql"}, QDir::Files))
            QVERIFY(QFile::copy(source.filePath(name), QDir(sqlDir).filePath(name)));
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        sqlDir = dir.filePath("sql");
        QVERIFY(QDir().mkpath(sqlDir));
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }

    void cleanupTestCase() {
        int code = 0;
        QString output;
        run({"stop"}, &code, &output);
    }

    void failedLoadLeavesNoCatalog() {
        copyTheCatalogsFiles();
        QFile broken(QDir(sqlDir).filePath("35-broken.sql"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("select no_such_function();\n");
        broken.close();

        int code = 0;
        QString output;
        QCOMPARE(run({"init"}, &code, &output), QProcess::NormalExit);
        QVERIFY2(code != 0, qPrintable(output));
        QVERIFY2(output.contains("loading 35-broken.sql failed"), qPrintable(output));
        QVERIFY2(output.contains("catalog Morvel not created"), qPrintable(output));
        QVERIFY2(!output.contains("catalog Morvel created"), qPrintable(output));

        // Mended, a further init makes the whole catalog.
        QVERIFY(broken.remove());
        QCOMPARE(run({"init"}, &code, &output), QProcess::NormalExit);
        QVERIFY2(code == 0, qPrintable(output));
        QVERIFY2(output.contains("catalog Morvel created"), qPrintable(output));
        QCOMPARE(run({"start"}, &code, &output), QProcess::NormalExit);
        QVERIFY2(code == 0, qPrintable(output));
        QCOMPARE(run({"psql", "-tA", "-c", "select count(*) from pg_proc where proname = 'mark'"},
                     &code, &output),
                 QProcess::NormalExit);
        QVERIFY2(code == 0, qPrintable(output));
        QCOMPARE(output.trimmed(), QString("1"));
    }

    // The running cluster of the test above: init says what it sets, and a
    // further init with another room size restarts it with that size.
    QString setting(const QString& name) {
        int code = 0;
        QString output;
        run({"psql", "-tA", "-c", "show " + name}, &code, &output);
        return code == 0 ? output.trimmed() : "error: " + output;
    }
    void sizedForTheRoom() {
        QCOMPARE(setting("max_connections"), QString("620"));
        QCOMPARE(setting("morvel.max_clients"), QString("600"));
        QVERIFY(setting("shared_preload_libraries").endsWith("morvel_formats.so"));

        int code = 0;
        QString output;
        run({"init"}, &code, &output, "50");
        QVERIFY2(code == 0, qPrintable(output));
        QVERIFY2(output.contains("room of 50 clients: max_connections=70 (login Morvel: 50)"),
                 qPrintable(output));
        QVERIFY2(output.contains("restarted with the new settings"), qPrintable(output));
        QCOMPARE(setting("max_connections"), QString("70"));
        QCOMPARE(setting("morvel.max_clients"), QString("50"));

        // the same settings again: nothing to restart
        run({"init"}, &code, &output, "50");
        QVERIFY2(code == 0 && !output.contains("restarted"), qPrintable(output));
    }

    void refusesARoomItCannotHold_data() {
        QTest::addColumn<QString>("clients");
        QTest::addColumn<QString>("message");
        QTest::newRow("not a number") << "many"
                                      << "must be a whole number above 0";
        QTest::newRow("zero") << "0"
                              << "must be a whole number above 0";
        QTest::newRow("more than memory holds") << "1000000"
                                                << "more than the";
    }
    void refusesARoomItCannotHold() {
        QFETCH(QString, clients);
        QFETCH(QString, message);
        int code = 0;
        QString output;
        run({"init"}, &code, &output, clients);
        QVERIFY2(code != 0 && output.contains(message), qPrintable(output));
        QCOMPARE(setting("max_connections"), QString("70")); // unchanged, still running
    }
};

MORVEL_TEST_MAIN(TestInit)
#include "tst_init.moc"
