#pragma once

namespace client {

// The start before the message loop: the three windows created in their
// order, the exam window first as the program's main window, all hidden;
// then the login window shown.
void StartProgram();

// The end of the program: the windows still there are freed and the run's
// state is forgotten.
void EndProgram();

// The program: one client per user at a time (a second start ends at once,
// silently), the windows, the message loop until the program is told to end.
// Returns the exit code, 0.
int ProgramMain();

} // namespace client
