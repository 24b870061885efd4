// The class-selection dialog: the list and its ticks, the stored choice, the
// grid's filter, "全选", and the refusals while an exam runs.
#include "ConsoleFixture.h"
#include "tests/support/TestMain.h"

#include "framework/data/Query.h"
#include "server/Unit_Common.h"
#include "server/Unit_Main.h"
#include "server/Unit_SelectClass.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>

using namespace server;

class TestSelectClass : public fixture::ConsoleSuite {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void layout();
    void listsTheClassesNotYetExamined();
    void selectionChanged_data();
    void selectionChanged();
    void confirmStoresTicksAndFilters_data();
    void confirmStoresTicksAndFilters();
    void emptyListFiltersForTheStar();
    void selectAllInverts();
    void closeStoresNothing();
    void runningExamSameTicksRewrites();
    void runningExamChangedTicksRefused();
    void changedClassTableIsReported_data();
    void changedClassTableIsReported();

private:
    void addClasses();
    QStringList items() const;
    QList<bool> ticks() const;
    void setTicks(const QList<bool>& ticks);
    QStringList stored() const;

    Tfrm_SelectClass* dialog = nullptr;
};

void TestSelectClass::init() {
    fixture::resetCatalog();
    startConsole();
    dialog = frm_SelectClass;
}

void TestSelectClass::cleanup() {
    QCOMPARE(dialogs->pendingAnswers(), 0);
    endConsole();
}

void TestSelectClass::addClasses() {
    fixture::addClass("A班", 1);
    fixture::addClass("O'K班", 0);
    fixture::addClass("B班", 0);
    fixture::addClass("旧班", 1, 1);
    fixture::addExaminee(1, "0001", "甲", "A班");
    fixture::addExaminee(2, "0002", "乙", "O'K班");
    fixture::addExaminee(3, "0003", "丙", "O'K班");
    fixture::addExaminee(4, "0004", "丁", "B班");
    fixture::addExaminee(5, "0005", "戊", "旧班");
}

QStringList TestSelectClass::items() const {
    QStringList out;
    for (int k = 0; k < dialog->CheckListBox1->count(); ++k)
        out << dialog->CheckListBox1->item(k)->text();
    return out;
}

QList<bool> TestSelectClass::ticks() const {
    QList<bool> out;
    for (int k = 0; k < dialog->CheckListBox1->count(); ++k)
        out << dialog->Ticked(k);
    return out;
}

void TestSelectClass::setTicks(const QList<bool>& ticks) {
    for (int k = 0; k < ticks.size(); ++k)
        dialog->CheckListBox1->item(k)->setCheckState(ticks[k] ? Qt::Checked : Qt::Unchecked);
}

// 班级=是否选择 of the classes not yet examined, in the dialog's order.
QStringList TestSelectClass::stored() const {
    return fixture::rows("select 班级, 是否选择 from 考试情况 where 是否已考=0");
}

void TestSelectClass::layout() {
    QCOMPARE(dialog->windowTitle(), QString("选择班级"));
    QCOMPARE(dialog->size(), QSize(292, 338));
    QCOMPARE(dialog->font().pixelSize(), 14);
    QCOMPARE(dialog->CheckListBox1->geometry(), QRect(16, 16, 153, 297));
    QCOMPARE(dialog->Btn_OK->geometry(), QRect(184, 16, 89, 33));
    QCOMPARE(dialog->Btn_Close->geometry(), QRect(184, 56, 89, 33));
    QCOMPARE(dialog->CheckBox1->geometry(), QRect(184, 296, 57, 17));
    QCOMPARE(dialog->Btn_OK->text(), QString("确定"));
    QCOMPARE(dialog->Btn_Close->text(), QString("关闭"));
    QCOMPARE(dialog->CheckBox1->text(), QString("全选"));
    QCOMPARE(fixture::nextTabStop(dialog->CheckListBox1), dialog->Btn_OK);
    QCOMPARE(fixture::nextTabStop(dialog->Btn_OK), dialog->Btn_Close);
    QCOMPARE(fixture::nextTabStop(dialog->Btn_Close), dialog->CheckBox1);
    QVERIFY(!dialog->ADOQuery1->active());
}

