// The invigilator's workflow on the main window: every guard and message of
// the preparing and the running phase, with the procedures really run.
#include "ConsoleFixture.h"
#include "tests/support/TestMain.h"

#include "framework/core/Sockets.h"
#include "framework/data/Query.h"
#include "framework/widgets/DbControls.h"
#include "server/Unit_Common.h"
#include "server/Unit_Main.h"
#include "server/Unit_SelectClass.h"

#include <QListWidget>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>

using namespace server;
using Kind = ScriptedDialogs::Kind;

class TestWorkflow : public fixture::ConsoleSuite {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void refusalsRightAfterTheStart();
    void importCancelledChangesNothing();
    void failedImportCanBeRetried();
    void importOncePerRun();
    void loadQuestions();
    void generateNeedsATickInTheDialog();
    void preparingPhaseFromImportToStart();
    void secondStartOnlyGrantsAgain();
    void runningPhaseRefusals();
    void closeRefusedWhileRunning_data();
    void closeRefusedWhileRunning();
    void takenPortLeavesTheExamNotStarted();
    void endCancelledChangesNothing();
    void endWithNothingTickedStillEndsTheExam();
    void endRefusesWhenTheClassListNoLongerMatches();
    void readmissionResetsTheConfirmedExaminee_data();
    void readmissionResetsTheConfirmedExaminee();
    void readmissionFollowsTheConfirmedExamineeWhenTheRowMoves();
    void readmissionWithoutACurrentRow();

private:
    void addExaminees();
    void loadQuestions(const QString& bank);
    void startExam(const QStringList& classes = {"A班"});
};

void TestWorkflow::init() {
    fixture::resetCatalog();
    startConsole();
}

void TestWorkflow::cleanup() {
    QCOMPARE(dialogs->pendingAnswers(), 0);
    endConsole();
}

void TestWorkflow::addExaminees() {
    fixture::addClass("A班");
    fixture::addClass("B班");
    fixture::addClass("空班");
    fixture::addExaminee(1, "0001", "甲", "A班");
    fixture::addExaminee(2, "0002", "乙", "A班");
    fixture::addExaminee(3, "0003", "丙", "B班");
    ExamineeListImported = true;
}

void TestWorkflow::loadQuestions(const QString& bank) {
    dialogs->answer(bank);
    main->Btn_LoadQuestion->click();
}

// Takes the console from the examinees in the catalog to a running exam.
void TestWorkflow::startExam(const QStringList& classes) {
    fixture::chooseClasses(classes);
    loadQuestions(fixture::sampleBank());
    main->Btn_GenerateQuestion->click();
    main->Btn_Start->click();
    QCOMPARE(dialogs->texts(), QStringList({"Microsoft Access 数据库(*.MDB)|*.mdb", "试题加载完毕!",
                                            "试卷生成完毕!"}));
    QCOMPARE(main->Btn_Start->Tag, 1);
    dialogs->clear();
}

static bool listenerAnswers() {
    QTcpSocket socket;
    socket.connectToHost("127.0.0.1", 5000);
    return socket.waitForConnected(2000);
}

static QList<bool> enabledStates(Tfrm_Main* main) {
    return {main->Btn_LoadQuestion->isEnabled(), main->Btn_GenerateQuestion->isEnabled(),
            main->Btn_Start->isEnabled(),        main->Btn_Resume->isEnabled(),
            main->Btn_Fraud->isEnabled(),        main->Btn_End->isEnabled(),
            main->Btn_Exit->isEnabled()};
}
static const QList<bool> Preparing{true, true, true, false, false, false, true};
static const QList<bool> Running{false, false, true, true, true, true, true};

static QList<int> tags(Tfrm_Main* main) {
    return {main->Btn_LoadQuestion->Tag, main->Btn_GenerateQuestion->Tag, main->Btn_Start->Tag,
            main->Btn_End->Tag};
}

