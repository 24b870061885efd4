// Datasets over a scratch database of the test cluster: snapshot, navigation,
// editing and posting to the right table, filter, locate and blobs.
#include "framework/core/Error.h"
#include "framework/data/Connection.h"
#include "framework/data/Query.h"
#include "tests/framework/DbScratch.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

using dbtest::errorOf;
using fw::Dataset;
using fw::Query;
using fw::Table;

namespace {

const char* const kRowNotFound = "Row cannot be located for updating. Some values may have been "
                                 "changed since it was last read.";

const char* const kSchema[] = {
    "create sequence 考生信息_seq",
    "create table 考生信息 (考生ID float8 default nextval('考生信息_seq'), 准考证号 varchar(255) "
    "primary key, 姓名 varchar(255), "
    "班级 varchar(255), IP varchar(15), 考试状态 varchar(50), "
    "登录标志 integer check (登录标志 in (0, 1)))",
    "insert into 考生信息 values (1, 'K001', '张三', 'A班', '', '', 0), "
    "(2, 'K002', '李四', 'B班', '', '', 0), (3, 'K003', '王五', 'b''x', '', '', 0), "
    "(4, 'K004', '赵六', 'C班', '', '', 0)",
    "create table 选择题 (ID integer primary key, subject varchar(200), a varchar(50), "
    "b varchar(50), c varchar(50), d varchar(50), pic bytea)",
    "insert into 选择题 values (10, '一加一', '1', '2', '3', '4', null), "
    "(11, '二加二', '2', '4', '6', '8', '\\x0102')",
    "create table 试卷表 (QuestionID integer generated always as identity primary key, "
    "准考证号 text, 题号 integer, 试题类别 integer, 答题结果 text)",
    "insert into 试卷表 (准考证号, 题号, 试题类别, 答题结果) values ('K001', 10, 1, ''), "
    "('K001', 11, 1, ''), ('K002', 10, 1, '')",
    "create table 作弊处理 (准考证号 varchar(50), 作弊时间 timestamp default now(), 备注 text)",
    "create table 操作题答卷 (准考证号 varchar(50), 操作题答卷 bytea)",
};

const char* const kPaper =
    "select a.ID,a.subject,b.QuestionID,b.准考证号,b.题号,b.试题类别,b.答题结果 from 选择题 a "
    "inner join 试卷表 b on a.id=b.题号 where 试题类别=1 and  准考证号=:zkzh order by b.QuestionID";

const char* const kCheat = "select 准考证号,作弊时间,备注  from 作弊处理 where 准考证号=:zkzh";

QByteArray randomBytes(int n) {
    QByteArray bytes(n, '\0');
    for (int i = 0; i < n; ++i)
        bytes[i] = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

} // namespace

class TestDbDataset : public QObject {
    Q_OBJECT

private:
    dbtest::Scratch m_scratch{QStringLiteral("fwtest_dataset")};
    fw::Connection* m_db = nullptr;
    QTemporaryDir m_drive;

    // A statement on a connection of its own, as another program would run it.
    QVariant other(const QString& sql) {
        fw::Connection c;
        c.setConnectionString(m_scratch.connectionText());
        QSqlQuery q(c.database());
        if (!q.exec(sql))
            qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        return q.next() ? q.value(0) : QVariant();
    }

    std::unique_ptr<Table> table(const QString& name, const QString& object = "ADOTable1") {
        auto t = std::make_unique<Table>();
        t->setObjectName(object);
        t->setConnection(m_db);
        t->setTableName(name);
        return t;
    }

    std::unique_ptr<Query> query(const QString& sql, const QString& zkzh = QString()) {
        auto q = std::make_unique<Query>();
        q->setObjectName("ADOQuery1");
        q->setConnection(m_db);
        q->setSQL(sql);
        if (!zkzh.isNull())
            q->paramByName("zkzh").setValue(zkzh);
        return q;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_drive.isValid());
        qputenv("MORVEL_DRIVE_E", m_drive.path().toUtf8());
        m_scratch.create();
    }
    void cleanupTestCase() {
        delete m_db;
        m_db = nullptr;
        m_scratch.drop();
    }
    void init() {
        delete m_db;
        m_db = m_scratch.connect(nullptr);
        m_db->execute("set client_min_messages = warning");
        m_db->execute("drop schema public cascade");
        m_db->execute("create schema public");
        for (const char* statement : kSchema)
            m_db->execute(QString::fromUtf8(statement));
    }

