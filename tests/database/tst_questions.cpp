// ImportQuestion (the question bank into 选择题, 判断题, 填空题 and 操作题) and
// GenerateQuestionTable (the papers of the chosen classes in 试卷表).

#include "Catalog.h"

#include "../support/TestMain.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>

class TestQuestions : public QObject {
    Q_OBJECT

    PgSession db = PgSession::owner();
    QTemporaryDir dir;

    PgSession::Outcome load(const QString& path) {
        return db.run("call importquestion(filename => $1)", {path});
    }
    QString bankState() {
        return db
            .value("select concat_ws(' # ', "
                   "(select string_agg(concat_ws('|', id, subject, a, b, c, d, answer, md5(pic)), "
                   "';' order by id) from 选择题), "
                   "(select string_agg(concat_ws('|', id, subject, answer, md5(pic)), ';' order "
                   "by id) from 判断题), "
                   "(select string_agg(concat_ws('|', id, subject, answer, md5(pic)), ';' order "
                   "by id) from 填空题), "
                   "(select string_agg(concat_ws('|', id, subject1, subject2, subject3, md5(pic1), "
                   "md5(pic2), md5(pic3), md5(examfolder)), ';' order by id) from 操作题))")
            .toString();
    }
    // exam number -> "kind:count,..." of its paper
    QString papers() {
        return db
            .value("select coalesce(string_agg(format('%s %s:%s', 准考证号, 试题类别, n), ', ' "
                   "order by 准考证号, 试题类别), '') from (select 准考证号, 试题类别, count(*) "
                   "as n from 试卷表 group by 1, 2) p")
            .toString();
    }
    void importSampleExaminees() {
        const auto out =
            db.run("call importexamineeinfo(filename => $1)", {samplePath("examinees.xls")});
        QVERIFY2(out.ok, qPrintable(out.message));
    }
    void choose(const QString& className, int chosen, int examined) {
        db.must("update 考试情况 set 是否选择 = $2, 是否已考 = $3 where 班级 = $1",
                {className, chosen, examined});
    }
    PgSession::Outcome generate() { return db.run("call generatequestiontable()"); }

private slots:
    void initTestCase() {
        QVERIFY2(db.connected(), qPrintable(db.connectError()));
        QVERIFY(dir.isValid());
    }
    void init() { resetCatalog(db); }

    void importsTheSampleBank() {
        const auto out = load(samplePath("bank.mdb"));
        QVERIFY2(out.ok, qPrintable(out.message));
        QCOMPARE(db.value("select count(*) from 选择题").toLongLong(), 8);
        QCOMPARE(db.value("select count(*) from 判断题").toLongLong(), 6);
        QCOMPARE(db.value("select count(*) from 填空题").toLongLong(), 6);
        QCOMPARE(db.value("select count(*) from 操作题").toLongLong(), 1);
        QCOMPARE(
            db.value("select count(*) from 选择题 where answer in ('A','B','C','D')").toLongLong(),
            8);
        QCOMPARE(db.value("select count(*) from 判断题 where answer in ('0','1')").toLongLong(), 6);
        QCOMPARE(db.value("select count(*) from 填空题 where answer <> ''").toLongLong(), 6);
        // pictures are JPEG files, the template a RAR archive
        const auto task = db.must("select subject1, subject2, subject3, pic1, pic2, pic3, "
                                  "examfolder from 操作题");
        for (int i = 0; i < 3; ++i)
            QVERIFY(!task[0][i].toString().isEmpty());
        for (int i = 3; i < 6; ++i)
            QVERIFY(task[0][i].toByteArray().startsWith("\xff\xd8\xff"));
        QVERIFY(task[0][6].toByteArray().startsWith("Rar!\x1a\x07"));
        QCOMPARE(db.value("select count(*) from 选择题 where substring(pic from 1 for 3) = "
                          "'\\xffd8ff'::bytea")
                     .toLongLong(),
                 1);
    }

    // A second bank replaces the first as a whole; values read as the
    // columns need them.
    void replacesTheBankAsAWhole() {
        QVERIFY(load(samplePath("bank.mdb")).ok);
        const QString path = dir.filePath("small.mdb");
        writeBank(path,
                  {"insert into 选择题 values (2.0, '问', '甲', '乙', '丙', '丁', ' b ', ?)",
                   "insert into 判断题 values (7, '对吗', 1, null)",
                   "insert into 判断题 values (8, '错吗', '0', x'')",
                   "insert into 填空题 values (3, '填', '  Word ', null)",
                   "insert into 操作题 values (5, '一', '二', '三', null, null, null, ?)"},
                  bankLayout(), {jpegBytes(), QByteArray("Rar!\x1a\x07\x01\x00", 8)});
        const auto out = load(path);
        QVERIFY2(out.ok, qPrintable(out.message));
        QCOMPARE(db.must("select id, answer, length(pic) > 0 from 选择题"),
                 (QList<QList<QVariant>>{{2, "B", true}}));
        QCOMPARE(db.must("select id, answer, pic from 判断题 order by id"),
                 (QList<QList<QVariant>>{{7, "1", QVariant()}, {8, "0", QVariant()}}));
        QCOMPARE(db.must("select id, answer from 填空题"), (QList<QList<QVariant>>{{3, "Word"}}));
        QCOMPARE(db.must("select id, subject3, length(examfolder) from 操作题"),
                 (QList<QList<QVariant>>{{5, "三", 8}}));
    }

