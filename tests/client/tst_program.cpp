// The client as a program: real processes against the console and the test
// cluster. A test cannot click into another process's window, so this test
// program also serves as the client: started with "--client", it runs the
// client's real start-up (client::ProgramMain) with the scripted dialogs and
// takes commands on its standard input that press the real buttons, and
// reports what it sees on its standard output. The single-instance rule is
// also checked with the plain Morvel executable.
#include "ClientFixture.h"
#include "tests/server/ConsoleFixture.h"
#include "tests/support/FileTree.h"
#include "tests/support/TestMain.h"

#include "client/Program.h"
#include "client/Unit_Instructions.h"
#include "client/Unit_login.h"
#include "client/Unit_main.h"
#include "framework/core/Drives.h"
#include "framework/core/Gbk.h"
#include "framework/core/InstanceLock.h"
#include "framework/data/Query.h"
#include "framework/widgets/DbControls.h"
#include "framework/widgets/Label.h"
#include "server/Unit_Main.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <sys/inotify.h>
#include <unistd.h>

using namespace clientfixture;

// ---- the client in this process, driven from the standard input ----

namespace child {

void say(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    ::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    ::fflush(stdout);
}

// Records every window that is shown.
class ShownWindows : public QObject {
public:
    QStringList names;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show)
            if (auto* w = qobject_cast<QWidget*>(watched); w && w->isWindow())
                names << w->objectName();
        return false;
    }
};

class Driver : public QObject {
public:
    explicit Driver(ScriptedDialogs& dialogs)
        : m_dialogs(dialogs), m_input(STDIN_FILENO, QSocketNotifier::Read) {
        connect(&m_input, &QSocketNotifier::activated, this, &Driver::readInput);
    }

private:
    void readInput() {
        char buffer[1024];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            m_input.setEnabled(false);
            return;
        }
        m_pending.append(buffer, n);
        m_input.setEnabled(false); // a command may wait in the event loop
        qsizetype end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QString command = QString::fromUtf8(m_pending.left(end));
            m_pending.remove(0, end + 1);
            run(command);
            say(".");
        }
        m_input.setEnabled(true);
    }

    template <class F> void waitFor(F condition) {
        if (!QTest::qWaitFor(condition, 10000))
            say("timed out");
    }

    void report() {
        using namespace client;
        say("login: " + QString(!frm_Login               ? "freed"
                                : frm_Login->isVisible() ? "shown"
                                                         : "hidden"));
        say("instructions: " + QString(frm_Instructions->isVisible() ? "shown" : "hidden") + " " +
            frm_Instructions->Label1->text() + "|" + frm_Instructions->Label2->text());
        say("exam window: " + QString(!frm_Main               ? "freed"
                                      : frm_Main->isVisible() ? "shown"
                                                              : "hidden"));
        if (frm_Main && frm_Main->ADOQuery2->active()) {
            QStringList paper; // rows and current QuestionID of each kind
            for (fw::Query* q : {frm_Main->ADOQuery2, frm_Main->ADOQuery3, frm_Main->ADOQuery4})
                paper << QString("%1:%2")
                             .arg(q->recordCount())
                             .arg(q->fieldByName("QuestionID").asString());
            say("paper: " + paper.join(' '));
        }
        say("ServerIp: " + ServerIp);
        say("boxes: " + m_dialogs.texts().join("|"));
    }

    void run(const QString& command) {
        using namespace client;
        const QString argument = command.section(' ', 1);
        if (command.startsWith("type ") && frm_Login)
            frm_Login->Edit1->setText(argument);
        else if (command == "press ok")
            frm_Login->BitBtn1->click();
        else if (command == "press cancel")
            frm_Login->BitBtn2->click();
        else if (command == "key esc")
            QTest::keyClick(frm_Login->Edit1, Qt::Key_Escape);
        else if (command == "close login")
            frm_Login->close();
        else if (command.startsWith("settings ")) {
            m_dialogs.answer(argument);
            QTest::mouseClick(frm_Login->Label2, Qt::LeftButton);
        } else if (command == "wait instructions")
            waitFor([] { return frm_Instructions->isVisible(); });
        else if (command == "wait box")
            waitFor([this] { return !m_dialogs.calls.isEmpty(); });
        else if (command == "enter")
            frm_Instructions->Button1->click();
        else if (command == "close instructions")
            frm_Instructions->close();
        else if (command.startsWith("tab ")) {
            QApplication::setActiveWindow(frm_Main);
            QTabBar* bar = frm_Main->PageControl1->tabBar();
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(argument.toInt()).center());
        } else if (command.startsWith("click ")) {
            QApplication::setActiveWindow(frm_Main);
            for (auto* group : {frm_Main->DBRadioGroup1, frm_Main->DBRadioGroup2})
                for (int i = 0; group->button(i); ++i)
                    if (group->button(i)->isVisible() && group->button(i)->text() == argument)
                        QTest::mouseClick(group->button(i), Qt::LeftButton, {},
                                          QPoint(8, group->button(i)->height() / 2));
        } else if (command.startsWith("type ")) {
            QApplication::setActiveWindow(frm_Main);
            frm_Main->DBEdit6->setFocus(Qt::MouseFocusReason);
            QTest::keyClicks(frm_Main->DBEdit6, argument);
        } else if (command == "close exam window")
            frm_Main->close();
        else if (command == "confirm")
            m_dialogs.answer(fw::IDOK);
        else if (command == "hand in")
            frm_Main->Button1->click();
        else if (command == "die after the archive row")
            QObject::connect(frm_Main->ADOTable2, &fw::Dataset::afterPost,
                             [] { ::raise(SIGKILL); });
        else if (command != "report")
            say("unknown command: " + command);
        QTest::qWait(50); // deferred deletes and posted events settle
        report();
    }

    ScriptedDialogs& m_dialogs;
    QSocketNotifier m_input;
    QByteArray m_pending;
};

