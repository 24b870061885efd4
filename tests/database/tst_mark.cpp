// mark: a class's scores into the table 成绩表 of its score database.

#include "Catalog.h"

#include "../support/TestMain.h"

#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

namespace {

// The console's statement, word for word.
const char createScoreTable[] = "create table 成绩表(准考证号 varchar(8),姓名 varchar(8) ,班级 "
                                "varchar(20),选择 integer,判断 integer,填空 integer,备注 "
                                "varchar(255))";

// Runs statements on an SQLite file (made when missing) and returns the rows
// of the last one, each row's values joined by "|".
QStringList onScoreFile(const QString& path, const QStringList& statements) {
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "score");
        db.setDatabaseName(path);
        if (!db.open())
            QTest::qFail("cannot open the score file", __FILE__, __LINE__);
        QSqlQuery query(db);
        for (const QString& sql : statements) {
            if (!query.exec(sql))
                QTest::qFail(qPrintable(query.lastError().text()), __FILE__, __LINE__);
        }
        while (query.next()) {
            QStringList values;
            for (int i = 0; i < query.record().count(); ++i)
                values << query.value(i).toString();
            rows << values.join('|');
        }
    }
    QSqlDatabase::removeDatabase("score");
    return rows;
}

} // namespace

class TestMark : public QObject {
    Q_OBJECT

    PgSession db = PgSession::owner();
    QTemporaryDir dir;

    PgSession::Outcome mark(const QString& scoreDb, const QVariant& className) {
        return db.run("call mark(scoredb => $1, classname => $2)", {scoreDb, className});
    }
    QString newScoreDb(const QString& name = "score.mdb") {
        const QString path = dir.filePath(name);
        QFile::remove(path);
        onScoreFile(path, {createScoreTable});
        return path;
    }
    void examinee(const QString& number, const QString& name, const QString& className) {
        db.must("insert into 考生信息 (准考证号, 姓名, 班级) values ($1, $2, $3)",
                {number, name, className});
    }
    void answer(const QString& number, int kind, int question, const QVariant& text) {
        db.must("insert into 试卷表 (准考证号, 题号, 试题类别, 答题结果) values ($1, $2, $3, $4)",
                {number, question, kind, text});
    }

private slots:
    void initTestCase() {
        QVERIFY2(db.connected(), qPrintable(db.connectError()));
        QVERIFY(dir.isValid());
    }
    void init() {
        resetCatalog(db);
        db.must("insert into 选择题 (id, subject, answer) values (1, 'q', 'A'), (2, 'q', 'B'), "
                "(3, 'q', 'C')");
        db.must("insert into 判断题 (id, subject, answer) values (1, 'q', '1'), (2, 'q', '0')");
        db.must("insert into 填空题 (id, subject, answer) values (1, 'q', 'WWW'), (2, 'q', "
                "'输出设备'), (3, 'q', 'Sum')");
        db.must("insert into 考试情况 (班级) values ('一班'), ('二班')");
    }

    // One point for each right answer: letters in capitals or not, blanks at
    // the ends ignored, fill-in answers without regard to case; empty and
    // wrong answers score nothing; the remark comes from 作弊处理.
    void scoresEveryExamineeOfTheClass() {
        examinee("0001", "张三", "一班");
        examinee("0002", "李四", "一班");
        examinee("0003", "王五", "一班");
        examinee("0004", "赵六", "二班");
        answer("0001", 1, 1, "A");
        answer("0001", 1, 2, " b ");
        answer("0001", 1, 3, "D");
        answer("0001", 2, 1, "1");
        answer("0001", 2, 2, "0");
        answer("0001", 3, 1, " www\u3000");
        answer("0001", 3, 2, "输出设备");
        answer("0001", 3, 3, "ＳＵＭ"); // full-width letters
        answer("0002", 1, 1, "B");
        answer("0002", 2, 1, "是");
        answer("0002", 3, 2, "输出");
        answer("0002", 3, 3, QVariant());
        answer("0004", 1, 1, "A");
        db.must(
            "insert into 作弊处理 (准考证号, 备注) values ('0002', '夹带纸条'), ('0004', '代考')");

        const QString path = newScoreDb();
        const auto out = mark(path, "一班");
        QVERIFY2(out.ok, qPrintable(out.message));
        QCOMPARE(
            onScoreFile(path, {"select 准考证号, 姓名, 班级, 选择, 判断, 填空, 备注, "
                               "typeof(选择) from 成绩表 order by rowid"}),
            (QStringList{"0001|张三|一班|2|2|3||integer", "0002|李四|一班|0|0|0|夹带纸条|integer",
                         "0003|王五|一班|0|0|0||integer"}));
    }

