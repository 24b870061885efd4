// The catalog's tables as the programs read and write them.

#include "Catalog.h"

#include "../support/TestMain.h"

#include <QDateTime>

class TestSchema : public QObject {
    Q_OBJECT

    PgSession db = PgSession::owner();

private slots:
    void initTestCase() { QVERIFY2(db.connected(), qPrintable(db.connectError())); }
    void init() { resetCatalog(db); }

    // Names as the programs' unquoted SQL reaches them, with their kinds.
    void tablesHaveTheProgramsColumns_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("columns");
        QTest::newRow("考生信息")
            << "考生信息"
            << "考生id double precision, 准考证号 character varying(255), 姓名 "
               "character varying(255), 班级 character varying(255), ip text, "
               "考试状态 text, 登录标志 integer";
        QTest::newRow("考试情况") << "考试情况"
                                  << "班级 text, 是否选择 integer, 是否已考 integer";
        QTest::newRow("试卷表")
            << "试卷表"
            << "questionid integer, 准考证号 text, 题号 integer, 试题类别 integer, "
               "答题结果 text";
        QTest::newRow("选择题")
            << "选择题"
            << "id integer, subject character varying(200), a character "
               "varying(50), b character varying(50), c character varying(50), "
               "d character varying(50), answer character varying(1), pic bytea";
        QTest::newRow("判断题") << "判断题"
                                << "id integer, subject character varying(200), answer character "
                                   "varying(1), pic bytea";
        QTest::newRow("填空题") << "填空题"
                                << "id integer, subject character varying(200), answer text, pic "
                                   "bytea";
        QTest::newRow("操作题") << "操作题"
                                << "id integer, subject1 text, subject2 text, subject3 text, pic1 "
                                   "bytea, pic2 bytea, pic3 bytea, examfolder bytea";
        QTest::newRow("操作题答卷") << "操作题答卷"
                                    << "准考证号 text, 操作题答卷 bytea";
        QTest::newRow("作弊处理")
            << "作弊处理"
            << "准考证号 text, 作弊时间 timestamp(0) without time zone, 备注 text";
    }
    void tablesHaveTheProgramsColumns() {
        QFETCH(QString, table);
        QFETCH(QString, columns);
        QCOMPARE(db.value("select string_agg(attname || ' ' || format_type(atttypid, atttypmod), "
                          "', ' order by attnum) from pg_attribute where attrelid = "
                          "to_regclass($1) and attnum > 0 and not attisdropped",
                          {table})
                     .toString(),
                 columns);
    }

    void cheatingTimeIsTheInsertion() {
        db.must("insert into 作弊处理 (准考证号, 备注) values ('0001', '夹带')");
        const auto rows = db.must("select 作弊时间::text, abs(extract(epoch from "
                                  "localtimestamp - 作弊时间)) < 60 from 作弊处理");
        QCOMPARE(rows.size(), 1);
        QVERIFY(rows[0][1].toBool());
        QVERIFY(QDateTime::fromString(rows[0][0].toString(), "yyyy-MM-dd HH:mm:ss").isValid());
    }

    // Exam numbers and classes compare without regard to case, also in the
    // login's join and as keys.
    void examNumbersAndClassesIgnoreCase() {
        db.must("insert into 考试情况 (班级, 是否选择, 是否已考) values ('Class A', 1, 0)");
        db.must("insert into 考生信息 (准考证号, 姓名, 班级) values ('ab01', '甲', 'class a')");
        QCOMPARE(db.must("select a.姓名 from 考生信息 a inner join 考试情况 b on a.班级=b.班级 "
                         "where b.是否选择=1 and b.是否已考=0 and a.准考证号= $1",
                         {"AB01"})
                     .size(),
                 1);
        const auto twice = db.run("insert into 考生信息 (准考证号) values ('AB01')");
        QVERIFY(!twice.ok);
        QCOMPARE(twice.sqlstate, QString("23505"));
        db.must("insert into 操作题答卷 (准考证号) values ('AB01')");
        QCOMPARE(db.must("select a.姓名 from  考生信息 a inner join 操作题答卷 b on "
                         "a.准考证号=b.准考证号 where a.班级=$1",
                         {"CLASS A"})
                     .size(),
                 1);
    }

    void examineeDefaults() {
        db.must("insert into 考生信息 (准考证号) values ('0001'), ('0002')");
        QCOMPARE(db.must("select 考生id, 登录标志 from 考生信息 order by 考生id"),
                 (QList<QList<QVariant>>{{1.0, 0}, {2.0, 0}}));
        db.must(
            "insert into 试卷表 (准考证号, 题号, 试题类别) values ('0001', 1, 1), ('0001', 2, 1)");
        QCOMPARE(db.must("select questionid from 试卷表 order by 1"),
                 (QList<QList<QVariant>>{{1}, {2}}));
    }

    // Text columns hold as many GBK bytes as the programs read.
    void textColumnsKeepTheirGbkBytes_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("fits");
        const QString ip = "update 考生信息 set ip = $1";
        const QString state = "update 考生信息 set 考试状态 = $1";
        const QString answer = "update 试卷表 set 答题结果 = $1";
        QTest::newRow("ip 15") << ip << "255.255.255.255" << true;
        QTest::newRow("ip 16") << ip << "255.255.255.2550" << false;
        QTest::newRow("state text") << state << "正在考试中..." << true;
        QTest::newRow("state 50 bytes") << state << QString(25, QChar(0x8003)) << true;
        QTest::newRow("state 51 bytes") << state << QString(25, QChar(0x8003)) + "!" << false;
        QTest::newRow("answer 50 bytes") << answer << QString(24, QChar(0x7B54)) + "ab" << true;
        QTest::newRow("answer 52 bytes") << answer << QString(26, QChar(0x7B54)) << false;
    }
    void textColumnsKeepTheirGbkBytes() {
        QFETCH(QString, sql);
        QFETCH(QString, value);
        QFETCH(bool, fits);
        db.must("insert into 考生信息 (准考证号) values ('0001')");
        db.must("insert into 试卷表 (准考证号, 题号, 试题类别) values ('0001', 1, 3)");
        const auto out = db.run(sql, {value});
        QVERIFY2(out.ok == fits, qPrintable(out.message));
        if (!fits)
            QCOMPARE(out.sqlstate, QString("23514")); // check_violation
    }

    void theLoginExists() {
        QCOMPARE(db.must("select rolcanlogin, rolsuper, rolcreaterole, rolcreatedb from pg_roles "
                         "where rolname = 'Morvel'"),
                 (QList<QList<QVariant>>{{true, false, false, false}}));
    }
};

MORVEL_TEST_MAIN(TestSchema)
#include "tst_schema.moc"
