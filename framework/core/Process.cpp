#include "framework/core/Process.h"

#include "framework/core/Application.h"

#include <QCoreApplication>
#include <QProcess>

#include <csignal>
#include <memory>

namespace fw {
namespace {

constexpr int slice = 100; // ms

class QtProcesses : public Processes {
public:
    ProcessRun runAndWait(const QString& program, const QStringList& arguments) override {
        auto process = std::make_unique<QProcess>();
        process->setProgram(program);
        process->setArguments(arguments);
        process->setStandardInputFile(QProcess::nullDevice());
        process->setProcessChannelMode(QProcess::MergedChannels);
        // A program left running when we end must not die of a write into
        // the pipe we no longer read.
        process->setChildProcessModifier([] { ::signal(SIGPIPE, SIG_IGN); });
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

Processes* g_override = nullptr;

} // namespace

Processes& processes() {
    static QtProcesses qt;
    return g_override ? *g_override : qt;
}

void setProcesses(Processes* p) {
    g_override = p;
}

} // namespace fw
