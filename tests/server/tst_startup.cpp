// The console's start-up, its main window as it stands after the start, and
// the guarded close.
#include "ConsoleFixture.h"
#include "tests/support/TestMain.h"

#include "framework/core/Sockets.h"
#include "framework/data/Connection.h"
#include "framework/data/DataSource.h"
#include "framework/data/Query.h"
#include "framework/widgets/DbControls.h"
#include "server/Program.h"
#include "server/Unit_Cheat.h"
#include "server/Unit_Common.h"
#include "server/Unit_Main.h"
#include "server/Unit_SelectClass.h"

#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTemporaryDir>

using namespace server;

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void init() { fixture::resetCatalog(); }
    void cleanup() { fixture::endConsole(); }

    void refusesWhileTheServiceIsDown_data();
    void refusesWhileTheServiceIsDown();
    void endsWhenTheCatalogIsMissing();
    void startsInThePreparingPhase();
    void buttons_data();
    void buttons();
    void windowLayout();
    void menu();
    void components();
    void closeAsks_data();
    void closeAsks();
    void helpItemsDoNothing();
    void unfinishedSittingIsReadAtEveryShow_data();
    void unfinishedSittingIsReadAtEveryShow();
    void ctrlDeleteAsksFirst_data();
    void ctrlDeleteAsksFirst();
};

// An environment variable set for one scope.
class EnvironmentGuard {
public:
    EnvironmentGuard(const char* name, const QByteArray& value)
        : m_name(name), m_old(qgetenv(name)) {
        qputenv(name, value);
    }
    ~EnvironmentGuard() { qputenv(m_name, m_old); }

private:
    const char* m_name;
    QByteArray m_old;
};

void TestStartup::refusesWhileTheServiceIsDown_data() {
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<bool>("emptySocketFolder");
    QTest::newRow("no socket in the folder") << QByteArray("PGHOST") << true;
    QTest::newRow("nothing on the port") << QByteArray("PGPORT") << false;
}

void TestStartup::refusesWhileTheServiceIsDown() {
    QFETCH(QByteArray, variable);
    QFETCH(bool, emptySocketFolder);
    QTemporaryDir empty;
    EnvironmentGuard down(variable.constData(),
                          emptySocketFolder ? empty.path().toUtf8() : QByteArray("1"));
    ScriptedDialogs dialogs;

    QCOMPARE(GetSqlServerState(), 1);
    QCOMPARE(StartProgram(), std::optional<int>(0));
    QCOMPARE(dialogs.calls.size(), 1);
    QCOMPARE(dialogs.calls[0].kind, ScriptedDialogs::Kind::Message);
    QCOMPARE(dialogs.calls[0].text, QString("请先启动SQL Server!"));
    QVERIFY(!frm_Main && !frm_SelectClass && !frm_Cheat);
}

void TestStartup::endsWhenTheCatalogIsMissing() {
    fixture::catalog().close();
    QSqlDatabase postgres = QSqlDatabase::addDatabase("QPSQL", "startup-postgres");
    postgres.setHostName(qEnvironmentVariable("PGHOST"));
    postgres.setPort(qEnvironmentVariableIntValue("PGPORT"));
    postgres.setDatabaseName("postgres");
    QVERIFY(postgres.open());
    QVERIFY(QSqlQuery(postgres).exec("alter database \"Morvel\" rename to \"Morvel_away\""));
    const auto restore = qScopeGuard([&] {
        QSqlQuery(postgres).exec("alter database \"Morvel_away\" rename to \"Morvel\"");
        postgres.close();
    });

    ScriptedDialogs dialogs;
    QCOMPARE(GetSqlServerState(), 4);
    QCOMPARE(StartProgram(), std::optional<int>(1));
    QCOMPARE(dialogs.calls.size(), 1);
    QCOMPARE(dialogs.calls[0].kind, ScriptedDialogs::Kind::Error);
    QVERIFY2(dialogs.calls[0].text.contains("Morvel"), qPrintable(dialogs.calls[0].text));
    QVERIFY(!frm_Main && !frm_SelectClass && !frm_Cheat);
    for (QWidget* w : QApplication::topLevelWidgets())
        QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
}

void TestStartup::startsInThePreparingPhase() {
    ScriptedDialogs dialogs;
    Tfrm_Main* main = fixture::startConsole();
    QVERIFY(main->isVisible());
    QVERIFY(frm_SelectClass && !frm_SelectClass->isVisible());
    QVERIFY(frm_Cheat && !frm_Cheat->isVisible());
    QVERIFY(main->ADOConnection1->connected());
    QVERIFY(!main->ADOTable1->active());
    QCOMPARE(main->DBGrid1->model() ? main->DBGrid1->model()->rowCount() : 0, 0);
    QVERIFY(!main->ServerSocket1->active());
    QCOMPARE(AppPath, QCoreApplication::applicationDirPath() + "/");
    QVERIFY(!ExamineeListImported);
    QVERIFY(SelectedClasses.isEmpty());
    QVERIFY(dialogs.calls.isEmpty());
}

