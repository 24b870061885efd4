// The data-aware controls on real datasets of a scratch database: edits
// reaching their fields, rows moving and posting, the radio group, the byte
// limit, the navigator and the grid.
#include "framework/data/DataSource.h"
#include "framework/data/Query.h"
#include "framework/widgets/DbControls.h"
#include "tests/framework/DbScratch.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TestMain.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QPaintEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QToolButton>
#include <QVBoxLayout>
#include <memory>

using namespace fw;
using State = Dataset::State;

namespace {

// Types text as the keyboard does; characters beyond ASCII arrive as an input
// method's commit, the way Chinese text reaches a control.
void typeText(QWidget* w, const QString& text) {
    for (QChar c : text) {
        if (c.unicode() < 0x80) {
            QTest::keyClick(w, c.toLatin1());
            continue;
        }
        QInputMethodEvent commit;
        commit.setCommitString(QString(c));
        QApplication::sendEvent(w, &commit);
    }
}

// Column and row of a radio group's button in its layout.
QPoint cellOf(DBRadioGroup* group, int index) {
    auto* grid = static_cast<QGridLayout*>(group->layout());
    int row = 0, column = 0, rows = 0, columns = 0;
    grid->getItemPosition(grid->indexOf(group->button(index)), &row, &column, &rows, &columns);
    return QPoint(column, row);
}

// Collects what a widget paints.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(QWidget* w) { w->installEventFilter(this); }
    QRegion painted;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
};

// A click on a radio button's indicator.
void clickIndicator(QAbstractButton* b) {
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
}

} // namespace

class TestDbControls : public QObject {
    Q_OBJECT

private:
    dbtest::Scratch m_scratch{QStringLiteral("fwtest_controls")};
    std::unique_ptr<Connection> m_db;
    std::unique_ptr<Table> m_examinees; // 考生信息, three rows
    std::unique_ptr<Query> m_paper;     // 试卷表 rows of one examinee
    std::unique_ptr<DataSource> m_source, m_paperSource;
    std::unique_ptr<QWidget> m_window;
    QPushButton* m_elsewhere = nullptr; // a control to move the focus to

    // What the database holds now, read past the datasets' snapshots.
    QString stored(const QString& sql) {
        Query q;
        q.setConnection(m_db.get());
        q.setSQL(sql);
        q.open();
        return q.isEmpty() ? QStringLiteral("<none>") : q.field(0).asString();
    }
    int count(const QString& table) {
        return stored(QStringLiteral("select count(*) from ") + table).toInt();
    }

    // A shown, active window holding the control under test and a button.
    template <class W> W* place(W* control) {
        m_window = std::make_unique<QWidget>();
        auto* box = new QVBoxLayout(m_window.get());
        control->setParent(m_window.get());
        box->addWidget(control);
        m_elsewhere = new QPushButton(QStringLiteral("elsewhere"), m_window.get());
        box->addWidget(m_elsewhere);
        m_window->show();
        QApplication::setActiveWindow(m_window.get());
        if (!QTest::qWaitForWindowActive(m_window.get()))
            qWarning("window not active");
        return control;
    }

    // The control placed in the window and bound to a field of the source.
    template <class W> W* bound(W* control, DataSource* source, const QString& field) {
        place(control);
        control->setDataSource(source);
        control->setDataField(field);
        return control;
    }

    // The multiple-choice answer: items A to D stored as themselves.
    DBRadioGroup* choiceGroup() {
        auto* group = bound(new DBRadioGroup, m_paperSource.get(), QStringLiteral("答题结果"));
        group->setItems({"A", "B", "C", "D"});
        return group;
    }

    void focus(QWidget* w) {
        w->setFocus(Qt::OtherFocusReason);
        QTRY_VERIFY(w->hasFocus());
    }

private slots:
    void initTestCase() {
        m_scratch.create();
        m_db.reset(m_scratch.connect(nullptr));
        m_db->open();
        m_db->execute(QStringLiteral("create table 考生信息 (考生ID serial primary key, 准考证号 "
                                     "varchar(50), 姓名 varchar(50), 班级 varchar(50), IP "
                                     "varchar(15), 考试状态 varchar(50), 登录标志 int)"));
        m_db->execute(QStringLiteral("create table 试卷表 (QuestionID serial primary key, 准考证号 "
                                     "varchar(50), 题号 int, 试题类别 int, 答题结果 varchar(50))"));
        m_db->execute(QStringLiteral("create table 作弊处理 (ID serial primary key, 准考证号 "
                                     "varchar(50), 作弊时间 timestamp default now(), 备注 text)"));
    }

