// The desktop's shell: which program opens what, with the parameter as one
// argument, started detached; and its recording double.
#include "framework/core/Shell.h"
#include "tests/support/RecordingShell.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace fw;

class TestShell : public QObject {
    Q_OBJECT

    QTemporaryDir* scratch_ = nullptr;
    QByteArray path_;

    QString bin() const { return scratch_->filePath("bin"); }
    QString release() const { return scratch_->filePath("release"); }

    // A program on the search path that notes its arguments in log.<name>,
    // one per line in brackets, then waits to be released (or for the
    // scratch folder to go).
    void fakeProgram(const QString& name) {
        QFile file(bin() + "/" + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n"
                   "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > \"$SHELL_LOG.tmp.$$\"\n"
                   "/bin/mv \"$SHELL_LOG.tmp.$$\" \"$SHELL_LOG." +
                   name.toUtf8() +
                   "\"\n"
                   "while [ ! -e \"$SHELL_RELEASE\" ] && [ -d \"${SHELL_RELEASE%/*}\" ]; do\n"
                   "    /bin/sleep 0.05\n"
                   "done\n");
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    QString logOf(const QString& name) const { return scratch_->filePath("log." + name); }

    // The program that was started and what it got, once it has noted it.
    void started(const QStringList& candidates, QString& name, QString& arguments) {
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QString& candidate : candidates)
                    if (QFile::exists(logOf(candidate)))
                        name = candidate;
                return !name.isEmpty();
            }(),
            10000);
        QFile log(logOf(name));
        QVERIFY(log.open(QIODevice::ReadOnly));
        arguments = QString::fromUtf8(log.readAll());
    }

private slots:
    void init() {
        scratch_ = new QTemporaryDir;
        QDir().mkpath(bin());
        path_ = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin()));
        qputenv("SHELL_LOG", QFile::encodeName(scratch_->filePath("log")));
        qputenv("SHELL_RELEASE", QFile::encodeName(release()));
    }
    void cleanup() {
        QFile(release()).open(QIODevice::WriteOnly); // the fakes end
        qputenv("PATH", path_);
        delete scratch_;
    }

    void webBrowser_data() {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("expected");
        const QStringList all{"x-www-browser", "sensible-browser", "xdg-open"};
        QTest::newRow("debian's browser") << all << "IEXPLORE.EXE"
                                          << "x-www-browser";
        QTest::newRow("sensible-browser next")
            << QStringList{"sensible-browser", "xdg-open"} << "IEXPLORE.EXE"
            << "sensible-browser";
        QTest::newRow("xdg-open last") << QStringList{"xdg-open"} << "IEXPLORE.EXE"
                                       << "xdg-open";
        QTest::newRow("any letter case") << all << "iexplore.exe"
                                         << "x-www-browser";
        QTest::newRow("with its folder")
            << all << "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE"
            << "x-www-browser";
        QTest::newRow("another program") << QStringList{"x-www-browser", "viewer"} << "viewer"
                                         << "viewer";
    }
    void webBrowser() {
        QFETCH(QStringList, installed);
        QFETCH(QString, program);
        QFETCH(QString, expected);
        for (const QString& name : installed)
            fakeProgram(name);
        const QString picture = "/opt/考试 系统/Image4.jpg";
        shell().openProgram(program, picture);
        // Returned while the program still runs: started detached.
        QVERIFY(!QFile::exists(release()));
        QString name, arguments;
        started(installed, name, arguments);
        QCOMPARE(name, expected);
        QCOMPARE(arguments, "[" + picture + "]\n");
    }

    void nothingToStart() {
        shell().openProgram("IEXPLORE.EXE", "/tmp/Image4.jpg");
        shell().openPath("e:\\考生文件夹");
        shell().openProgram("notepad.exe", "");
    }

    void folderOnAMappedDrive() {
        fakeProgram("xdg-open");
        const QString e = scratch_->filePath("drive e");
        qputenv("MORVEL_DRIVE_E", QFile::encodeName(e));
        shell().openPath("e:\\考生 文件夹");
        qunsetenv("MORVEL_DRIVE_E");
        QString name, arguments;
        started({"xdg-open"}, name, arguments);
        QCOMPARE(arguments, "[" + e + "/考生 文件夹]\n");
    }

    void recordingDouble() {
        {
            RecordingShell recording;
            shell().openProgram("IEXPLORE.EXE", "/opt/a b/Image5.jpg");
            shell().openPath("e:\\考生文件夹");
            const QList<RecordingShell::Call> expected{
                {RecordingShell::Kind::Program, "IEXPLORE.EXE", "/opt/a b/Image5.jpg"},
                {RecordingShell::Kind::Path, "e:\\考生文件夹", ""}};
            QCOMPARE(recording.calls, expected);
        }
        QVERIFY(!dynamic_cast<RecordingShell*>(&shell())); // the desktop's shell is back
    }
};

MORVEL_TEST_MAIN(TestShell)
#include "tst_shell.moc"
