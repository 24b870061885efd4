// The examinee client's exam start (the exam window shown: its paper, the
// practical tasks and the answer archives opened) with the table of answer
// archives empty, beside the same start with a room's archives in it.
//
//   build/bench/examstart/bench_examstart [archives=500] [archive MB=2] [runs=5]
//
// Run it as the unprivileged user who builds (PostgreSQL refuses root). It
// creates a cluster in a temporary folder with morvel-db (on a free port),
// imports the sample question bank, generates the paper of one examinee and
// grants the client's login its rights, as the console does. The examinee
// has handed in before (a readmission), so one of the archives is its own.
//
// Each start runs in a fresh client process of its own (this program with
// "--start"), logged in over TCP as the login Morvel from the address the
// console recorded; the process prints the time of the start and its peak
// memory. The two cases alternate, run after run; printed: each run, the
// medians side by side, and the ratio and difference that the goal names
// (time at most 1.1 times the empty table's, peak memory within 10 MB).
#include "bench/support/BenchClient.h"
#include "bench/support/BenchSupport.h"
#include "client/Program.h"
#include "client/Unit_main.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

using namespace bench;

namespace {

// ---- the client, in a process of its own ----

int startExam() {
    const ClientSession session;
    const long before = residentKb();

    QElapsedTimer clock;
    clock.start();
    client::frm_Main->show();
    const qint64 elapsed = clock.nsecsElapsed() / 1000;
    const long peak = peakKb();
    return session.report("start", elapsed, peak, before, client::PaperReady);
}

// A second table of answer archives, filled, that takes the place of the
// empty one when the room's archives are wanted (renames are instant; the
// rights and row rules are made anew for whichever table is in place).
void prepareArchives(int archives, int megabytes) {
    sql("create table 操作题答卷_room (like 操作题答卷 including all)");
    sql("insert into 操作题答卷_room(准考证号, 操作题答卷) select lpad(i::text, 8, '0'), "
        "decode(repeat(md5(i::text), ? * 65536), 'hex') from generate_series(1, ?) i",
        {megabytes, archives});
    sql("vacuum analyze 操作题答卷_room");
}

void swapArchives() {
    sql("alter table 操作题答卷 rename to 操作题答卷_swap");
    sql("alter table 操作题答卷_room rename to 操作题答卷");
    sql("alter table 操作题答卷_swap rename to 操作题答卷_room");
    sql("call grantpermissions()");
}

void run(int archives, int megabytes, int runs) {
    QTemporaryDir drive;
    prepareExam();
    prepareArchives(archives, megabytes);
    std::printf("Exam start: 操作题答卷 empty, beside %d archives of %d MB (%d MB), %d runs\n",
                archives, megabytes, archives * megabytes, runs);
    std::printf("  run   empty: start ms  peak MB   archives: start ms  peak MB\n");
    QList<double> times[2], peaks[2];
    bool withArchives = false;
    for (int r = 1; r <= runs; ++r) {
        ClientFigures starts[2];
        for (int k = 0; k < 2; ++k) {
            // alternate which case goes first, so neither always runs warm
            const bool want = (r % 2 == 1) == (k == 1);
            if (want != withArchives) {
                swapArchives();
                withArchives = want;
            }
            const ClientFigures s = runClient("--start", drive.path(), "start");
            starts[want ? 1 : 0] = s;
            times[want ? 1 : 0] << s.ms;
            peaks[want ? 1 : 0] << s.peakKb / 1024.0;
        }
        std::printf("  %3d   %16.1f  %7.1f   %19.1f  %7.1f\n", r, starts[0].ms,
                    starts[0].peakKb / 1024.0, starts[1].ms, starts[1].peakKb / 1024.0);
    }
    const double t0 = median(times[0]), t1 = median(times[1]);
    const double m0 = median(peaks[0]), m1 = median(peaks[1]);
    std::printf("  median  exam start:  empty %8.1f ms   archives %8.1f ms   ratio %.2f "
                "(goal <= 1.10) %s\n",
                t0, t1, t1 / t0, t1 <= 1.1 * t0 ? "met" : "NOT MET");
    std::printf("  median  client peak: empty %8.1f MB   archives %8.1f MB   diff %+.1f MB "
                "(goal <= +10 MB) %s\n",
                m0, m1, m1 - m0, m1 - m0 <= 10 ? "met" : "NOT MET");
}

} // namespace

int main(int argc, char** argv) {
    return clientBenchMain(
        argc, argv, "bench_examstart", "--start", startExam,
        [](const QStringList& args) {
            run(args.value(1, "500").toInt(), args.value(2, "2").toInt(),
                args.value(3, "5").toInt());
        },
        "every start completed");
}