    void cleanupTestCase() {
        m_db.reset();
        m_scratch.drop();
    }

    void init() {
        m_db->execute(QStringLiteral("truncate 考生信息, 试卷表, 作弊处理 restart identity"));
        m_db->execute(QStringLiteral(
            "insert into 考生信息 (准考证号, 姓名, 班级, IP, 考试状态, 登录标志) values "
            "('0001', '张三', '计算机一班', '', '', 0), "
            "('0002', '李四', '计算机一班', '', '', 0), "
            "('0003', 'O''Neil', '计算机二班', '', '', 0)"));
        m_db->execute(
            QStringLiteral("insert into 试卷表 (准考证号, 题号, 试题类别, 答题结果) values "
                           "('0001', 1, 1, 'B'), ('0001', 2, 1, NULL), "
                           "('0001', 3, 1, 'b'), ('0001', 4, 1, 'E'), "
                           "('0001', 5, 2, '0')"));
        m_examinees = std::make_unique<Table>();
        m_examinees->setObjectName(QStringLiteral("ADOTable1"));
        m_examinees->setConnection(m_db.get());
        m_examinees->setTableName(QStringLiteral("考生信息"));
        m_paper = std::make_unique<Query>();
        m_paper->setConnection(m_db.get());
        m_paper->setSQL(QStringLiteral("select QuestionID, 准考证号, 题号, 答题结果 from 试卷表 "
                                       "where 准考证号=:zkzh order by QuestionID"));
        m_paper->paramByName(QStringLiteral("zkzh")).setValue(QStringLiteral("0001"));
        m_source = std::make_unique<DataSource>();
        m_source->setDataSet(m_examinees.get());
        m_paperSource = std::make_unique<DataSource>();
        m_paperSource->setDataSet(m_paper.get());
        m_examinees->open();
        m_paper->open();
    }

    void cleanup() {
        m_window.reset();
        m_source.reset();
        m_paperSource.reset();
        m_examinees.reset();
        m_paper.reset();
    }

    // --- edits ---------------------------------------------------------

    void editShowsTheCurrentRowAndFollowsIt() {
        auto* edit = bound(new DBEdit, m_source.get(), QStringLiteral("姓名"));
        QCOMPARE(edit->text(), QStringLiteral("张三"));
        m_examinees->next();
        QCOMPARE(edit->text(), QStringLiteral("李四"));
        m_examinees->close();
        QCOMPARE(edit->text(), QString());
    }

    void editFollowsTheSourceToAnotherDataset() {
        auto* edit = bound(new DBEdit, m_source.get(), QStringLiteral("准考证号"));
        QCOMPARE(edit->text(), QStringLiteral("0001"));
        m_paper->last();
        m_source->setDataSet(m_paper.get());
        QCOMPARE(edit->text(), QStringLiteral("0001"));
        edit->setDataField(QStringLiteral("答题结果"));
        QCOMPARE(edit->text(), QStringLiteral("0"));
    }

    void typingEditsTheRowAndFocusOutWritesTheField() {
        auto* edit = bound(new DBEdit, m_source.get(), QStringLiteral("考试状态"));
        QSignalSpy exited(edit, &DBEdit::exited);
        focus(edit);
        typeText(edit, QStringLiteral("交卷结束!"));
        QCOMPARE(m_examinees->state(), State::Edit);
        QCOMPARE(m_examinees->fieldByName(QStringLiteral("考试状态")).asString(), QString());

        focus(m_elsewhere);
        QCOMPARE(m_examinees->fieldByName(QStringLiteral("考试状态")).asString(),
                 QStringLiteral("交卷结束!"));
        QVERIFY(m_examinees->modified());
        QCOMPARE(exited.count(), 1);
        // written, not stored: that is a post's business
        QCOMPARE(stored(QStringLiteral("select 考试状态 from 考生信息 where 考生ID=1")), QString());
        m_examinees->post();
        QCOMPARE(stored(QStringLiteral("select 考试状态 from 考生信息 where 考生ID=1")),
                 QStringLiteral("交卷结束!"));
    }

