// ImportExamineeInfo: the examinee list from a workbook into 考生信息 and the
// classes into 考试情况.

#include "Catalog.h"

#include "../support/TestMain.h"

#include <QFile>
#include <QTemporaryDir>

class TestExaminees : public QObject {
    Q_OBJECT

    PgSession db = PgSession::owner();
    QTemporaryDir dir;

    PgSession::Outcome import(const QString& path) {
        return db.run("call importexamineeinfo(filename => $1)", {path});
    }
    QString workbook(const QString& name, const QString& rows) {
        const QString path = dir.filePath(name);
        writeWorkbook(path, rows);
        return path;
    }
    // Everything the import may change, as one text.
    QString state() {
        return db
            .value("select coalesce(string_agg(format('%s|%s|%s|%s|%s|%s|%s', 考生id, 准考证号, "
                   "姓名, 班级, ip, 考试状态, 登录标志), ';' order by 准考证号), '') || ' # ' || "
                   "(select coalesce(string_agg(format('%s|%s|%s', 班级, 是否选择, 是否已考), "
                   "';' order by 班级), '') from 考试情况) from 考生信息")
            .toString();
    }

private slots:
    void initTestCase() {
        QVERIFY2(db.connected(), qPrintable(db.connectError()));
        QVERIFY(dir.isValid());
    }
    void init() { resetCatalog(db); }

    void importsTheSampleWorkbook() {
        const auto out = import(samplePath("examinees.xls"));
        QVERIFY2(out.ok, qPrintable(out.message));

        const auto rows = db.must("select 考生id, 准考证号, 姓名, 班级, ip, 考试状态, 登录标志 "
                                  "from 考生信息 order by 考生id");
        QCOMPARE(rows.size(), 8);
        QCOMPARE(rows[0], (QList<QVariant>{1.0, "20230001", "张三", "计算机一班", "", "", 0}));
        QCOMPARE(rows[7], (QList<QVariant>{8.0, "20230008", "郑十", "会计一班", "", "", 0}));
        QCOMPARE(db.value("select count(*) from 考生信息 where 登录标志 = 0 and ip = '' and "
                          "考试状态 = ''")
                     .toLongLong(),
                 8);
        QCOMPARE(db.must("select 班级, 是否选择, 是否已考 from 考试情况 order by 班级"),
                 (QList<QList<QVariant>>{
                     {"会计一班", 0, 0}, {"计算机一班", 0, 0}, {"计算机二班", 0, 0}}));
    }

    // A second import merges by exam number: known examinees take the new
    // name and class and may log in afresh, others stay as they are; known
    // classes keep their flags.
    void reimportMergesByExamNumber() {
        QVERIFY(import(samplePath("examinees.xls")).ok);
        db.must("update 考生信息 set 登录标志 = 1, ip = '10.0.0.5', 考试状态 = '交卷结束!' "
                "where 准考证号 in ('20230001', '20230002')");
        db.must("update 考试情况 set 是否选择 = 1, 是否已考 = 1 where 班级 = '计算机一班'");

        const QString again = workbook("again.xls", "班级\t备注\t姓名\t准考证号\n"
                                                    "会计一班\t\t张三丰\t20230001\n"
                                                    "新一班\t转入\t钱一\t20230009\n"
                                                    "计算机一班\t\t王五\t20230003\n");
        const auto out = import(again);
        QVERIFY2(out.ok, qPrintable(out.message));

        QCOMPARE(db.must("select 考生id, 姓名, 班级, ip, 考试状态, 登录标志 from 考生信息 "
                         "where 准考证号 = '20230001'"),
                 (QList<QList<QVariant>>{{1.0, "张三丰", "会计一班", "", "", 0}}));
        // not in the new workbook: left alone
        QCOMPARE(db.must("select ip, 考试状态, 登录标志 from 考生信息 where 准考证号 = '20230002'"),
                 (QList<QList<QVariant>>{{"10.0.0.5", "交卷结束!", 1}}));
        QCOMPARE(db.must("select 考生id, 姓名, 班级 from 考生信息 where 准考证号 = '20230009'"),
                 (QList<QList<QVariant>>{{9.0, "钱一", "新一班"}}));
        QCOMPARE(db.value("select count(*) from 考生信息").toLongLong(), 9);
        QCOMPARE(
            db.must("select 班级, 是否选择, 是否已考 from 考试情况 order by 班级"),
            (QList<QList<QVariant>>{
                {"会计一班", 0, 0}, {"新一班", 0, 0}, {"计算机一班", 1, 1}, {"计算机二班", 0, 0}}));
        // the same workbook once more changes nothing
        const QString before = state();
        QVERIFY(import(again).ok);
        QCOMPARE(state(), before);
    }

