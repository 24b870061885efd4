// The login: the lookup on the test cluster as the login Morvel over TCP,
// then the status connection to a scripted listener or to the console's own.
#include "ClientFixture.h"
#include "tests/server/ConsoleFixture.h"
#include "tests/support/TestMain.h"

#include "client/Unit_Instructions.h"
#include "client/Unit_login.h"
#include "client/Unit_main.h"
#include "framework/core/ClientSocket.h"
#include "framework/core/Sockets.h"
#include "framework/data/Connection.h"
#include "framework/data/Query.h"
#include "framework/widgets/Label.h"
#include "server/Unit_Main.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <memory>

using namespace clientfixture;
using client::frm_Instructions;
using client::frm_Login;
using client::frm_Main;

class TestLogin : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<Client> running;

    void startClient(const QString& serverIp = "127.0.0.1") {
        running.reset();
        writeSettingsLines({"ServerIp=" + serverIp});
        running = std::make_unique<Client>();
    }
    // Nothing came of a press: no box, no connection, the window as it was.
    void nothingHappened(const ScriptedListener& listener) {
        QTest::qWait(300);
        QCOMPARE(dialogs->calls.size(), 0);
        QCOMPARE(listener.connections, 0);
        QVERIFY(frm_Login && frm_Login->isVisible());
        QVERIFY(!client::LoginAccepted);
    }
    void accepted() {
        QVERIFY(QTest::qWaitFor([] { return frm_Instructions->isVisible(); }, 5000));
        QVERIFY(client::LoginAccepted);
        QVERIFY(QTest::qWaitFor([] { return frm_Login == nullptr; }, 5000)); // freed
        QVERIFY(frm_Main->ClientSocket1->connected()); // stays open for the exam
        QVERIFY(!frm_Main->isVisible());
    }

