// morvel-db init on a cluster of its own: a catalog that fails to load is
// not left for a later init to take as finished.

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
    QProcess::ExitStatus run(const QStringList& args, int* code, QString* output) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
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
};

MORVEL_TEST_MAIN(TestInit)
#include "tst_init.moc"
