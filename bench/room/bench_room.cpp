// A whole computer room at once: N simulated client PCs against the console
// and the exam database, beside the same room of a yardstick size.
//
//   build/bench/room/bench_room [clients=500] [yardstick=50] [seconds=60] [archive MB=2]
//
// Run it as the unprivileged user who builds (PostgreSQL refuses root), with
// port 5000 free. It makes a private cluster with morvel-db (room size left
// at its default), then for each size: the examinees of one class, the
// console in a process of its own (class chosen, the sample bank loaded,
// papers generated, exam started: GrantPermissions and the listener), and
// one thread per PC. Every PC has its own database connection as the login
// Morvel over TCP and its own status connection, both from this machine's
// loopback address, which the console records for each, and does the
// client's work in order through the framework's datasets, as the client
// program sends it: the login lookup, "1", the three paper queries, the
// two task tables, "2", fifteen answer posts at random moments of the
// interval, "3", and the hand-in of its archive into 操作题答卷.
//
// Printed: as many plain libpq connections opened at once (the pace of the
// machine and its database server, which starts a process per connection),
// the time until every login is answered, the p50/p99 latency of
// an answer post, the hand-in throughput, the logins whose lookup failed and
// was pressed again (as an examinee does: the client says nothing), the
// errors (must be 0), and the
// peak memory of the console and of the cluster (the sum of its processes'
// proportional set sizes).
#include "bench/support/BenchConsole.h"
#include "bench/support/BenchSupport.h"
#include "framework/core/Error.h"
#include "framework/core/Sockets.h"
#include "framework/data/Connection.h"
#include "framework/data/Query.h"
#include "framework/widgets/Dialogs.h"
#include "server/Program.h"
#include "server/Unit_Common.h"
#include "server/Unit_Main.h"
#include "server/Unit_SelectClass.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <latch>
#include <libpq-fe.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

using namespace bench;