void TestWorkflow::refusalsRightAfterTheStart() {
    main->Btn_GenerateQuestion->click();
    main->Btn_Start->click();
    main->N2->trigger();
    QCOMPARE(dialogs->texts(),
             QStringList({"请先加载试题!", "请先生成试卷!", "请先导入考生名单!"}));
    for (const auto& call : dialogs->calls)
        QCOMPARE(call.kind, Kind::Message);
    QCOMPARE(enabledStates(main), Preparing);
    QCOMPARE(tags(main), QList<int>({0, 0, 0, 0}));
    QVERIFY(!frm_SelectClass->isVisible());
}

void TestWorkflow::importCancelledChangesNothing() {
    dialogs->answer(QVariant());
    main->N1->trigger();
    QCOMPARE(dialogs->calls.size(), 1);
    QCOMPARE(dialogs->calls[0].kind, Kind::OpenFile);
    QCOMPARE(dialogs->calls[0].text, QString("Microsoft Excel 工作簿(*.XLS)|*.xls"));
    QVERIFY(!ExamineeListImported);
    QCOMPARE(fixture::value("select count(*) from 考生信息").toInt(), 0);
}

void TestWorkflow::failedImportCanBeRetried() {
    dialogs->answer(AppPath + "no such workbook.xls");
    main->N1->trigger();
    QCOMPARE(dialogs->calls.size(), 2);
    QCOMPARE(dialogs->calls[1].kind, Kind::Error);
    QVERIFY(!dialogs->calls[1].text.isEmpty());
    QVERIFY(!ExamineeListImported);

    dialogs->clear();
    dialogs->answer(fixture::sampleWorkbook());
    main->N1->trigger();
    QCOMPARE(dialogs->texts(),
             QStringList({"Microsoft Excel 工作簿(*.XLS)|*.xls", "考生名单已导入!"}));
    QVERIFY(ExamineeListImported);
}

void TestWorkflow::importOncePerRun() {
    dialogs->answer(fixture::sampleWorkbook());
    main->N1->trigger();
    QCOMPARE(dialogs->texts(),
             QStringList({"Microsoft Excel 工作簿(*.XLS)|*.xls", "考生名单已导入!"}));
    QVERIFY(ExamineeListImported);
    QVERIFY(fixture::value("select count(*) from 考生信息").toInt() > 0);
    QVERIFY(fixture::value("select count(*) from 考试情况 where 是否已考=0").toInt() > 0);
    QCOMPARE(fixture::value("select count(*) from 考生信息 where 登录标志 <> 0").toInt(), 0);
    QCOMPARE(main->OpenDialog1.FileName, fixture::sampleWorkbook());

    dialogs->clear();
    main->N1->trigger();
    QCOMPARE(dialogs->texts(), QStringList{"考生名单已导入，无需再次导入!"});
    QCOMPARE(dialogs->calls[0].kind, Kind::Message);
}

void TestWorkflow::loadQuestions() {
    dialogs->answer(QVariant());
    main->Btn_LoadQuestion->click();
    QCOMPARE(dialogs->texts(), QStringList{"Microsoft Access 数据库(*.MDB)|*.mdb"});
    QCOMPARE(main->Btn_LoadQuestion->Tag, 0);

    dialogs->clear();
    loadQuestions(AppPath + "no such bank.mdb");
    QCOMPARE(dialogs->calls.size(), 2);
    QCOMPARE(dialogs->calls[1].kind, Kind::Error);
    QCOMPARE(main->Btn_LoadQuestion->Tag, 0);

    for (int press = 0; press < 2; ++press) {
        dialogs->clear();
        loadQuestions(fixture::sampleBank());
        QCOMPARE(dialogs->texts(),
                 QStringList({"Microsoft Access 数据库(*.MDB)|*.mdb", "试题加载完毕!"}));
        QCOMPARE(main->Btn_LoadQuestion->Tag, 1);
        QVERIFY(fixture::value("select count(*) from 选择题").toInt() > 0);
    }
    QCOMPARE(enabledStates(main), Preparing);
}

void TestWorkflow::generateNeedsATickInTheDialog() {
    addExaminees();
    fixture::exec("update 考试情况 set 是否选择 = 1");
    loadQuestions(fixture::sampleBank());
    dialogs->clear();
    main->Btn_GenerateQuestion->click();
    QCOMPARE(dialogs->texts(), QStringList{"请先选择考试班级!"});
    QCOMPARE(main->Btn_GenerateQuestion->Tag, 0);
    QCOMPARE(fixture::value("select count(*) from 试卷表").toInt(), 0);
}

