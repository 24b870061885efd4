// The console under load, with its own private database cluster.
//
//   build/bench/server/bench_server [examinees=500] [class size=50] [archive MB=20]
//
// Run it as the unprivileged user who builds (PostgreSQL refuses root), with
// port 5000 free. It creates a cluster in a temporary folder with morvel-db
// (on a free port), runs both parts and removes the cluster again.
//
// Logins: the class dialog confirms the room's class and the console's
// listener opens (papers and procedures play no part here); every examinee's
// PC connects at once, sends "1" and its exam number, then "2" and "3".
// Printed: the time until every login is answered, beside the time of as many
// single-row posts on 考生信息 through the same dataset layer. Every answer
// must be "00" and every row "交卷结束!".
// Collection: one class with an archive of the given size per examinee is
// collected; printed: the time, beside cp of the same files, and the
// console's peak memory.
#include "bench/support/BenchSupport.h"
#include "framework/core/Sockets.h"
#include "framework/data/Connection.h"
#include "framework/data/Query.h"
#include "framework/widgets/Dialogs.h"
#include "server/Program.h"
#include "server/Unit_Common.h"
#include "server/Unit_Main.h"
#include "server/Unit_SelectClass.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <cstdio>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace bench;

QString examNo(int i) {
    return QString::number(i).rightJustified(8, '0');
}

// Serves events until done() holds or the time runs out.
template <class F> bool serveUntil(F done, int milliseconds = 30000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// The class dialog with every class ticked, confirmed.
void chooseEveryClass() {
    server::ExamineeListImported = true;
    server::frm_SelectClass->show();
    QListWidget* list = server::frm_SelectClass->CheckListBox1;
    for (int k = 0; k < list->count(); ++k)
        list->item(k)->setCheckState(Qt::Checked);
    server::frm_SelectClass->Btn_OK->click();
}

bool roomLogsIn(int examinees) {
    sql("truncate 考生信息, 考试情况, 操作题答卷");
    sql("insert into 考试情况(班级, 是否选择, 是否已考) values ('机房', 0, 0)");
    sql("insert into 考生信息(准考证号, 姓名, 班级, ip, 考试状态, 登录标志) "
        "select lpad(i::text, 8, '0'), '考生' || i, '机房', '', '', 0 "
        "from generate_series(1, ?) i",
        {examinees});

    // The same number of single-row posts on the same table, by the dataset
    // layer the console's report handling uses (before the console reads the
    // table, so its own posts find the rows as they are).
    fw::Connection connection;
    connection.setConnectionString(server::frm_Main->ADOConnection1->connectionString());
    fw::Table table;
    table.setConnection(&connection);
    table.setTableName("考生信息");
    table.open();
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= examinees; ++i) {
        table.locate("准考证号", examNo(i));
        table.edit();
        table.fieldByName("IP").setAsString("10.0.0.1");
        table.post();
    }
    const qint64 posts = clock.elapsed();
    table.close();
    connection.close();
    chooseEveryClass();

    server::frm_Main->ServerSocket1->open();
    QList<QTcpSocket*> pcs;
    QList<QByteArray> answers(examinees);
    int answered = 0;
    qint64 lastAnswer = 0;
    clock.restart();
    for (int i = 1; i <= examinees; ++i) {
        auto* pc = new QTcpSocket(qApp);
        const QByteArray login = "1" + examNo(i).toLatin1();
        QObject::connect(pc, &QTcpSocket::connected, pc, [pc, login] { pc->write(login); });
        QObject::connect(pc, &QTcpSocket::readyRead, pc, [&, pc, i] {
            answers[i - 1] += pc->readAll();
            if (answers[i - 1].size() >= 2) {
                ++answered;
                lastAnswer = clock.elapsed();
            }
        });
        pc->connectToHost("127.0.0.1", 5000);
        pcs << pc;
    }
    const bool allAnswered = serveUntil([&] { return answered >= examinees; });
    const qint64 logins = lastAnswer;
    const int accepted = int(std::count(answers.begin(), answers.end(), QByteArray("00")));

    const auto report = [&](char code, const QString& state) {
        QElapsedTimer reports;
        reports.start();
        for (int i = 0; i < examinees; ++i)
            pcs[i]->write(code + examNo(i + 1).toLatin1());
        const QString done = "select count(*) from 考生信息 where 考试状态 = '" + state + "'";
        serveUntil([&] { return count(done) >= examinees; });
        return reports.elapsed();
    };
    const qint64 opened = report('2', "正在考试中...");
    const qint64 handedIn = report('3', "交卷结束!");
    const int finished = count("select count(*) from 考生信息 where 考试状态 = '交卷结束!'");
    server::frm_Main->ServerSocket1->close();
    qDeleteAll(pcs);

    std::printf("Logins: %d examinees log in at once\n", examinees);
    std::printf("  every login answered after   %7lld ms%s\n", (long long)logins,
                allAnswered ? "" : "  (NOT ALL ANSWERED)");
    std::printf("  %d single-row posts took     %7lld ms\n", examinees, (long long)posts);
    std::printf("  all \"2\" recorded after       %7lld ms\n", (long long)opened);
    std::printf("  all \"3\" recorded after       %7lld ms\n", (long long)handedIn);
    std::printf("  answers \"00\": %d of %d; rows \"交卷结束!\": %d of %d\n", accepted, examinees,
                finished, examinees);
    return accepted == examinees && finished == examinees;
}

