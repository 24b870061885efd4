// A whole exam in one program: the console's windows and the client's, on
// the test cluster, with the console's own listener on port 5000 and the
// real archiver on drives mapped into a scratch folder (a PC of its own for
// each examinee). The invigilator imports the sample workbook and bank,
// chooses two classes, generates the papers and starts; three examinees log
// in one after the other, answer right and wrong, work in their folders and
// hand in; one hand-in fails when the database connection is lost, and that
// examinee is readmitted and hands in again; then "收卷". Each class's
// score database holds the scores of the answers given, and each archive
// extracts with bsdtar to exactly the work folder its examinee left.
#include "ClientFixture.h"
#include "tests/server/ConsoleFixture.h"
#include "tests/support/FileTree.h"
#include "tests/support/TestMain.h"

#include "client/Unit_main.h"
#include "framework/core/Application.h"
#include "framework/core/Drives.h"
#include "framework/core/Sockets.h"
#include "framework/data/Query.h"
#include "framework/widgets/DbControls.h"
#include "server/Unit_Main.h"

#include <QAction>
#include <QDir>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlError>
#include <QSqlQuery>

#include <array>

using namespace clientfixture;
using client::frm_Main;
using Nav = fw::DBNavigator;

namespace {

// One examinee's exam as the test played it.
struct Sitting {
    QString examNo, name, cls;
    std::array<int, 3> right{}; // answers right: multiple-choice, true/false, fill-in
    Tree left;                  // the work folder as the examinee left it
};

QString answerKey(const char* table, int id) {
    return fixture::value(QString("select answer from %1 where id = ?").arg(table), {id})
        .toString();
}

} // namespace

class TestWholeExam : public QObject {
    Q_OBJECT

    QTemporaryDir drives;
    std::unique_ptr<fixture::Console> console;
    std::unique_ptr<Client> running;
    QList<Sitting> sittings;

    ScriptedDialogs& dialogs() { return console->dialogs; }

    // The texts of the plain message boxes shown.
    QStringList messages() {
        QStringList texts;
        for (const ScriptedDialogs::Call& call : std::as_const(dialogs().calls))
            if (call.kind == ScriptedDialogs::Kind::Message)
                texts << call.text;
        return texts;
    }

    // The examinee's PC: its drive e: a folder of its own.
    void sitAtPc(int pc) {
        const QString e = drives.filePath(QString("pc-%1/e").arg(pc));
        QDir().mkpath(e);
        qputenv("MORVEL_DRIVE_E", QFile::encodeName(e));
    }

    static QString workFolder() { return fw::driveRoot('e') + "/考生文件夹"; }

    // The client started as on a PC switched on, logged in, the exam entered.
    void logIn(const QString& examNo) {
        running.reset();
        writeSettingsLines({"ServerIp=127.0.0.1"});
        running = std::make_unique<Client>();
        logInAndEnter(examNo);
        QTRY_COMPARE(fixture::examineeState(examNo), QString("1|127.0.0.1|正在考试中..."));
    }

    // Answers every question shown: the k-th one answered (counted over all
    // kinds) right when `rightAt(k)`, else wrong.
    std::array<int, 3> answerThePaper(const std::function<bool(int)>& rightAt) {
        std::array<int, 3> right{};
        int k = 0;
        const auto each = [&](fw::Query* paper, const std::function<void(int, bool)>& answer) {
            paper->first();
            for (int row = 1; row <= paper->recordCount(); ++row) {
                const bool isRight = rightAt(k++);
                answer(paper->fieldByName("题号").asInteger(), isRight);
                if (row < paper->recordCount())
                    frm_Main->DBNavigator1->click(Nav::Next);
            }
        };
        showTab(0);
        each(frm_Main->ADOQuery2, [&](int id, bool isRight) {
            const QChar key = answerKey("选择题", id).at(0);
            const int letter = isRight ? key.unicode() - 'A' : (key.unicode() - 'A' + 1) % 4;
            choose(frm_Main->DBRadioGroup1->button(letter));
            right[0] += isRight;
        });
        showTab(1);
        each(frm_Main->ADOQuery3, [&](int id, bool isRight) {
            const bool yes = (answerKey("判断题", id) == "1") == isRight;
            choose(frm_Main->DBRadioGroup2->button(yes ? 0 : 1));
            right[1] += isRight;
        });
        showTab(2);
        each(frm_Main->ADOQuery4, [&](int id, bool isRight) {
            frm_Main->DBEdit6->setFocus();
            frm_Main->DBEdit6->selectAll();
            typeText(frm_Main->DBEdit6, isRight ? answerKey("填空题", id) : QString("不对"));
            right[2] += isRight;
        });
        showTab(0); // the last answer saved as its tab is left
        return right;
    }

