// The cheating-record dialog: one record per exam number, opened or started
// for the grid's current examinee, stored by "确定", dropped by "取消".
#include "ConsoleFixture.h"
#include "tests/support/TestMain.h"

#include "framework/data/Query.h"
#include "framework/widgets/DbControls.h"
#include "server/Unit_Cheat.h"
#include "server/Unit_Common.h"
#include "server/Unit_Main.h"

#include <QLabel>
#include <QPushButton>

using namespace server;
using State = fw::Dataset::State;

// Typing into a control, Chinese text included.
static void type(QWidget* control, const QString& text) {
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, control, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

class TestCheat : public fixture::ConsoleSuite {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void layout();
    void firstCaseStoresTheExamNumber_data();
    void firstCaseStoresTheExamNumber();
    void sameExamineeAgainOpensTheRecord();
    void unchangedRecordIsNotWritten();
    void cancelDropsTheChange_data();
    void cancelDropsTheChange();
    void closeBoxStoresNothing();
    void noCurrentExamineeOpensNoRecord();
    void fromTheButtonWhileTheExamRuns();

private:
    void show(const QString& examNo);
    QStringList records() const;

    Tfrm_Cheat* dialog = nullptr;
};

void TestCheat::init() {
    fixture::resetCatalog();
    fixture::addClass("A班");
    fixture::addExaminee(1, "0001", "张三", "A班");
    fixture::addExaminee(2, "0002", "李四", "A班");
    startConsole();
    dialog = frm_Cheat;
    ExamineeListImported = true;
    fixture::chooseClasses({"A班"});
}

void TestCheat::cleanup() {
    QCOMPARE(dialogs->calls.size(), 0);
    endConsole();
}

void TestCheat::show(const QString& examNo) {
    QVERIFY(main->ADOTable1->locate("准考证号", examNo));
    dialog->show();
}

// 准考证号|备注 of every record, and whether it has a time.
QStringList TestCheat::records() const {
    return fixture::rows("select 准考证号, coalesce(备注, '(null)'), 作弊时间 is not null "
                         "from 作弊处理 order by 准考证号");
}

void TestCheat::layout() {
    QCOMPARE(dialog->windowTitle(), QString("作弊处理"));
    QCOMPARE(dialog->size(), QSize(393, 268));
    QCOMPARE(dialog->Label1->text(), QString("准考证号："));
    QCOMPARE(dialog->Label1->geometry(), QRect(16, 16, 80, 16));
    QCOMPARE(dialog->Label1->font().pixelSize(), 16);
    QCOMPARE(dialog->Label2->text(), QString("姓名："));
    QCOMPARE(dialog->Label2->font().pixelSize(), 16);
    QCOMPARE(dialog->Label3->text(), QString("作弊时间："));
    QCOMPARE(dialog->Label5->text(), QString("备注"));
    // The exam number's box is 65 wide, or wide enough for 8 digits in the
    // font that stands in for 宋体, and never reaches the name's label.
    const QRect number = dialog->DBText1->geometry();
    QCOMPARE(number.topLeft(), QPoint(96, 16));
    QCOMPARE(number.height(), 17);
    QVERIFY(number.width() >= 65);
    QVERIFY(number.width() >= dialog->DBText1->fontMetrics().horizontalAdvance("20230002"));
    QVERIFY(number.right() < dialog->Label2->geometry().left());
    QCOMPARE(dialog->DBText2->geometry(), QRect(96, 40, 193, 17));
    QCOMPARE(dialog->DBMemo1->geometry(), QRect(16, 88, 361, 121));
    QCOMPARE(dialog->Button1->text(), QString("确定"));
    QCOMPARE(dialog->Button1->geometry(), QRect(120, 224, 81, 29));
    QCOMPARE(dialog->Button2->text(), QString("取消"));
    QCOMPARE(dialog->Button2->geometry(), QRect(208, 224, 81, 29));
    QCOMPARE(fixture::nextTabStop(dialog->Button1), dialog->Button2);
    QCOMPARE(fixture::nextTabStop(dialog->Button2), dialog->DBMemo1);
    QCOMPARE(fixture::nextTabStop(dialog->DBMemo1), dialog->Button1);
    QCOMPARE(dialog->Label4->pos(), QPoint(248, 16));
    QCOMPARE(dialog->ADOQuery1->sql(),
             QString("select 准考证号,作弊时间,备注  from 作弊处理 where 准考证号=:zkzh"));
    show("0001");
    QCOMPARE(dialog->focusWidget(), dialog->Button1);
    dialog->Button2->click();
}

void TestCheat::firstCaseStoresTheExamNumber_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("remark");
    QTest::newRow("without a remark") << ""
                                      << "(null)";
    QTest::newRow("with a remark") << "传纸条"
                                   << "传纸条";
}

