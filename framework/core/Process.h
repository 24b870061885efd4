#pragma once

#include <QString>
#include <QStringList>

namespace fw {

// What one run of a program gave.
struct ProcessRun {
    bool started = false;  // the program could be started
    bool finished = false; // it ended while we waited (false: the wait was given up)
    bool crashed = false;  // it ended by a signal
    int exitCode = -1;     // its exit code, when it ended by itself
    QString output;        // what it wrote on standard output and standard error, in order
    QString error;         // why it could not be started
};

// What becomes of a started program that is still running when the program
// that started it ends (told to end, or killed): it runs on by itself, or it
// is killed with it (a program that works on files its caller's next run
// looks at, and that can stand being killed at any moment).
enum class WhenCallerEnds { RunsOn, Ends };

// Running a program and waiting for its end, the event loop served meanwhile.
// The Qt implementation for the programs, a scripted double for the tests.
class Processes {
public:
    virtual ~Processes() = default;

    // Starts `program` hidden (no window, no input), each of `arguments` one
    // argument whatever it holds, in the caller's current folder. Waits for
    // its end in slices of 100 ms and serves the pending events after each
    // slice; stops waiting once the program has been told to end
    // (fw::terminated(), before or during the wait), and the started program
    // then runs on by itself or ends with its caller, as `whenCallerEnds` says.
    virtual ProcessRun runAndWait(const QString& program, const QStringList& arguments,
                                  WhenCallerEnds whenCallerEnds = WhenCallerEnds::RunsOn) = 0;
};

// The program's processes: the Qt implementation unless replaced (tests).
Processes& processes();
void setProcesses(Processes* processes); // nullptr restores the Qt implementation

} // namespace fw
