#pragma once

#include <QString>

namespace fw {

// The desktop's shell, "open" on a program or on a path. Nothing is waited
// for and nothing comes back: what the started program does is its own
// business. The real shell for the programs, a recording double for tests.
class Shell {
public:
    virtual ~Shell() = default;

    // Starts `program` with `parameter` as its one argument, blanks and all
    // (no argument when empty). "IEXPLORE.EXE" (in any letter case, with or
    // without a folder) stands for the desktop's web browser.
    virtual void openProgram(const QString& program, const QString& parameter) = 0;
    // Opens a file or folder, in Windows form on a mapped drive or a host
    // path, with the desktop's opener for it (a folder: the file browser).
    virtual void openPath(const QString& path) = 0;
};

// The program's shell: the desktop's unless replaced (tests).
Shell& shell();
void setShell(Shell* shell); // nullptr restores the desktop's shell

} // namespace fw
