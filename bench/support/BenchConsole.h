#pragma once

// What the benchmarks of the console share.
namespace bench {

// The class dialog with every class ticked, confirmed, as the invigilator
// does it: the grid's table opens anew on the classes' examinees.
void chooseEveryClass();

} // namespace bench