    void anotherWindowTakingTheFocusIsNotLeavingTheEdit() {
        auto* edit = bound(new DBEdit, m_source.get(), QStringLiteral("考试状态"));
        QSignalSpy exited(edit, &DBEdit::exited);
        focus(edit);
        typeText(edit, QStringLiteral("x"));
        QWidget box; // as a message box opening over the window
        box.show();
        QApplication::setActiveWindow(&box);
        QVERIFY(QTest::qWaitForWindowActive(&box));
        QTRY_VERIFY(!edit->hasFocus());
        QCOMPARE(exited.count(), 0);
        QCOMPARE(m_examinees->fieldByName(QStringLiteral("考试状态")).asString(), QString());
        m_examinees->post(); // the pending edit still goes with the row
        QCOMPARE(stored(QStringLiteral("select 考试状态 from 考生信息 where 考生ID=1")),
                 QStringLiteral("x"));
    }

    void aRowMovePostsAPendingEdit() {
        auto* edit = bound(new DBEdit, m_source.get(), QStringLiteral("IP"));
        focus(edit);
        typeText(edit, QStringLiteral("10.0.0.7"));
        m_examinees->next(); // the focus never left the edit
        QCOMPARE(stored(QStringLiteral("select IP from 考生信息 where 考生ID=1")),
                 QStringLiteral("10.0.0.7"));
        QCOMPARE(m_examinees->state(), State::Browse);
        QCOMPARE(edit->text(), QString()); // the second row's IP
    }

    void aRowMoveDropsAnUnchangedEdit() {
        QSignalSpy posted(m_examinees.get(), &Dataset::afterPost);
        m_examinees->edit();
        auto* edit = bound(new DBEdit, m_source.get(), QStringLiteral("姓名"));
        focus(edit);
        focus(m_elsewhere);
        m_examinees->next();
        QCOMPARE(m_examinees->state(), State::Browse);
        QCOMPARE(posted.count(), 0);
        QCOMPARE(edit->text(), QStringLiteral("李四"));
    }

    void cancelDropsWhatWasTyped() {
        auto* edit = bound(new DBEdit, m_source.get(), QStringLiteral("姓名"));
        focus(edit);
        typeText(edit, QStringLiteral("X"));
        m_examinees->cancel();
        QCOMPARE(edit->text(), QStringLiteral("张三"));
        focus(m_elsewhere);
        QCOMPARE(m_examinees->state(), State::Browse);
        QCOMPARE(m_examinees->fieldByName(QStringLiteral("姓名")).asString(),
                 QStringLiteral("张三"));
    }

    void anotherFieldWrittenKeepsThePendingEdit() {
        auto* edit = bound(new DBEdit, m_source.get(), QStringLiteral("姓名"));
        focus(edit);
        typeText(edit, QStringLiteral("X"));
        m_examinees->fieldByName(QStringLiteral("IP")).setAsString(QStringLiteral("1.2.3.4"));
        QCOMPARE(edit->text(), QStringLiteral("张三X"));
        m_examinees->post();
        QCOMPARE(stored(QStringLiteral("select 姓名 || IP from 考生信息 where 考生ID=1")),
                 QStringLiteral("张三X1.2.3.4"));
    }

    void inputWithoutARowIsRefused() {
        m_paper->paramByName(QStringLiteral("zkzh")).setValue(QStringLiteral("none"));
        m_paper->close();
        m_paper->open();
        QVERIFY(m_paper->isEmpty());
        auto* edit = bound(new DBEdit, m_paperSource.get(), QStringLiteral("答题结果"));
        auto* group = new DBRadioGroup(m_window.get());
        group->setItems({"A", "B"});
        group->setDataSource(m_paperSource.get());
        group->setDataField(QStringLiteral("答题结果"));
        group->show();
        focus(edit);
        typeText(edit, QStringLiteral("abc"));
        QCOMPARE(edit->text(), QString());
        clickIndicator(group->button(1));
        QCOMPARE(group->itemIndex(), -1);
        focus(m_elsewhere);
        QCOMPARE(m_paper->state(), State::Browse);
        QCOMPARE(count(QStringLiteral("试卷表")), 5);
    }

    void lengthLimit_data() {
        QTest::addColumn<bool>("inBytes");
        QTest::addColumn<int>("maxLength");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        const QString han = QStringLiteral("考");
        QTest::newRow("50 bytes of letters")
            << true << 50 << QString(51, QLatin1Char('a')) << QString(50, QLatin1Char('a'));
        QTest::newRow("50 bytes of Chinese") << true << 50 << han.repeated(26) << han.repeated(25);
        QTest::newRow("a Chinese character past 49 letters")
            << true << 50 << QString(49, QLatin1Char('a')) + han + "b"
            << QString(49, QLatin1Char('a')) + "b";
        QTest::newRow("8 characters") << false << 8 << han.repeated(9) << han.repeated(8);
    }