private slots:
    void initTestCase() {
        QApplication::setQuitOnLastWindowClosed(false);
        fixture::resetCatalog();
        fixture::addClass("A班", 1, 0);
        fixture::addClass("B班", 0, 0);
        fixture::addClass("C班", 1, 1);
        fixture::addExaminee(1, "0001", "甲", "A班");
        fixture::addExaminee(2, "0002", "乙", "B班");
        fixture::addExaminee(3, "0003", "丙", "C班");
        fixture::addExaminee(4, "AB01", "丁", "A班");
        fixture::exec("insert into 考生信息(考生id, 准考证号, 姓名, 班级) values (5, '0005', null, "
                      "'A班')");
        fixture::exec("call grantpermissions()"); // as "开始考试" does
    }

    void init() {
        dialogs = std::make_unique<ScriptedDialogs>();
        startClient();
    }

    void cleanup() {
        running.reset();
        dialogs.reset();
        removeSettings();
    }

    void theExamNumberMustBeOfAChosenClassNotYetExamined_data() {
        QTest::addColumn<QString>("examNo");
        QTest::newRow("unknown") << "9999";
        QTest::newRow("class not chosen") << "0002";
        QTest::newRow("class examined") << "0003";
        QTest::newRow("empty field") << "";
        QTest::newRow("a quote") << "0001'--";
    }

    void theExamNumberMustBeOfAChosenClassNotYetExamined() {
        QFETCH(QString, examNo);
        ScriptedListener listener;
        pressOk(examNo);
        QCOMPARE(dialogs->texts(), QStringList{"准考证号错误！"});
        QCOMPARE(dialogs->calls.first().kind, ScriptedDialogs::Kind::Message);
        QTest::qWait(200);
        QCOMPARE(listener.connections, 0);
        QCOMPARE(client::ExamNo, QString());
        QVERIFY(frm_Login->isVisible());
    }

    void theServerAnswerDecides_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("00") << QByteArray("00") << false << "accepted";
        QTest::newRow("0011 counts as 00") << QByteArray("0011") << false << "accepted";
        QTest::newRow("001") << QByteArray("001") << false << "accepted";
        QTest::newRow("11") << QByteArray("11") << false << "refused";
        QTest::newRow("1100 counts as 11") << QByteArray("1100") << false << "refused";
        QTest::newRow("0") << QByteArray("0") << false << "ignored";
        QTest::newRow("01") << QByteArray("01") << false << "ignored";
        QTest::newRow("1") << QByteArray("1") << false << "ignored";
        QTest::newRow("no answer") << QByteArray() << false << "ignored";
        QTest::newRow("the connection closed") << QByteArray() << true << "ignored";
    }

    void theServerAnswerDecides() {
        QFETCH(QByteArray, answer);
        QFETCH(bool, closes);
        QFETCH(QString, outcome);
        ScriptedListener listener(answer, closes);
        bool connectedUnderTheBox = false;
        dialogs->whileOpen([&] { connectedUnderTheBox = frm_Main->ClientSocket1->connected(); });
        pressOk("0001");
        QVERIFY(listener.waitForMessages(1));
        QCOMPARE(listener.messages, QList<QByteArray>{"10001"});
        QCOMPARE(client::ExamNo, QString("0001"));
        QCOMPARE(client::ExamineeName, QString("甲"));
        if (outcome == "accepted") {
            accepted();
            QCOMPARE(dialogs->calls.size(), 0);
        } else if (outcome == "refused") {
            QVERIFY(QTest::qWaitFor([&] { return !dialogs->calls.isEmpty(); }, 5000));
            QCOMPARE(dialogs->texts(), QStringList{"准考证号重复！"});
            QVERIFY(connectedUnderTheBox); // closed once the box is dismissed
            QVERIFY(!frm_Main->ClientSocket1->connected());
            QVERIFY(frm_Login->isVisible());
            QVERIFY(!frm_Instructions->isVisible());
        } else {
            QTest::qWait(300);
            QCOMPARE(dialogs->calls.size(), 0);
            QVERIFY(frm_Login->isVisible());
            QVERIFY(!frm_Instructions->isVisible());
            QVERIFY(!client::LoginAccepted);
        }
        // the login window stays usable: a further press runs the lookup
        // again, and connects anew unless the connection still stands
        if (outcome != "accepted") {
            listener.answer = "00";
            listener.closeOnMessage = false;
            const bool stillConnected = frm_Main->ClientSocket1->connected();
            pressOk("0001");
            if (stillConnected) {
                QTest::qWait(200);
                QCOMPARE(listener.messages.size(), 1);
                listener.send("00");
            }
            accepted();
            QCOMPARE(listener.messages.size(), stillConnected ? 1 : 2);
        }
    }

    void theLoginMessageCarriesTheNumberAsStored() {
        ScriptedListener listener;
        pressOk("ab01");
        QVERIFY(listener.waitForMessages(1));
        QCOMPARE(listener.messages.first(), QByteArray("1AB01"));
        QCOMPARE(client::ExamNo, QString("AB01"));
        accepted();
    }

    void enterPressesOk() {
        ScriptedListener listener;
        frm_Login->Edit1->setText("0001");
        QTest::keyClick(frm_Login->Edit1, Qt::Key_Return);
        QVERIFY(listener.waitForMessages(1));
        accepted();
    }

    void theFieldTakesEightCharacters() {
        QTest::keyClicks(frm_Login->Edit1, "123456789");
        QCOMPARE(frm_Login->Edit1->text(), QString("12345678"));
    }

    void aClosedListenerShowsNothingAndALaterPressLogsIn() {
        pressOk("0001"); // nothing listens on port 5000
        QTest::qWait(300);
        QCOMPARE(dialogs->calls.size(), 0);
        QVERIFY(frm_Login->isVisible());
        QVERIFY(!frm_Main->ClientSocket1->connected());

        ScriptedListener listener; // the invigilator starts the exam
        pressOk("0001");
        QVERIFY(listener.waitForMessages(1));
        accepted();
    }

    void aSecondPressWhileConnectedSendsNothing() {
        ScriptedListener listener(""); // no answer yet
        pressOk("0001");
        QVERIFY(listener.waitForMessages(1));
        pressOk("ab01");
        QCOMPARE(client::ExamNo, QString("AB01")); // looked up again
        QCOMPARE(frm_Main->ADOQuery1->fieldByName("姓名").asString(), QString("丁"));
        QTest::qWait(300);
        QCOMPARE(listener.messages.size(), 1);
        QCOMPARE(listener.connections, 1);
        listener.send("00"); // the answer acts on the login as before
        accepted();
        QCOMPARE(client::ExamineeName, QString("丁"));
    }

    void anAddressThatIsNoIPv4DoesNothing_data() {
        QTest::addColumn<QString>("serverIp");
        QTest::newRow("empty") << "";
        QTest::newRow("a host name the database finds") << "localhost";
        QTest::newRow("junk") << "exam server!";
    }

    void anAddressThatIsNoIPv4DoesNothing() {
        QFETCH(QString, serverIp);
        startClient(serverIp);
        ScriptedListener listener;
        pressOk("0001");
        nothingHappened(listener);
    }

    void anUnreachableDatabaseShowsNothing() {
        startClient("127.0.0.2"); // no database there
        ScriptedListener listener;
        pressOk("0001");
        nothingHappened(listener);
        QCOMPARE(client::ExamNo, QString());
    }

    // The connection text is built from ServerIp before every attempt, so an
    // address set in the settings box counts from the next "确定".
    void theConnectionTextIsBuiltBeforeEveryAttempt() {
        startClient("127.0.0.2");
        ScriptedListener listener;
        pressOk("0001");
        QCOMPARE(frm_Main->ADOConnection1->connectionString(),
                 QString("Password=\"5093718\";Persist Security Info=True;User ID=Morvel;"
                         "Initial Catalog=Morvel;Data Source=127.0.0.2"));
        QVERIFY(!frm_Main->ADOConnection1->connected());

        dialogs->answer("127.0.0.1");
        QTest::mouseClick(frm_Login->Label2, Qt::LeftButton);
        pressOk("0001");
        QVERIFY(frm_Main->ADOConnection1->connectionString().endsWith(";Data Source=127.0.0.1"));
        accepted();
        QCOMPARE(frm_Main->ADOConnection1->provider(), QString("SQLOLEDB.1"));
    }

    void aDatabaseThatNeverAnswersIsGivenUp() {
        QTcpServer silent; // takes the connection and says nothing
        QVERIFY(silent.listen(QHostAddress("127.0.0.1"), 0));
        const QByteArray port = qgetenv("PGPORT");
        qputenv("PGPORT", QByteArray::number(silent.serverPort()));
        ScriptedListener listener;
        QElapsedTimer clock;
        clock.start();
        pressOk("0001");
        const qint64 waited = clock.elapsed();
        qputenv("PGPORT", port);
        QVERIFY2(waited < 60000, qPrintable(QString::number(waited)));
        nothingHappened(listener);
    }

    void aNullNameStopsTheLoginWithAnError() {
        ScriptedListener listener;
        pressOk("0005");
        QCOMPARE(dialogs->errors().size(), 1);
        QVERIFY(dialogs->errors().first().contains("姓名"));
        QCOMPARE(client::ExamNo, QString("0005"));
        QTest::qWait(200);
        QCOMPARE(listener.connections, 0);
    }

    void anotherAddressForAConnectedSocketIsRefused() {
        ScriptedListener listener(""); // no answer yet
        pressOk("0001");
        QVERIFY(listener.waitForMessages(1));
        dialogs->answer("127.0.0.3");
        QTest::mouseClick(frm_Login->Label2, Qt::LeftButton);
        QCOMPARE(client::ServerIp, QString("127.0.0.3"));
        pressOk("0001");
        QCOMPARE(dialogs->errors().size(), 1);
        QTest::qWait(200);
        QCOMPARE(listener.connections, 1);
        QCOMPARE(listener.messages.size(), 1);
        QVERIFY(frm_Main->ClientSocket1->connected());
    }

    // The answer "00" while the settings box is open: the box is still
    // written, and the login window goes once the box has closed.
    void theAnswerWhileTheSettingsBoxIsOpen() {
        ScriptedListener listener(""); // no answer yet
        pressOk("0001");
        QVERIFY(listener.waitForMessages(1));
        QPointer<client::Tfrm_Login> login = frm_Login;
        dialogs->whileOpen([&] {
            listener.send("00");
            QVERIFY(QTest::qWaitFor([] { return frm_Instructions->isVisible(); }, 5000));
            QTest::qWait(100);
            QVERIFY(login); // not freed under the box
        });
        dialogs->answer("127.0.0.1");
        QTest::mouseClick(frm_Login->Label2, Qt::LeftButton);
        QCOMPARE(settingsBytes(), QByteArray("[Morvel]\r\nServerIp=127.0.0.1\r\n"));
        QVERIFY(QTest::qWaitFor([&] { return login.isNull(); }, 5000));
        QVERIFY(frm_Login == nullptr);
        QVERIFY(frm_Instructions->isVisible());
    }

    // A repeated answer after the login was accepted changes nothing: the
    // instructions are not shown again and the exam's connection stays.
    void answersAfterTheLoginAreIgnored_data() {
        QTest::addColumn<QByteArray>("late");
        QTest::newRow("00") << QByteArray("00");
        QTest::newRow("11") << QByteArray("11");
    }

    void answersAfterTheLoginAreIgnored() {
        QFETCH(QByteArray, late);
        ScriptedListener listener;
        pressOk("0001");
        accepted();
        client::EnteredExam = true;
        frm_Instructions->close();
        listener.send(late);
        QTest::qWait(300);
        QVERIFY(!frm_Instructions->isVisible());
        QCOMPARE(dialogs->calls.size(), 0);
        QVERIFY(frm_Main->ClientSocket1->connected());
    }

    // The console's own listener: "00", then "11" for the same number from
    // another client, then "00" again after readmission.
    void aSecondLoginIsRefusedUntilReadmission() {
        running.reset();
        dialogs.reset();
        fixture::Console console;
        startExam(console, {"A班"});

        running = std::make_unique<Client>();
        pressOk("0001");
        accepted();
        QCOMPARE(fixture::examineeState("0001"), QString("1|127.0.0.1|登录成功!"));

        running.reset(); // the same number on another PC
        running = std::make_unique<Client>();
        pressOk("0001");
        QVERIFY(QTest::qWaitFor([&] { return !console.dialogs.calls.isEmpty(); }, 5000));
        QCOMPARE(console.dialogs.texts(), QStringList{"准考证号重复！"});
        QVERIFY(frm_Login->isVisible());
        QVERIFY(!frm_Main->ClientSocket1->connected());
        console.dialogs.clear();

        QVERIFY(console.main->ADOTable1->locate("准考证号", "0001"));
        console.dialogs.answer(fw::IDOK);
        console.main->Btn_Resume->click();
        QCOMPARE(fixture::examineeState("0001"), QString("0||"));
        console.dialogs.clear();

        pressOk("0001");
        accepted();
        QCOMPARE(fixture::examineeState("0001"), QString("1|127.0.0.1|登录成功!"));
        QCOMPARE(console.dialogs.calls.size(), 0);
        running.reset();
    }
};

MORVEL_TEST_MAIN(TestLogin)
#include "tst_login.moc"