    // "交卷" and OK: true when the client went through and ended.
    bool handIn() {
        dialogs().answer(fw::IDOK);
        frm_Main->Button1->click();
        return fw::terminated() && QTest::qWaitFor([] { return !frm_Main; }, 20000);
    }

    // The examinee's exam from the login to a hand-in that goes through.
    void sit(int pc, const QString& examNo, const QString& name, const QString& cls,
             qsizetype largest, const std::function<bool(int)>& rightAt) {
        sitAtPc(pc);
        logIn(examNo);
        Sitting sitting{examNo, name, cls, answerThePaper(rightAt), {}};
        doSomeWork(workFolder(), largest);
        writeFile(workFolder() + "/作业 一/" + examNo + ".txt", name.toUtf8());
        sitting.left = treeOf(workFolder());
        QVERIFY(handIn());
        QCOMPARE(dialogs().errors(), QStringList());
        QTRY_COMPARE(fixture::examineeState(examNo), QString("1|127.0.0.1|交卷结束!"));
        sittings << sitting;
    }

private slots:
    void initTestCase() {
        QApplication::setQuitOnLastWindowClosed(false);
        mapDrives(drives.path());
        fixture::resetCatalog();
        console = std::make_unique<fixture::Console>();
    }

    void cleanupTestCase() {
        running.reset();
        console.reset();
        removeSettings();
    }

    void theInvigilatorStartsTheExam() {
        server::Tfrm_Main* main = console->main;
        dialogs().answer(fixture::sampleWorkbook());
        main->N1->trigger();
        dialogs().answer(fixture::sampleBank());
        main->Btn_LoadQuestion->click();
        fixture::chooseClasses({"计算机一班", "计算机二班"});
        main->Btn_GenerateQuestion->click();
        main->Btn_Start->click();
        QCOMPARE(messages(), (QStringList{"考生名单已导入!", "试题加载完毕!", "试卷生成完毕!"}));
        QVERIFY(main->ServerSocket1->active());
        dialogs().clear();
    }

    void theFirstExamineeHandsIn() {
        sit(1, "20230001", "张三", "计算机一班", 100000, [](int) { return true; });
    }

    // The database connection goes while the archive is being stored: the
    // work folder is put back and the console still shows the examinee at
    // work; the PC is started anew, the invigilator readmits the examinee,
    // who logs in again there and hands in.
    void theSecondIsReadmittedAfterAFailedHandIn() {
        const auto rightAt = [](int k) { return k % 3 != 0; };
        sitAtPc(2);
        logIn("20230002");
        answerThePaper(rightAt);
        const Tree first = doSomeWork(workFolder(), 200000);
        fixture::exec("select pg_terminate_backend(pid) from pg_stat_activity "
                      "where usename = 'Morvel'");
        QVERIFY(!handIn());
        QCOMPARE(dialogs().errors().size(), 1);
        QCOMPARE(treeOf(workFolder()), first);
        QTest::qWait(200);
        QCOMPARE(fixture::examineeState("20230002"), QString("1|127.0.0.1|正在考试中..."));
        running.reset();
        dialogs().clear();

        dialogs().answer(fw::IDOK);
        console->main->Btn_Resume->click();
        QCOMPARE(fixture::examineeState("20230002"), QString("0||"));
        dialogs().clear();

        logIn("20230002");
        Tree expected = first; // and the template's file that was deleted, once more
        QVERIFY(QFile::exists(workFolder() + "/Excel/说明.txt"));
        expected["Excel/说明.txt"] = readFile(workFolder() + "/Excel/说明.txt");
        QCOMPARE(treeOf(workFolder()), expected);
        Sitting sitting{"20230002", "李四", "计算机一班", answerThePaper(rightAt), {}};
        writeFile(workFolder() + "/Word/文档.txt", "第二次登录后又改了一次。\n");
        sitting.left = treeOf(workFolder());
        QVERIFY(handIn());
        QCOMPARE(dialogs().errors(), QStringList());
        QTRY_COMPARE(fixture::examineeState("20230002"), QString("1|127.0.0.1|交卷结束!"));
        sittings << sitting;
    }