qint64 bytesUnder(const QString& folder) {
    qint64 total = 0;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

bool classIsCollected(int examinees, int megabytes) {
    sql("truncate 考生信息, 考试情况, 操作题答卷");
    sql("insert into 考试情况(班级, 是否选择, 是否已考) values ('大班', 1, 0)");
    sql("insert into 考生信息(准考证号, 姓名, 班级, ip, 考试状态, 登录标志) "
        "select lpad(i::text, 8, '0'), '考生' || i, '大班', '', '交卷结束!', 1 "
        "from generate_series(1, ?) i",
        {examinees});
    // The archives are made inside the database: md5 gives 16 bytes a turn.
    sql("insert into 操作题答卷(准考证号, 操作题答卷) "
        "select 准考证号, decode(repeat(md5(准考证号), ? * 65536), 'hex') from 考生信息",
        {megabytes});

    QTemporaryDir folder;
    QDir(folder.path()).mkdir("program");
    server::AppPath = folder.path() + "/program/";
    server::SelectedClasses = {"大班"};
    const long before = residentKb();
    QElapsedTimer clock;
    clock.start();
    server::frm_Main->CollectResults();
    const qint64 collection = clock.elapsed();
    const long peak = peakKb();
    const qint64 written = bytesUnder(server::AppPath + "大班/操作题");

    clock.restart();
    QProcess cp;
    cp.start("cp", {"-r", server::AppPath + "大班/操作题", folder.path() + "/copy"});
    cp.waitForFinished(-1);
    const qint64 copy = clock.elapsed();

    const qint64 expected = qint64(examinees) * megabytes * 1024 * 1024;
    std::printf("Collection: a class of %d examinees with %d MB archives (%lld MB)\n", examinees,
                megabytes, (long long)(expected >> 20));
    std::printf("  collection (score file, marking, archives) %7lld ms\n", (long long)collection);
    std::printf("  cp of the same archive files               %7lld ms\n", (long long)copy);
    std::printf("  console memory: %ld MB before, peak %ld MB (one archive: %d MB)\n",
                before / 1024, peak / 1024, megabytes);
    std::printf("  archive bytes written: %lld of %lld\n", (long long)written, (long long)expected);
    return written == expected && cp.exitCode() == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (geteuid() == 0)
        fail("run as the unprivileged user: PostgreSQL refuses root");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int examinees = args.value(1, "500").toInt();
    const int classSize = args.value(2, "50").toInt();
    const int megabytes = args.value(3, "20").toInt();

    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    bool ok = false;
    try {
        Cluster cluster;
        PrintedDialogs dialogs;
        fw::setDialogs(&dialogs);
        if (server::StartProgram())
            fail("the console did not start");
        const bool room = roomLogsIn(examinees);
        const bool collected = classIsCollected(classSize, megabytes);
        server::EndProgram();
        catalog().close();
        fw::setDialogs(nullptr);
        ok = room && collected && dialogs.errors == 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_server: %s\n", e.what());
        server::EndProgram();
        fw::setDialogs(nullptr);
    }
    std::printf("%s\n", ok ? "bench_server: all checks passed" : "bench_server: CHECKS FAILED");
    return ok ? 0 : 1;
}