    void lengthLimit() {
        QFETCH(bool, inBytes);
        QFETCH(int, maxLength);
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        m_paper->first();
        auto* edit = bound(new DBEdit, m_paperSource.get(), QStringLiteral("答题结果"));
        edit->setMaxLength(maxLength);
        edit->setMaxLengthInGbkBytes(inBytes);
        focus(edit);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        typeText(edit, typed);
        QCOMPARE(edit->text(), kept);
        focus(m_elsewhere);
        m_paper->post();
        QCOMPARE(stored(QStringLiteral("select 答题结果 from 试卷表 where QuestionID=1")), kept);
    }

    void memoShowsAndWritesLongText() {
        m_db->execute(
            QStringLiteral("insert into 作弊处理 (准考证号, 备注) values ('0001', '夹带')"));
        Query cheat;
        cheat.setConnection(m_db.get());
        cheat.setSQL(
            QStringLiteral("select 准考证号,作弊时间,备注  from 作弊处理 where 准考证号=:zkzh"));
        cheat.paramByName(QStringLiteral("zkzh")).setValue(QStringLiteral("0001"));
        cheat.open();
        DataSource source;
        source.setDataSet(&cheat);
        auto* memo = bound(new DBMemo, &source, QStringLiteral("备注"));
        QCOMPARE(memo->toPlainText(), QStringLiteral("夹带"));

        focus(memo);
        memo->moveCursor(QTextCursor::End);
        typeText(memo, QStringLiteral("小抄"));
        QCOMPARE(cheat.state(), State::Edit);
        focus(m_elsewhere);
        QCOMPARE(cheat.fieldByName(QStringLiteral("备注")).asString(), QStringLiteral("夹带小抄"));
        cheat.post();
        QCOMPARE(stored(QStringLiteral("select 备注 from 作弊处理")), QStringLiteral("夹带小抄"));
    }

