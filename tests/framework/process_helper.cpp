// Runs a program through fw::processes() in a program that is told to end
// before or during the wait, and prints what the run gave: the told-to-end
// flag stays set for good, so these runs need a process of their own.
//   process_helper before|during PROGRAM ARGUMENTS...
#include "framework/core/Application.h"
#include "framework/core/Process.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    if (args[1] == "before")
        fw::terminate();
    else
        QTimer::singleShot(200, [] { fw::terminate(); });
    const fw::ProcessRun run = fw::processes().runAndWait(args[2], args.mid(3));
    std::printf("started=%d finished=%d\n", int(run.started), int(run.finished));
    return 0;
}
