// The examinee client's hand-in of a work folder of 200 files and 50 MB (the
// exam window closed and confirmed: the folder packed by the archiver, the
// archive stored in the examinee's row, the answers saved), beside the same
// work done by plain tools in the same run: `bsdtar -cf` of the same folder
// plus `psql` storing the same number of bytes (\copy of the archive's
// bytes into a table of its own).
//
//   build/bench/handin/bench_handin [runs=5]
//
// Run it as the unprivileged user who builds (PostgreSQL refuses root). It
// creates a cluster in a temporary folder with morvel-db (on a free port),
// imports the sample question bank, generates the paper of one examinee and
// grants the client's login its rights, as the console does. Each hand-in
// runs in a fresh client process (this program with "--hand-in"), on a drive
// of its own, logged in over TCP as the login Morvel from the address the
// console recorded; it prints the time of the hand-in and its peak memory.
// The yardstick connects as the cluster's owner over the local socket. The
// two alternate, run after run; printed: each run, the medians and the
// ratio.
#include "bench/support/BenchClient.h"
#include "bench/support/BenchSupport.h"
#include "client/Program.h"
#include "client/Unit_main.h"
#include "framework/core/Drives.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>
#include <vector>

using namespace bench;

namespace {

constexpr int FileCount = 200;
constexpr qint64 TotalBytes = 50LL * 1024 * 1024;

// The same 200 files every time: ten folders of twenty, random bytes that
// don't compress.
void makeWorkFolder(const QString& folder) {
    QRandomGenerator gen(2026);
    std::vector<quint32> words(std::size_t(TotalBytes / FileCount / 4 + 1));
    for (int i = 0; i < FileCount; ++i) {
        const QString sub = folder + QString("/作业 %1").arg(i % 10);
        QDir().mkpath(sub);
        gen.fillRange(words.data(), qsizetype(words.size()));
        QFile file(sub + QString("/文件 %1.bin").arg(i));
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(reinterpret_cast<const char*>(words.data()), TotalBytes / FileCount) !=
                TotalBytes / FileCount)
            fail("cannot write " + file.fileName());
    }
}

// ---- the client, in a process of its own ----

int handIn() {
    const ClientSession session;
    client::frm_Main->show(); // the exam start: the template unpacked
    makeWorkFolder(fw::hostPath(client::WorkDir));
    resetPeak();
    const long before = residentKb();

    QElapsedTimer clock;
    clock.start();
    client::frm_Main->close();
    const qint64 elapsed = clock.nsecsElapsed() / 1000;
    const long peak = peakKb();
    const bool done = !client::frm_Main || !client::frm_Main->isVisible();
    const bool emptied =
        QDir(fw::hostPath("e:\\考生文件夹")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot);
    return session.report("hand-in", elapsed, peak, before, done && emptied);
}

// ---- the run ----

ClientFigures runHandIn(const QString& drive) {
    QDir(drive).removeRecursively(); // a PC nobody used before
    QDir().mkpath(drive);
    const ClientFigures figures = runClient("--hand-in", drive, "hand-in");
    if (count("select count(*) from 操作题答卷 where length(操作题答卷) > " +
              QString::number(TotalBytes)) != 1)
        fail("no archive of the folder stored");
    return figures;
}

double timed(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        fail(program + " " + arguments.join(' ') + " failed");
    return double(timer.nsecsElapsed()) / 1e6;
}

struct Yardstick {
    double tarMs = 0;
    double psqlMs = 0;
};

// The same folder archived by bsdtar, then bytes as many as the client's
// archive stored by psql in a row of a table like the answer archives.
Yardstick runYardstick(const QString& scratch) {
    const QString folder = scratch + "/yard/考生文件夹";
    QDir(scratch + "/yard").removeRecursively();
    makeWorkFolder(folder);
    const QString tar = scratch + "/yard/work.tar";
    Yardstick y;
    y.tarMs = timed("bsdtar", {"-cf", tar, "-C", scratch + "/yard", "考生文件夹"});
    // The bytes as \copy takes a bytea column: hex, made beforehand.
    QFile in(tar);
    if (!in.open(QIODevice::ReadOnly))
        fail("cannot read " + tar);
    QFile hex(scratch + "/yard/work.hex");
    if (!hex.open(QIODevice::WriteOnly) || hex.write("\\\\x" + in.readAll().toHex() + "\n") < 0)
        fail("cannot write " + hex.fileName());
    hex.close();
    sql("truncate yardstick");
    y.psqlMs = timed("psql", {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", "Morvel", "-c",
                              "\\copy yardstick(b) from '" + hex.fileName() + "'"});
    if (count("select count(*) from yardstick where length(b) > " + QString::number(TotalBytes)) !=
        1)
        fail("psql stored nothing");
    return y;
}

// The exam, and a table for the yardstick that stores its bytes as the
// answer archives do.
void prepare() {
    prepareExam();
    sql("create table yardstick (b bytea)");
    sql("alter table yardstick alter column b set storage external");
}

void run(int runs) {
    QTemporaryDir scratch;
    prepare();
    std::printf("Hand-in of a work folder of %d files and %lld MB, %d runs\n", FileCount,
                TotalBytes >> 20, runs);
    std::printf("  run   hand-in ms  client peak MB   bsdtar -cf ms  psql \\copy ms  "
                "yardstick ms\n");
    QList<double> ours, tars, psqls, yards, peaks;
    for (int r = 1; r <= runs; ++r) {
        ClientFigures h;
        Yardstick y;
        // alternate which goes first, so neither always runs warm
        if (r % 2) {
            h = runHandIn(scratch.filePath("e"));
            y = runYardstick(scratch.path());
        } else {
            y = runYardstick(scratch.path());
            h = runHandIn(scratch.filePath("e"));
        }
        ours << h.ms;
        peaks << h.peakKb / 1024.0;
        tars << y.tarMs;
        psqls << y.psqlMs;
        yards << y.tarMs + y.psqlMs;
        std::printf("  %3d   %10.1f  %14.1f   %13.1f  %12.1f  %12.1f\n", r, h.ms, h.peakKb / 1024.0,
                    y.tarMs, y.psqlMs, y.tarMs + y.psqlMs);
    }
    const double o = median(ours), y = median(yards);
    std::printf("  median  hand-in %.1f ms (client peak %.1f MB)   yardstick %.1f ms "
                "(bsdtar %.1f + psql %.1f)   ratio %.2f\n",
                o, median(peaks), y, median(tars), median(psqls), o / y);
}

} // namespace

int main(int argc, char** argv) {
    return clientBenchMain(
        argc, argv, "bench_handin", "--hand-in", handIn,
        [](const QStringList& args) { run(args.value(1, "5").toInt()); },
        "every hand-in completed");
}
