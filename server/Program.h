#pragma once

#include <optional>

namespace server {

// The console's start-up before the message loop: the soft limit of open
// files raised to the hard one, the database service check, then the three
// windows in order, the main window shown. Returns the
// exit code when the program ends here, or nothing when the loop is to run.
std::optional<int> StartProgram();

// Frees the three windows (the end of the program).
void EndProgram();

} // namespace server