    void refusesAndChangesNothing_data() {
        QTest::addColumn<QString>("insert"); // one statement after the tables are made
        QTest::addColumn<int>("dropTable");  // index into the layout, or -1
        QTest::addColumn<QString>("message");

        QTest::newRow("no 填空题") << "" << 2 << "中没有表“填空题”";
        QTest::newRow("answer is not A-D")
            << "insert into 选择题 values (1, 'q', 'a', 'b', 'c', 'd', 'E', null)" << -1
            << "表“选择题”第1行：答案“E”不是 A、B、C、D 之一";
        QTest::newRow("missing answer")
            << "insert into 选择题 values (1, 'q', 'a', 'b', 'c', 'd', null, null)" << -1
            << "表“选择题”第1行：答案为空";
        QTest::newRow("true/false as text") << "insert into 判断题 values (1, 'q', '是', null)"
                                            << -1 << "答案“是”不是 1（是）或 0（否）";
        QTest::newRow("ID not a number") << "insert into 填空题 values ('x1', 'q', 'a', null)" << -1
                                         << "表“填空题”第1行：ID“x1”不是整数";
        QTest::newRow("ID empty") << "insert into 操作题 (subject1) values ('t')" << -1
                                  << "表“操作题”第1行：ID为空";
        QTest::newRow("ID twice")
            << "insert into 判断题 values (4, 'q', '1', null), (4, 'r', '0', null)" << -1
            << "表“判断题”第2行：ID 4 重复";
        QTest::newRow("subject too long")
            << "insert into 填空题 values (1, replace(hex(zeroblob(201)), '00', '题'), 'a', null)"
            << -1 << "列“subject”超过200个字符";
        QTest::newRow("option too long")
            << "insert into 选择题 values (1, 'q', 'a', replace(hex(zeroblob(51)), '00', 'b'), "
               "'c', 'd', 'A', null)"
            << -1 << "列“b”超过50个字符";
        QTest::newRow("picture not JPEG")
            << "insert into 判断题 values (1, 'q', '1', x'89504e470d0a1a0a')" << -1
            << "列“pic”不是 JPEG 图片";
        QTest::newRow("task picture not JPEG")
            << "insert into 操作题 values (1, 'a', 'b', 'c', null, 'text', null, null)" << -1
            << "表“操作题”第1行：列“pic2”不是 JPEG 图片";
        // 26 Chinese characters are 52 bytes in GBK
        QTest::newRow("fill-in answer over 50 bytes")
            << "insert into 填空题 values (1, 'q', replace(hex(zeroblob(26)), '00', '答'), null)"
            << -1 << "答案超过50个字节";
        QTest::newRow("fill-in answer outside GBK")
            << "insert into 填空题 values (1, 'q', '😀', null)" << -1 << "含有 GBK 编码以外的字符";
        QTest::newRow("fill-in answer blank") << "insert into 填空题 values (1, 'q', '  ', null)"
                                              << -1 << "表“填空题”第1行：答案为空";
        QTest::newRow("text not UTF-8")
            << "insert into 选择题 values (1, cast(x'c4e3bac3' as text), 'a', 'b', 'c', 'd', 'A', "
               "null)"
            << -1 << "第1行的列“subject”不是可读的文字";
    }
    void refusesAndChangesNothing() {
        QFETCH(QString, insert);
        QFETCH(int, dropTable);
        QFETCH(QString, message);
        QVERIFY(load(samplePath("bank.mdb")).ok);
        const QString before = bankState();

        QList<BankTable> layout = bankLayout();
        if (dropTable >= 0)
            layout.removeAt(dropTable);
        const QString path = dir.filePath("refused.mdb");
        writeBank(path, insert.isEmpty() ? QStringList() : QStringList{insert}, layout);
        const auto out = load(path);
        QVERIFY(!out.ok);
        QVERIFY2(out.message.contains(message), qPrintable(out.message));
        QVERIFY2(out.message.contains(path), qPrintable(out.message));
        QCOMPARE(bankState(), before);
    }

    void refusesMissingColumn() {
        QVERIFY(load(samplePath("bank.mdb")).ok);
        const QString before = bankState();
        QList<BankTable> layout = bankLayout();
        layout[0].columns = "ID integer, subject text, a text, b text, c text, d text, pic blob";
        const QString path = dir.filePath("nocolumn.mdb");
        writeBank(path, {}, layout);
        const auto out = load(path);
        QVERIFY(!out.ok);
        QVERIFY2(out.message.contains("的表“选择题”缺少列“answer”"), qPrintable(out.message));
        QCOMPARE(bankState(), before);
    }

