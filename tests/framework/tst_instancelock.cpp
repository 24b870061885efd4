// The single-instance mark: a lock file held with flock for the whole run.
#include "framework/core/InstanceLock.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <memory>

using fw::InstanceLock;

class TestInstanceLock : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_runtime;

private slots:
    void init() {
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
        QFile::remove(m_runtime.filePath("Client"));
    }

    void theFirstHoldsTheSecondFindsItTaken() {
        auto first = std::make_unique<InstanceLock>("Client");
        QVERIFY(first->held());
        QVERIFY(!first->alreadyRunning());
        QVERIFY(QFile::exists(m_runtime.filePath("Client")));

        InstanceLock second("Client");
        QVERIFY(second.alreadyRunning());
        QVERIFY(!second.held());

        first.reset();
        InstanceLock third("Client");
        QVERIFY(third.held());
        QVERIFY(!third.alreadyRunning());
    }

    void anotherNameIsAnotherMark() {
        InstanceLock client("Client");
        InstanceLock other("Other");
        QVERIFY(client.held());
        QVERIFY(other.held());
    }

    void anotherProcessHoldingTheFileCounts() {
        const QString flock = QStandardPaths::findExecutable("flock");
        if (flock.isEmpty())
            QSKIP("the flock command is not installed");
        // The holder says when it holds the lock: a probe before that could
        // take the lock itself for a moment and make the holder give up.
        QProcess holder;
        holder.start(flock, {"-n", "-o", m_runtime.filePath("Client"), "sh", "-c",
                             "echo holding; exec sleep 30"});
        QVERIFY(holder.waitForStarted());
        QVERIFY(QTest::qWaitFor([&] { return holder.canReadLine(); }, 30000));
        QCOMPARE(holder.readLine(), QByteArray("holding\n"));
        QVERIFY(InstanceLock("Client").alreadyRunning());
        holder.kill();
        holder.waitForFinished();
        // the kernel drops the lock of a process that ends, however it ends
        QVERIFY(InstanceLock("Client").held());
    }

    void withoutARuntimeFolderTheTemporaryFolderServes() {
        QTemporaryDir temp;
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", temp.path().toLocal8Bit());
        QCOMPARE(InstanceLock::path("Client"), QDir(temp.path()).filePath("Client"));
        InstanceLock first("Client");
        QVERIFY(first.held());
        QVERIFY(InstanceLock("Client").alreadyRunning());
        qunsetenv("TMPDIR");
    }

    // A mark that cannot be made lets the program go on without it.
    void aMarkThatCannotBeMadeIsNoRefusal_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("no such folder") << "no folder";
        QTest::newRow("a folder in its place") << "folder";
        QTest::newRow("a link in its place") << "link";
    }

    void aMarkThatCannotBeMadeIsNoRefusal() {
        QFETCH(QString, how);
        const QString file = m_runtime.filePath("Client");
        if (how == "no folder")
            qputenv("XDG_RUNTIME_DIR", m_runtime.filePath("gone").toLocal8Bit());
        else if (how == "folder")
            QVERIFY(QDir(m_runtime.path()).mkdir("Client"));
        else
            QVERIFY(QFile::link(m_runtime.filePath("elsewhere"), file));
        InstanceLock lock("Client");
        QVERIFY(!lock.held());
        QVERIFY(!lock.alreadyRunning());
        QVERIFY(!QFile::exists(m_runtime.filePath("elsewhere")));
        QDir(m_runtime.path()).rmdir("Client");
        QFile::remove(file);
    }
};

MORVEL_TEST_MAIN(TestInstanceLock)
#include "tst_instancelock.moc"
