#pragma once

namespace fw {

// The program is told to end: the message loop stops as soon as it runs
// again (at once when it is running, or when it starts), and every wait that
// serves events between slices gives up at its next slice.
void terminate();

// Whether terminate() was called in this run.
bool terminated();

// Forgets terminate(): a further run of the program in the same process
// starts as the first did (the test programs run a program many times).
void resetTerminated();

} // namespace fw