void TestSelectClass::listsTheClassesNotYetExamined() {
    addClasses();
    fixture::addClass("C班", 2);
    fixture::addClass("", 1);
    dialog->show();
    QCOMPARE(items(), QStringList({"A班", "O'K班", "B班", "C班", ""}));
    QCOMPARE(ticks(), QList<bool>({true, false, false, false, true}));
    QVERIFY(dialog->AnyClassChecked());
    QVERIFY(dialogs->calls.isEmpty());
}

void TestSelectClass::selectionChanged_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QList<bool>>("ticks");
    QTest::addColumn<bool>("changed");
    QTest::newRow("as stored") << "0" << QList<bool>{true, false, false} << false;
    QTest::newRow("one more ticked") << "0" << QList<bool>{true, true, false} << true;
    QTest::newRow("one unticked") << "0" << QList<bool>{false, false, false} << true;
    QTest::newRow("a flag of 2 counts as neither")
        << "2" << QList<bool>{true, false, false} << true;
    QTest::newRow("a null flag counts as neither")
        << "null" << QList<bool>{true, false, false} << true;
}

void TestSelectClass::selectionChanged() {
    QFETCH(QString, stored);
    QFETCH(QList<bool>, ticks);
    QFETCH(bool, changed);
    addClasses();
    fixture::exec("update 考试情况 set 是否选择 = " + stored + " where 班级 = 'B班'");
    dialog->show();
    setTicks(ticks);
    QCOMPARE(dialog->SelectionChanged(), changed);
}

void TestSelectClass::confirmStoresTicksAndFilters_data() {
    QTest::addColumn<QList<bool>>("ticks");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<int>("examinees");
    QTest::newRow("nothing ticked") << QList<bool>{false, false, false} << "班级='*'"
                                    << QStringList{"A班|0", "O'K班|0", "B班|0"} << 0;
    QTest::newRow("one class") << QList<bool>{false, false, true} << "班级='B班'"
                               << QStringList{"A班|0", "O'K班|0", "B班|1"} << 1;
    QTest::newRow("a quote in a name")
        << QList<bool>{true, true, false} << "班级='A班' or 班级='O''K班'"
        << QStringList{"A班|1", "O'K班|1", "B班|0"} << 3;
}

void TestSelectClass::confirmStoresTicksAndFilters() {
    QFETCH(QList<bool>, ticks);
    QFETCH(QString, filter);
    QFETCH(QStringList, stored);
    QFETCH(int, examinees);
    addClasses();
    dialog->show();
    setTicks(ticks);
    dialog->Btn_OK->click();
    QVERIFY(!dialog->isVisible());
    QVERIFY(dialogs->calls.isEmpty());
    QCOMPARE(this->stored(), stored);
    QCOMPARE(fixture::rows("select 班级, 是否选择 from 考试情况 where 是否已考=1"),
             QStringList{"旧班|1"});
    QVERIFY(main->ADOTable1->active());
    QVERIFY(main->ADOTable1->filtered());
    QCOMPARE(main->ADOTable1->filter(), filter);
    QCOMPARE(main->ADOTable1->recordCount(), examinees);
    QStringList ticked;
    for (int k = 0; k < ticks.size(); ++k)
        if (ticks[k])
            ticked << items()[k];
    QCOMPARE(SelectedClasses, ticked);
    QCOMPARE(dialog->AnyClassChecked(), !ticked.isEmpty());
}

void TestSelectClass::emptyListFiltersForTheStar() {
    fixture::addClass("旧班", 1, 1);
    fixture::addExaminee(1, "0001", "甲", "旧班");
    fixture::addExaminee(2, "0002", "星", "*");
    dialog->show();
    QCOMPARE(dialog->CheckListBox1->count(), 0);
    QVERIFY(!dialog->AnyClassChecked());
    dialog->Btn_OK->click();
    QCOMPARE(main->ADOTable1->filter(), QString("班级='*'"));
    QCOMPARE(main->ADOTable1->recordCount(), 1);
    QCOMPARE(main->ADOTable1->fieldByName("准考证号").asString(), QString("0002"));
    QVERIFY(SelectedClasses.isEmpty());
}