    // The header is the first non-blank row; number cells read as their
    // integer text; blank rows are skipped; cells lose their outer blanks;
    // only the first worksheet counts.
    void readsCellsAsTheSheetShowsThem() {
        const QString path = workbook("cells.xls", "\n"
                                                   "\t 准考证号 \t姓名\t班级\n"
                                                   "\t#20230001\t 张 三 \t#2023\n"
                                                   "\n"
                                                   "\t\t\t\n"
                                                   "\tab01\t\t 计算机一班\n"
                                                   "--sheet 第二页\n"
                                                   "准考证号\t姓名\t班级\n"
                                                   "99999999\t不读\t不读\n");
        const auto out = import(path);
        QVERIFY2(out.ok, qPrintable(out.message));
        QCOMPARE(
            db.must("select 准考证号, 姓名, 班级 from 考生信息 order by 考生id"),
            (QList<QList<QVariant>>{{"20230001", "张 三", "2023"}, {"ab01", "", "计算机一班"}}));
        QCOMPARE(db.value("select count(*) from 考试情况").toLongLong(), 2);
    }

    // A text cell that holds the empty text (some programs write one for a
    // cell left empty) reads as the empty text, in a sheet of any size.
    void readsEmptyTextCells_data() {
        QTest::addColumn<int>("examinees");
        QTest::newRow("a small sheet") << 2;
        QTest::newRow("a large sheet, its texts in continued records") << 1200;
    }
    void readsEmptyTextCells() {
        QFETCH(int, examinees);
        QString rows = "准考证号\t姓名\t班级\n0001\t\"\"\t一班\n";
        for (int i = 2; i <= examinees; ++i)
            rows += QString("%1\t考生%1\t二班\n").arg(i, 4, 10, QChar('0'));
        const auto out = import(workbook("empty-text.xls", rows));
        QVERIFY2(out.ok, qPrintable(out.message));
        QCOMPARE(db.must("select 准考证号, 姓名, 班级 from 考生信息 where 准考证号 in ('0001', "
                         "'0002') order by 考生id"),
                 (QList<QList<QVariant>>{{"0001", "", "一班"}, {"0002", "考生0002", "二班"}}));
        QCOMPARE(db.value("select count(*) from 考生信息").toLongLong(), examinees);
    }

    // Classes and exam numbers compare without regard to case: a class
    // spelled twice gets one row, an examinee known as "AB01" is "ab01".
    void caseDoesNotMakeANewExamineeOrClass() {
        QVERIFY(import(workbook("a.xls", "准考证号\t姓名\t班级\nAB01\t甲\tClass A\n")).ok);
        const auto out = import(workbook("b.xls", "准考证号\t姓名\t班级\n"
                                                  "ab01\t甲乙\tclass a\n"
                                                  "ab02\t丙\tCLASS A\n"));
        QVERIFY2(out.ok, qPrintable(out.message));
        QCOMPARE(db.must("select 准考证号, 姓名 from 考生信息 order by 考生id"),
                 (QList<QList<QVariant>>{{"AB01", "甲乙"}, {"ab02", "丙"}}));
        QCOMPARE(db.value("select count(*) from 考试情况").toLongLong(), 1);
        // Every examinee of the class spells it as its class row does.
        QCOMPARE(db.must("select distinct 班级 collate \"C\" from 考生信息"),
                 (QList<QList<QVariant>>{{"Class A"}}));
    }