void TestWorkflow::preparingPhaseFromImportToStart() {
    dialogs->answer(fixture::sampleWorkbook());
    main->N1->trigger();
    const QString chosen = fixture::value("select min(班级) from 考试情况").toString();
    const int examinees =
        fixture::value("select count(*) from 考生信息 where 班级 = ?", {chosen}).toInt();
    QVERIFY(examinees > 0);
    fixture::chooseClasses({chosen});
    QCOMPARE(SelectedClasses, QStringList{chosen});
    loadQuestions(fixture::sampleBank());
    main->Btn_GenerateQuestion->click();
    QCOMPARE(main->Btn_GenerateQuestion->Tag, 1);
    QVERIFY(
        fixture::value("select count(*) from 试卷表 p join 考生信息 e on e.准考证号 = p.准考证号 "
                       "where e.班级 = ?",
                       {chosen})
            .toInt() > 0);
    QCOMPARE(
        fixture::value("select count(*) from 试卷表 p join 考生信息 e on e.准考证号 = p.准考证号 "
                       "where e.班级 <> ?",
                       {chosen})
            .toInt(),
        0);
    main->Btn_Start->click();
    QCOMPARE(
        dialogs->texts(),
        QStringList({"Microsoft Excel 工作簿(*.XLS)|*.xls", "考生名单已导入!",
                     "Microsoft Access 数据库(*.MDB)|*.mdb", "试题加载完毕!", "试卷生成完毕!"}));
    QCOMPARE(tags(main), QList<int>({1, 1, 1, 0}));
    QCOMPARE(enabledStates(main), Running);
    QVERIFY(main->ServerSocket1->active());
    QVERIFY(listenerAnswers());

    // The grid shows the chosen class's examinees, and only them.
    QAbstractItemModel* grid = main->DBGrid1->model();
    QCOMPARE(grid->rowCount(), examinees);
    for (int row = 0; row < examinees; ++row)
        QCOMPARE(main->DBGrid1->cellText(row, 3), chosen);
}

void TestWorkflow::secondStartOnlyGrantsAgain() {
    addExaminees();
    startExam();
    const QList<bool> before = enabledStates(main);
    main->Btn_Start->click();
    QVERIFY(dialogs->calls.isEmpty());
    QCOMPARE(enabledStates(main), before);
    QCOMPARE(tags(main), QList<int>({1, 1, 1, 0}));
    QVERIFY(main->ServerSocket1->active());
}

void TestWorkflow::runningPhaseRefusals() {
    addExaminees();
    startExam();
    main->N1->trigger();
    main->Btn_GenerateQuestionClick(main->Btn_GenerateQuestion); // the button is disabled
    QCOMPARE(dialogs->texts(), QStringList({"考生名单已导入，无需再次导入!", "请先收卷!"}));
    QCOMPARE(main->Btn_GenerateQuestion->Tag, 1);

    // The class dialog still opens while the exam runs.
    dialogs->clear();
    bool shown = false;
    fixture::whenModal([&] {
        shown = frm_SelectClass->isVisible();
        frm_SelectClass->Btn_Close->click();
    });
    main->N2->trigger();
    QVERIFY(shown);
    QVERIFY(dialogs->calls.isEmpty());
}

void TestWorkflow::closeRefusedWhileRunning_data() {
    QTest::addColumn<QString>("way");
    QTest::newRow("button") << "Btn_Exit";
    QTest::newRow("menu") << "N4";
    QTest::newRow("close box") << "close box";
}

void TestWorkflow::closeRefusedWhileRunning() {
    QFETCH(QString, way);
    addExaminees();
    startExam();
    for (int attempt = 0; attempt < 2; ++attempt) {
        fixture::askToClose(way);
    }
    QCOMPARE(dialogs->texts(), QStringList({"请先收卷！", "请先收卷！"}));
    QCOMPARE(dialogs->calls[0].kind, Kind::Message);
    QVERIFY(main->isVisible());
    QVERIFY(main->ServerSocket1->active());
}