int runClient() {
    ScriptedDialogs dialogs;
    ShownWindows shown;
    qApp->installEventFilter(&shown);
    Driver driver(dialogs);
    say("started");
    const int exitCode = client::ProgramMain();
    say("shown windows: " + shown.names.join(' '));
    say(QString("ended: %1").arg(exitCode));
    return exitCode;
}

} // namespace child

// ---- the test, in the parent process ----

namespace {

// The environment of a process on a PC of its own: its own runtime folder,
// so its own single-instance mark.
QProcessEnvironment onPc(const QString& runtimeFolder) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtimeFolder);
    return env;
}

// Starts the program Morvel.
void startMorvel(QProcess& process, const QString& runtimeFolder) {
    process.setProcessEnvironment(onPc(runtimeFolder));
    process.start(qEnvironmentVariable("MORVEL_CLIENT_BIN_DIR") + "/Morvel", {});
}

// The client program in a child process on a PC of its own.
class ClientProcess {
public:
    explicit ClientProcess(const QString& runtimeFolder) {
        m_process.setProcessEnvironment(onPc(runtimeFolder));
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(), {"--client"});
        m_process.waitForStarted();
        m_lines = readUntil([](const QString& line) { return line == "started"; });
    }
    ~ClientProcess() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    // Sends a command; its report (the event loop of this process serves
    // the console meanwhile).
    QStringList run(const QString& command) {
        send(command);
        return readUntil([](const QString& line) { return line == "."; });
    }
    // Sends a command without waiting for it.
    void send(const QString& command) {
        m_process.write(command.toUtf8() + '\n');
        m_process.waitForBytesWritten();
    }
    // Kills the program, as a crash or the task manager does.
    void kill() {
        ::kill(pid_t(m_process.processId()), SIGKILL);
        m_process.waitForFinished();
    }
    // Waits until the program has died by itself.
    bool died() {
        return m_process.waitForFinished(60000) && m_process.exitStatus() == QProcess::CrashExit;
    }
    // The line of the latest report that begins with key, without the key.
    static QString value(const QStringList& report, const QString& key) {
        for (qsizetype i = report.size() - 1; i >= 0; --i)
            if (report.at(i).startsWith(key + ": "))
                return report.at(i).mid(key.size() + 2);
        return "(missing)";
    }
    // Waits until the program has ended: its exit code, -1 when it did not.
    int finish() {
        m_lines += readUntil([](const QString& line) { return line.startsWith("ended: "); });
        if (!QTest::qWaitFor([&] { return m_process.state() == QProcess::NotRunning; }, 10000))
            return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    QStringList lines() const { return m_lines; }

private:
    QStringList readUntil(const std::function<bool(const QString&)>& last) {
        QStringList lines;
        const bool done = QTest::qWaitFor(
            [&] {
                while (m_process.canReadLine()) {
                    lines << QString::fromUtf8(m_process.readLine()).chopped(1);
                    if (last(lines.last()))
                        return true;
                }
                return m_process.state() == QProcess::NotRunning && !m_process.canReadLine();
            },
            20000);
        if (!done)
            lines << "(no answer)";
        return lines;
    }

    QProcess m_process;
    QStringList m_lines;
};

} // namespace

