// The console under load, with its own private database cluster.
//
//   build/bench/server/bench_server [examinees=500] [class size=50] [archive MB=20] [runs=3]
//
// Run it as the unprivileged user who builds (PostgreSQL refuses root), with
// port 5000 free. It creates a cluster in a temporary folder with morvel-db
// (on a free port), runs both parts and removes the cluster again.
//
// Logins: the class dialog confirms the room's class and the console's
// listener opens (papers and procedures play no part here); every examinee's
// PC connects at once, sends "1" and its exam number, then "2" and "3". The
// PCs' sockets live on a thread of their own, as they would on their own
// machines, so that the console's event loop serves only its own connections.
// The figure: the time until every login is answered, beside the time of as
// many single-row posts on 考生信息 through the same dataset layer, measured
// in the same round. Every answer must be "00" and every row "交卷结束!".
//
// Collection: one class with an archive of incompressible bytes of the given
// size per examinee is collected. The figures: the time, beside libpq reading
// the same archives in binary, in single-row mode, each into a file of its
// own; and the console's peak memory above what it held before, in archives.
// cp of the written files is printed as well.
//
// Each figure is the median of the runs (the rounds of the two take turns).
#include "bench/support/BenchConsole.h"
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
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <libpq-fe.h>
#include <unistd.h>

