// Collection: per class a fresh score database marked by the catalog, and the
// handed-in archives written unchanged under the class's 操作题 folder.
#include "ConsoleFixture.h"
#include "tests/support/TestMain.h"

#include "framework/data/Connection.h"
#include "server/Unit_Common.h"
#include "server/Unit_Main.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

using namespace server;

class TestCollect : public fixture::ConsoleSuite {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void collectsEachClass();
    void classWithoutArchives();
    void nothingSelectedWritesNothing();
    void existingFilesAreReplaced();
    void repeatedAfterAFailedMarking();
    void pathsStayInsideTheProgramFolder_data();
    void pathsStayInsideTheProgramFolder();

private:
    QByteArray handIn(const QString& examNo, int size);
    QString path(const QString& relative) const { return AppPath + relative; }
    QStringList scores(const QString& file);
    QByteArray read(const QString& relative) const;
};

void TestCollect::init() {
    fixture::resetCatalog();
    fixture::addClass("A班", 1);
    fixture::addClass("B班", 1);
    fixture::addClass("C班", 1);
    fixture::addExaminee(1, "0001", "张*三", "A班");
    fixture::addExaminee(2, "0002", " 李四 ", "A班");
    fixture::addExaminee(3, "0003", "王五", "A班");
    fixture::addExaminee(4, "0004", "赵六", "B班");
    fixture::addExaminee(5, "0005", "钱七", "C班");
    startConsole();
}

void TestCollect::cleanup() {
    // Nothing beside the program's folder.
    QCOMPARE(QDir(console->scratch.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"program"});
    QCOMPARE(dialogs->calls.size(), 0);
    endConsole();
}

QByteArray TestCollect::handIn(const QString& examNo, int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& b : bytes)
        b = char(QRandomGenerator::global()->bounded(256));
    fixture::exec("insert into 操作题答卷(准考证号, 操作题答卷) values (?, ?)", {examNo, bytes});
    return bytes;
}

QByteArray TestCollect::read(const QString& relative) const {
    QFile file(path(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// The tables of a score file and the exam numbers in its 成绩表, read with
// SQLite itself.
QStringList TestCollect::scores(const QString& file) {
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "score-file");
        db.setDatabaseName(path(file));
        db.setConnectOptions("QSQLITE_OPEN_READONLY");
        if (!db.open())
            return {"(cannot open)"};
        QSqlQuery sql(db);
        if (!sql.exec("select sql from sqlite_master where type = 'table'"))
            return {sql.lastError().text()};
        while (sql.next())
            out << sql.value(0).toString();
        sql.exec("select 准考证号 from 成绩表 order by 准考证号");
        while (sql.next())
            out << sql.value(0).toString();
    }
    QSqlDatabase::removeDatabase("score-file");
    return out;
}

static const QString ScoreTable =
    "CREATE TABLE 成绩表(准考证号 varchar(8),姓名 varchar(8) ,班级 varchar(20),选择 integer,判断 "
    "integer,填空 integer,备注 varchar(255))";

static QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
}

void TestCollect::collectsEachClass() {
    const QByteArray first = handIn("0001", 300000);
    const QByteArray second = handIn("0002", 17);
    fixture::exec("insert into 操作题答卷(准考证号, 操作题答卷) values ('0004', null)");
    SelectedClasses = {"A班", "B班"};
    main->CollectResults();

    QCOMPARE(entries(AppPath), QStringList({"A班", "B班"}));
    QCOMPARE(entries(path("A班")), QStringList({"score.mdb", "操作题"}));
    QCOMPARE(entries(path("A班/操作题")), QStringList({"A班0001张三.rar", "A班0002 李四.rar"}));
    QCOMPARE(read("A班/操作题/A班0001张三.rar"), first);
    QCOMPARE(read("A班/操作题/A班0002 李四.rar"), second);
    QCOMPARE(scores("A班/score.mdb"), QStringList({ScoreTable, "0001", "0002", "0003"}));
    QCOMPARE(entries(path("B班/操作题")), QStringList{"B班0004赵六.rar"});
    QCOMPARE(read("B班/操作题/B班0004赵六.rar"), QByteArray(""));
    QCOMPARE(scores("B班/score.mdb"), QStringList({ScoreTable, "0004"}));
    QVERIFY(!main->ADOConnection2->connected());
}

