// The work folder and the hand-in in the client's own process: the template
// unpacked at the exam start, the hand-in refused, cancelled and confirmed,
// each way it can fail followed by a retry, a further examinee on the same PC
// and a readmitted one. The archiver runs for real on drives mapped into a
// scratch folder (through the process double where a test scripts a run or
// watches the calls); the desktop's windows are a listed double. The sample
// bank's template; the client logs in as the login Morvel against a scripted
// listener.
#include "ClientFixture.h"
#include "tests/archiver/Rar5Archive.h"
#include "tests/server/ConsoleFixture.h"
#include "tests/support/FileTree.h"
#include "tests/support/ListedWindowTitles.h"
#include "tests/support/ScriptedProcesses.h"
#include "tests/support/TestMain.h"

#include "client/Unit_Common.h"
#include "client/Unit_main.h"
#include "framework/core/Application.h"
#include "framework/core/Drives.h"
#include "framework/core/Timer.h"
#include "framework/data/Query.h"
#include "framework/widgets/DbControls.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

#include <unistd.h>

using namespace clientfixture;
using client::frm_Main;

namespace {

QString hostFolder(const QString& windowsPath) {
    return fw::hostPath(windowsPath);
}

QString rarOf(char drive) {
    return QString(QChar(drive)) + ":\\考生文件夹.rar";
}

// Every answer archive stored, as rows.
int storedRows() {
    return fixture::value("select count(*) from 操作题答卷").toInt();
}

} // namespace

class TestHandIn : public ExamSuite {
    Q_OBJECT

    ListedWindowTitles windows;
    QByteArray templateArchive; // the sample bank's
    Tree templateFolder;        // what it unpacks to (考生文件夹)

    // "交卷" pressed, and OK in the confirmation.
    void handIn() {
        dialogs->answer(fw::IDOK);
        frm_Main->Button1->click();
    }

    // The hand-in went through: the exam window freed, the program ending.
    static bool handedIn() {
        return QTest::qWaitFor([] { return !frm_Main; }, 5000) && fw::terminated();
    }

    // The messages the server got.
    QList<QByteArray> reports() {
        QTest::qWait(100);
        return listener->messages;
    }

    static QString work(char drive = 'e') { return fw::driveRoot(drive) + "/考生文件夹"; }

    // The client tried to hand in and is still in the exam.
    void stillInTheExam() {
        QVERIFY(frm_Main);
        QVERIFY(frm_Main->isVisible());
        QVERIFY(!fw::terminated());
        QVERIFY(frm_Main->Timer1->enabled());
        QCOMPARE(reports(), (QList<QByteArray>{"10001", "20001"}));
    }

private slots:
    void initTestCase() {
        fixture::resetCatalog();
        fixture::addClass("A班", 1, 0);
        fixture::addExaminee(1, "0001", "甲", "A班");
        fixture::addExaminee(2, "0002", "乙", "A班");
        fixture::exec(QString("call importquestion(filename => '%1')").arg(fixture::sampleBank()));
        fixture::exec("call generatequestiontable()");
        fixture::exec("call grantpermissions()");
        templateArchive = fixture::value("select examfolder from 操作题").toByteArray();
        QTemporaryDir dir;
        writeFile(dir.filePath("t.rar"), templateArchive);
        QVERIFY(extractWith("bsdtar", dir.filePath("t.rar"), dir.path()));
        templateFolder = treeOf(dir.filePath("考生文件夹"));
        QCOMPARE(templateFolder.keys(),
                 (QStringList{"Excel", "Excel/说明.txt", "PowerPoint", "PowerPoint/说明.txt",
                              "Word", "Word/文档.txt"}));
    }

    void init() {
        for (char drive : {'d', 'e', 'f'}) {
            QDir(fw::driveRoot(drive)).removeRecursively();
            QDir().mkpath(fw::driveRoot(drive));
        }
        dialogs = std::make_unique<ScriptedDialogs>();
        windows.windows.clear();
        fixture::exec("update 试卷表 set 答题结果 = ''");
        fixture::exec("delete from 操作题答卷");
    }

