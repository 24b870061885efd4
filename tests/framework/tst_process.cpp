// Running a program and waiting for it with the events served: what the
// caller gets back, how the arguments arrive, and the wait given up when the
// program is told to end.
#include "framework/core/Process.h"
#include "tests/support/ScriptedProcesses.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

using namespace fw;

namespace {

// Whether a process runs whose command line holds `text`.
bool anyProcessNaming(const QString& text) {
    const QByteArray wanted = QFile::encodeName(text);
    for (const QString& pid : QDir("/proc").entryList({"[0-9]*"}, QDir::Dirs)) {
        QFile cmdline("/proc/" + pid + "/cmdline");
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(wanted))
            return true;
    }
    return false;
}

} // namespace

class TestProcess : public QObject {
    Q_OBJECT

private slots:
    void exitCodeAndOutput_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::newRow("success") << "echo done" << 0 << "done\n";
        QTest::newRow("failure, both channels in order")
            << "echo first; printf '%s\\n' 'rar: cannot read e:\\a.txt' >&2; echo last; exit 2" << 2
            << "first\nrar: cannot read e:\\a.txt\nlast\n";
        QTest::newRow("chinese output") << "printf '考生文件夹'" << 0 << "考生文件夹";
        QTest::newRow("no input: a read ends at once") << "read x; echo \"[$x]\"" << 0 << "[]\n";
    }
    void exitCodeAndOutput() {
        QFETCH(QString, script);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        const ProcessRun run = processes().runAndWait("/bin/sh", {"-c", script});
        QVERIFY(run.started);
        QVERIFY(run.finished);
        QVERIFY(!run.crashed);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.output, output);
    }

    void muchOutputDoesNotStall() {
        const ProcessRun run =
            processes().runAndWait("/bin/sh", {"-c", "head -c 3000000 /dev/zero"});
        QVERIFY(run.finished);
        QCOMPARE(run.output.size(), 3000000);
    }

    void eachArgumentWhole() {
        const QStringList arguments{"e:\\考生 文件夹", "", "a\"b", "x -o-", "  "};
        const ProcessRun run = processes().runAndWait(
            "/bin/sh",
            QStringList{"-c", "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done", "sh"} +
                arguments);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.output, "[e:\\考生 文件夹]\n[]\n[a\"b]\n[x -o-]\n[  ]\n");
    }

    void runsInTheCallersFolder() {
        QTemporaryDir dir;
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const ProcessRun run = processes().runAndWait("/bin/pwd", {});
        QDir::setCurrent(before);
        QCOMPARE(run.output.trimmed(), QDir(dir.path()).canonicalPath());
    }

    void notStarted() {
        const ProcessRun run = processes().runAndWait("/nonexistent/rar", {"x"});
        QVERIFY(!run.started);
        QVERIFY(!run.finished);
        QVERIFY(!run.error.isEmpty());
    }

    void crashed() {
        const ProcessRun run = processes().runAndWait("/bin/sh", {"-c", "kill -9 $$"});
        QVERIFY(run.started);
        QVERIFY(run.finished);
        QVERIFY(run.crashed);
    }

    // The events of the caller go on while it waits: a timer ticks.
    void eventsServedWhileWaiting() {
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(10);
        const ProcessRun run = processes().runAndWait("/bin/sleep", {"0.5"});
        QVERIFY(run.finished);
        QVERIFY2(ticks >= 2, qPrintable(QString::number(ticks)));
    }

    // Told to end, before or during the wait: the wait is given up (while the
    // program still waits for its release) and the program runs on by
    // itself, writing on into the pipe that nobody reads any more.
    void toldToEnd_data() {
        QTest::addColumn<QString>("when");
        QTest::newRow("before the wait") << "before";
        QTest::newRow("during the wait") << "during";
    }
    void toldToEnd() {
        QFETCH(QString, when);
        QTemporaryDir dir;
        const QString release = dir.filePath("release");
        const QString marker = dir.filePath("marker");
        QProcess helper;
        helper.start(PROCESS_HELPER,
                     {when, "runs-on", "/bin/sh", "-c",
                      // Released by the test, or gone with its folder.
                      "while [ ! -e \"$0\" ] && [ -d \"${0%/*}\" ]; do sleep 0.05; done; "
                      "echo still here; echo ran on > \"$1\"",
                      release, marker});
        QVERIFY(helper.waitForFinished(60000));
        QCOMPARE(QString::fromUtf8(helper.readAllStandardOutput()),
                 QString("started=1 finished=0\n"));
        QVERIFY(!QFile::exists(marker));
        QFile(release).open(QIODevice::WriteOnly);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 10000);
    }

    // A program that ends with its caller is killed when the caller ends,
    // told to or killed itself.
    void endsWithItsCaller_data() {
        QTest::addColumn<QString>("when");
        QTest::newRow("told to end before the wait") << "before";
        QTest::newRow("told to end during the wait") << "during";
        QTest::newRow("killed") << "never";
    }
    void endsWithItsCaller() {
        QFETCH(QString, when);
        QTemporaryDir dir;
        const QString started = dir.filePath("started");
        QProcess helper;
        helper.start(PROCESS_HELPER, {when, "ends", "/bin/sh", "-c",
                                      ": > \"$0\"; while :; do sleep 0.05; done", started});
        QVERIFY(helper.waitForStarted());
        if (when == "never") {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(started), 30000);
            helper.kill();
        }
        QVERIFY(helper.waitForFinished(60000));
        if (when != "never")
            QCOMPARE(QString::fromUtf8(helper.readAllStandardOutput()),
                     QString("started=1 finished=0\n"));
        // No process left that runs the program (its command line names the
        // folder).
        QTRY_VERIFY_WITH_TIMEOUT(!anyProcessNaming(dir.path()), 30000);
    }

    // The double: scripted answers, code run during the wait, a real run.
    void scriptedDouble() {
        ScriptedProcesses double_;
        double_.answer(ScriptedProcesses::exited(2, "rar: cannot read e:\\a.txt"));
        bool pressed = false;
        double_.whileWaiting([&] { pressed = true; });
        const ProcessRun scripted = processes().runAndWait("rar", {"a", "-df", "e:\\考生文件夹"});
        QVERIFY(pressed);
        QCOMPARE(scripted.exitCode, 2);
        QCOMPARE(scripted.output, "rar: cannot read e:\\a.txt");

        double_.runForReal();
        pressed = false;
        double_.whileWaiting([&] { pressed = true; });
        const ProcessRun real = processes().runAndWait("/bin/sh", {"-c", "echo real"});
        QVERIFY(pressed);
        QCOMPARE(real.output, "real\n");
        QCOMPARE(double_.calls.size(), 2);
        QCOMPARE(double_.calls[0].arguments, QStringList({"a", "-df", "e:\\考生文件夹"}));
        QCOMPARE(double_.calls[1].program, "/bin/sh");
    }
};

MORVEL_TEST_MAIN(TestProcess)
#include "tst_process.moc"