    void theThirdHandsInALargeFolder() {
        sit(3, "20230004", "赵六", "计算机二班", 20 << 20, [](int k) { return k % 2 == 0; });
    }

    void theInvigilatorCollects() {
        running.reset();
        dialogs().clear();
        dialogs().answer(fw::IDOK);
        console->main->Btn_End->click();
        QCOMPARE(dialogs().texts(),
                 (QStringList{"请确认考生都已交卷。是否真的要收卷？", "收卷完成!"}));
    }

    // Every examinee of the two classes is marked; those who sat score the
    // answers they gave right, the others nothing.
    void everyClassIsMarked() {
        const QString program = console->scratch.filePath("program");
        const QStringList classes{"计算机一班", "计算机二班"};
        const QStringList examinees{"20230001|张三|计算机一班", "20230002|李四|计算机一班",
                                    "20230003|王五|计算机一班", "20230004|赵六|计算机二班",
                                    "20230005|孙七|计算机二班", "20230006|周八|计算机二班"};
        for (const QString& cls : classes) {
            QStringList expected;
            for (const QString& examinee : examinees) {
                if (examinee.section('|', 2) != cls)
                    continue;
                std::array<int, 3> right{};
                for (const Sitting& s : std::as_const(sittings))
                    if (s.examNo == examinee.section('|', 0, 0))
                        right = s.right;
                expected << QString("%1|%2|%3|%4|")
                                .arg(examinee)
                                .arg(right[0])
                                .arg(right[1])
                                .arg(right[2]);
            }
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "score " + cls);
            db.setDatabaseName(program + "/" + cls + "/score.mdb");
            QVERIFY(db.open());
            QStringList got;
            {
                QSqlQuery q(db);
                QVERIFY2(q.exec("select 准考证号, 姓名, 班级, 选择, 判断, 填空, 备注 from 成绩表 "
                                "order by 准考证号"),
                         qPrintable(q.lastError().text()));
                while (q.next()) {
                    QStringList columns;
                    for (int i = 0; i < 7; ++i)
                        columns << q.value(i).toString();
                    got << columns.join('|');
                }
            }
            db.close();
            QCOMPARE(got, expected);
        }
    }

    // One archive per examinee who handed in, named by class, exam number
    // and name, holding exactly the work folder left.
    void everyHandedInFolderIsThere() {
        const QString program = console->scratch.filePath("program");
        QCOMPARE(QDir(program + "/计算机一班/操作题").entryList(QDir::Files),
                 (QStringList{"计算机一班20230001张三.rar", "计算机一班20230002李四.rar"}));
        QCOMPARE(QDir(program + "/计算机二班/操作题").entryList(QDir::Files),
                 QStringList{"计算机二班20230004赵六.rar"});
        QCOMPARE(sittings.size(), 3);
        for (const Sitting& s : std::as_const(sittings)) {
            const QString out = drives.filePath("out/" + s.examNo);
            QVERIFY(extractWith(
                "bsdtar", program + "/" + s.cls + "/操作题/" + s.cls + s.examNo + s.name + ".rar",
                out));
            QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                     QStringList{"考生文件夹"});
            QCOMPARE(describe(treeOf(out + "/考生文件夹")), describe(s.left));
        }
    }
};

MORVEL_TEST_MAIN(TestWholeExam)
#include "tst_wholeexam.moc"
