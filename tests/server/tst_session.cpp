// The console's database session: a client's locks cannot hang it, and a
// lock that does hold it up ends in the standard error box.
#include "ConsoleFixture.h"
#include "tests/support/TestMain.h"

#include "framework/core/Sockets.h"
#include "framework/data/Connection.h"
#include "framework/data/Query.h"
#include "server/Unit_Common.h"
#include "server/Unit_Main.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>

using namespace server;

class TestSession : public fixture::ConsoleSuite {
    Q_OBJECT
private slots:
    void init();
    void cleanup() { endConsole(); }

    void lockTimeoutOnTheConsolesSession();
    void aClientsRowLocksHangNeitherReadmissionNorCollection();
    void aLockHeldLongerEndsInTheErrorBox();

private:
    QByteArray login(const QByteArray& examNo);
};

void TestSession::init() {
    fixture::resetCatalog();
    fixture::addClass("A班");
    fixture::addExaminee(1, "0001", "甲", "A班");
    fixture::addExaminee(2, "0002", "乙", "A班");
    startExam({"A班"});
    QVERIFY(main->ServerSocket1->active());
}

// Logs the examinee in from 127.0.0.1, where the test's database sessions
// come from; the answer.
QByteArray TestSession::login(const QByteArray& examNo) {
    QTcpSocket pc;
    pc.connectToHost("127.0.0.1", 5000);
    if (!pc.waitForConnected(3000))
        return QByteArray();
    pc.write("1" + examNo);
    return QTest::qWaitFor([&] { return pc.bytesAvailable() >= 2; }, 3000) ? pc.readAll()
                                                                           : QByteArray();
}

void TestSession::lockTimeoutOnTheConsolesSession() {
    fw::Query shown;
    shown.setConnection(main->ADOConnection1);
    shown.setSQL("select current_setting('lock_timeout')");
    shown.open();
    QCOMPARE(shown.field(0).asString(), QString("5s"));
}

// A client holds row locks on everything it may lock, in a transaction it
// never ends: readmission and collection go through all the same.
void TestSession::aClientsRowLocksHangNeitherReadmissionNorCollection() {
    QCOMPARE(login("0001"), QByteArray("00"));
    {
        QSqlDatabase client = fixture::clientLogin("client");
        QVERIFY2(client.open(), qPrintable(client.lastError().text()));
        QSqlQuery q(client);
        QVERIFY(q.exec("insert into 操作题答卷 (准考证号, 操作题答卷) values ('0001', 'Rar!')"));
        QVERIFY(q.exec("begin"));
        QVERIFY(q.exec("select * from 试卷表 for update"));
        QVERIFY(q.exec("select * from 操作题答卷 for update"));
        QVERIFY(q.exec("lock table 考生信息, 试卷表, 操作题答卷 in access share mode"));
        QVERIFY(q.exec("update 试卷表 set 答题结果 = 'A'"));

        QVERIFY(main->ADOTable1->locate("准考证号", "0001"));
        dialogs->answer(fw::IDOK);
        main->Btn_Resume->click();
        QCOMPARE(dialogs->errors(), QStringList());
        QCOMPARE(fixture::examineeState("0001"), QString("0||"));

        dialogs->answer(fw::IDOK);
        main->Btn_End->click();
        QCOMPARE(dialogs->errors(), QStringList());
        QCOMPARE(dialogs->texts().last(), QString("收卷完成!"));
        QVERIFY(QFile::exists(AppPath + "A班/操作题/A班0001甲.rar"));
        client.close();
    }
    QSqlDatabase::removeDatabase("client");
}

// A lock the console's statement must wait for (here the owner's, as no
// client can take one) ends the wait after the timeout with the database's
// error in the standard box; the row is not left in editing.
void TestSession::aLockHeldLongerEndsInTheErrorBox() {
    QCOMPARE(login("0001"), QByteArray("00"));
    fixture::exec("begin");
    fixture::exec("lock table 考生信息 in exclusive mode");
    QVERIFY(main->ADOTable1->locate("准考证号", "0001"));
    dialogs->answer(fw::IDOK);
    main->Btn_Resume->click();
    fixture::exec("rollback");
    QCOMPARE(dialogs->errors().size(), 1);
    QVERIFY2(dialogs->errors().first().contains("lock timeout"),
             qPrintable(dialogs->errors().first()));
    QVERIFY(main->ADOTable1->state() == fw::Dataset::State::Browse);
    QCOMPARE(fixture::examineeState("0001"), QString("1|127.0.0.1|登录成功!"));
}

MORVEL_TEST_MAIN(TestSession)
#include "tst_session.moc"