    void cleanup() {
        running.reset();
        listener.reset();
        dialogs.reset();
        removeSettings();
        QFile::setPermissions(fw::driveRoot('e'),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        fixture::exec("update 操作题 set examfolder = ?", {templateArchive});
        fixture::exec("call grantpermissions()");
    }

    // ---- the exam start ----

    // The template written at the root of the work drive and unpacked there;
    // where its files land is the template's business (its top folder is
    // 考生文件夹). Every path is one argument.
    void theTemplateIsUnpackedAtTheWorkRoot_data() {
        QTest::addColumn<QString>("workDir");
        QTest::addColumn<char>("drive");
        QTest::newRow("the default") << "e:\\考生文件夹" << 'e';
        QTest::newRow("one level deeper on d:") << "d:\\exam\\考生文件夹" << 'd';
        QTest::newRow("blanks in the path") << "f:\\my exam\\考生 文件夹" << 'f';
    }
    void theTemplateIsUnpackedAtTheWorkRoot() {
        QFETCH(QString, workDir);
        QFETCH(char, drive);
        ScriptedProcesses processes;
        processes.runForReal();
        enterExam("0001", {"WorkDir=" + workDir});
        QCOMPARE(dialogs->calls.size(), 0);
        QVERIFY(client::PaperReady);
        const QString letter(QChar{drive});
        QCOMPARE(processes.calls.size(), 1);
        QCOMPARE(processes.calls[0].program, client::ArchiverPath());
        QCOMPARE(processes.calls[0].arguments,
                 (QStringList{"x", "-o-", letter + ":\\tmp.rar", letter + ":\\"}));
        QCOMPARE(processes.calls[0].whenCallerEnds, fw::WhenCallerEnds::Ends);
        QCOMPARE(readFile(fw::driveRoot(drive) + "/tmp.rar"), templateArchive);
        QCOMPARE(treeOf(work(drive)), templateFolder);
    }

    // Whatever the template holds, the exam starts; nothing lands outside
    // the work root.
    void aTemplateThatGivesLittleOrNothing_data() {
        QTest::addColumn<QVariant>("examFolder");
        QTest::addColumn<Tree>("unpacked"); // what the template holds of it
        QTest::newRow("none") << QVariant() << Tree();
        QTest::newRow("not an archive") << QVariant(QByteArray("no archive")) << Tree();
        QTest::newRow("cut short")
            << QVariant(templateArchive.left(templateArchive.size() / 2)) << templateFolder;
        QTest::newRow("entries outside the root")
            << QVariant(rar5Archive({{"../逃出.txt", "out"},
                                     {"../../逃出.txt", "out"},
                                     {"/etc/逃出.txt", "out"},
                                     {"考生文件夹/a.txt", "in"}}))
            << Tree{{"a.txt", "in"}};
    }
    void aTemplateThatGivesLittleOrNothing() {
        QFETCH(QVariant, examFolder);
        QFETCH(Tree, unpacked);
        fixture::exec("update 操作题 set examfolder = ?", {examFolder});
        enterExam();
        QCOMPARE(dialogs->calls.size(), 0);
        QVERIFY(client::PaperReady);
        QCOMPARE(readFile(fw::driveRoot('e') + "/tmp.rar"), examFolder.toByteArray());
        const Tree got = treeOf(work());
        for (auto it = got.begin(); it != got.end(); ++it)
            QCOMPARE(it.value(), unpacked.value(it.key(), "<not in the template>"));
        if (unpacked.size() == 1)
            QCOMPARE(got, unpacked);
        QVERIFY(!QFile::exists(scratch.filePath("逃出.txt")));
        QVERIFY(!QFile::exists(scratch.filePath("../逃出.txt")));
        QVERIFY(!QFile::exists(QDir::rootPath() + "etc/逃出.txt"));
    }

    // Without the archiver the exam starts all the same, with nothing
    // unpacked.
    void theArchiverMissingAtTheStart() {
        const QString archiver = client::ArchiverPath();
        QVERIFY(QFile::rename(archiver, archiver + ".aside"));
        enterExam();
        QFile::rename(archiver + ".aside", archiver);
        QCOMPARE(dialogs->calls.size(), 0);
        QVERIFY(client::PaperReady);
        QCOMPARE(readFile(fw::driveRoot('e') + "/tmp.rar"), templateArchive);
        QVERIFY(!QFileInfo::exists(work()));
    }

    // The template cannot be written: the file layer's error, the exam
    // window shown without a paper ready, and its close hands nothing in.
    void aWorkDriveThatCannotBeWritten() {
        if (::geteuid() == 0)
            QSKIP("root writes everywhere");
        QFile::setPermissions(fw::driveRoot('e'), QFile::ReadOwner | QFile::ExeOwner);
        ScriptedProcesses processes; // nothing may run
        enterExam();
        QCOMPARE(dialogs->errors(),
                 QStringList{"Cannot create file \"e:\\tmp.rar\". Permission denied"});
        QVERIFY(!client::PaperReady);
        frm_Main->close();
        QVERIFY(fw::terminated());
        QCOMPARE(dialogs->calls.size(), 1);
        QCOMPARE(reports(), (QList<QByteArray>{"10001", "20001"}));
        QCOMPARE(processes.calls.size(), 0);
    }

    // A work folder whose path has no drive letter is cut by position all
    // the same: its first two characters stand for the drive.
    void aWorkDirWithoutADriveLetter() {
        const QString before = QDir::currentPath();
        QDir().mkpath(scratch.filePath("cwd/ab"));
        QDir::setCurrent(scratch.filePath("cwd"));
        ScriptedProcesses processes;
        processes.runForReal();
        processes.runForReal();
        enterExam("0001", {"WorkDir=ab\\考生文件夹"});
        const Tree left = doSomeWork(scratch.filePath("cwd/ab/考生文件夹"), 1000);
        handIn();
        const bool done = handedIn();
        QDir::setCurrent(before);
        QVERIFY(done);
        QCOMPARE(processes.calls[0].arguments, (QStringList{"x", "-o-", "ab\\tmp.rar", "ab\\"}));
        QCOMPARE(processes.calls[1].arguments,
                 (QStringList{"a", "-df", "ab\\考生文件夹", "ab\\考生文件夹"}));
        QCOMPARE(storedWorkFolder("0001", "ab/考生文件夹"), left);
    }

    // ---- the hand-in ----

    // Confirmed: the work folder packed into the archive beside it, stored in
    // the examinee's row, the answer still pending saved, the server told,
    // the program ended.
    void aConfirmedHandIn_data() {
        QTest::addColumn<QString>("workDir");
        QTest::addColumn<QString>("inArchive");
        QTest::addColumn<bool>("byTheButton");
        QTest::newRow("by 交卷") << "e:\\考生文件夹"
                                 << "考生文件夹" << true;
        QTest::newRow("by the close box") << "e:\\考生文件夹"
                                          << "考生文件夹" << false;
        QTest::newRow("blanks in the path") << "e:\\my exam\\考生 文件夹"
                                            << "my exam/考生 文件夹" << true;
    }
    void aConfirmedHandIn() {
        QFETCH(QString, workDir);
        QFETCH(QString, inArchive);
        QFETCH(bool, byTheButton);
        enterExam("0001", {"WorkDir=" + workDir});
        if (!QFileInfo::exists(hostFolder(workDir)))
            writeTree(hostFolder(workDir), templateFolder);
        const Tree left = doSomeWork(hostFolder(workDir), 3 << 20);

        ScriptedProcesses processes;
        processes.runForReal();
        frm_Main->PageControl1->setCurrentIndex(2);
        frm_Main->DBEdit6->setFocus();
        QTRY_VERIFY(frm_Main->DBEdit6->hasFocus());
        QTest::keyClicks(frm_Main->DBEdit6, "WWW");
        const QVariant question = frm_Main->ADOQuery4->fieldByName("QuestionID").value();
        dialogs->answer(fw::IDOK);
        if (byTheButton)
            frm_Main->Button1->click();
        else
            frm_Main->close();
        QVERIFY(handedIn());

        QCOMPARE(dialogs->calls.size(), 1);
        fixture::expectMessageBox(dialogs->calls[0], "是否真的要交卷？", "提示",
                                  fw::MB_OKCANCEL | fw::MB_ICONQUESTION);
        QCOMPARE(processes.calls.size(), 1);
        QCOMPARE(processes.calls[0].arguments,
                 (QStringList{"a", "-df", "e:\\考生文件夹", workDir}));
        QCOMPARE(processes.calls[0].whenCallerEnds, fw::WhenCallerEnds::Ends);
        QCOMPARE(storedWorkFolder("0001", inArchive), left);
        QCOMPARE(storedRows(), 1);
        QCOMPARE(treeOf(hostFolder(workDir)), Tree());
        QCOMPARE(fixture::value("select 答题结果 from 试卷表 where questionid = ?", {question})
                     .toString(),
                 QString("WWW"));
        QTRY_COMPARE(listener->messages, (QList<QByteArray>{"10001", "20001", "30001"}));
    }

    // An office program's window refuses the hand-in (which titles do:
    // tst_officewindows); once it is closed, the hand-in goes through.
    void anOfficeWindowRefusesTheHandIn_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("refused");
        QTest::newRow("Excel") << "Microsoft Excel - 成绩.xls" << true;
        QTest::newRow("lower case") << "microsoft excel - book1.xls" << false;
    }
    void anOfficeWindowRefusesTheHandIn() {
        QFETCH(QString, title);
        QFETCH(bool, refused);
        enterExam();
        windows.windows = {"Morvel", title};
        ScriptedProcesses processes;
        if (refused) {
            frm_Main->Button1->click();
            QCOMPARE(
                dialogs->texts(),
                QStringList{"请先关闭Word、Excel、PowerPoint、Franpage、Access窗口，然后交卷！"});
            QCOMPARE(dialogs->calls[0].kind, ScriptedDialogs::Kind::Message);
            stillInTheExam();
            QCOMPARE(processes.calls.size(), 0);
            QCOMPARE(storedRows(), 0);
            windows.windows.clear(); // closed: the next try goes through
        }
        processes.runForReal();
        handIn();
        QVERIFY(handedIn());
        QCOMPARE(storedRows(), 1);
    }