    // The score file is a plain SQLite file that the sqlite3 tool reads.
    void sqliteReadsTheScores() {
        examinee("0001", "张三", "一班");
        answer("0001", 1, 1, "A");
        const QString path = newScoreDb();
        QVERIFY(mark(path, "一班").ok);
        QProcess sqlite;
        sqlite.start("sqlite3", {path, "select 准考证号 || ',' || 选择 from 成绩表"});
        QVERIFY(sqlite.waitForFinished(30000));
        QCOMPARE(sqlite.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(sqlite.readAllStandardOutput()).trimmed(), QString("0001,1"));
    }

    // Widths count characters: 8 for the name, 20 for the class, 255 for the
    // remark.
    void cutsToTheColumnWidths() {
        const QString longClass = QString("计算机科学与技术专业二〇二三级一班甲乙丙丁");
        QCOMPARE(longClass.size(), 21);
        db.must("insert into 考试情况 (班级) values ($1)", {longClass});
        examinee("0001", "阿卜杜热合曼·买买提", longClass);
        db.must("insert into 作弊处理 (准考证号, 备注) values ('0001', repeat('错', 300))");
        const QString path = newScoreDb();
        QVERIFY(mark(path, longClass).ok);
        QCOMPARE(onScoreFile(path, {"select 姓名, 班级, length(备注) from 成绩表"}),
                 QStringList{"阿卜杜热合曼·买|" + longClass.left(20) + "|255"});
    }

    void classComparesWithoutCase() {
        examinee("a1", "甲", "Class A");
        const QString path = newScoreDb();
        QVERIFY(mark(path, "class a").ok);
        QCOMPARE(onScoreFile(path, {"select 准考证号 from 成绩表"}), QStringList{"a1"});
    }

    // Marking again replaces the rows; a class without examinees gets none.
    void replacesEarlierRows() {
        examinee("0001", "张三", "一班");
        const QString path = newScoreDb();
        QVERIFY(mark(path, "一班").ok);
        answer("0001", 1, 1, "A");
        QVERIFY(mark(path, "一班").ok);
        QCOMPARE(onScoreFile(path, {"select 准考证号, 选择 from 成绩表"}), QStringList{"0001|1"});
        QVERIFY(mark(path, "无人班").ok);
        QCOMPARE(onScoreFile(path, {"select count(*) from 成绩表"}), QStringList{"0"});
    }

    void refusesWhatItCannotFill_data() {
        QTest::addColumn<QString>("table"); // the score file's statement; "<none>": no file
        QTest::addColumn<QString>("message");
        QTest::newRow("no file") << "<none>"
                                 << "不存在";
        QTest::newRow("no table") << "create table 别的表(x integer)"
                                  << "中没有表“成绩表”";
        QTest::newRow("column missing")
            << "create table 成绩表(准考证号 varchar(8),姓名 varchar(8),班级 varchar(20),选择 "
               "integer,判断 integer,填空 integer)"
            << "的表“成绩表”缺少列“备注”";
    }
    void refusesWhatItCannotFill() {
        QFETCH(QString, table);
        QFETCH(QString, message);
        examinee("0001", "张三", "一班");
        const QString path = dir.filePath("bad.mdb");
        QFile::remove(path);
        if (table != "<none>")
            onScoreFile(path, {table});
        const auto out = mark(path, "一班");
        QVERIFY(!out.ok);
        QVERIFY2(out.message.contains(path) && out.message.contains(message),
                 qPrintable(out.message));
        QVERIFY(table != "<none>" || !QFile::exists(path));
    }

    void refusesAFileThatIsNoDatabase() {
        const QString path = dir.filePath("text.mdb");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("not a database ").repeated(200));
        file.close();
        const auto out = mark(path, "一班");
        QVERIFY(!out.ok);
        QVERIFY2(out.message.contains("不是可读的数据库"), qPrintable(out.message));
    }

    void refusesMissingParameters() {
        QVERIFY(!mark(newScoreDb(), QVariant()).ok);
        QVERIFY(!db.run("call mark(scoredb => $1, classname => $2)", {QVariant(), "一班"}).ok);
    }
};

MORVEL_TEST_MAIN(TestMark)
#include "tst_mark.moc"