void TestStartup::buttons_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("left");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("load") << "Btn_LoadQuestion"
                          << "装载试题" << 52 << true;
    QTest::newRow("generate") << "Btn_GenerateQuestion"
                              << "生成试卷" << 156 << true;
    QTest::newRow("start") << "Btn_Start"
                           << "开始考试" << 260 << true;
    QTest::newRow("resume") << "Btn_Resume"
                            << "死机重考" << 388 << false;
    QTest::newRow("fraud") << "Btn_Fraud"
                           << "作弊处理" << 492 << false;
    QTest::newRow("end") << "Btn_End"
                         << "收卷" << 596 << false;
    QTest::newRow("exit") << "Btn_Exit"
                          << "退出" << 732 << true;
}

void TestStartup::buttons() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(int, left);
    QFETCH(bool, enabled);
    ScriptedDialogs dialogs;
    Tfrm_Main* main = fixture::startConsole();
    auto* button = main->findChild<TagButton*>(name);
    QVERIFY(button);
    QCOMPARE(button->parentWidget(), main->Panel1);
    QCOMPARE(button->text(), caption);
    QCOMPARE(button->geometry(), QRect(left, 12, 94, 34));
    QCOMPARE(button->isEnabled(), enabled);
    QCOMPARE(button->property("Tag").toInt(), 0);
    QVERIFY(!button->icon().isNull());
}

void TestStartup::windowLayout() {
    ScriptedDialogs dialogs;
    Tfrm_Main* main = fixture::startConsole();
    QCOMPARE(main->windowTitle(), QString("《Tavenic》考试服务器"));
    QCOMPARE(main->width(), 908);
    QCOMPARE(main->height() - main->menuBar()->height(), 553);
    QCOMPARE(main->font().family(), QString("宋体"));
    QCOMPARE(main->font().pixelSize(), 14);
    QCOMPARE(main->Panel1->height(), 64);
    QCOMPARE(main->StatusBar1->height(), 21);
    QCOMPARE(main->Panel1->geometry().bottom() + 1, main->centralWidget()->height());
    QCOMPARE(main->DBGrid1->geometry().bottom() + 1, main->Panel1->y());
    QVERIFY(!main->StatusPanel1->text().isEmpty());

    const QStringList titles{"序号", "准考证号", "姓名", "班级", "IP", "考试状态"};
    const QList<int> widths{42, 101, 94, 200, 145, 164};
    QCOMPARE(main->DBGrid1->columnCount(), 6);
    for (int c = 0; c < 6; ++c) {
        QCOMPARE(main->DBGrid1->columnTitle(c), titles[c]);
        QCOMPARE(main->DBGrid1->horizontalHeader()->sectionSize(c), widths[c]);
    }

    // Tab order: load, fraud, exit, resume, generate, start, end.
    const QList<QWidget*> order{
        main->Btn_LoadQuestion,     main->Btn_Fraud, main->Btn_Exit, main->Btn_Resume,
        main->Btn_GenerateQuestion, main->Btn_Start, main->Btn_End};
    for (int i = 0; i + 1 < order.size(); ++i)
        QCOMPARE(fixture::nextTabStop(order[i])->objectName(), order[i + 1]->objectName());
}

void TestStartup::menu() {
    ScriptedDialogs dialogs;
    Tfrm_Main* main = fixture::startConsole();
    QCOMPARE(main->F1->title(), QString("文件(&F)"));
    QCOMPARE(main->H1->title(), QString("帮助(&H)"));
    QStringList file, help;
    for (QAction* a : main->F1->actions())
        file << (a->isSeparator() ? "-" : a->objectName() + ":" + a->text());
    for (QAction* a : main->H1->actions())
        help << a->objectName() + ":" + a->text();
    QCOMPARE(file, QStringList({"N1:导入考生名单...", "N2:选择班级...", "-", "N4:退出"}));
    QCOMPARE(help, QStringList({"N5:帮助内容", "N6:关于..."}));
    QCOMPARE(main->MainMenu1->actions(),
             QList<QAction*>({main->F1->menuAction(), main->H1->menuAction()}));
}