    void cancelledNothingHappens() {
        enterExam();
        ScriptedProcesses processes; // nothing may run
        dialogs->answer(fw::IDCANCEL);
        frm_Main->Button1->click();
        QCOMPARE(dialogs->texts(), QStringList{"是否真的要交卷？"});
        stillInTheExam();
        QCOMPARE(treeOf(work()), templateFolder);
        QVERIFY(!QFile::exists(fw::hostPath(rarOf('e'))));
        QCOMPARE(storedRows(), 0);
    }

    // While the archiver runs, the window takes the examinee's clicks: a
    // further close is refused without a word.
    void aCloseWhileTheArchiverRunsIsRefused() {
        enterExam();
        ScriptedProcesses processes;
        bool refused = false;
        processes.whileWaiting([&] {
            frm_Main->close();
            frm_Main->Button1->click();
            QCloseEvent event; // straight from the desktop
            QCoreApplication::sendEvent(frm_Main, &event);
            refused = !event.isAccepted();
        });
        processes.runForReal();
        handIn();
        QVERIFY(handedIn());
        QVERIFY(refused);
        QCOMPARE(dialogs->calls.size(), 1);
        QCOMPARE(processes.calls.size(), 1);
        QCOMPARE(storedRows(), 1);
        QTRY_COMPARE(listener->messages.count("30001"), 1);
    }

