// Runs a program through fw::processes() in a program that is told to end
// before or during the wait (or never: the test kills it), and prints what
// the run gave: the told-to-end flag stays set for good, so these runs need a
// process of their own.
//   process_helper before|during|never runs-on|ends PROGRAM ARGUMENTS...
#include "framework/core/Application.h"
#include "framework/core/Process.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return 2;
    if (args[1] == "before")
        fw::terminate();
    else if (args[1] == "during")
        QTimer::singleShot(200, [] { fw::terminate(); });
    const fw::WhenCallerEnds whenWeEnd =
        args[2] == "ends" ? fw::WhenCallerEnds::Ends : fw::WhenCallerEnds::RunsOn;
    const fw::ProcessRun run = fw::processes().runAndWait(args[3], args.mid(4), whenWeEnd);
    std::printf("started=%d finished=%d\n", int(run.started), int(run.finished));
    std::fflush(stdout);
    return 0;
}