    void controlsOnAnAppendedRow() {
        Query cheat;
        cheat.setConnection(m_db.get());
        cheat.setSQL(
            QStringLiteral("select 准考证号,作弊时间,备注  from 作弊处理 where 准考证号=:zkzh"));
        cheat.paramByName(QStringLiteral("zkzh")).setValue(QStringLiteral("0002"));
        cheat.open();
        QVERIFY(cheat.isEmpty());
        DataSource source;
        source.setDataSet(&cheat);
        auto* memo = bound(new DBMemo, &source, QStringLiteral("备注"));
        auto* number = new DBText(m_window.get());
        number->setDataSource(&source);
        number->setDataField(QStringLiteral("准考证号"));
        auto* time = new DBText(m_window.get());
        time->setDataSource(&source);
        time->setDataField(QStringLiteral("作弊时间"));

        cheat.append();
        cheat.fieldByName(QStringLiteral("准考证号")).setAsString(QStringLiteral("0002"));
        QCOMPARE(number->text(), QStringLiteral("0002"));
        QCOMPARE(time->text(), QString());
        focus(memo);
        typeText(memo, QStringLiteral("传纸条"));
        focus(m_elsewhere);
        QCOMPARE(cheat.state(), State::Insert);
        cheat.post();
        QCOMPARE(stored(QStringLiteral("select 准考证号 || 备注 from 作弊处理")),
                 QStringLiteral("0002传纸条"));
        // the time the database gave the new row, shown as date and time
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                     .match(time->text())
                     .hasMatch(),
                 qPrintable(time->text()));
    }

    void readOnlyMemoLeavesTheRowAlone() {
        auto* memo = bound(new DBMemo, m_source.get(), QStringLiteral("姓名"));
        memo->setReadOnly(true);
        focus(memo);
        typeText(memo, QStringLiteral("typed"));
        QCOMPARE(memo->toPlainText(), QStringLiteral("张三"));
        QCOMPARE(m_examinees->state(), State::Browse);
    }

    void textShowsTheFieldAndItsChanges() {
        auto* text = bound(new DBText, m_source.get(), QStringLiteral("姓名"));
        QCOMPARE(text->text(), QStringLiteral("张三"));
        m_examinees->last();
        QCOMPARE(text->text(), QStringLiteral("O'Neil"));
        m_examinees->edit();
        m_examinees->fieldByName(QStringLiteral("姓名")).setAsString(QStringLiteral("<b>x</b>"));
        QCOMPARE(text->text(), QStringLiteral("<b>x</b>"));
        QCOMPARE(text->textFormat(), Qt::PlainText);
    }

    void controlsShowWhatTheFieldGives_data() {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QString>("shown");
        QTest::newRow("true") << "true"
                              << "True";
        QTest::newRow("false") << "false"
                               << "False";
        QTest::newRow("float") << "0.1::float8"
                               << "0.1";
        QTest::newRow("timestamp") << "timestamp '2026-07-01 08:30:05.25'"
                                   << "2026-07-01 08:30:05";
        QTest::newRow("date") << "date '2026-07-01'"
                              << "2026-07-01";
        QTest::newRow("null") << "null::integer"
                              << "";
    }

    void controlsShowWhatTheFieldGives() {
        QFETCH(QString, expression);
        QFETCH(QString, shown);
        Query q;
        q.setConnection(m_db.get());
        q.setSQL(QStringLiteral("select %1 as v").arg(expression));
        q.open();
        DataSource source;
        source.setDataSet(&q);
        auto* text = bound(new DBText, &source, QStringLiteral("v"));
        auto* grid = new DBGrid(m_window.get());
        grid->setDataSource(&source);
        grid->addColumn(QStringLiteral("v"), QString(), 80);
        QCOMPARE(q.fieldByName(QStringLiteral("v")).asString(), shown);
        QCOMPARE(text->text(), shown);
        QCOMPARE(grid->cellText(0, 0), shown);
    }

    // --- radio group -----------------------------------------------------

    void radioGroupShowsOnlyAnExactMatch_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("selected");
        QTest::newRow("B") << 1 << 1;
        QTest::newRow("unanswered") << 2 << -1;
        QTest::newRow("lower case b") << 3 << -1;
        QTest::newRow("no such item") << 4 << -1;
    }

    void radioGroupShowsOnlyAnExactMatch() {
        QFETCH(int, row);
        QFETCH(int, selected);
        auto* group = choiceGroup();
        m_paper->setRecNo(row);
        QCOMPARE(group->itemIndex(), selected);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(group->button(i)->isChecked(), i == selected);
    }

    void radioGroupClickWritesTheValue() {
        auto* group = choiceGroup();
        m_paper->setRecNo(2);
        clickIndicator(group->button(2));
        QCOMPARE(group->itemIndex(), 2);
        QCOMPARE(m_paper->state(), State::Edit);
        QCOMPARE(m_paper->fieldByName(QStringLiteral("答题结果")).asString(), QStringLiteral("C"));
        m_paper->next(); // moving on stores the answer
        QCOMPARE(stored(QStringLiteral("select 答题结果 from 试卷表 where QuestionID=2")),
                 QStringLiteral("C"));
        QCOMPARE(group->itemIndex(), -1); // row 3 holds "b"
    }

    void radioGroupStoresItsOwnValues() {
        m_paper->last(); // 答题结果 '0'
        auto* group = bound(new DBRadioGroup, m_paperSource.get(), QStringLiteral("答题结果"));
        group->setItems({"是", "否"}, {"1", "0"}, 2);
        QCOMPARE(group->itemIndex(), 1);
        QCOMPARE(cellOf(group, 0), QPoint(0, 0)); // two columns, one row
        QCOMPARE(cellOf(group, 1), QPoint(1, 0));
        group->setItemIndex(0);
        QCOMPARE(m_paper->fieldByName(QStringLiteral("答题结果")).asString(), QStringLiteral("1"));
        m_paper->post();
        QCOMPARE(stored(QStringLiteral("select 答题结果 from 试卷表 where QuestionID=5")),
                 QStringLiteral("1"));
    }

    void radioGroupFillsColumnByColumn() {
        auto* group = choiceGroup();
        group->setItems({"1", "2", "3", "4", "5"}, {}, 2);
        QCOMPARE(cellOf(group, 2), QPoint(0, 2));
        QCOMPARE(cellOf(group, 3), QPoint(1, 0));
        QCOMPARE(cellOf(group, 4), QPoint(1, 1));
        QVERIFY(!group->button(5));
    }

    void radioGroupExitsWhenTheFocusLeavesIt() {
        auto* group = choiceGroup();
        QSignalSpy exited(group, &DBRadioGroup::exited);
        focus(group->button(0));
        focus(group->button(3)); // within the group
        QCOMPARE(exited.count(), 0);
        focus(m_elsewhere);
        QCOMPARE(exited.count(), 1);
    }

    // --- navigator -------------------------------------------------------

    void navigatorFollowsTheDataset() {
        auto* nav = place(new DBNavigator);
        auto states = [nav] {
            QString s;
            for (int b = 0; b < DBNavigator::ButtonCount; ++b)
                s += nav->button(DBNavigator::Button(b))->isEnabled() ? QLatin1Char('1')
                                                                      : QLatin1Char('0');
            return s;
        };
        QCOMPARE(states(), QStringLiteral("000000")); // not bound
        nav->setDataSource(m_source.get());
        QCOMPARE(states(), QStringLiteral("001100")); // first row of three
        nav->click(DBNavigator::Next);
        QCOMPARE(m_examinees->recNo(), 2);
        QCOMPARE(states(), QStringLiteral("111100"));
        nav->click(DBNavigator::Last);
        QCOMPARE(states(), QStringLiteral("110000"));
        m_examinees->edit();
        QCOMPARE(states(), QStringLiteral("110011"));
        nav->click(DBNavigator::Cancel);
        QCOMPARE(m_examinees->state(), State::Browse);
        QCOMPARE(states(), QStringLiteral("110000"));
        nav->click(DBNavigator::First);
        QCOMPARE(m_examinees->recNo(), 1);

        m_examinees->setFilter(QStringLiteral("班级='计算机二班'"));
        m_examinees->setFiltered(true);
        QCOMPARE(states(), QStringLiteral("000000")); // one row: nowhere to move

        nav->setDataSource(m_paperSource.get()); // rebound to five rows
        m_paper->setRecNo(3);
        QCOMPARE(states(), QStringLiteral("111100"));
        m_examinees->next(); // the old source no longer drives it
        QCOMPARE(states(), QStringLiteral("111100"));
        m_paper->close();
        QCOMPARE(states(), QStringLiteral("000000"));
    }

    void navigatorPostAndCancelReachTheDatabase() {
        auto* group = choiceGroup();
        auto* nav = new DBNavigator(m_window.get());
        nav->setDataSource(m_paperSource.get());

        group->setItemIndex(3);
        QTest::mouseClick(nav->button(DBNavigator::Post), Qt::LeftButton);
        QCOMPARE(stored(QStringLiteral("select 答题结果 from 试卷表 where QuestionID=1")),
                 QStringLiteral("D"));

        nav->click(DBNavigator::Next);
        group->setItemIndex(0);
        nav->click(DBNavigator::Cancel);
        QCOMPARE(group->itemIndex(), -1);
        nav->click(DBNavigator::Next);
        QCOMPARE(stored(QStringLiteral("select coalesce(答题结果, 'null') from 试卷表 where "
                                       "QuestionID=2")),
                 QStringLiteral("null"));

        group->setItemIndex(0); // row 3, then next: posted by the move
        nav->click(DBNavigator::Next);
        QCOMPARE(stored(QStringLiteral("select 答题结果 from 试卷表 where QuestionID=3")),
                 QStringLiteral("A"));
    }

    void navigatorPostRefusedShowsTheErrorAndKeepsTheEdit() {
        m_db->execute(
            QStringLiteral("alter table 试卷表 add constraint answer check (答题结果 <> 'X')"));
        ScriptedDialogs boxes;
        auto* edit = bound(new DBEdit, m_paperSource.get(), QStringLiteral("答题结果"));
        auto* nav = new DBNavigator(m_window.get());
        nav->setDataSource(m_paperSource.get());
        focus(edit);
        edit->selectAll();
        typeText(edit, QStringLiteral("X"));
        nav->click(DBNavigator::Post);
        m_db->execute(QStringLiteral("alter table 试卷表 drop constraint answer"));
        QCOMPARE(boxes.errors().size(), 1);
        QVERIFY2(boxes.errors().first().contains(QStringLiteral("answer")),
                 qPrintable(boxes.errors().first()));
        QCOMPARE(m_paper->state(), State::Edit);
        QCOMPARE(m_paper->fieldByName(QStringLiteral("答题结果")).asString(), QStringLiteral("X"));
        QVERIFY(nav->button(DBNavigator::Post)->isEnabled());
    }

    void navigatorHintsByKind() {
        auto* nav = place(new DBNavigator);
        nav->setHints({"第一题", "上一题", "下一题", "最后一题", "保存", "放弃"});
        QStringList tips;
        for (int b = 0; b < DBNavigator::ButtonCount; ++b)
            tips << nav->button(DBNavigator::Button(b))->toolTip();
        // the fifth and sixth entries are the insert and delete buttons' hints
        QCOMPARE(tips, (QStringList{"第一题", "上一题", "下一题", "最后一题", "Post edit",
                                    "Cancel edit"}));
        nav->setHints({"", "", "", "", "", "", "", "保存", "放弃"});
        QCOMPARE(nav->button(DBNavigator::First)->toolTip(), QStringLiteral("First record"));
        QCOMPARE(nav->button(DBNavigator::Post)->toolTip(), QStringLiteral("保存"));
        QCOMPARE(nav->button(DBNavigator::Cancel)->toolTip(), QStringLiteral("放弃"));
    }

    // --- grid ------------------------------------------------------------

    void gridShowsTheGivenColumns() {
        auto* grid = place(new DBGrid);
        grid->setDataSource(m_source.get());
        grid->addColumn(QStringLiteral("考生ID"), QStringLiteral("序号"), 42);
        grid->addColumn(QStringLiteral("准考证号"), QString(), 101);
        grid->addColumn(QStringLiteral("姓名"), QString(), 94);
        QCOMPARE(grid->columnCount(), 3);
        QCOMPARE(grid->columnTitle(0), QStringLiteral("序号"));
        QCOMPARE(grid->columnTitle(1), QStringLiteral("准考证号"));
        QCOMPARE(grid->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("姓名"));
        QCOMPARE(grid->columnWidth(0), 42);
        QCOMPARE(grid->columnWidth(1), 101);
        QCOMPARE(grid->columnWidth(2), 94);
        QCOMPARE(grid->model()->rowCount(), 3);
        QCOMPARE(grid->cellText(2, 0), QStringLiteral("3"));
        QCOMPARE(grid->cellText(2, 2), QStringLiteral("O'Neil"));
        QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(grid->selectionBehavior(), QAbstractItemView::SelectRows);

        m_examinees->setFilter(QStringLiteral("班级='计算机一班'"));
        m_examinees->setFiltered(true);
        QCOMPARE(grid->model()->rowCount(), 2);
        QCOMPARE(grid->cellText(1, 2), QStringLiteral("李四"));
        m_examinees->close();
        QCOMPARE(grid->model()->rowCount(), 0);
    }

    void gridSelectionFollowsTheDatasetBothWays() {
        auto* grid = place(new DBGrid);
        grid->setDataSource(m_source.get());
        grid->addColumn(QStringLiteral("准考证号"), QString(), 101);
        grid->addColumn(QStringLiteral("考试状态"), QString(), 164);
        QCOMPARE(grid->currentIndex().row(), 0);

        m_examinees->locate(QStringLiteral("准考证号"), QStringLiteral("0003"));
        QCOMPARE(grid->currentIndex().row(), 2);
        QCOMPARE(grid->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(grid->selectionModel()->selectedRows().first().row(), 2);

        const QRect cell = grid->visualRect(grid->model()->index(1, 1));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(m_examinees->recNo(), 2);
        QCOMPARE(grid->selectionModel()->selectedRows().first().row(), 1);

        // a value posted elsewhere on the dataset shows in its cell
        m_examinees->edit();
        m_examinees->fieldByName(QStringLiteral("考试状态"))
            .setAsString(QStringLiteral("登录成功!"));
        m_examinees->post();
        QCOMPARE(grid->cellText(1, 1), QStringLiteral("登录成功!"));
    }

    // A posted value or a move repaints only the rows concerned, once the
    // event loop turns, and announces no change of the model's cells or
    // headers (a view would measure every header again).
    void gridRepaintsOnlyTheRowsConcerned_data() {
        QTest::addColumn<bool>("moves");
        QTest::addColumn<QList<int>>("rows");
        QTest::newRow("a value posted") << false << QList<int>{1};
        QTest::newRow("the current row moves") << true << QList<int>{1, 2};
    }
    void gridRepaintsOnlyTheRowsConcerned() {
        QFETCH(bool, moves);
        QFETCH(QList<int>, rows);
        auto* grid = place(new DBGrid);
        grid->setDataSource(m_source.get());
        grid->addColumn(QStringLiteral("准考证号"), QString(), 101);
        grid->addColumn(QStringLiteral("考试状态"), QString(), 164);
        m_examinees->setRecNo(2);
        QVERIFY(QTest::qWaitForWindowExposed(grid));
        QTest::qWait(20);
        PaintRecorder recorder(grid->viewport());
        QSignalSpy cells(grid->model(), &QAbstractItemModel::dataChanged);
        QSignalSpy headers(grid->model(), &QAbstractItemModel::headerDataChanged);
        if (moves) {
            m_examinees->locate(QStringLiteral("准考证号"), QStringLiteral("0003"));
        } else {
            m_examinees->edit();
            m_examinees->fieldByName(QStringLiteral("考试状态"))
                .setAsString(QStringLiteral("登录成功!"));
            m_examinees->post();
        }
        QVERIFY(recorder.painted.isEmpty());
        QTRY_VERIFY(!recorder.painted.isEmpty());
        QTest::qWait(20);
        QRegion allowed;
        for (int row : rows)
            allowed += QRect(0, grid->rowViewportPosition(row), grid->viewport()->width(),
                             grid->rowHeight(row));
        QCOMPARE(recorder.painted.subtracted(allowed), QRegion());
        QCOMPARE(cells.count(), 0);
        QCOMPARE(headers.count(), 0);
        QCOMPARE(grid->cellText(1, 1), moves ? QString() : QStringLiteral("登录成功!"));
    }

    void gridStaysWhenTheRowCannotBeLeft() {
        m_db->execute(QStringLiteral("alter table 考生信息 add constraint ip check (IP <> 'bad')"));
        ScriptedDialogs boxes;
        auto* grid = place(new DBGrid);
        grid->setDataSource(m_source.get());
        grid->addColumn(QStringLiteral("姓名"), QString(), 94);
        m_examinees->edit();
        m_examinees->fieldByName(QStringLiteral("IP")).setAsString(QStringLiteral("bad"));
        const QRect third = grid->visualRect(grid->model()->index(2, 0));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, third.center());
        m_db->execute(QStringLiteral("alter table 考生信息 drop constraint ip"));
        QCOMPARE(boxes.errors().size(), 1);
        QCOMPARE(m_examinees->recNo(), 1);
        QTRY_COMPARE(grid->currentIndex().row(), 0);
        QCOMPARE(grid->selectionModel()->selectedRows().first().row(), 0);
    }

    void gridCtrlDelAsksAndDeletes_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("rowsLeft");
        QTest::newRow("OK") << int(mrOk) << 2;
        QTest::newRow("Cancel") << int(mrCancel) << 3;
    }

    void gridCtrlDelAsksAndDeletes() {
        QFETCH(int, answer);
        QFETCH(int, rowsLeft);
        ScriptedDialogs boxes;
        boxes.answer(answer);
        auto* grid = place(new DBGrid);
        grid->setDataSource(m_source.get());
        grid->addColumn(QStringLiteral("姓名"), QString(), 94);
        m_examinees->setRecNo(2);
        focus(grid);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(boxes.calls.size(), 1);
        QCOMPARE(boxes.calls.first().kind, ScriptedDialogs::Kind::MessageDlg);
        QCOMPARE(boxes.calls.first().text, QStringLiteral("Delete record?"));
        QCOMPARE(boxes.calls.first().flags, unsigned(MsgDlgType::Confirmation));
        QCOMPARE(count(QStringLiteral("考生信息")), rowsLeft);
        QCOMPARE(grid->model()->rowCount(), rowsLeft);
        QCOMPARE(stored(QStringLiteral("select count(*) from 考生信息 where 准考证号='0002'")),
                 QString::number(rowsLeft - 2));
    }

    void gridDelWithoutCtrlDeletesNothing() {
        ScriptedDialogs boxes;
        auto* grid = place(new DBGrid);
        grid->setDataSource(m_source.get());
        grid->addColumn(QStringLiteral("姓名"), QString(), 94);
        focus(grid);
        QTest::keyClick(grid, Qt::Key_Delete);
        QCOMPARE(boxes.calls.size(), 0);
        QCOMPARE(count(QStringLiteral("考生信息")), 3);
    }
};

MORVEL_TEST_MAIN(TestDbControls)
#include "tst_db_controls.moc"