    void openingOnAClosedConnectionConnects() {
        m_db->close();
        QVERIFY(!m_db->connected());
        auto t = table("考生信息");
        t->open();
        QVERIFY(m_db->connected());
        QCOMPARE(t->recordCount(), 4);
        m_db->close();
        QVERIFY(!t->active()); // closing the connection closes its datasets
    }

    void snapshotSeesOwnWritesOnly() {
        auto t = table("考生信息");
        t->open();
        other("insert into 考生信息 values (5, 'K005', '钱七', 'A班', '', '', 0)");
        QCOMPARE(t->recordCount(), 4);
        QVERIFY(!t->locate("准考证号", "K005"));
        QVERIFY(t->locate("准考证号", "K002"));
        t->edit();
        t->fieldByName("姓名").setAsString("李四四");
        t->post();
        QCOMPARE(t->fieldByName("姓名").asString(), QString("李四四"));
        QCOMPARE(other("select 姓名 from 考生信息 where 准考证号='K002'").toString(),
                 QString("李四四"));
        t->close();
        t->open();
        QCOMPARE(t->recordCount(), 5);
    }

    void navigation() {
        auto q = query("select 准考证号 from 考生信息 order by 考生ID");
        QSignalSpy scrolled(q.get(), &Dataset::afterScroll);
        q->open();
        QCOMPARE(scrolled.count(), 1);
        QCOMPARE(q->recNo(), 1);
        QVERIFY(q->bof());
        QVERIFY(!q->eof());
        QStringList walked;
        while (!q->eof()) {
            walked << q->fieldByName("准考证号").asString();
            q->next();
        }
        QCOMPARE(walked, QStringList({"K001", "K002", "K003", "K004"}));
        QCOMPARE(q->recNo(), 4); // stays on the last row
        q->prior();
        QCOMPARE(q->recNo(), 3);
        QVERIFY(!q->eof());
        q->first();
        QVERIFY(q->bof());
        QCOMPARE(q->fieldByName("准考证号").asString(), QString("K001"));
        q->last();
        QVERIFY(q->eof());
        q->setRecNo(2);
        QCOMPARE(q->fieldByName("准考证号").asString(), QString("K002"));
        QCOMPARE(q->valueAt(3, 0).toString(), QString("K003"));
        QVERIFY(!q->valueAt(5, 0).isValid());
        QCOMPARE(scrolled.count(), 1 + 4 + 1 + 1 + 1 + 1);
    }

    void emptyResult() {
        auto q = query("select 准考证号 from 考生信息 where 准考证号=:zkzh", "none");
        QSignalSpy scrolled(q.get(), &Dataset::afterScroll);
        q->open();
        QVERIFY(q->eof());
        QVERIFY(q->bof());
        QVERIFY(q->isEmpty());
        QCOMPARE(q->recNo(), 0);
        QCOMPARE(scrolled.count(), 0);
        QVERIFY(q->fieldByName("准考证号").isNull());
    }

    void fieldsByNameAndType() {
        auto q = query(kPaper, "K001");
        q->open();
        // The database folds unquoted names to lower case.
        QCOMPARE(q->fieldByName("QuestionID").fieldName(), QString("questionid"));
        QCOMPARE(q->fieldByName("ID").dataType(), fw::DataType::Integer);
        QCOMPARE(q->fieldByName("QuestionID").dataType(), fw::DataType::AutoInc);
        QVERIFY(q->fieldByName("QuestionID").readOnly());
        QCOMPARE(q->fieldByName("答题结果").dataType(), fw::DataType::String);
        QCOMPARE(q->fieldByName("subject").dataType(), fw::DataType::WideString);
        QCOMPARE(q->fieldByName("subject").size(), 200);
        auto t = table("考生信息");
        t->open();
        QCOMPARE(t->fieldByName("考生ID").dataType(), fw::DataType::Float);
        QVERIFY(t->fieldByName("考生ID").readOnly()); // numbered by the database
        QVERIFY(!t->fieldByName("姓名").readOnly());
        QCOMPARE(t->fieldByName("考生ID").asString(), QString("1"));
        QCOMPARE(t->fieldByName("考生ID").asInteger(), 1);
        QVERIFY(t->findField("nope") == nullptr);
    }

