#pragma once

#include "bench/support/BenchSupport.h"

#include <QString>
#include <QStringList>

#include <functional>

// What the benchmarks of the examinee client share: one examinee admitted to
// a started exam, and the client run in a process of its own.
namespace bench {

// The examinee, of the class 机房, admitted from 127.0.0.1.
extern const QString Examinee;

// The paper, the tasks and the client's rights as the console leaves them
// for a started exam, with the sample question bank; the answer archives
// stored as they come, as the RAR archives of work folders hardly compress.
void prepareExam();

// The client's process: the program started with its boxes printed and the
// login's lookup done as "确定" runs it (the status connection plays no part:
// a report on a connection that is not open is dropped); the program ended
// when the object goes.
class ClientSession {
public:
    ClientSession();
    ~ClientSession();
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    // Prints the line that runClient reads: `tag`, the time in microseconds,
    // the peak and the earlier resident memory in kB, and whether it went
    // well, also counting the error boxes shown. The process's exit code.
    int report(const char* tag, qint64 elapsedUs, long peakKb, long beforeKb, bool ok) const;

    PrintedDialogs dialogs;
};

// What a client's run printed: its time in ms, peak and earlier memory.
struct ClientFigures {
    double ms = 0;
    long peakKb = 0;
    long beforeKb = 0;
};

// This program run again, offscreen, with `option`, as the client of a PC
// whose drive e: is `drive`, printing its line with `tag`; its figures, or
// the run fails with what the client printed.
ClientFigures runClient(const QString& option, const QString& drive, const QString& tag);

// The main of a client benchmark `name`: run with `clientOption`, it is the
// client (`client` gives the exit code); otherwise, as the unprivileged
// user, it starts a cluster and does `run` with the program's arguments,
// then says whether every run completed ("`name`: `done`") or failed.
int clientBenchMain(int argc, char** argv, const char* name, const QString& clientOption,
                    const std::function<int()>& client,
                    const std::function<void(const QStringList&)>& run, const char* done);

} // namespace bench
