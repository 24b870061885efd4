// A whole exam on the console: import, choose, generate, start, the PCs log
// in and report, a readmission, a cheating record, hand-in and collection.
#include "ConsoleFixture.h"
#include "tests/support/TestMain.h"

#include "framework/core/Sockets.h"
#include "framework/data/Query.h"
#include "framework/widgets/DbControls.h"
#include "server/Unit_Cheat.h"
#include "server/Unit_Common.h"
#include "server/Unit_Main.h"

#include <QFile>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>

using namespace server;

class TestExam : public QObject {
    Q_OBJECT
private slots:
    void init() { fixture::resetCatalog(); }
    void aWholeExam();
};

// An examinee's PC: a connection of its own from a loopback address.
struct Pc {
    explicit Pc(const QString& address) {
        socket.bind(QHostAddress(address));
        socket.connectToHost("127.0.0.1", 5000);
    }
    QByteArray say(const QByteArray& message) {
        socket.write(message);
        if (!QTest::qWaitFor([this] { return socket.bytesAvailable() >= 2; }, 3000))
            return QByteArray();
        return socket.readAll();
    }
    void report(const QByteArray& message) { socket.write(message); }
    QTcpSocket socket;
};

void TestExam::aWholeExam() {
    fixture::Console console;
    ScriptedDialogs& dialogs = console.dialogs;
    Tfrm_Main* main = console.main;

    dialogs.answer(fixture::sampleWorkbook());
    main->N1->trigger();
    const QString cls = fixture::value("select min(班级) from 考试情况").toString();
    fixture::chooseClasses({cls});
    dialogs.answer(fixture::sampleBank());
    main->Btn_LoadQuestion->click();
    main->Btn_GenerateQuestion->click();
    main->Btn_Start->click();
    QCOMPARE(dialogs.errors(), QStringList());
    dialogs.clear();

    const QStringList examinees = fixture::rows(
        "select 准考证号, 姓名 from 考生信息 where 班级 = ? order by 准考证号", {cls});
    QVERIFY(examinees.size() >= 2);
    QCOMPARE(main->ADOTable1->recordCount(), examinees.size());

    // Every PC logs in and opens its exam window. The database sees every
    // client of this test at 127.0.0.1, so the PCs are there too, but for
    // the first, which is to fail.
    std::vector<std::unique_ptr<Pc>> pcs;
    for (qsizetype i = 0; i < examinees.size(); ++i) {
        const QByteArray examNo = examinees[i].section('|', 0, 0).toLatin1();
        pcs.push_back(std::make_unique<Pc>(i == 0 ? "127.0.0.99" : "127.0.0.1"));
        QCOMPARE(pcs.back()->say("1" + examNo), QByteArray("00"));
        pcs.back()->report("2" + examNo);
    }
    QVERIFY(QTest::qWaitFor([&] {
        return fixture::value("select count(*) from 考生信息 where 考试状态 = '正在考试中...'")
                   .toInt() == examinees.size();
    }));

    // The first PC fails: the examinee is readmitted and logs in on a spare.
    const QString first = examinees[0].section('|', 0, 0);
    QVERIFY(main->ADOTable1->locate("准考证号", first));
    dialogs.answer(fw::IDOK);
    main->Btn_Resume->click();
    Pc spare("127.0.0.1");
    QCOMPARE(spare.say("1" + first.toLatin1()), QByteArray("00"));
    QCOMPARE(fixture::examineeState(first), QString("1|127.0.0.1|登录成功!"));

    // A cheating case for the second examinee.
    const QString second = examinees[1].section('|', 0, 0);
    QVERIFY(main->ADOTable1->locate("准考证号", second));
    fixture::whenModal([] {
        frm_Cheat->DBMemo1->setPlainText("夹带");
        frm_Cheat->Button1->click();
    });
    main->Btn_Fraud->click();

    // Hand-in: each client stores its archive under the login Morvel, from
    // the address its examinee was admitted from, then reports.
    QSqlDatabase client = fixture::clientLogin("client-login");
    QVERIFY2(client.open(), qPrintable(client.lastError().text()));
    QHash<QString, QByteArray> archives;
    for (qsizetype i = 0; i < examinees.size(); ++i) {
        const QString examNo = examinees[i].section('|', 0, 0);
        archives[examNo] = "Rar!\x1a\x07\x01\x00 archive of " + examNo.toLatin1();
        QSqlQuery store(client);
        store.prepare("insert into 操作题答卷(准考证号, 操作题答卷) values (?, ?)");
        store.addBindValue(examNo);
        store.addBindValue(archives[examNo]);
        QVERIFY2(store.exec(), qPrintable(store.lastError().text()));
        (i == 0 ? spare : *pcs[i]).report("3" + examNo.toLatin1());
    }
    client.close();
    QVERIFY(QTest::qWaitFor([&] {
        return fixture::value("select count(*) from 考生信息 where 考试状态 = '交卷结束!'")
                   .toInt() == examinees.size();
    }));

    dialogs.answer(fw::IDOK);
    main->Btn_End->click();
    QCOMPARE(dialogs.texts(),
             QStringList({"是否要对当前选择的考生重新考试？\r\r" + examinees[0].section('|', 0, 0) +
                              "-" + examinees[0].section('|', 1, 1),
                          "请确认考生都已交卷。是否真的要收卷？", "收卷完成!"}));
    QCOMPARE(fixture::rows("select 班级 from 考试情况 where 是否已考 = 1"), QStringList{cls});
    QVERIFY(!main->ServerSocket1->active());
    QVERIFY(!main->ADOTable1->active());
    QVERIFY(
        QTest::qWaitFor([&] { return spare.socket.state() == QAbstractSocket::UnconnectedState; }));

    for (const QString& row : examinees) {
        const QString examNo = row.section('|', 0, 0);
        QFile archive(AppPath + cls + "/操作题/" + cls + examNo + row.section('|', 1, 1) + ".rar");
        QVERIFY2(archive.open(QIODevice::ReadOnly), qPrintable(archive.fileName()));
        QCOMPARE(archive.readAll(), archives[examNo]);
    }
    {
        QSqlDatabase score = QSqlDatabase::addDatabase("QSQLITE", "score");
        score.setDatabaseName(AppPath + cls + "/score.mdb");
        QVERIFY(score.open());
        QSqlQuery marks(score);
        QVERIFY(marks.exec("select 准考证号, 备注 from 成绩表 order by 准考证号"));
        QStringList got;
        while (marks.next())
            got << marks.value(0).toString() + "|" + marks.value(1).toString();
        QCOMPARE(got.size(), examinees.size());
        QVERIFY2(got.contains(second + "|夹带"), qPrintable(got.join(", ")));
    }
    QSqlDatabase::removeDatabase("score");
}

MORVEL_TEST_MAIN(TestExam)
#include "tst_exam.moc"
