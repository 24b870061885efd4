#include "framework/core/Process.h"

#include "framework/core/Application.h"
#include "framework/core/Service.h"

#include <QCoreApplication>
#include <QProcess>

#include <csignal>
#include <memory>
#include <sys/prctl.h>
#include <unistd.h>

namespace fw {
namespace {

constexpr int slice = 100; // ms

class QtProcesses : public Processes {
public:
    ProcessRun runAndWait(const QString& program, const QStringList& arguments,
                          WhenCallerEnds whenCallerEnds) override {
        auto process = std::make_unique<QProcess>();
        process->setProgram(program);
        process->setArguments(arguments);
        process->setStandardInputFile(QProcess::nullDevice());
        process->setProcessChannelMode(QProcess::MergedChannels);
        // A program left running when we end must not die of a write into
        // the pipe we no longer read. One that ends with us is killed when
        // we go, also when we went before it could ask for that.
        const bool endsWithUs = whenCallerEnds == WhenCallerEnds::Ends;
        const pid_t us = ::getpid();
        process->setChildProcessModifier([endsWithUs, us] {
            ::signal(SIGPIPE, SIG_IGN);
            if (endsWithUs && (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != us))
                ::_exit(127);
        });
        process->start(QIODevice::ReadOnly);

        ProcessRun run;
        if (!process->waitForStarted(-1)) {
            run.error = process->errorString();
            return run;
        }
        run.started = true;
        for (;;) {
            if (process->waitForFinished(slice))
                break;
            QCoreApplication::processEvents();
            if (process->state() == QProcess::NotRunning)
                break; // ended while the events were served
            if (terminated()) {
                // Deleting the QProcess would kill the program; it runs on.
                run.output = QString::fromLocal8Bit(process->readAll());
                process.release()->setParent(nullptr);
                return run;
            }
        }
        run.finished = true;
        run.crashed = process->exitStatus() == QProcess::CrashExit;
        run.exitCode = run.crashed ? -1 : process->exitCode();
        run.output = QString::fromLocal8Bit(process->readAll());
        return run;
    }
};

Service<Processes, QtProcesses> g_service;

} // namespace

Processes& processes() {
    return g_service.get();
}

void setProcesses(Processes* p) {
    g_service.set(p);
}

} // namespace fw