    // Full-width and half-width letters make one class too, spelled as the
    // class row is.
    void widthDoesNotMakeANewClass() {
        const auto out = import(workbook("w.xls", "准考证号\t姓名\t班级\n"
                                                  "w01\t甲\tA班\n"
                                                  "w02\t乙\tＡ班\n"));
        QVERIFY2(out.ok, qPrintable(out.message));
        QCOMPARE(db.must("select 班级 collate \"C\" from 考试情况"),
                 (QList<QList<QVariant>>{{"A班"}}));
        QCOMPARE(db.must("select 准考证号, 班级 collate \"C\" from 考生信息 order by 考生id"),
                 (QList<QList<QVariant>>{{"w01", "A班"}, {"w02", "A班"}}));
    }

    void refusesAndChangesNothing_data() {
        QTest::addColumn<QString>("rows"); // workbook rows; "<special>" for a file of another kind
        QTest::addColumn<QString>("message");

        QTest::newRow("missing file") << "<missing>"
                                      << "不存在";
        QTest::newRow("not a workbook") << "<text>"
                                        << "不是可读的 Excel 工作簿（.xls）";
        QTest::newRow("unreadable") << "<unreadable>"
                                    << "无法读取文件";
        QTest::newRow("empty sheet") << ""
                                     << "第一个工作表是空的，没有标题行";
        QTest::newRow("no class column") << "准考证号\t姓名\tclass\n1\t甲\t一班\n"
                                         << "工作表“Sheet1”第1行（标题行）：缺少列“班级”";
        QTest::newRow("no exam number column") << "\n姓名\t班级\n甲\t一班\n"
                                               << "第2行（标题行）：缺少列“准考证号”";
        QTest::newRow("column twice") << "准考证号\t姓名\t班级\t姓名\n"
                                      << "第1行（标题行）：列“姓名”出现了两次";
        QTest::newRow("empty exam number") << "准考证号\t姓名\t班级\n1\t甲\t一班\n\t乙\t一班\n"
                                           << "第3行：准考证号为空";
        QTest::newRow("exam number an empty text") << "准考证号\t姓名\t班级\n\"\"\t甲\t一班\n"
                                                   << "第2行：准考证号为空";
        QTest::newRow("exam number too long") << "准考证号\t姓名\t班级\n123456789\t甲\t一班\n"
                                              << "第2行：准考证号“123456789”超过8个字符";
        QTest::newRow("exam number of more than 8 bytes")
            << "准考证号\t姓名\t班级\n考号20261\t甲\t一班\n"
            << "第2行：准考证号“考号20261”超过8个字节（汉字占2个字节）";
        QTest::newRow("exam number with a character outside GBK")
            << "准考证号\t姓名\t班级\n1\t甲\t一班\nA😀01\t乙\t一班\n"
            << "工作表“Sheet1”第3行：准考证号“A😀01”含有 GBK 编码以外的字符";
        QTest::newRow("exam number twice")
            << "准考证号\t姓名\t班级\nx1\t甲\t一班\nx2\t乙\t一班\nX1\t丙\t二班\n"
            << "第4行：准考证号“X1”与第2行重复";
        QTest::newRow("empty class") << "准考证号\t姓名\t班级\n1\t甲\t \n"
                                     << "第2行：班级为空";
    }
    void refusesAndChangesNothing() {
        QFETCH(QString, rows);
        QFETCH(QString, message);
        QVERIFY(import(samplePath("examinees.xls")).ok);
        db.must("update 考生信息 set 登录标志 = 1, ip = '10.0.0.7' where 准考证号 = '20230004'");
        db.must("update 考试情况 set 是否选择 = 1 where 班级 = '会计一班'");
        const QString before = state();

        QString path = dir.filePath("refused.xls");
        QFile::remove(path);
        if (rows == "<missing>") {
            path = dir.filePath("no-such.xls");
        } else if (rows == "<text>" || rows == "<unreadable>") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("准考证号,姓名,班级\n1,甲,一班\n");
            file.close();
            if (rows == "<unreadable>")
                QVERIFY(file.setPermissions(QFileDevice::Permissions()));
        } else {
            writeWorkbook(path, rows);
        }

        const auto out = import(path);
        QVERIFY(!out.ok);
        QVERIFY2(out.message.contains(message), qPrintable(out.message));
        if (rows != "<missing>")
            QVERIFY2(out.message.contains(path), qPrintable(out.message));
        QCOMPARE(state(), before);
    }
};

MORVEL_TEST_MAIN(TestExaminees)
#include "tst_examinees.moc"