    // A hand-in that fails at any step shows why, leaves the exam running
    // with the work folder as it was and the server untold; the next try
    // stores everything.
    void aFailedHandInLosesNothing_data() {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("error");
        QTest::newRow("the archiver missing")
            << "missing"
            << "无法运行压缩程序 " + client::ArchiverPath() + "："; // and what the system says
        QTest::newRow("the client told to end meanwhile") << "told to end"
                                                          << "程序正在退出，交卷没有完成。";
        QTest::newRow("the archiver failing on a full drive")
            << "full"
            << "rar: cannot write e:\\考生文件夹.rar: No space left on device; nothing was deleted";
        QTest::newRow("a file that cannot be read")
            << "unreadable"
            << "rar: cannot read e:\\考生文件夹\\Word\\文档.txt: Permission denied; nothing was "
               "deleted";
        QTest::newRow("a work drive that cannot be written") << "read-only"
                                                             << "无法写入 e:\\考生文件夹.owner：";
        QTest::newRow("the database refusing the archive")
            << "archive refused"
            << "permission denied for table 操作题答卷";
        QTest::newRow("the database refusing an answer") << "answer refused"
                                                         << "permission denied for table 试卷表";
    }
    void aFailedHandInLosesNothing() {
        QFETCH(QString, failure);
        QFETCH(QString, error);
        if (::geteuid() == 0 && (failure == "unreadable" || failure == "read-only"))
            QSKIP("root reads and writes everything");
        enterExam();
        const Tree left = doSomeWork(work(), 2 << 20);
        const QString unreadable = work() + "/Word/文档.txt";
        ScriptedProcesses processes;
        const QString archiver = client::ArchiverPath();
        if (failure == "missing")
            QVERIFY(QFile::rename(archiver, archiver + ".aside"));
        if (failure == "told to end") {
            fw::ProcessRun givenUp; // the wait given up, the archiver ended with the client
            givenUp.started = true;
            processes.answer(givenUp);
        } else if (failure == "full")
            processes.answer(ScriptedProcesses::exited(2, error + "\n"));
        else
            processes.runForReal();
        processes.runForReal(); // the put-back, when there is an archive
        if (failure == "unreadable")
            QFile::setPermissions(unreadable, QFile::WriteOwner);
        if (failure == "read-only")
            QFile::setPermissions(fw::driveRoot('e'), QFile::ReadOwner | QFile::ExeOwner);
        if (failure == "archive refused")
            fixture::exec("revoke insert, update on 操作题答卷 from \"Morvel\"");
        if (failure == "answer refused") {
            fixture::exec("revoke update on 试卷表 from \"Morvel\"");
            frm_Main->PageControl1->setCurrentIndex(2);
            frm_Main->DBEdit6->setFocus();
            QTRY_VERIFY(frm_Main->DBEdit6->hasFocus());
            QTest::keyClicks(frm_Main->DBEdit6, "WWW");
        }
        handIn();
        if (failure == "missing")
            QFile::rename(archiver + ".aside", archiver);

        QVERIFY2(!dialogs->errors().isEmpty() && dialogs->errors().last().contains(error),
                 qPrintable(dialogs->errors().join(" | ")));
        stillInTheExam();
        QVERIFY(!frm_Main->ADOTable2->editing());
        QFile::setPermissions(unreadable, QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(treeOf(work()), left);
        QVERIFY(!QFile::exists(fw::hostPath(rarOf('e'))));
        if (failure != "answer refused")
            QCOMPARE(storedRows(), 0);

        QFile::setPermissions(fw::driveRoot('e'),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        fixture::exec("call grantpermissions()");
        dialogs->clear();
        processes.clear();
        processes.runForReal();
        handIn();
        QVERIFY(handedIn());
        QCOMPARE(dialogs->errors(), QStringList());
        QCOMPARE(storedWorkFolder("0001"), left);
        QCOMPARE(storedRows(), 1);
        QTRY_COMPARE(listener->messages.last(), QByteArray("30001"));
    }

    // What the archiver only warns about (a link it leaves where it is)
    // does not hold up the hand-in.
    void aWarningOfTheArchiverIsNoFailure() {
        enterExam();
        Tree left = doSomeWork(work(), 1000);
        QVERIFY(QFile::link(work() + "/Word/文档.txt", work() + "/链接.txt"));
        handIn();
        QVERIFY(handedIn());
        QCOMPARE(dialogs->errors(), QStringList());
        QCOMPARE(storedWorkFolder("0001"), left);
        QCOMPARE(QDir(work()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                 QStringList{"链接.txt"});
    }

    // An archive left on the drive from an earlier hand-in, damaged even,
    // does not go into this one.
    void anEarlierArchiveOnTheDriveIsNotHandedIn() {
        writeFile(fw::hostPath(rarOf('e')), QByteArray("Rar!\x1a\x07\x01\x00 damaged", 16));
        enterExam();
        const Tree left = doSomeWork(work(), 1000);
        handIn();
        QVERIFY(handedIn());
        QCOMPARE(storedWorkFolder("0001"), left);
    }

    // The next examinee on the PC finds nothing of the earlier one, whether
    // that one's hand-in went through or was cut short with the work only in
    // the archive: what was left is kept aside on the drive.
    void theNextExamineeFindsNothingOfTheEarlierOne_data() {
        QTest::addColumn<bool>("stored");
        QTest::newRow("after a hand-in") << true;
        QTest::newRow("after a hand-in cut short") << false;
    }
    void theNextExamineeFindsNothingOfTheEarlierOne() {
        QFETCH(bool, stored);
        enterExam("0001");
        const Tree earlier = doSomeWork(work(), 1000);
        ScriptedProcesses processes;
        processes.runForReal();
        if (!stored) {
            // stored nowhere: the database refuses, and the files cannot be
            // put back either; the client goes
            fixture::exec("revoke insert, update on 操作题答卷 from \"Morvel\"");
            processes.answer(ScriptedProcesses::notStarted());
        }
        handIn();
        if (stored)
            QVERIFY(handedIn());
        else
            QVERIFY(!dialogs->errors().isEmpty());
        if (stored)
            writeFile(work() + "/后来.txt", "changed after the packing");
        else
            QVERIFY(QFile::exists(fw::hostPath(rarOf('e'))));
        running.reset();
        fixture::exec("call grantpermissions()");
        dialogs->clear();
        processes.clear();
        processes.runForReal();
        processes.runForReal();

        enterExam("0002");
        QCOMPARE(dialogs->calls.size(), 0);
        QCOMPARE(treeOf(work()), templateFolder);
        const Tree later = doSomeWork(work(), 2000);
        handIn();
        QVERIFY(handedIn());
        QCOMPARE(storedWorkFolder("0002"), later);

        const QStringList kept = QDir(fw::driveRoot('e') + "/考生文件夹.保留")
                                     .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(kept.size(), 1);
        QVERIFY2(kept[0].startsWith("0001 "), qPrintable(kept[0]));
        const QString folder = fw::driveRoot('e') + "/考生文件夹.保留/" + kept[0];
        if (stored) {
            QCOMPARE(treeOf(folder), (Tree{{"考生文件夹", folderMark},
                                           {"考生文件夹/后来.txt", "changed after the packing"}}));
        } else {
            QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                     QStringList{"考生文件夹.rar"});
            QVERIFY(extractWith("bsdtar", folder + "/考生文件夹.rar", scratch.filePath("x")));
            QCOMPARE(treeOf(scratch.filePath("x/考生文件夹")), earlier);
        }
    }

    // Readmitted on the same PC, the examinee finds the work handed in
    // (and the template's files that were deleted); the next hand-in
    // replaces the stored archive in the same row.
    void aReadmittedExamineeHandsInAgain() {
        enterExam("0001");
        doSomeWork(work(), 1000);
        ScriptedProcesses processes;
        processes.runForReal();
        handIn();
        QVERIFY(handedIn());
        const Tree first = storedWorkFolder("0001");
        running.reset();
        processes.clear();
        processes.runForReal();
        processes.runForReal();

        enterExam("0001");
        Tree expected = first;
        expected["Excel/说明.txt"] = templateFolder["Excel/说明.txt"];
        QCOMPARE(treeOf(work()), expected);
        writeFile(work() + "/Word/文档.txt", "第二次交卷");
        processes.runForReal();
        handIn();
        QVERIFY(handedIn());
        expected["Word/文档.txt"] = "第二次交卷";
        QCOMPARE(storedWorkFolder("0001"), expected);
        QCOMPARE(storedRows(), 1);
    }
};

MORVEL_TEST_MAIN(TestHandIn)
#include "tst_handin.moc"