    void errorsName_data() {
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown field") << 0 << "ADOTable1: Field 'nope' not found";
        QTest::newRow("closed field") << 1
                                      << "ADOTable1: Cannot perform this operation on a "
                                         "closed dataset";
        QTest::newRow("closed locate") << 2
                                       << "ADOTable1: Cannot perform this operation on a "
                                          "closed dataset";
        QTest::newRow("set in browse") << 3 << "ADOTable1: Dataset not in edit or insert mode";
        QTest::newRow("read-only") << 4 << "ADOTable1: Field 'questionid' cannot be modified";
        QTest::newRow("not a number") << 5 << "'x1' is not a valid integer value";
    }
    void errorsName() {
        QFETCH(int, step);
        QFETCH(QString, message);
        auto t = table(step == 4 ? "试卷表" : "考生信息");
        if (step != 1 && step != 2)
            t->open();
        const QString got = errorOf([&] {
            switch (step) {
            case 0:
                t->fieldByName("nope");
                break;
            case 1:
                t->fieldByName("姓名");
                break;
            case 2:
                t->locate("准考证号", "K001");
                break;
            case 3:
                t->fieldByName("姓名").setAsString("x");
                break;
            case 4:
                t->edit();
                t->fieldByName("QuestionID").setAsInteger(99);
                break;
            case 5:
                t->edit();
                t->fieldByName("姓名").setAsString("x1");
                t->fieldByName("姓名").asInteger();
                break;
            }
        });
        QCOMPARE(got, message);
    }

    void editPostCancel() {
        auto t = table("考生信息");
        t->open();
        QSignalSpy state(t.get(), &Dataset::stateChanged);
        t->edit();
        QCOMPARE(t->state(), Dataset::State::Edit);
        QVERIFY(!t->modified());
        t->fieldByName("IP").setAsString("10.0.0.1");
        QVERIFY(t->modified());
        t->cancel();
        QCOMPARE(t->state(), Dataset::State::Browse);
        QCOMPARE(t->fieldByName("IP").asString(), QString());
        t->edit();
        t->fieldByName("IP").setAsString("10.0.0.2");
        t->fieldByName("登录标志").setAsInteger(1);
        t->post();
        QVERIFY(!t->modified());
        QCOMPARE(state.count(), 4);
        QCOMPARE(
            other("select IP || '/' || 登录标志 from 考生信息 where 准考证号='K001'").toString(),
            QString("10.0.0.2/1"));
    }

    void moveSavesModifiedRowAndDropsUnchangedEdit() {
        auto t = table("考生信息");
        t->open();
        // A bound control writes its pending edit when asked.
        QString pending = "登录成功!";
        connect(t.get(), &Dataset::updateRecordRequested, this, [&] {
            if (!pending.isEmpty() && t->state() != Dataset::State::Browse)
                t->fieldByName("考试状态").setAsString(pending);
            pending.clear();
        });
        t->edit();
        t->next();
        QCOMPARE(t->state(), Dataset::State::Browse);
        QCOMPARE(t->recNo(), 2);
        QCOMPARE(other("select 考试状态 from 考生信息 where 准考证号='K001'").toString(),
                 QString("登录成功!"));
        t->edit();
        t->next();
        QCOMPARE(t->state(), Dataset::State::Browse);
        QVERIFY(!t->modified());
    }

    void appendTakesDefaultsAndIdentity() {
        auto cheat = query(kCheat, "K003");
        cheat->open();
        QVERIFY(cheat->isEmpty());
        cheat->append();
        QCOMPARE(cheat->state(), Dataset::State::Insert);
        cheat->fieldByName("准考证号").setAsString("K003");
        QVERIFY(cheat->fieldByName("作弊时间").isNull());
        cheat->post();
        QVERIFY(!cheat->fieldByName("作弊时间").isNull());
        QCOMPARE(cheat->fieldByName("作弊时间").dataType(), fw::DataType::DateTime);
        QCOMPARE(
            other("select count(*) from 作弊处理 where 准考证号='K003' and 作弊时间 is not null")
                .toInt(),
            1);

        auto paper = table("试卷表");
        paper->open();
        paper->append();
        paper->fieldByName("准考证号").setAsString("K004");
        paper->fieldByName("题号").setAsInteger(11);
        paper->post();
        const int id = paper->fieldByName("QuestionID").asInteger();
        QCOMPARE(id, other("select max(QuestionID) from 试卷表").toInt());
        QCOMPARE(paper->recordCount(), 4);
    }