void TestSelectClass::selectAllInverts() {
    addClasses();
    dialog->show();
    setTicks({true, false, true});
    dialog->CheckBox1->setChecked(true); // the box's own tick is never read
    dialog->CheckBox1->click();
    QCOMPARE(ticks(), QList<bool>({false, true, false}));
    dialog->CheckBox1->click();
    QCOMPARE(ticks(), QList<bool>({true, false, true}));
}

void TestSelectClass::closeStoresNothing() {
    addClasses();
    const QStringList before = stored();
    dialog->show();
    setTicks({false, true, true});
    dialog->Btn_Close->click();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(stored(), before);
    QVERIFY(!main->ADOTable1->active());
    QCOMPARE(SelectedClasses, QStringList({"O'K班", "B班"}));
    QVERIFY(dialog->AnyClassChecked());

    // Unticked and closed by the close box: the ticks still count until the
    // next showing, which brings back the stored choice.
    dialog->show();
    QCOMPARE(ticks(), QList<bool>({true, false, false}));
    setTicks({false, false, false});
    dialog->close();
    QVERIFY(SelectedClasses.isEmpty());
    QVERIFY(!dialog->AnyClassChecked());
    dialog->show();
    QCOMPARE(ticks(), QList<bool>({true, false, false}));
    dialog->Btn_Close->click();
    QCOMPARE(SelectedClasses, QStringList{"A班"});
}

void TestSelectClass::runningExamSameTicksRewrites() {
    addClasses();
    main->Btn_Start->Tag = 1;
    dialog->show();
    dialog->Btn_OK->click();
    QVERIFY(dialogs->calls.isEmpty());
    QCOMPARE(stored(), QStringList({"A班|1", "O'K班|0", "B班|0"}));
    QCOMPARE(main->ADOTable1->filter(), QString("班级='A班'"));
    QCOMPARE(main->ADOTable1->recordCount(), 1);
    QCOMPARE(SelectedClasses, QStringList{"A班"});
}

void TestSelectClass::runningExamChangedTicksRefused() {
    addClasses();
    dialog->show();
    setTicks({true, true, false});
    dialog->Btn_OK->click();
    QCOMPARE(main->ADOTable1->filter(), QString("班级='A班' or 班级='O''K班'"));
    const QStringList before = stored();

    main->Btn_Start->Tag = 1;
    dialog->show();
    setTicks({false, true, true});
    dialog->Btn_OK->click();
    QCOMPARE(dialogs->texts(), QStringList{"已经开始考试，不允许选择班级!"});
    QCOMPARE(dialogs->calls[0].kind, ScriptedDialogs::Kind::Message);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(stored(), before);
    QCOMPARE(main->ADOTable1->filter(), QString("班级='A班' or 班级='O''K班'"));
    QCOMPARE(main->ADOTable1->recordCount(), 3);
    // The running exam's classes stay the ones that collection works on.
    QCOMPARE(ticks(), QList<bool>({true, true, false}));
    QCOMPARE(SelectedClasses, QStringList({"A班", "O'K班"}));
}

void TestSelectClass::changedClassTableIsReported_data() {
    QTest::addColumn<QString>("change");
    QTest::newRow("a class added") << "insert into 考试情况(班级, 是否选择, 是否已考) values "
                                      "('新班', 0, 0)";
    QTest::newRow("a class examined meanwhile")
        << "update 考试情况 set 是否已考=1 where 班级='B班'";
    QTest::newRow("a class renamed") << "update 考试情况 set 班级='C班' where 班级='B班'";
}

void TestSelectClass::changedClassTableIsReported() {
    QFETCH(QString, change);
    addClasses();
    dialog->show();
    setTicks({false, false, true});
    fixture::exec(change);
    const QStringList before = fixture::rows("select 班级, 是否选择 from 考试情况 order by 班级");
    dialog->Btn_OK->click();
    QCOMPARE(dialogs->errors().size(), 1);
    QCOMPARE(dialogs->calls.size(), 1);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(fixture::rows("select 班级, 是否选择 from 考试情况 order by 班级"), before);
    QVERIFY(!main->ADOTable1->active());
}

MORVEL_TEST_MAIN(TestSelectClass)
#include "tst_selectclass.moc"