    void refusesFilesThatAreNoBank_data() {
        QTest::addColumn<QString>("content"); // empty: no file at all
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << ""
                                 << "不存在";
        QTest::newRow("text file") << "ID,subject\n1,q\n"
                                   << "不是可读的数据库";
    }
    void refusesFilesThatAreNoBank() {
        QFETCH(QString, content);
        QFETCH(QString, message);
        QVERIFY(load(samplePath("bank.mdb")).ok);
        const QString before = bankState();
        const QString path = dir.filePath("other.mdb");
        QFile::remove(path);
        if (!content.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content.toUtf8().repeated(100));
        }
        const auto out = load(path);
        QVERIFY(!out.ok);
        QVERIFY2(out.message.contains(message) && out.message.contains(path),
                 qPrintable(out.message));
        QCOMPARE(bankState(), before);
    }

    // Five questions of each kind for every examinee of a chosen class not yet
    // examined, distinct and existing, unanswered.
    void generatesFiveOfEachKindForTheChosenClasses() {
        importSampleExaminees();
        QVERIFY(load(samplePath("bank.mdb")).ok);
        choose("计算机一班", 1, 0);
        choose("会计一班", 1, 1); // examined already
        const auto out = generate();
        QVERIFY2(out.ok, qPrintable(out.message));

        QCOMPARE(papers(), QString("20230001 1:5, 20230001 2:5, 20230001 3:5, "
                                   "20230002 1:5, 20230002 2:5, 20230002 3:5, "
                                   "20230003 1:5, 20230003 2:5, 20230003 3:5"));
        QCOMPARE(
            db.value("select count(distinct (准考证号, 试题类别, 题号)) from 试卷表").toLongLong(),
            45);
        QCOMPARE(db.value("select count(*) from 试卷表 p where 试题类别 = 1 and exists (select 1 "
                          "from 选择题 q where q.id = p.题号) or 试题类别 = 2 and exists (select 1 "
                          "from 判断题 q where q.id = p.题号) or 试题类别 = 3 and exists (select 1 "
                          "from 填空题 q where q.id = p.题号)")
                     .toLongLong(),
                 45);
        QCOMPARE(
            db.value("select count(*) from 试卷表 where coalesce(答题结果, '') = ''").toLongLong(),
            45);
    }

    void drawsForEachExamineeAnew() {
        importSampleExaminees();
        QVERIFY(load(samplePath("bank.mdb")).ok);
        choose("计算机一班", 1, 0);
        choose("计算机二班", 1, 0);
        QVERIFY(generate().ok);
        // six examinees drawing 5 of 8 alike by chance: (1/56)^5
        QVERIFY(db.value("select count(distinct s) from (select string_agg(题号::text, ',' order "
                         "by 题号) s from 试卷表 where 试题类别 = 1 group by 准考证号) x")
                    .toLongLong() > 1);
    }

    void takesAllWhereTheBankHasFewer() {
        importSampleExaminees();
        const QString path = dir.filePath("few.mdb");
        QStringList inserts{"insert into 选择题 values (1, 'q', 'a', 'b', 'c', 'd', 'A', null)",
                            "insert into 选择题 values (2, 'q', 'a', 'b', 'c', 'd', 'B', null)"};
        for (int i = 1; i <= 7; ++i)
            inserts << QString("insert into 填空题 values (%1, 'q', 'a', null)").arg(i);
        writeBank(path, inserts);
        QVERIFY(load(path).ok);
        choose("会计一班", 1, 0);
        QVERIFY(generate().ok);
        QCOMPARE(papers(), QString("20230007 1:2, 20230007 3:5, 20230008 1:2, 20230008 3:5"));
    }

    // A new generation replaces the papers of the chosen classes only.
    void regenerationLeavesOtherPapers() {
        importSampleExaminees();
        QVERIFY(load(samplePath("bank.mdb")).ok);
        choose("计算机一班", 1, 0);
        QVERIFY(generate().ok);
        db.must("update 试卷表 set 答题结果 = 'A' where 准考证号 = '20230001'");
        const QString first = db.value("select string_agg(format('%s/%s/%s/%s', questionid, 题号, "
                                       "试题类别, 答题结果), ',' order by questionid) from 试卷表")
                                  .toString();

        choose("计算机一班", 0, 0);
        choose("计算机二班", 1, 0);
        QVERIFY(generate().ok);
        QCOMPARE(db.value("select string_agg(format('%s/%s/%s/%s', questionid, 题号, 试题类别, "
                          "答题结果), ',' order by questionid) from 试卷表 p join 考生信息 e using "
                          "(准考证号) where e.班级 = '计算机一班'")
                     .toString(),
                 first);
        QCOMPARE(db.value("select count(*) from 试卷表 p join 考生信息 e using (准考证号) where "
                          "e.班级 = '计算机二班'")
                     .toLongLong(),
                 45);

        choose("计算机一班", 1, 0);
        QVERIFY(generate().ok);
        QCOMPARE(db.value("select count(*) from 试卷表 where 准考证号 = '20230001'").toLongLong(),
                 15);
        QCOMPARE(db.value("select count(*) from 试卷表 where 答题结果 = 'A'").toLongLong(), 0);
    }
};

MORVEL_TEST_MAIN(TestQuestions)
#include "tst_questions.moc"