void TestWorkflow::takenPortLeavesTheExamNotStarted() {
    QTcpServer squatter;
    QVERIFY(squatter.listen(QHostAddress::Any, 5000));
    addExaminees();
    fixture::chooseClasses({"A班"});
    loadQuestions(fixture::sampleBank());
    main->Btn_GenerateQuestion->click();
    dialogs->clear();
    main->Btn_Start->click();
    QCOMPARE(dialogs->calls.size(), 1);
    QCOMPARE(dialogs->calls[0].kind, Kind::Error);
    QCOMPARE(dialogs->calls[0].text, QString::fromLocal8Bit(strerror(EADDRINUSE)));
    QCOMPARE(main->Btn_Start->Tag, 0);
    QCOMPARE(enabledStates(main), Preparing);
    QVERIFY(!main->ServerSocket1->active());

    squatter.close();
    dialogs->clear();
    main->Btn_Start->click();
    QVERIFY(dialogs->calls.isEmpty());
    QCOMPARE(main->Btn_Start->Tag, 1);
    QVERIFY(main->ServerSocket1->active());
}

void TestWorkflow::endCancelledChangesNothing() {
    addExaminees();
    startExam();
    dialogs->answer(fw::IDCANCEL);
    main->Btn_End->click();
    QCOMPARE(dialogs->calls.size(), 1);
    fixture::expectMessageBox(dialogs->calls[0], "请确认考生都已交卷。是否真的要收卷？", "提示",
                              33);
    QCOMPARE(tags(main), QList<int>({1, 1, 1, 0}));
    QCOMPARE(enabledStates(main), Running);
    QVERIFY(main->ADOTable1->active());
    QVERIFY(main->ServerSocket1->active());
    QCOMPARE(fixture::value("select count(*) from 考试情况 where 是否已考 = 1").toInt(), 0);
}

void TestWorkflow::endWithNothingTickedStillEndsTheExam() {
    addExaminees();
    startExam();
    // Ticks cleared during the exam and the dialog left with "关闭".
    fixture::whenModal([] {
        frm_SelectClass->CheckListBox1->item(0)->setCheckState(Qt::Unchecked);
        frm_SelectClass->Btn_Close->click();
    });
    main->N2->trigger();
    QVERIFY(SelectedClasses.isEmpty());

    QTcpSocket client;
    client.connectToHost("127.0.0.1", 5000);
    QVERIFY(client.waitForConnected(2000));
    dialogs->answer(fw::IDOK);
    bool listeningDuringMessage = false, tableOpenDuringMessage = true;
    dialogs->whileOpen([&] {
        dialogs->whileOpen([&] {
            listeningDuringMessage = main->ServerSocket1->active();
            tableOpenDuringMessage = main->ADOTable1->active();
        });
    });
    main->Btn_End->click();
    QCOMPARE(dialogs->texts(), QStringList({"请确认考生都已交卷。是否真的要收卷？", "收卷完成!"}));
    QVERIFY(listeningDuringMessage);
    QVERIFY(!tableOpenDuringMessage);
    QCOMPARE(fixture::value("select count(*) from 考试情况 where 是否已考 = 1").toInt(), 0);
    QCOMPARE(tags(main), QList<int>({0, 0, 0, 1}));
    QCOMPARE(enabledStates(main), Preparing);
    QVERIFY(!main->ADOTable1->active());
    QVERIFY(!main->ServerSocket1->active());
    QVERIFY(!listenerAnswers());
    QVERIFY(QTest::qWaitFor([&] { return client.state() == QAbstractSocket::UnconnectedState; }));

    // Back in the preparing phase; closing asks again.
    dialogs->clear();
    main->Btn_GenerateQuestion->click();
    main->Btn_Start->click();
    dialogs->answer(fw::mrNo);
    main->close();
    QCOMPARE(dialogs->texts(),
             QStringList({"请先加载试题!", "请先生成试卷!", "是否真的要关闭考试服务器？"}));
    QVERIFY(main->isVisible());
}

