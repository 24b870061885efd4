// Datasets over a scratch database of the test cluster: snapshot, navigation,
// editing and posting to the right table, filter, locate and blobs.
#include "framework/core/Error.h"
#include "framework/data/Connection.h"
#include "framework/data/Query.h"
#include "framework/data/Transaction.h"
#include "tests/framework/DbScratch.h"
#include "tests/support/TestMain.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <cmath>

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

    // 操作题答卷 as the catalog holds it: keyed by the exam number.
    void keyArchives() { m_db->execute("alter table 操作题答卷 add primary key (准考证号)"); }

    void writeFile(const QString& name, const QByteArray& bytes) {
        QFile f(m_drive.path() + "/" + name);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(bytes), bytes.size());
    }
    QByteArray readFile(const QString& name) {
        QFile f(m_drive.path() + "/" + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
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

    void editingFollowsTheState() {
        auto t = table("考生信息");
        QVERIFY(!t->editing());
        t->open();
        QVERIFY(!t->editing());
        t->edit();
        QVERIFY(t->editing());
        t->cancel();
        QVERIFY(!t->editing());
        t->append();
        QVERIFY(t->editing());
        t->fieldByName("准考证号").setAsString("K009");
        t->post();
        QVERIFY(!t->editing());
        t->edit();
        t->close();
        QVERIFY(!t->editing());
    }

    // Values, their types and their nulls are those that Qt's PostgreSQL
    // driver gives for the same statement (results read in binary, or as
    // text where a column's type asks for it).
    void valuesAsTheDriverGivesThem_data() {
        QTest::addColumn<QString>("expressions");
        QTest::newRow("numbers") << "1::int2, -2::int4, -3::int8, 4::int8, 0.1::float4, "
                                    "2.25::float8, 12.50::numeric, -0.001::numeric, "
                                    "123456789.123456789::numeric, 'NaN'::float8, 4::oid";
        QTest::newRow("text") << "'张三'::text, 'y'::varchar(5), 'z'::char(3), ''::text, "
                                 "'n'::name";
        QTest::newRow("truth and bytes") << "true, false, '\\x00ff10'::bytea, ''::bytea";
        QTest::newRow("times")
            << "date '2024-02-29', time '12:34:56.789623', time '23:59:59.4996', "
               "timestamp '2024-02-03 12:34:56.789623', timestamp '1999-12-31 23:59:59.9995', "
               "timestamp '1970-01-01 00:00:00', timestamptz '2024-02-03 12:34:56.789+08', "
               "'infinity'::timestamp, date '0099-01-01'";
        QTest::newRow("nulls") << "null::int4, null::text, null::bytea, null::timestamp, "
                                  "null::numeric, null::bool, null::date";
        QTest::newRow("read as text")
            << "'{1,2}'::int[], interval '1 day', '[1]'::json, '\\x0102'::bytea, 5::int8, "
               "-5::int8, 2.5::float8, timestamp '2024-02-03 12:00:00.5', true, null::bytea";
    }
    void valuesAsTheDriverGivesThem() {
        QFETCH(QString, expressions);
        const QString sql = "select " + expressions;
        auto q = query(sql);
        q->open();
        QSqlQuery plain(m_db->database());
        QVERIFY2(plain.exec(sql) && plain.next(), qPrintable(plain.lastError().text()));
        QCOMPARE(q->fieldCount(), plain.record().count());
        for (int i = 0; i < q->fieldCount(); ++i) {
            const QVariant ours = q->field(i).value(), theirs = plain.value(i);
            const QByteArray where = QByteArray::number(i) + ": " + theirs.toString().toUtf8();
            QVERIFY2(ours.metaType() == theirs.metaType(),
                     where + " is " + ours.metaType().name() + ", not " + theirs.metaType().name());
            QVERIFY2(ours.isNull() == theirs.isNull(), where.constData());
            if (theirs.typeId() == QMetaType::Double && std::isnan(theirs.toDouble()))
                QVERIFY2(std::isnan(ours.toDouble()), where.constData());
            else
                QVERIFY2(ours == theirs, where + " read as " + ours.toString().toUtf8());
        }
    }

    // The blobs of a table keyed as the catalog's are fetched when read: an
    // archive written after the opening is the one read, unless the table
    // reads its blobs at open or has no key to fetch them by.
    void deferredBlobIsReadWhenRead_data() {
        QTest::addColumn<bool>("keyed");
        QTest::addColumn<bool>("deferred");
        QTest::addColumn<QByteArray>("read");
        QTest::newRow("deferred") << true << true << QByteArray("\x03\x04\x05");
        QTest::newRow("read at open") << true << false << QByteArray("\x01\x02");
        QTest::newRow("no key to fetch by") << false << true << QByteArray("\x01\x02");
    }
    void deferredBlobIsReadWhenRead() {
        QFETCH(bool, keyed);
        QFETCH(bool, deferred);
        QFETCH(QByteArray, read);
        if (keyed)
            keyArchives();
        other("insert into 操作题答卷 values ('K001', '\\x0102'), ('K002', null)");
        auto t = table("操作题答卷", "ADOTable2");
        t->setBlobsDeferred(deferred);
        t->open();
        other("update 操作题答卷 set 操作题答卷 = '\\x030405' where 准考证号 = 'K001'");
        other("update 操作题答卷 set 操作题答卷 = '\\x06' where 准考证号 = 'K002'");
        QVERIFY(t->locate("准考证号", "K002"));
        QVERIFY(t->fieldByName("操作题答卷").isNull()); // as it was at open
        QVERIFY(t->locate("准考证号", "K001"));
        QVERIFY(!t->fieldByName("操作题答卷").isNull());
        QCOMPARE(t->fieldByName("操作题答卷").asBytes(), read);
        // Once read, the row holds it.
        other("update 操作题答卷 set 操作题答卷 = '\\x07' where 准考证号 = 'K001'");
        t->first();
        QVERIFY(t->locate("准考证号", "K001"));
        QCOMPARE(t->fieldByName("操作题答卷").asBytes(), read);
    }

    // The exam window's archive table: opened whole with its blob deferred;
    // a hand-in locates its row, edits it or appends one, loads the packed
    // folder and posts; a later hand-in replaces the archive.
    void handInThroughADeferredTable() {
        keyArchives();
        other("insert into 操作题答卷 values ('K001', '\\x0102')"); // someone else's
        auto t = table("操作题答卷", "ADOTable2");
        t->setBlobsDeferred(true);
        t->open();
        QByteArray archive;
        for (int handIn = 0; handIn < 2; ++handIn) {
            archive = randomBytes(4 * 1024 * 1024 + handIn);
            writeFile("考生文件夹.rar", archive);
            if (t->locate("准考证号", "K002"))
                t->edit();
            else
                t->append();
            t->fieldByName("准考证号").setAsString("K002");
            t->fieldByName("操作题答卷").loadFromFile("e:\\考生文件夹.rar");
            t->post();
            QCOMPARE(other("select count(*) from 操作题答卷 where 准考证号 = 'K002'").toInt(), 1);
            QCOMPARE(
                other("select md5(操作题答卷) from 操作题答卷 where 准考证号 = 'K002'").toString(),
                QString(QCryptographicHash::hash(archive, QCryptographicHash::Md5).toHex()));
        }
        QCOMPARE(other("select encode(操作题答卷, 'hex') from 操作题答卷 where 准考证号 = 'K001'")
                     .toString(),
                 QString("0102"));
        t->close();
        t->open();
        QVERIFY(t->locate("准考证号", "K002"));
        t->fieldByName("操作题答卷").saveToFile("e:\\out.rar");
        QCOMPARE(readFile("out.rar"), archive);
    }

    void deferredBlobIsFetchedByTheKeyRead() {
        keyArchives();
        other("insert into 操作题答卷 values ('K001', '\\x0102')");
        auto t = table("操作题答卷");
        t->setBlobsDeferred(true);
        t->open();
        t->edit();
        t->fieldByName("准考证号").setAsString("K009");
        QCOMPARE(t->fieldByName("操作题答卷").asBytes(), QByteArray("\x01\x02"));
        t->post();
        QCOMPARE(other("select encode(操作题答卷, 'hex') from 操作题答卷 where 准考证号 = 'K009'")
                     .toString(),
                 QString("0102"));
    }

    // A post finds its row without comparing a blob, and writes back only
    // the blob it changed.
    void blobIsNeverComparedNorWrittenUnchanged() {
        auto q = query("select ID, subject, pic from 选择题 where ID = 11");
        q->open();
        other("update 选择题 set pic = '\\xffff' where ID = 11");
        q->edit();
        q->fieldByName("subject").setAsString("二加二等于几");
        q->post();
        QCOMPARE(other("select encode(pic, 'hex') || subject from 选择题 where ID = 11").toString(),
                 QString("ffff二加二等于几"));
        other("update 选择题 set pic = '\\x0a' where ID = 11");
        q->edit();
        q->fieldByName("pic").setValue(QByteArray("\x01"));
        q->post();
        QCOMPARE(other("select encode(pic, 'hex') from 选择题 where ID = 11").toString(),
                 QString("01"));
    }

    // A row of a join whose columns of both tables changed is written
    // whole or not at all.
    void joinPostIsOneTransaction() {
        other("alter table 试卷表 add constraint no_x check (答题结果 <> 'X')");
        auto q = query(kPaper, "K001");
        q->open();
        q->edit();
        q->fieldByName("subject").setAsString("改过的题");
        q->fieldByName("答题结果").setAsString("X");
        const QString refused = dbtest::dbErrorOf([&] { q->post(); });
        QVERIFY2(refused.contains("no_x"), qPrintable(refused));
        QCOMPARE(other("select subject from 选择题 where ID = 10").toString(), QString("一加一"));
        QCOMPARE(q->state(), Dataset::State::Edit);
        q->fieldByName("答题结果").setAsString("A");
        q->post();
        QCOMPARE(other("select subject || 答题结果 from 选择题 a join 试卷表 b on a.ID = b.题号 "
                       "where b.QuestionID = 1")
                     .toString(),
                 QString("改过的题A"));
    }

    void transactionRollsBackUnlessCommitted() {
        {
            fw::Transaction transaction(*m_db);
            m_db->execute("update 考生信息 set IP = '1'");
        }
        QCOMPARE(other("select count(*) from 考生信息 where IP = '1'").toInt(), 0);
        QVERIFY(!dbtest::dbErrorOf([&] {
                     fw::Transaction transaction(*m_db);
                     m_db->execute("update 考生信息 set IP = '2'");
                     m_db->execute("update 考生信息 set 登录标志 = 7");
                     transaction.commit();
                 }).isEmpty());
        QCOMPARE(other("select count(*) from 考生信息 where IP = '2'").toInt(), 0);
        {
            fw::Transaction transaction(*m_db);
            m_db->execute("update 考生信息 set IP = '3'");
            transaction.commit();
        }
        QCOMPARE(other("select count(*) from 考生信息 where IP = '3'").toInt(), 4);
    }

    void forwardOnlyReadsRowByRow() {
        auto q = query("select 准考证号, 姓名 from 考生信息 order by 考生ID");
        q->setCursorType(Dataset::CursorType::ForwardOnly);
        q->open();
        QCOMPARE(q->recordCount(), -1);
        QVERIFY(q->bof());
        QStringList walked;
        for (q->first(); !q->eof(); q->next())
            walked << q->fieldByName("准考证号").asString() + q->fieldByName("姓名").asString();
        QCOMPARE(walked, QStringList({"K001张三", "K002李四", "K003王五", "K004赵六"}));
        QCOMPARE(q->recNo(), 4);
        QCOMPARE(q->fieldByName("准考证号").asString(), QString("K004")); // stays on the last
        QVERIFY(q->fieldByName("姓名").readOnly());
        // The connection is free again.
        auto count = query("select count(*) from 考生信息");
        count->open();
        QCOMPARE(count->field(0).asInteger(), 4);

        auto none = query("select 准考证号 from 考生信息 where 准考证号 = :zkzh", "none");
        none->setCursorType(Dataset::CursorType::ForwardOnly);
        none->open();
        QVERIFY(none->isEmpty());
        QVERIFY(none->eof());
        QCOMPARE(none->recNo(), 0);
    }

    void forwardOnlyGoesNowhereElse_data() {
        QTest::addColumn<int>("step");
        const char* steps[] = {"prior", "first",  "last",   "setRecNo", "locate",
                               "edit",  "append", "delete", "filter"};
        for (int step = 0; step < 9; ++step)
            QTest::newRow(steps[step]) << step;
    }
    void forwardOnlyGoesNowhereElse() {
        QFETCH(int, step);
        auto q = query("select 准考证号 from 考生信息 order by 考生ID");
        q->setCursorType(Dataset::CursorType::ForwardOnly);
        q->open();
        q->next();
        const QString refused = errorOf([&] {
            switch (step) {
            case 0:
                q->prior();
                break;
            case 1:
                q->first();
                break;
            case 2:
                q->last();
                break;
            case 3:
                q->setRecNo(1);
                break;
            case 4:
                q->locate("准考证号", "K001");
                break;
            case 5:
                q->edit();
                break;
            case 6:
                q->append();
                break;
            case 7:
                q->deleteRecord();
                break;
            case 8:
                q->setFiltered(true);
                break;
            }
        });
        QCOMPARE(refused, QString("ADOQuery1: Operation is not allowed on a forward-only dataset"));
        QCOMPARE(q->fieldByName("准考证号").asString(), QString("K002"));
        q->next();
        QCOMPARE(q->fieldByName("准考证号").asString(), QString("K003"));
    }

    // While its rows are being read, the connection runs nothing else; a
    // close that comes early frees it.
    void forwardOnlyHoldsItsConnectionUntilClosed() {
        auto q = query("select 准考证号 from 考生信息 order by 考生ID");
        q->setCursorType(Dataset::CursorType::ForwardOnly);
        q->open();
        auto t = table("考生信息");
        QCOMPARE(errorOf([&] { t->open(); }),
                 QString("The connection is still reading the rows of a forward-only dataset; "
                         "close it first"));
        q->close();
        t->open();
        QCOMPARE(t->recordCount(), 4);
        q->setFiltered(true);
        QCOMPARE(errorOf([&] { q->open(); }),
                 QString("ADOQuery1: A forward-only dataset cannot be filtered"));
    }

    void forwardOnlyBlobGoesStraightToItsFile() {
        QList<QByteArray> archives;
        {
            auto t = table("操作题答卷");
            t->open();
            for (int i = 1; i <= 3; ++i) {
                archives << randomBytes(2 * 1024 * 1024 + i);
                t->append();
                t->fieldByName("准考证号").setAsString(QString("K00%1").arg(i));
                t->fieldByName("操作题答卷").setValue(archives.last());
                t->post();
            }
        }
        other("insert into 操作题答卷 values ('K004', null)");
        auto q = query("select 准考证号, 操作题答卷 from 操作题答卷 order by 准考证号");
        q->setCursorType(Dataset::CursorType::ForwardOnly);
        q->open();
        QStringList names;
        for (q->first(); !q->eof(); q->next()) {
            names << q->fieldByName("准考证号").asString();
            q->fieldByName("操作题答卷").saveToFile("e:\\" + names.last() + ".rar");
        }
        QCOMPARE(names, QStringList({"K001", "K002", "K003", "K004"}));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(readFile(names[i] + ".rar"), archives[i]);
        QCOMPARE(readFile("K004.rar"), QByteArray());
        QVERIFY(q->fieldByName("操作题答卷").isNull());
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