    void cancelledAppendLeavesNothing() {
        auto cheat = query(kCheat, "K003");
        cheat->open();
        cheat->append();
        cheat->fieldByName("准考证号").setAsString("K003");
        cheat->cancel();
        QCOMPARE(cheat->recordCount(), 0);
        QCOMPARE(cheat->state(), Dataset::State::Browse);
        QCOMPARE(other("select count(*) from 作弊处理").toInt(), 0);
    }

    void refusedPostKeepsTheRowInEditing() {
        auto t = table("考生信息");
        t->open();
        t->edit();
        t->fieldByName("登录标志").setAsInteger(5);
        const QString refused = dbtest::dbErrorOf([&] { t->post(); });
        QVERIFY2(refused.contains("check constraint"), qPrintable(refused));
        QCOMPARE(t->state(), Dataset::State::Edit);
        QVERIFY(t->modified());
        QCOMPARE(t->fieldByName("登录标志").asInteger(), 5);
        // A move that cannot save the row stays on it.
        QVERIFY(!dbtest::dbErrorOf([&] { t->next(); }).isEmpty());
        QCOMPARE(t->recNo(), 1);
        QCOMPARE(t->state(), Dataset::State::Edit);
        t->fieldByName("登录标志").setAsInteger(1);
        t->post();
        QCOMPARE(other("select 登录标志 from 考生信息 where 准考证号='K001'").toInt(), 1);
    }

    void refusedInsertKeepsTheNewRow() {
        auto t = table("考生信息");
        t->open();
        t->append();
        t->fieldByName("准考证号").setAsString("K002"); // taken
        t->fieldByName("姓名").setAsString("重号");
        const QString refused = dbtest::dbErrorOf([&] { t->post(); });
        QVERIFY2(refused.contains("duplicate key"), qPrintable(refused));
        QCOMPARE(t->state(), Dataset::State::Insert);
        QCOMPARE(t->fieldByName("姓名").asString(), QString("重号"));
        QCOMPARE(t->recordCount(), 5);
        t->cancel();
        QCOMPARE(t->recordCount(), 4);
        QCOMPARE(other("select count(*) from 考生信息").toInt(), 4);
    }

    void joinPostWritesEachTableByItsKey() {
        auto q = query(kPaper, "K001");
        q->open();
        QCOMPARE(q->recordCount(), 2);
        q->edit();
        q->fieldByName("答题结果").setAsString("B");
        q->next(); // posts
        QCOMPARE(other("select string_agg(QuestionID || '=' || 答题结果, ',' order by QuestionID) "
                       "from 试卷表")
                     .toString(),
                 QString("1=B,2=,3="));
        // A change of both tables' columns reaches both.
        q->edit();
        q->fieldByName("答题结果").setAsString("D");
        q->fieldByName("subject").setAsString("二乘二");
        q->post();
        QCOMPARE(other("select 答题结果 from 试卷表 where QuestionID=2").toString(), QString("D"));
        QCOMPARE(other("select subject from 选择题 where ID=11").toString(), QString("二乘二"));
        QCOMPARE(other("select count(*) from 选择题 where subject='二加二'").toInt(), 0);
    }

    void keylessPostChangesExactlyOneRow() {
        // The default time carries microseconds; the row is still found by it.
        other("insert into 作弊处理 (准考证号, 备注) values ('K001', null)");
        other("insert into 作弊处理 select * from 作弊处理");
        auto q = query(kCheat, "K001");
        q->open();
        QCOMPARE(q->recordCount(), 2);
        q->edit();
        q->fieldByName("备注").setAsString("夹带");
        q->post();
        QCOMPARE(other("select count(*) from 作弊处理 where 备注='夹带'").toInt(), 1);
        QCOMPARE(other("select count(*) from 作弊处理 where 备注 is null").toInt(), 1);
        q->edit();
        q->fieldByName("备注").setAsString("夹带纸条");
        q->post();
        QCOMPARE(other("select count(*) from 作弊处理 where 备注='夹带纸条'").toInt(), 1);
        QCOMPARE(other("select count(*) from 作弊处理").toInt(), 2);
    }