void TestWorkflow::endRefusesWhenTheClassListNoLongerMatches() {
    addExaminees();
    startExam();
    // A class appears in the catalog while the dialog is open.
    fixture::whenModal([] {
        fixture::addClass("D班");
        frm_SelectClass->Btn_OK->click();
    });
    main->N2->trigger();
    QCOMPARE(dialogs->errors().size(), 1);

    dialogs->clear();
    dialogs->answer(fw::IDOK);
    main->Btn_End->click();
    QCOMPARE(dialogs->calls.size(), 2);
    QCOMPARE(dialogs->calls[1].kind, Kind::Error);
    QCOMPARE(fixture::value("select count(*) from 考试情况 where 是否已考 = 1").toInt(), 0);
    QCOMPARE(tags(main), QList<int>({1, 1, 1, 0}));
    QVERIFY(main->ServerSocket1->active());

    // Shown again, the dialog lists the classes afresh and "收卷" goes through.
    fixture::chooseClasses({"A班"});
    dialogs->clear();
    dialogs->answer(fw::IDOK);
    main->Btn_End->click();
    QCOMPARE(dialogs->errors(), QStringList());
    QCOMPARE(fixture::rows("select 班级 from 考试情况 where 是否已考 = 1"), QStringList{"A班"});
}

void TestWorkflow::readmissionResetsTheConfirmedExaminee_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("after");
    QTest::newRow("OK") << int(fw::IDOK) << "0||";
    QTest::newRow("Cancel") << int(fw::IDCANCEL) << "1|10.0.0.2|正在考试中...";
}

void TestWorkflow::readmissionResetsTheConfirmedExaminee() {
    QFETCH(int, answer);
    QFETCH(QString, after);
    addExaminees();
    fixture::exec("update 考生信息 set 登录标志 = 1, ip = '10.0.0.' || 考生id, "
                  "考试状态 = '正在考试中...'");
    startExam();
    QVERIFY(main->ADOTable1->locate("准考证号", "0002"));
    dialogs->answer(answer);
    main->Btn_Resume->click();
    QCOMPARE(dialogs->calls.size(), 1);
    fixture::expectMessageBox(dialogs->calls[0], "是否要对当前选择的考生重新考试？\r\r0002-乙",
                              "警告", 289);
    QCOMPARE(fixture::examineeState("0002"), after);
    QCOMPARE(fixture::examineeState("0001"), QString("1|10.0.0.1|正在考试中..."));
    QCOMPARE(tags(main), QList<int>({1, 1, 1, 0}));
}

void TestWorkflow::readmissionFollowsTheConfirmedExamineeWhenTheRowMoves() {
    addExaminees();
    fixture::exec("update 考生信息 set 登录标志 = 1, ip = '10.0.0.' || 考生id, "
                  "考试状态 = '登录成功!'");
    startExam();
    QVERIFY(main->ADOTable1->locate("准考证号", "0002"));
    // A report moves the grid's row while the question is open.
    dialogs->whileOpen([this] { QVERIFY(main->ADOTable1->locate("准考证号", "0001")); });
    dialogs->answer(fw::IDOK);
    main->Btn_Resume->click();
    QCOMPARE(dialogs->texts(), QStringList{"是否要对当前选择的考生重新考试？\r\r0002-乙"});
    QCOMPARE(fixture::examineeState("0002"), QString("0||"));
    QCOMPARE(fixture::examineeState("0001"), QString("1|10.0.0.1|登录成功!"));
}

void TestWorkflow::readmissionWithoutACurrentRow() {
    addExaminees();
    fixture::exec("update 考生信息 set 登录标志 = 1");
    startExam({"空班"});
    QVERIFY(main->ADOTable1->active());
    QCOMPARE(main->ADOTable1->recordCount(), 0);
    main->Btn_Resume->click();
    QCOMPARE(dialogs->texts(), QStringList{NoCurrentExaminee});
    QCOMPARE(dialogs->calls[0].kind, Kind::Message);
    QCOMPARE(fixture::value("select count(*) from 考生信息 where 登录标志 = 1").toInt(), 3);
}

MORVEL_TEST_MAIN(TestWorkflow)
#include "tst_workflow.moc"