class TestProgram : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<fixture::Console> console;
    QTemporaryDir pcA, pcB, drives;

    void startExam() {
        console = std::make_unique<fixture::Console>();
        clientfixture::startExam(*console, {"A班"});
    }

    // Logs 0001 in and enters the exam: the report after "进入考试 >>".
    static QStringList enterExam(ClientProcess& c) {
        c.run("type 0001");
        c.run("press ok");
        c.run("wait instructions");
        return c.run("enter");
    }

    // The invigilator readmits 0001 ("死机重考").
    void readmit() {
        console->dialogs.answer(fw::IDOK);
        console->main->Btn_Resume->click();
        QCOMPARE(fixture::examineeState("0001"), QString("0||"));
    }

    // The work folder on drive e: of the PC.
    static QString workFolder() { return fw::driveRoot('e') + "/考生文件夹"; }

private slots:
    void initTestCase() {
        QApplication::setQuitOnLastWindowClosed(false);
        mapDrives(drives.path());
    }

    void init() {
        QDir(fw::driveRoot('e')).removeRecursively();
        QDir().mkpath(fw::driveRoot('e'));
        fixture::resetCatalog();
        fixture::addClass("A班");
        fixture::addClass("B班");
        fixture::addExaminee(1, "0001", "甲", "A班");
        fixture::addExaminee(2, "0002", "乙", "B班");
        writeSettingsLines({"ServerIp=127.0.0.1"});
    }

    void cleanup() {
        console.reset();
        removeSettings();
    }

    void anExamineeLogsInAgainstTheRunningConsole() {
        startExam();
        ClientProcess a(pcA.path());
        a.run("type 0001");
        a.run("press ok");
        QStringList report = a.run("wait instructions");
        QCOMPARE(ClientProcess::value(report, "instructions"), QString("shown 0001|甲"));
        QCOMPARE(ClientProcess::value(report, "login"), QString("freed"));
        QCOMPARE(ClientProcess::value(report, "boxes"), QString());
        QCOMPARE(fixture::examineeState("0001"), QString("1|127.0.0.1|登录成功!"));

        // A second client on the same account ends at once, silently.
        QProcess second;
        startMorvel(second, pcA.path());
        QVERIFY(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(second.readAllStandardOutput(), QByteArray());

        // The same number on another PC is refused.
        ClientProcess b(pcB.path());
        b.run("type 0001");
        b.run("press ok");
        report = b.run("wait box");
        QCOMPARE(ClientProcess::value(report, "boxes"), QString("准考证号重复！"));
        QCOMPARE(ClientProcess::value(report, "login"), QString("shown"));
        QCOMPARE(ClientProcess::value(report, "instructions"), QString("hidden |"));
        b.run("press cancel");
        QCOMPARE(b.finish(), 0);
        QCOMPARE(fixture::examineeState("0001"), QString("1|127.0.0.1|登录成功!"));

        // The first goes on until its instructions window is closed.
        report = a.run("report");
        QCOMPARE(ClientProcess::value(report, "instructions"), QString("shown 0001|甲"));
        a.run("close instructions");
        QCOMPARE(a.finish(), 0);
        QCOMPARE(ClientProcess::value(a.lines(), "shown windows"),
                 QString("frm_Login frm_Instructions"));
        QCOMPARE(console->dialogs.calls.size(), 0);
    }

    // Closing the exam window hands in: the work folder stored, the console
    // told, the program ended.
    void closingTheExamWindowHandsInAndEndsTheProgram() {
        startExam();
        ClientProcess c(pcA.path());
        const QStringList report = enterExam(c);
        QCOMPARE(ClientProcess::value(report, "instructions"), QString("hidden 0001|甲"));
        QCOMPARE(ClientProcess::value(report, "exam window"), QString("shown"));
        QCOMPARE(ClientProcess::value(report, "boxes"), QString());
        const Tree left = doSomeWork(workFolder(), 1 << 20);
        c.run("confirm");
        QCOMPARE(ClientProcess::value(c.run("close exam window"), "exam window"), QString("freed"));
        QCOMPARE(c.finish(), 0);
        QCOMPARE(ClientProcess::value(c.lines(), "shown windows"),
                 QString("frm_Login frm_Instructions frm_Main"));
        QCOMPARE(storedWorkFolder("0001"), left);
        QCOMPARE(treeOf(workFolder()), Tree());
        QTRY_COMPARE(fixture::examineeState("0001"), QString("1|127.0.0.1|交卷结束!"));
    }

    // The client killed at a moment of its hand-in (or of a start after a
    // readmission), readmitted, logged in again on the same PC and handing
    // in: the stored archive holds the work folder as the examinee left it.
    void aKilledHandInLosesNothing_data() {
        QTest::addColumn<QString>("moment");
        for (const char* moment :
             {"the archive begun", "the archive in place", "the first file deleted",
              "the put-back after that", "the archive row posted", "the archive stored",
              "the template unpacked again"})
            QTest::newRow(moment) << moment;
    }
    void aKilledHandInLosesNothing() {
        QFETCH(QString, moment);
        startExam();
        const QString drive = fw::driveRoot('e');
        auto c = std::make_unique<ClientProcess>(pcA.path());
        enterExam(*c);
        const QByteArray originalNote = readFile(workFolder() + "/Excel/说明.txt");
        Tree left = doSomeWork(workFolder(), 16 << 20);
        // Each start after a readmission unpacks the template again, which
        // brings back the template's file that the examinee deleted.
        left["Excel/说明.txt"] = originalNote;

        if (moment == "the template unpacked again") {
            c->kill(); // no hand-in at all
            readmit();
            c = std::make_unique<ClientProcess>(pcA.path());
            c->run("type 0001");
            c->run("press ok");
            c->run("wait instructions");
            FolderWatch watch(workFolder() + "/Excel", IN_CREATE);
            c->send("enter");
            QVERIFY(watch.waitFor("说明.txt"));
            c->kill();
        } else if (moment == "the archive row posted") {
            c->run("confirm");
            c->run("die after the archive row");
            c->send("hand in");
            QVERIFY(c->died());
        } else {
            c->run("confirm");
            std::unique_ptr<FolderWatch> watch;
            if (moment == "the archive begun" || moment == "the archive in place" ||
                moment == "the archive stored")
                watch = std::make_unique<FolderWatch>(drive, IN_CREATE | IN_MOVED_TO);
            else
                watch = std::make_unique<FolderWatch>(workFolder(), IN_DELETE);
            c->send("hand in");
            if (moment == "the archive begun")
                QVERIFY(watch->waitForPrefix("考生文件夹.rar.partial-"));
            else if (moment == "the archive in place")
                QVERIFY(watch->waitFor("考生文件夹.rar"));
            else if (moment == "the archive stored") // the note: packing, then stored
                QVERIFY(watch->waitFor("考生文件夹.owner") && watch->waitFor("考生文件夹.owner"));
            else
                QVERIFY(watch->waitFor());
            c->kill();
            if (moment == "the put-back after that") {
                QVERIFY(QFileInfo::exists(drive + "/考生文件夹.rar"));
                readmit();
                c = std::make_unique<ClientProcess>(pcA.path());
                c->run("type 0001");
                c->run("press ok");
                c->run("wait instructions");
                FolderWatch created(workFolder(), IN_CREATE);
                c->send("enter");
                QVERIFY(created.waitFor());
                c->kill();
            }
        }

        readmit();
        ClientProcess d(pcA.path());
        QCOMPARE(ClientProcess::value(enterExam(d), "boxes"), QString());
        d.run("confirm");
        d.run("hand in");
        QCOMPARE(d.finish(), 0);
        QCOMPARE(describe(storedWorkFolder("0001")), describe(left));
        QCOMPARE(fixture::value("select count(*) from 操作题答卷").toInt(), 1);
        QCOMPARE(QDir(drive).entryList({"*.partial-*"}), QStringList());
        QTRY_COMPARE(fixture::examineeState("0001"), QString("1|127.0.0.1|交卷结束!"));
    }

    // The paper from the exam database, and an answer of each kind clicked
    // or typed in the client's window stands in 试卷表.
    void anAnswerOfEachKindStandsInThePaper() {
        startExam();
        ClientProcess c(pcA.path());
        QStringList report = enterExam(c);
        QCOMPARE(ClientProcess::value(report, "boxes"), QString());
        const QStringList paper = ClientProcess::value(report, "paper").split(' ');
        QCOMPARE(paper.size(), 3);
        QVERIFY(QTest::qWaitFor(
            [] { return fixture::examineeState("0001") == "1|127.0.0.1|正在考试中..."; }, 5000));
        c.run("click B");
        c.run("tab 1");
        c.run("click 否");
        c.run("tab 2");
        c.run("type WWW");
        report = c.run("tab 0");
        QCOMPARE(ClientProcess::value(report, "boxes"), QString());
        QStringList expected;
        const char* answers[] = {"B", "0", "WWW"};
        for (int kind = 0; kind < 3; ++kind) {
            QCOMPARE(paper[kind].section(':', 0, 0), QString("5"));
            expected << QString("%1|%2|%3")
                            .arg(paper[kind].section(':', 1))
                            .arg(kind + 1)
                            .arg(answers[kind]);
        }
        QCOMPARE(fixture::rows("select questionid, 试题类别, 答题结果 from 试卷表 where 准考证号 = "
                               "'0001' and 答题结果 <> '' order by 试题类别"),
                 expected);
        c.run("confirm");
        c.run("close exam window");
        QCOMPARE(c.finish(), 0);
    }

    void theSettingsBoxWritesWhatTheNextStartReads() {
        removeSettings();
        {
            ClientProcess c(pcA.path());
            const QStringList report = c.run("settings 考场服务器");
            QCOMPARE(ClientProcess::value(report, "ServerIp"), QString("考场服务器"));
            c.run("press cancel");
            QCOMPARE(c.finish(), 0);
        }
        QCOMPARE(settingsBytes(), "[Morvel]\r\nServerIp=" + fw::toGbk("考场服务器") + "\r\n");
        ClientProcess d(pcA.path());
        const QStringList report = d.run("report");
        QCOMPARE(ClientProcess::value(report, "ServerIp"), QString("考场服务器"));
        d.run("close login");
        QCOMPARE(d.finish(), 0);
    }

    void theLoginWindowEndsTheProgram_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("取消") << "press cancel";
        QTest::newRow("Esc") << "key esc";
        QTest::newRow("the close box") << "close login";
    }

    void theLoginWindowEndsTheProgram() {
        QFETCH(QString, how);
        ClientProcess c(pcA.path());
        c.run("type 0002");
        c.run(how);
        QCOMPARE(c.finish(), 0);
        QCOMPARE(ClientProcess::value(c.lines(), "shown windows"), QString("frm_Login"));
    }

    void aSecondStartEndsAtOnceWithNoWindow() {
        QProcess first;
        startMorvel(first, pcA.path());
        QVERIFY(first.waitForStarted());
        qputenv("XDG_RUNTIME_DIR", pcA.path().toLocal8Bit());
        QVERIFY(QTest::qWaitFor([] { return fw::InstanceLock("Client").alreadyRunning(); }, 10000));

        QProcess second;
        startMorvel(second, pcA.path());
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        // the client's own start-up, watched from inside: no window at all
        ClientProcess third(pcA.path());
        QCOMPARE(third.finish(), 0);
        QCOMPARE(ClientProcess::value(third.lines(), "shown windows"), QString());
        QCOMPARE(first.state(), QProcess::Running); // unaffected

        first.kill();
        first.waitForFinished();
        QVERIFY(QTest::qWaitFor([] { return fw::InstanceLock("Client").held(); }, 10000));
    }

    // Whatever holds the mark keeps the client out, the same silent way.
    void anotherProgramHoldingTheMarkKeepsTheClientOut() {
        qputenv("XDG_RUNTIME_DIR", pcB.path().toLocal8Bit());
        const fw::InstanceLock other("Client");
        QVERIFY(other.held());
        QProcess client;
        startMorvel(client, pcB.path());
        QVERIFY(client.waitForFinished(10000));
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(client.exitCode(), 0);
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    if (app.arguments().contains("--client"))
        return child::runClient();
    TestProgram test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_program.moc"