void TestCollect::classWithoutArchives() {
    handIn("0001", 10);
    SelectedClasses = {"C班"};
    main->CollectResults();
    QCOMPARE(entries(AppPath), QStringList{"C班"});
    QCOMPARE(entries(path("C班/操作题")), QStringList());
    QCOMPARE(scores("C班/score.mdb"), QStringList({ScoreTable, "0005"}));
}

void TestCollect::nothingSelectedWritesNothing() {
    handIn("0001", 10);
    SelectedClasses.clear();
    main->CollectResults();
    QCOMPARE(entries(AppPath), QStringList());
}

void TestCollect::existingFilesAreReplaced() {
    const QByteArray archive = handIn("0004", 1000);
    QVERIFY(QDir(AppPath).mkpath("B班/操作题"));
    const auto write = [this](const QString& relative, const QByteArray& bytes) {
        QFile file(path(relative));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    write("B班/score.mdb", "an older score file");
    write("B班/操作题/B班0004赵六.rar", QByteArray(5000, 'x'));
    write("B班/操作题/B班0099旧.rar", "from an earlier collection");
    SelectedClasses = {"B班"};
    main->CollectResults();
    QCOMPARE(read("B班/操作题/B班0004赵六.rar"), archive);
    QCOMPARE(read("B班/操作题/B班0099旧.rar"), QByteArray("from an earlier collection"));
    QCOMPARE(scores("B班/score.mdb"), QStringList({ScoreTable, "0004"}));
}

void TestCollect::repeatedAfterAFailedMarking() {
    const QByteArray archive = handIn("0004", 64);
    SelectedClasses = {"A班", "B班"};
    fixture::exec("alter procedure mark rename to mark_away");
    auto restore = qScopeGuard([] { fixture::exec("alter procedure mark_away rename to mark"); });
    QVERIFY_THROWS_EXCEPTION(std::exception, main->CollectResults());
    // The first class failed while marking: nothing of the second exists.
    QCOMPARE(entries(AppPath), QStringList{"A班"});
    QVERIFY(!main->ADOConnection2->connected());

    restore.dismiss();
    fixture::exec("alter procedure mark_away rename to mark");
    main->CollectResults();
    QCOMPARE(scores("A班/score.mdb"), QStringList({ScoreTable, "0001", "0002", "0003"}));
    QCOMPARE(read("B班/操作题/B班0004赵六.rar"), archive);
}

void TestCollect::pathsStayInsideTheProgramFolder_data() {
    QTest::addColumn<QString>("cls");
    QTest::addColumn<QString>("name");
    QTest::newRow("class climbs up") << "../逃"
                                     << "孙八";
    QTest::newRow("class is the parent") << ".."
                                         << "孙八";
    QTest::newRow("class is the folder itself") << "."
                                                << "孙八";
    QTest::newRow("class with a slash") << "D/班"
                                        << "孙八";
    QTest::newRow("class with a backslash") << "D\\..\\..\\班"
                                            << "孙八";
    QTest::newRow("class with a semicolon") << "D;班"
                                            << "孙八";
    QTest::newRow("empty class") << ""
                                 << "孙八";
    QTest::newRow("blank class") << "  "
                                 << "孙八";
    QTest::newRow("name climbs up") << "D班"
                                    << "/../../逃";
    QTest::newRow("name with a backslash") << "D班"
                                           << "\\..\\..\\逃";
}

void TestCollect::pathsStayInsideTheProgramFolder() {
    QFETCH(QString, cls);
    QFETCH(QString, name);
    fixture::addClass(cls, 1);
    fixture::addExaminee(6, "0006", name, cls);
    handIn("0006", 10);
    const QByteArray archive = handIn("0004", 10);
    SelectedClasses = {"C班", cls, "B班"};
    bool raised = false;
    try {
        main->CollectResults();
    } catch (const std::exception& e) {
        raised = true;
        QVERIFY(!QString::fromUtf8(e.what()).isEmpty());
    }
    QVERIFY(raised);
    // The class before is complete, nothing of the failing class or the one
    // after it was written.
    QCOMPARE(entries(AppPath), QStringList{"C班"});
    QCOMPARE(entries(path("C班")), QStringList({"score.mdb", "操作题"}));
}

MORVEL_TEST_MAIN(TestCollect)
#include "tst_collect.moc"