void TestCheat::firstCaseStoresTheExamNumber() {
    QFETCH(QString, typed);
    QFETCH(QString, remark);
    show("0002");
    QCOMPARE(dialog->DBText1->text(), QString("0002"));
    QCOMPARE(dialog->Label4->text(), QString("李四"));
    QCOMPARE(dialog->DBText2->text(), QString());
    QCOMPARE(dialog->DBMemo1->toPlainText(), QString());
    QCOMPARE(dialog->ADOQuery1->state(), State::Insert);
    if (!typed.isEmpty())
        type(dialog->DBMemo1, typed);
    dialog->Button1->click();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(records(), QStringList{"0002|" + remark + "|true"});
}

void TestCheat::sameExamineeAgainOpensTheRecord() {
    fixture::exec("insert into 作弊处理(准考证号, 作弊时间, 备注) "
                  "values ('0001', '2026-06-01 09:30:00', '看手机')");
    show("0001");
    QCOMPARE(dialog->ADOQuery1->state(), State::Browse);
    QCOMPARE(dialog->Label4->text(), QString("张三"));
    QVERIFY2(dialog->DBText2->text().contains("09:30"), qPrintable(dialog->DBText2->text()));
    QCOMPARE(dialog->DBMemo1->toPlainText(), QString("看手机"));
    dialog->DBMemo1->moveCursor(QTextCursor::End);
    type(dialog->DBMemo1, "，又传纸条");
    dialog->Button1->click();
    QCOMPARE(records(), QStringList{"0001|看手机，又传纸条|true"});
    QCOMPARE(fixture::value("select 作弊时间::text from 作弊处理").toString(),
             QString("2026-06-01 09:30:00"));
}

void TestCheat::unchangedRecordIsNotWritten() {
    fixture::exec("insert into 作弊处理(准考证号, 备注) values ('0001', '看手机')");
    show("0001");
    // Changed behind the dialog's back: an unchanged record is not written over it.
    fixture::exec("update 作弊处理 set 备注 = '别处改过'");
    dialog->Button1->click();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(records(), QStringList{"0001|别处改过|true"});
}

void TestCheat::cancelDropsTheChange_data() {
    QTest::addColumn<bool>("existing");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("new case") << false << QStringList();
    QTest::newRow("edited remark") << true << QStringList{"0001|看手机|true"};
}

void TestCheat::cancelDropsTheChange() {
    QFETCH(bool, existing);
    QFETCH(QStringList, after);
    if (existing)
        fixture::exec("insert into 作弊处理(准考证号, 备注) values ('0001', '看手机')");
    show("0001");
    type(dialog->DBMemo1, "改了");
    dialog->ADOQuery1->updateRecord();
    dialog->Button2->click();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(records(), after);
    QCOMPARE(dialog->ADOQuery1->state(), State::Browse);
}

void TestCheat::closeBoxStoresNothing() {
    show("0001");
    type(dialog->DBMemo1, "没存");
    dialog->close();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(records(), QStringList());
    // The next showing, for another examinee, drops the pending record.
    show("0002");
    dialog->Button1->click();
    QCOMPARE(records(), QStringList{"0002|(null)|true"});
}

void TestCheat::noCurrentExamineeOpensNoRecord() {
    main->ADOTable1->close();
    QCOMPARE(dialog->ShowModal(), int(fw::mrCancel));
    QCOMPARE(dialogs->texts(), QStringList{NoCurrentExaminee});
    QCOMPARE(dialogs->calls[0].kind, ScriptedDialogs::Kind::Message);
    QVERIFY(!dialog->isVisible());
    QVERIFY(!dialog->ADOQuery1->active());
    dialogs->clear();
    QCOMPARE(records(), QStringList());
}

void TestCheat::fromTheButtonWhileTheExamRuns() {
    dialogs->answer(fixture::sampleBank());
    main->Btn_LoadQuestion->click();
    main->Btn_GenerateQuestion->click();
    main->Btn_Start->click();
    dialogs->clear();
    QVERIFY(main->Btn_Fraud->isEnabled());
    QVERIFY(main->ADOTable1->locate("准考证号", "0001"));
    fixture::whenModal([this] {
        QVERIFY(dialog->isVisible());
        type(dialog->DBMemo1, "夹带");
        dialog->Button1->click();
    });
    main->Btn_Fraud->click();
    QCOMPARE(records(), QStringList{"0001|夹带|true"});
}

MORVEL_TEST_MAIN(TestCheat)
#include "tst_cheat.moc"