namespace {

using namespace bench;

// A libpq connection of its own to the catalog.
PGconn* libpqCatalog() {
    const QByteArray info =
        "host=" + qgetenv("PGHOST") + " port=" + qgetenv("PGPORT") + " dbname=Morvel";
    PGconn* conn = PQconnectdb(info.constData());
    if (PQstatus(conn) != CONNECTION_OK)
        fail(QString::fromUtf8(PQerrorMessage(conn)));
    return conn;
}

QString examNo(int i) {
    return QString::number(i).rightJustified(8, '0');
}

// Serves events until done() holds or the time runs out.
template <class F> bool serveUntil(F done, int milliseconds = 60000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// ---------------------------------------------------------------- logins

// The examinees' PCs, on their own thread: each connects, sends "1" and its
// exam number once connected, and counts the answer.
class Room : public QObject {
public:
    void logIn(int examinees, const QElapsedTimer* clock) {
        answers = QList<QByteArray>(examinees);
        for (int i = 1; i <= examinees; ++i) {
            auto* pc = new QTcpSocket(this);
            const QByteArray login = "1" + examNo(i).toLatin1();
            connect(pc, &QTcpSocket::connected, pc, [pc, login] { pc->write(login); });
            connect(pc, &QTcpSocket::readyRead, pc, [this, pc, i, clock] {
                QByteArray& answer = answers[i - 1];
                const bool first = answer.size() < 2;
                answer += pc->readAll();
                if (first && answer.size() >= 2) {
                    if (answer == "00")
                        ++accepted;
                    lastAnswer = clock->elapsed();
                    ++answered;
                }
            });
            pc->connectToHost("127.0.0.1", 5000);
            pcs << pc;
        }
    }
    void report(char code) {
        for (int i = 0; i < pcs.size(); ++i)
            pcs[i]->write(code + examNo(i + 1).toLatin1());
    }
    void leave() {
        qDeleteAll(pcs);
        pcs.clear();
        answered = accepted = 0;
    }

    std::atomic<int> answered{0}, accepted{0};
    std::atomic<qint64> lastAnswer{0};

private:
    QList<QTcpSocket*> pcs;
    QList<QByteArray> answers;
};

struct Logins {
    QVector<double> logins, posts, opened, handedIn;
    QVector<double> loginCpu, postCpu; // the console's thread, in ms
    bool ok = true;
};

// The processor time of the calling thread: what the console itself spent,
// whatever else the machine does meanwhile.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// One round: the posts beside, then the room logs in and reports.
void loginRound(int examinees, Room& room, Logins& figures) {
    sql("update 考生信息 set 登录标志 = 0, ip = '', 考试状态 = ''");

    // As many single-row posts on the same table, by the dataset layer the
    // console's report handling uses (before the console reads the table, so
    // its own posts find the rows as they are).
    {
        fw::Connection connection;
        connection.setConnectionString(server::frm_Main->ADOConnection1->connectionString());
        fw::Table table;
        table.setConnection(&connection);
        table.setTableName("考生信息");
        table.open();
        QElapsedTimer clock;
        clock.start();
        const double cpu = threadCpuMs();
        for (int i = 1; i <= examinees; ++i) {
            table.locate("准考证号", examNo(i));
            table.edit();
            table.fieldByName("IP").setAsString("10.0.0.1");
            table.post();
        }
        figures.posts << double(clock.elapsed());
        figures.postCpu << threadCpuMs() - cpu;
    }
    sql("update 考生信息 set ip = ''");
    chooseEveryClass();

    QElapsedTimer clock;
    clock.start();
    const double cpu = threadCpuMs();
    QMetaObject::invokeMethod(
        &room, [&room, examinees, &clock] { room.logIn(examinees, &clock); }, Qt::QueuedConnection);
    const bool allAnswered = serveUntil([&] { return room.answered >= examinees; });
    figures.logins << double(room.lastAnswer);
    figures.loginCpu << threadCpuMs() - cpu;
    const int accepted = room.accepted;

    const auto report = [&](char code, const QString& state) {
        QElapsedTimer reports;
        reports.start();
        QMetaObject::invokeMethod(
            &room, [&room, code] { room.report(code); }, Qt::QueuedConnection);
        const QString done = "select count(*) from 考生信息 where 考试状态 = '" + state + "'";
        serveUntil([&] { return count(done) >= examinees; });
        return double(reports.elapsed());
    };
    figures.opened << report('2', "正在考试中...");
    figures.handedIn << report('3', "交卷结束!");
    const int finished = count("select count(*) from 考生信息 where 考试状态 = '交卷结束!'");
    QMetaObject::invokeMethod(
        &room, [&room] { room.leave(); }, Qt::BlockingQueuedConnection);
    serveUntil([] { return server::frm_Main->ServerSocket1->connectionCount() == 0; });
    if (!allAnswered || accepted != examinees || finished != examinees) {
        std::printf("  round failed: %d of %d answered \"00\", %d of %d rows \"交卷结束!\"\n",
                    accepted, examinees, finished, examinees);
        figures.ok = false;
    }
}

Logins roomLogsIn(int examinees, int runs) {
    sql("truncate 考生信息, 考试情况, 操作题答卷");
    sql("insert into 考试情况(班级, 是否选择, 是否已考) values ('机房', 0, 0)");
    sql("insert into 考生信息(准考证号, 姓名, 班级, ip, 考试状态, 登录标志) "
        "select lpad(i::text, 8, '0'), '考生' || i, '机房', '', '', 0 "
        "from generate_series(1, ?) i",
        {examinees});
    QThread pcThread;
    Room room;
    room.moveToThread(&pcThread);
    pcThread.start();
    server::frm_Main->ServerSocket1->open();
    Logins figures;
    for (int r = 0; r < runs; ++r)
        loginRound(examinees, room, figures);
    server::frm_Main->ServerSocket1->close();
    pcThread.quit();
    pcThread.wait();
    return figures;
}

// ---------------------------------------------------------------- collection

qint64 bytesUnder(const QString& folder) {
    qint64 total = 0;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

// The yardstick: the same archives out of the database with libpq, binary
// and one row at a time, each written to a file named by its exam number.
qint64 libpqCollects(PGconn* conn, const QString& cls, const QString& folder) {
    const QByteArray text = cls.toUtf8();
    const char* values[] = {text.constData()};
    if (!PQsendQueryParams(conn,
                           "select a.准考证号, b.操作题答卷 from 考生信息 a inner join 操作题答卷 "
                           "b on a.准考证号 = b.准考证号 where a.班级 = $1",
                           1, nullptr, values, nullptr, nullptr, 1) ||
        !PQsetSingleRowMode(conn))
        fail(QString::fromUtf8(PQerrorMessage(conn)));
    qint64 written = 0;
    while (PGresult* row = PQgetResult(conn)) {
        if (PQresultStatus(row) == PGRES_SINGLE_TUPLE) {
            const QByteArray path =
                QFile::encodeName(folder + '/' + QString::fromUtf8(PQgetvalue(row, 0, 0)));
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int length = PQgetlength(row, 0, 1);
            if (fd < 0 || ::write(fd, PQgetvalue(row, 0, 1), size_t(length)) != length)
                fail("cannot write " + QString::fromUtf8(path));
            ::close(fd);
            written += length;
        } else if (PQresultStatus(row) != PGRES_TUPLES_OK) {
            fail(QString::fromUtf8(PQresultErrorMessage(row)));
        }
        PQclear(row);
    }
    return written;
}

struct Collection {
    QVector<double> console, libpq, cp, growthMb;
    long beforeMb = 0;
    bool ok = true;
};

Collection classIsCollected(int examinees, int megabytes, int runs) {
    sql("truncate 考生信息, 考试情况, 操作题答卷");
    sql("insert into 考试情况(班级, 是否选择, 是否已考) values ('大班', 1, 0)");
    sql("insert into 考生信息(准考证号, 姓名, 班级, ip, 考试状态, 登录标志) "
        "select lpad(i::text, 8, '0'), '考生' || i, '大班', '', '交卷结束!', 1 "
        "from generate_series(1, ?) i",
        {examinees});
    // Archives are packed work folders: they do not compress. Random bytes,
    // each archive its own, bound in binary.
    PGconn* conn = libpqCatalog();
    {
        QByteArray archive(qsizetype(megabytes) * 1024 * 1024, Qt::Uninitialized);
        for (char& b : archive)
            b = char(QRandomGenerator::global()->generate());
        for (int i = 1; i <= examinees; ++i) {
            const QByteArray no = examNo(i).toLatin1();
            if (archive.size() >= no.size()) // every archive its own
                std::copy(no.begin(), no.end(), archive.begin());
            const char* values[] = {no.constData(), archive.constData()};
            const int lengths[] = {0, int(archive.size())};
            const int formats[] = {0, 1};
            PGresult* r =
                PQexecParams(conn, "insert into 操作题答卷(准考证号, 操作题答卷) values ($1, $2)",
                             2, nullptr, values, lengths, formats, 0);
            const bool inserted = PQresultStatus(r) == PGRES_COMMAND_OK;
            PQclear(r);
            if (!inserted)
                fail(QString::fromUtf8(PQerrorMessage(conn)));
        }
    }
    sql("checkpoint");

    const qint64 expected = qint64(examinees) * megabytes * 1024 * 1024;
    Collection figures;
    for (int r = 0; r < runs; ++r) {
        QTemporaryDir folder;
        QDir(folder.path()).mkdir("program");
        QDir(folder.path()).mkdir("libpq");
        server::AppPath = folder.path() + "/program/";
        server::SelectedClasses = {"大班"};
        const auto console = [&] {
            resetPeak();
            const long before = residentKb();
            QElapsedTimer clock;
            clock.start();
            server::frm_Main->CollectResults();
            figures.console << double(clock.elapsed());
            figures.growthMb << double(peakKb() - before) / 1024;
            figures.beforeMb = before / 1024;
            figures.ok = figures.ok && bytesUnder(server::AppPath + "大班/操作题") == expected;
        };
        const auto yardstick = [&] {
            QElapsedTimer clock;
            clock.start();
            const qint64 written = libpqCollects(conn, "大班", folder.path() + "/libpq");
            figures.libpq << double(clock.elapsed());
            figures.ok = figures.ok && written == expected;
        };
        // In turns, so that neither always finds the other's pages cached.
        if (r % 2 == 0) {
            console();
            yardstick();
        } else {
            yardstick();
            console();
        }
        QElapsedTimer clock;
        clock.start();
        QProcess cp;
        cp.start("cp", {"-r", server::AppPath + "大班/操作题", folder.path() + "/copy"});
        cp.waitForFinished(-1);
        figures.cp << double(clock.elapsed());
        figures.ok = figures.ok && cp.exitCode() == 0;
    }
    PQfinish(conn);
    return figures;
}

// ---------------------------------------------------------------- the table

bool row(const char* figure, double ours, const char* unit, const char* yardstickName,
         double yardstick, double goal, const QString& extra = {}, bool extraMet = true) {
    const double ratio = yardstick > 0 ? ours / yardstick : 0;
    const bool met = ratio <= goal && extraMet;
    std::printf("%-40s %9.0f %-3s %-34s %9.0f %-3s %6.2fx  <= %.1fx%s  %s\n", figure, ours, unit,
                yardstickName, yardstick, unit, ratio, goal, qPrintable(extra),
                met ? "met" : "NOT MET");
    return met;
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
    const int runs = std::max(1, args.value(4, "3").toInt());

    raiseFileLimit();

    bool ok = false;
    try {
        Cluster cluster;
        PrintedDialogs dialogs;
        fw::setDialogs(&dialogs);
        if (server::StartProgram())
            fail("the console did not start");
        const Logins room = roomLogsIn(examinees, runs);
        const Collection collected = classIsCollected(classSize, megabytes, runs);
        server::EndProgram();
        catalog().close();
        fw::setDialogs(nullptr);

        std::printf("\nmedians of %d runs; \"2\" recorded after %.0f ms, \"3\" after %.0f ms; "
                    "cp of the archive files %.0f ms\n",
                    runs, median(room.opened), median(room.handedIn), median(collected.cp));
        std::printf("the console's own processor time: %.0f ms for the logins, %.0f ms for the "
                    "posts\n",
                    median(room.loginCpu), median(room.postCpu));
        const QString logins = QString::number(examinees) + " logins at once";
        const QString posts = QString::number(examinees) + " single-row posts";
        const QString collection =
            QString("collection of %1 x %2 MB archives").arg(classSize).arg(megabytes);
        const double loginMs = median(room.logins);
        bool met = row(qPrintable(logins), loginMs, "ms", qPrintable(posts), median(room.posts),
                       1.5, " and <= 1000 ms", loginMs <= 1000);
        met = row(qPrintable(collection), median(collected.console), "ms",
                  "libpq binary, single-row, to files", median(collected.libpq), 1.5) &&
              met;
        met = row("console peak memory during collection", median(collected.growthMb), "MB",
                  "one archive", megabytes, 3.0,
                  QString(" (above %1 MB before)").arg(collected.beforeMb)) &&
              met;
        ok = room.ok && collected.ok && dialogs.errors == 0;
        if (!met)
            std::printf("bench_server: a goal is not met\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_server: %s\n", e.what());
        server::EndProgram();
        fw::setDialogs(nullptr);
    }
    std::printf("%s\n", ok ? "bench_server: all checks passed" : "bench_server: CHECKS FAILED");
    return ok ? 0 : 1;
}