    void conflictingChangeIsRefused_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("field");
        QTest::newRow("keyed, value changed")
            << "select * from 考生信息"
            << "update 考生信息 set 姓名='别人' where 准考证号='K001'"
            << "姓名";
        QTest::newRow("keyed, row deleted") << "select * from 考生信息"
                                            << "delete from 考生信息 where 准考证号='K001'"
                                            << "IP";
        QTest::newRow("keyless, value changed") << kCheat << "update 作弊处理 set 备注='改过'"
                                                << "备注";
    }
    void conflictingChangeIsRefused() {
        QFETCH(QString, sql);
        QFETCH(QString, change);
        QFETCH(QString, field);
        other("insert into 作弊处理 (准考证号) values ('K001')");
        auto q = query(sql);
        if (q->parameters().count())
            q->paramByName("zkzh").setValue("K001");
        q->open();
        other(change);
        q->edit();
        q->fieldByName(field).setAsString("我的");
        QCOMPARE(errorOf([&] { q->post(); }), QString(kRowNotFound));
        QCOMPARE(q->state(), Dataset::State::Edit);
    }

    void deleteByKey() {
        auto t = table("考生信息");
        t->open();
        QVERIFY(t->locate("准考证号", "K002"));
        QSignalSpy changed(t.get(), &Dataset::dataChanged);
        t->deleteRecord();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(t->recordCount(), 3);
        QCOMPARE(t->fieldByName("准考证号").asString(), QString("K003"));
        QCOMPARE(
            other("select string_agg(准考证号, ',' order by 准考证号) from 考生信息").toString(),
            QString("K001,K003,K004"));
    }

    void filter_data() {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("one") << "班级='A班'" << QStringList{"K001"};
        QTest::newRow("or, doubled quote")
            << "班级='A班' or 班级='b''x'" << QStringList{"K001", "K003"};
        QTest::newRow("case and blanks")
            << "班级 = 'a班' OR 班级='B''X'" << QStringList{"K001", "K003"};
        QTest::newRow("nothing") << "班级='*'" << QStringList{};
    }
    void filter() {
        QFETCH(QString, expression);
        QFETCH(QStringList, shown);
        auto t = table("考生信息");
        t->open();
        t->setFiltered(false);
        t->setFilter(expression);
        t->setFiltered(true);
        QCOMPARE(t->recordCount(), shown.size());
        QStringList seen;
        for (t->first(); !t->eof(); t->next())
            seen << t->fieldByName("准考证号").asString();
        seen.sort();
        QCOMPARE(seen, shown);
        QVERIFY(!t->locate("准考证号", "K004")); // hidden rows can't be found
        t->setFiltered(false);
        QCOMPARE(t->recordCount(), 4);
        QVERIFY(t->locate("准考证号", "K004"));
    }

    void unreadableFilterRaises_data() {
        QTest::addColumn<QString>("expression");
        QTest::newRow("unquoted") << "班级=A班";
        QTest::newRow("open quote") << "班级='A班";
        QTest::newRow("and") << "班级='A' and 班级='B'";
        QTest::newRow("no column") << "='A'";
        QTest::newRow("trailing or") << "班级='A' or ";
    }
    void unreadableFilterRaises() {
        QFETCH(QString, expression);
        auto t = table("考生信息");
        t->open();
        t->setFilter("班级='A班'");
        t->setFiltered(true);
        QVERIFY(!errorOf([&] { t->setFilter(expression); }).isEmpty());
        QCOMPARE(t->filter(), QString("班级='A班'"));
        QCOMPARE(t->recordCount(), 1);
    }

    void filterOnUnknownColumnRaises() {
        auto t = table("考生信息");
        t->open();
        t->setFilter("年级='A'");
        QCOMPARE(errorOf([&] { t->setFiltered(true); }),
                 QString("ADOTable1: Field '年级' not found"));
    }

    void locateIsExactAndCaseSensitive() {
        auto t = table("考生信息");
        t->open();
        QSignalSpy scrolled(t.get(), &Dataset::afterScroll);
        QVERIFY(!t->locate("准考证号", "k003"));
        QVERIFY(!t->locate("准考证号", "K00"));
        QCOMPARE(t->recNo(), 1);
        QCOMPARE(scrolled.count(), 0);
        QVERIFY(t->locate("准考证号", "K003"));
        QCOMPARE(t->fieldByName("姓名").asString(), QString("王五"));
        QCOMPARE(scrolled.count(), 1);
        QVERIFY(t->locate("考生ID", 4));
        QCOMPARE(t->fieldByName("准考证号").asString(), QString("K004"));
    }

    void blobRoundTrip() {
        const QByteArray archive = randomBytes(3 * 1024 * 1024 + 17);
        {
            QFile f(m_drive.path() + "/考生文件夹.rar");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(archive);
        }
        auto t = table("操作题答卷", "ADOTable2");
        t->open();
        QVERIFY(!t->locate("准考证号", "K001"));
        t->append();
        t->fieldByName("准考证号").setAsString("K001");
        t->fieldByName("操作题答卷").loadFromFile("e:\\考生文件夹.rar");
        t->post();
        // A second hand-in replaces the archive in the same row.
        const QByteArray later = archive.left(1000);
        {
            QFile f(m_drive.path() + "/考生文件夹.rar");
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(later);
        }
        t->close();
        t->open();
        QVERIFY(t->locate("准考证号", "K001"));
        QCOMPARE(t->fieldByName("操作题答卷").asBytes(), archive);
        t->edit();
        t->fieldByName("操作题答卷").loadFromFile("e:\\考生文件夹.rar");
        t->post();
        QCOMPARE(other("select count(*) from 操作题答卷").toInt(), 1);
        QCOMPARE(other("select length(操作题答卷) from 操作题答卷").toInt(), 1000);

        auto q = query("select 准考证号, 操作题答卷 from 操作题答卷");
        q->open();
        {
            QFile f(m_drive.path() + "/out.rar");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(5000, 'x')); // longer than what replaces it
        }
        q->fieldByName("操作题答卷").saveToFile("e:\\out.rar");
        QFile out(m_drive.path() + "/out.rar");
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), later);
    }

    void nullBlobGivesEmptyFile() {
        other("insert into 操作题答卷 values ('K002', null)");
        auto t = table("操作题答卷");
        t->open();
        t->fieldByName("操作题答卷").saveToFile("e:\\empty.rar");
        QCOMPARE(QFileInfo(m_drive.path() + "/empty.rar").size(), qint64(0));
        QVERIFY(QFileInfo::exists(m_drive.path() + "/empty.rar"));
    }

    void missingFileRaisesAndKeepsTheField() {
        other("insert into 操作题答卷 values ('K002', '\\x0a0b')");
        auto t = table("操作题答卷");
        t->open();
        t->edit();
        QVERIFY(errorOf([&] {
                    t->fieldByName("操作题答卷").loadFromFile("e:\\none.rar");
                }).startsWith("Cannot open file \"e:\\none.rar\""));
        QCOMPARE(t->fieldByName("操作题答卷").asBytes(), QByteArray("\x0a\x0b"));
        QVERIFY(!t->modified());
        QVERIFY(!errorOf([&] {
                     t->fieldByName("操作题答卷").saveToFile("e:\\no\\such\\x.rar");
                 }).isEmpty());
    }

    void execSqlWithParameters() {
        auto q = query("update 考生信息 set 登录标志=1 where 班级=:bj");
        q->paramByName("bj").setDataType(fw::DataType::FixedChar);
        q->paramByName("bj").setValue("b'x");
        q->execSQL();
        QCOMPARE(
            other("select string_agg(准考证号, ',') from 考生信息 where 登录标志=1").toString(),
            QString("K003"));
        QVERIFY(errorOf([&] { q->paramByName("nope"); }) == "Parameter 'nope' not found");
        auto bad = query("update 考生信息 set 登录标志=7");
        QVERIFY(errorOf([&] { bad->execSQL(); }).contains("check constraint"));
    }

    void parametersFollowTheText() {
        Query q;
        q.setSQL("select * from 考生信息 where 准考证号= :zkzh and 班级=:bj and 班级=:BJ");
        QCOMPARE(q.parameters().count(), 2);
        q.paramByName("ZKZH").setDataType(fw::DataType::FixedChar);
        q.paramByName("zkzh").setValue(1);
        q.setSQL("select * from 考生信息 where 准考证号=:zkzh and 姓名 = 'a:b'");
        QCOMPARE(q.parameters().count(), 1);
        QCOMPARE(q.paramByName("zkzh").dataType(), fw::DataType::FixedChar);
        QCOMPARE(q.paramByName("zkzh").value(), QVariant(1));
        // A number declared as text is bound as text.
        other("update 考生信息 set 准考证号='1' where 准考证号='K001'");
        q.setConnection(m_db);
        q.open();
        QCOMPARE(q.recordCount(), 0);
        q.close();
        q.setSQL("select * from 考生信息 where 准考证号=:zkzh");
        q.open();
        QCOMPARE(q.fieldByName("姓名").asString(), QString("张三"));
    }
};

MORVEL_TEST_MAIN(TestDbDataset)
#include "tst_db_dataset.moc"