void TestStartup::components() {
    ScriptedDialogs dialogs;
    Tfrm_Main* main = fixture::startConsole();
    QCOMPARE(main->findChild<fw::Connection*>("ADOConnection1"), main->ADOConnection1);
    QCOMPARE(main->ADOConnection1->connectionString(),
             QString("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
                     "Initial Catalog=Morvel;Data Source=(local)"));
    QVERIFY(!main->ADOConnection1->loginPrompt());
    QCOMPARE(main->ADOTable1->tableName(), QString("考生信息"));
    QCOMPARE(main->DataSource1->dataSet(), main->ADOTable1);
    QCOMPARE(main->DBGrid1->dataSource(), main->DataSource1);
    QVERIFY(main->ADOStoredProc1->procedureName().isEmpty());
    QCOMPARE(main->ADOStoredProc1->parameters().count(), 0);
    QCOMPARE(main->ADOStoredProc2->procedureName(), QString("mark;1"));
    QVERIFY(main->ADOStoredProc2->parameters().find("@ScoreDB"));
    QVERIFY(main->ADOStoredProc2->parameters().find("@ClassName"));
    QVERIFY(main->ADOQuery2->parameters().find("bj"));
    QVERIFY(main->ADOConnection2->connectionString().isEmpty());
    QVERIFY(!main->ADOConnection2->loginPrompt());
    QCOMPARE(main->ADOQuery1->connection(), main->ADOConnection2);
    QVERIFY(main->ADOQuery1->sql().isEmpty());
    QCOMPARE(main->OpenDialog1.Filter, QString("Microsoft Excel 工作簿(*.XLS)|*.xls"));
    QCOMPARE(main->ServerSocket1->port(), quint16(5000));
    QCOMPARE(frm_SelectClass->ADOQuery1->connection(), main->ADOConnection1);
    QCOMPARE(frm_Cheat->ADOQuery1->connection(), main->ADOConnection1);
}

void TestStartup::closeAsks_data() {
    QTest::addColumn<QString>("way");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("closes");
    for (const char* way : {"Btn_Exit", "N4", "close box"}) {
        QTest::addRow("%s, Yes", way) << way << int(fw::mrYes) << true;
        QTest::addRow("%s, No", way) << way << int(fw::mrNo) << false;
        QTest::addRow("%s, dialog closed", way) << way << int(fw::mrCancel) << true;
    }
}

void TestStartup::closeAsks() {
    QFETCH(QString, way);
    QFETCH(int, answer);
    QFETCH(bool, closes);
    ScriptedDialogs dialogs;
    Tfrm_Main* main = fixture::startConsole();
    dialogs.answer(answer);
    fixture::askToClose(way);
    QCOMPARE(dialogs.calls.size(), 1);
    QCOMPARE(dialogs.calls[0].kind, ScriptedDialogs::Kind::MessageDlg);
    QCOMPARE(dialogs.calls[0].text, QString("是否真的要关闭考试服务器？"));
    QCOMPARE(dialogs.calls[0].flags, unsigned(fw::MsgDlgType::Information));
    QCOMPARE(main->isVisible(), !closes);
}

void TestStartup::helpItemsDoNothing() {
    ScriptedDialogs dialogs;
    Tfrm_Main* main = fixture::startConsole();
    main->N5->trigger();
    main->N6->trigger();
    QVERIFY(dialogs.calls.isEmpty());
    QVERIFY(main->isVisible());
}

void TestStartup::unfinishedSittingIsReadAtEveryShow_data() {
    QTest::addColumn<int>("chosen");
    QTest::addColumn<int>("examined");
    QTest::addColumn<bool>("unfinished");
    QTest::newRow("chosen, not examined") << 1 << 0 << true;
    QTest::newRow("chosen, examined") << 1 << 1 << false;
    QTest::newRow("not chosen") << 0 << 0 << false;
}

void TestStartup::unfinishedSittingIsReadAtEveryShow() {
    QFETCH(int, chosen);
    QFETCH(int, examined);
    QFETCH(bool, unfinished);
    ScriptedDialogs dialogs;
    Tfrm_Main* main = fixture::startConsole();
    QVERIFY(!main->UnfinishedSittingAtShow);

    fixture::addClass("A班", chosen, examined);
    fixture::addClass("B班", 0, 0);
    const QStringList before = fixture::rows("select * from 考试情况 order by 班级");
    main->hide();
    main->show();
    QCOMPARE(main->UnfinishedSittingAtShow, unfinished);
    QCOMPARE(fixture::rows("select * from 考试情况 order by 班级"), before);
    QVERIFY(dialogs.calls.isEmpty());
}

void TestStartup::ctrlDeleteAsksFirst_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("left");
    QTest::newRow("OK") << int(fw::mrOk) << 1;
    QTest::newRow("Cancel") << int(fw::mrCancel) << 2;
}

void TestStartup::ctrlDeleteAsksFirst() {
    QFETCH(int, answer);
    QFETCH(int, left);
    fixture::addClass("A班");
    fixture::addExaminee(1, "0001", "甲", "A班");
    fixture::addExaminee(2, "0002", "乙", "A班");
    ScriptedDialogs dialogs;
    Tfrm_Main* main = fixture::startConsole();
    ExamineeListImported = true;
    fixture::chooseClasses({"A班"});
    QVERIFY(main->ADOTable1->locate("准考证号", "0002"));
    dialogs.answer(answer);
    main->DBGrid1->setFocus();
    QTest::keyClick(main->DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(dialogs.texts(), QStringList{"Delete record?"});
    QCOMPARE(fixture::value("select count(*) from 考生信息").toInt(), left);
    QCOMPARE(fixture::value("select count(*) from 考生信息 where 准考证号='0001'").toInt(), 1);
}

MORVEL_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