namespace {

// ---------------------------------------------------------------- the console

// The console's boxes: questions get OK, the bank is the sample's, errors
// go to standard output as they come, a line each.
class ConsoleDialogs : public fw::Dialogs {
public:
    void showMessage(const QString&) override {}
    int messageBox(const QString&, const QString&, unsigned) override { return fw::IDOK; }
    int messageDlg(const QString&, fw::MsgDlgType, fw::MsgDlgButtons) override { return fw::mrYes; }
    bool inputQuery(const QString&, const QString&, QString&, int) override { return false; }
    bool openFile(const QString&, QString& fileName) override {
        fileName = MORVEL_SAMPLE_BANK;
        return true;
    }
    void showError(const QString& message) override {
        std::printf("error %s\n", qPrintable(QString(message).replace('\n', ' ')));
        std::fflush(stdout);
    }
};

// The console, in this process: the exam started as the invigilator starts
// it, "ready" on standard output, then it serves until it is ended.
int runConsole(int argc, char** argv) {
    QApplication app(argc, argv);
    ConsoleDialogs dialogs;
    fw::setDialogs(&dialogs);
    if (server::StartProgram())
        return 1;
    chooseEveryClass();
    server::frm_Main->Btn_LoadQuestion->click();
    server::frm_Main->Btn_GenerateQuestion->click();
    server::frm_Main->Btn_Start->click();
    if (!server::frm_Main->ServerSocket1->active())
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

// ---------------------------------------------------------------- a client PC

const QString LoginSql = "select a.* from 考生信息 a inner join 考试情况 b on a.班级=b.班级 where "
                         "b.是否选择=1 and b.是否已考=0 and a.准考证号= :zkzh";
const QString PaperSql[3] = {
    "select a.ID,a.subject,a.a,a.b,a.c,a.d,a.pic,b.QuestionID,b.准考证号,b.题号,b.试题类别,b."
    "答题结果 from 选择题 a inner join 试卷表 b on a.id=b.题号 where 试题类别=1 and  "
    "准考证号=:zkzh "
    "order by random() limit 5",
    "select a.ID,a.subject,a.pic,b.QuestionID,b.准考证号,b.题号,b.试题类别,b.答题结果 from 判断题 "
    "a  inner join 试卷表 b on a.id=b.题号 where  试题类别=2 and 准考证号=:zkzh order by random() "
    "limit 5",
    "select a.ID,a.subject,a.pic,b.QuestionID,b.准考证号,b.题号,b.试题类别,b.答题结果 from 填空题 "
    "a inner join 试卷表 b on a.id=b.题号 where  试题类别=3 and 准考证号=:zkzh order by random() "
    "limit 5"};
const QString Answers[3][2] = {{"A", "C"}, {"1", "0"}, {"答案", "answer"}};

struct Shared {
    QElapsedTimer clock; // started when every PC may go
    int seconds = 60;
    QString archive;
    QMutex mutex;
    QList<qint64> postNs;
    QStringList errors;
    std::atomic<qint64> lastLookupMs{0};
    std::atomic<qint64> lastLoginMs{0};
    std::atomic<qint64> handInStartMs{-1};
    std::atomic<qint64> handInEndMs{0};
    std::atomic<qint64> handedInBytes{0};
    std::atomic<int> loginRetries{0};
    void error(const QString& what) {
        QMutexLocker lock(&mutex);
        errors << what;
    }
};

void atLeast(std::atomic<qint64>& value, qint64 v) {
    qint64 now = value.load();
    while (now < v && !value.compare_exchange_weak(now, v)) {
    }
}

void atMost(std::atomic<qint64>& value, qint64 v) {
    qint64 now = value.load();
    while ((now < 0 || now > v) && !value.compare_exchange_weak(now, v)) {
    }
}

// One PC from the login to the hand-in.
void clientPc(const QString& typedNumber, Shared& shared, std::latch& go) {
    fw::Connection connection;
    connection.setProvider("SQLOLEDB.1");
    connection.setConnectionString("Password=\"5093718\";Persist Security Info=True;User "
                                   "ID=Morvel;Initial Catalog=Morvel;Data Source=127.0.0.1");
    fw::Query login, papers[3];
    fw::Table tasks, archives;
    for (fw::Dataset* d : {static_cast<fw::Dataset*>(&login), static_cast<fw::Dataset*>(&tasks),
                           static_cast<fw::Dataset*>(&archives)})
        d->setConnection(&connection);
    login.setSQL(LoginSql);
    login.paramByName("zkzh").setDataType(fw::DataType::FixedChar);
    login.paramByName("zkzh").setSize(255);
    tasks.setTableName("操作题");
    archives.setTableName("操作题答卷");
    QTcpSocket status;
    QList<qint64> posts;
    go.arrive_and_wait();
    try {
        login.paramByName("zkzh").setValue(typedNumber);
        // A lookup that fails drops its error without a word, and the
        // examinee presses "确定" again: three times here.
        for (int attempt = 1;; ++attempt) {
            try {
                login.close();
                login.open();
                break;
            } catch (const fw::DbError&) {
                if (attempt == 3)
                    throw;
                ++shared.loginRetries;
            }
        }
        if (login.isEmpty())
            fail(typedNumber + ": 准考证号错误！");
        atLeast(shared.lastLookupMs, shared.clock.elapsed());
        const QString examNo = login.fieldByName("准考证号").asString();
        status.connectToHost("127.0.0.1", 5000);
        if (!status.waitForConnected(60000))
            fail(examNo + ": no status connection: " + status.errorString());
        status.write("1" + examNo.toLatin1());
        QByteArray answer;
        while (answer.size() < 2 && status.waitForReadyRead(60000))
            answer += status.readAll();
        if (!answer.startsWith("00"))
            fail(examNo + ": login answered \"" + QString::fromLatin1(answer) + "\"");
        atLeast(shared.lastLoginMs, shared.clock.elapsed());

        for (int k = 0; k < 3; ++k) {
            papers[k].setConnection(&connection);
            papers[k].setSQL(PaperSql[k]);
            papers[k].paramByName("zkzh").setDataType(fw::DataType::String);
            papers[k].paramByName("zkzh").setSize(50);
            papers[k].paramByName("zkzh").setValue(examNo);
            papers[k].open();
            if (papers[k].recordCount() != 5)
                fail(examNo +
                     QString(": paper %1 has %2 rows").arg(k + 1).arg(papers[k].recordCount()));
        }
        tasks.open();
        archives.open();
        status.write("2" + examNo.toLatin1());
        status.flush();

        // Fifteen answers at random moments of the interval.
        QList<qint64> moments;
        for (int i = 0; i < 15; ++i)
            moments << QRandomGenerator::global()->bounded(qint64(shared.seconds) * 1000);
        std::sort(moments.begin(), moments.end());
        const qint64 start = shared.clock.elapsed();
        for (int i = 0; i < 15; ++i) {
            const qint64 wait = start + moments[i] - shared.clock.elapsed();
            if (wait > 0)
                QThread::msleep(quint64(wait));
            fw::Query& paper = papers[i % 3];
            paper.setRecNo(i / 3 + 1);
            paper.edit();
            paper.fieldByName("答题结果").setAsString(Answers[i % 3][i % 2]);
            QElapsedTimer post;
            post.start();
            paper.post();
            posts << post.nsecsElapsed();
        }

        // The hand-in: reported, then the archive stored.
        status.write("3" + login.fieldByName("准考证号").asString().toLatin1());
        status.flush();
        atMost(shared.handInStartMs, shared.clock.elapsed());
        if (archives.locate("准考证号", examNo))
            archives.edit();
        else
            archives.append();
        archives.fieldByName("准考证号").setAsString(examNo);
        archives.fieldByName("操作题答卷").loadFromFile(shared.archive);
        archives.post();
        atLeast(shared.handInEndMs, shared.clock.elapsed());
        shared.handedInBytes += QFileInfo(shared.archive).size();
    } catch (const std::exception& e) {
        shared.error(QString::fromUtf8(e.what()));
    }
    QMutexLocker lock(&shared.mutex);
    shared.postNs << posts;
}

// ---------------------------------------------------------------- a room

struct Figures {
    int clients = 0;
    qint64 bareMs = 0, lookupsMs = 0, loginsMs = 0;
    double p50Ms = 0, p99Ms = 0;
    double handInMBps = 0;
    int errors = 0;
    int loginRetries = 0;
    long consoleKb = 0, clusterKb = 0;
};

double percentile(QList<qint64> ns, double p) {
    if (ns.isEmpty())
        return 0;
    std::sort(ns.begin(), ns.end());
    return double(ns[qsizetype(p * double(ns.size() - 1))]) / 1e6;
}

// The machine's own pace: as many plain libpq connections as the room has
// PCs, opened at once from as many threads, as the login Morvel over TCP.
// No login of a room can be faster, since the server starts a process for
// every connection; on a machine whose processes start slowly this is most
// of the logins' time.
qint64 bareConnections(int n) {
    const QByteArray info =
        "host=127.0.0.1 port=" + qgetenv("PGPORT") + " dbname=Morvel user=Morvel password=5093718";
    std::vector<PGconn*> connections(size_t(n), nullptr);
    std::latch go(n + 1);
    std::vector<std::thread> threads;
    threads.reserve(size_t(n));
    for (int i = 0; i < n; ++i)
        threads.emplace_back([&, i] {
            go.arrive_and_wait();
            connections[size_t(i)] = PQconnectdb(info.constData());
        });
    QElapsedTimer clock;
    clock.start();
    go.arrive_and_wait();
    for (std::thread& t : threads)
        t.join();
    const qint64 ms = clock.elapsed();
    int failed = 0;
    for (PGconn* c : connections) {
        failed += PQstatus(c) != CONNECTION_OK;
        PQfinish(c);
    }
    if (failed > 0)
        fail(QString("%1 of %2 plain connections failed").arg(failed).arg(n));
    return ms;
}

Figures room(const Cluster& cluster, int clients, int seconds, const QString& archive) {
    sql("truncate 考生信息, 考试情况, 试卷表, 操作题答卷, 作弊处理");
    sql("insert into 考试情况(班级, 是否选择, 是否已考) values ('机房', 0, 0)");
    sql("insert into 考生信息(考生id, 准考证号, 姓名, 班级, ip, 考试状态, 登录标志) "
        "select i, lpad(i::text, 8, '0'), '考生' || i, '机房', '', '', 0 "
        "from generate_series(1, ?) i",
        {clients});

    QProcess console;
    console.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    console.start(QCoreApplication::applicationFilePath(), {"--console"});
    if (!console.waitForReadyRead(180000) || !console.readLine().startsWith("ready"))
        fail("the console did not start the exam");

    Figures f;
    f.clients = clients;
    f.bareMs = bareConnections(clients);
    Shared shared;
    shared.seconds = seconds;
    shared.archive = archive;
    std::atomic<bool> sampling{true};
    std::atomic<long> clusterPeak{0};
    std::thread sampler([&] {
        while (sampling) {
            clusterPeak = std::max(clusterPeak.load(), cluster.memoryKb());
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });

    std::latch go(clients + 1);
    std::vector<std::thread> pcs;
    pcs.reserve(size_t(clients));
    for (int i = 1; i <= clients; ++i)
        pcs.emplace_back(clientPc, QString::number(i).rightJustified(8, '0'), std::ref(shared),
                         std::ref(go));
    shared.clock.start();
    go.arrive_and_wait();
    for (std::thread& pc : pcs)
        pc.join();
    sampling = false;
    sampler.join();

    f.consoleKb = procKb(QString::number(console.processId()), "status", "VmHWM:");
    console.kill();
    console.waitForFinished(10000);
    for (const QByteArray& line : console.readAll().split('\n'))
        if (line.startsWith("error "))
            shared.errors << "console: " + QString::fromUtf8(line.mid(6));
    f.clusterKb = clusterPeak;
    f.lookupsMs = shared.lastLookupMs;
    f.loginsMs = shared.lastLoginMs;
    f.loginRetries = shared.loginRetries;
    f.p50Ms = percentile(shared.postNs, 0.50);
    f.p99Ms = percentile(shared.postNs, 0.99);
    const qint64 handInMs = shared.handInEndMs - shared.handInStartMs;
    f.handInMBps =
        handInMs > 0 ? double(shared.handedInBytes) / 1048576.0 / (handInMs / 1000.0) : 0;
    if (shared.postNs.size() != qsizetype(clients) * 15)
        shared.errors
            << QString("%1 answer posts of %2").arg(shared.postNs.size()).arg(clients * 15);
    const int stored = [&] {
        QSqlQuery q(catalog());
        q.exec("select count(*) from 操作题答卷 a join 考生信息 e using (准考证号) where "
               "e.考试状态 = '交卷结束!'");
        return q.next() ? q.value(0).toInt() : -1;
    }();
    if (stored != clients)
        shared.errors << QString("%1 archives stored and reported of %2").arg(stored).arg(clients);
    f.errors = int(shared.errors.size());
    for (const QString& e : shared.errors.mid(0, 5))
        std::printf("  error (%d clients): %s\n", clients, qPrintable(e));
    return f;
}

void print(const Figures& ours, const Figures& yard) {
    const auto row = [](const char* what, double y, double o, const char* unit) {
        std::printf("  %-34s %10.1f %10.1f  %s   ratio %.2f\n", what, y, o, unit,
                    y > 0 ? o / y : 0);
    };
    std::printf("  %-34s %10d %10d\n", "clients", yard.clients, ours.clients);
    row("plain libpq connections at once", double(yard.bareMs), double(ours.bareMs), "ms");
    row("every login looked up after", double(yard.lookupsMs), double(ours.lookupsMs), "ms");
    row("every login answered after", double(yard.loginsMs), double(ours.loginsMs), "ms");
    row("answer post p50", yard.p50Ms, ours.p50Ms, "ms");
    row("answer post p99", yard.p99Ms, ours.p99Ms, "ms");
    row("hand-in throughput", yard.handInMBps, ours.handInMBps, "MB/s");
    row("console peak memory", yard.consoleKb / 1024.0, ours.consoleKb / 1024.0, "MB");
    row("cluster peak memory (PSS)", yard.clusterKb / 1024.0, ours.clusterKb / 1024.0, "MB");
    std::printf("  %-34s %10d %10d\n", "logins pressed again", yard.loginRetries,
                ours.loginRetries);
    std::printf("  %-34s %10d %10d  (must be 0)\n", "errors", yard.errors, ours.errors);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1 && QByteArray(argv[1]) == "--console")
        return runConsole(argc, argv);
    if (geteuid() == 0) {
        std::fprintf(stderr, "bench_room: run as the unprivileged user: PostgreSQL refuses root\n");
        return 1;
    }
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int clients = args.value(1, "500").toInt();
    const int yardstick = args.value(2, "50").toInt();
    const int seconds = args.value(3, "60").toInt();
    const int megabytes = args.value(4, "2").toInt();
    raiseFileLimit();

    bool ok = false;
    try {
        QTemporaryDir folder;
        const QString archive = folder.path() + "/考生文件夹.rar";
        QFile file(archive);
        if (!file.open(QIODevice::WriteOnly))
            fail("cannot write " + archive);
        QByteArray bytes(megabytes * 1048576, Qt::Uninitialized);
        for (char& b : bytes)
            b = char(QRandomGenerator::global()->generate());
        file.write(bytes);
        file.close();

        Cluster cluster;
        std::printf("Room: PCs log in at once, open their papers, post 15 answers over %d s and "
                    "hand in %d MB each\n",
                    seconds, megabytes);
        const Figures yard = room(cluster, yardstick, seconds, archive);
        const Figures ours = room(cluster, clients, seconds, archive);
        std::printf("  %-34s %10s %10s\n", "", "yardstick", "room");
        print(ours, yard);
        catalog().close();
        ok = ours.errors == 0 && yard.errors == 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_room: %s\n", e.what());
    }
    QSqlDatabase::removeDatabase("bench");
    std::printf("%s\n", ok ? "bench_room: every PC served, 0 errors" : "bench_room: ERRORS");
    return ok ? 0 : 1;
}
