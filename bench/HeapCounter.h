// Counts the bytes the process holds on the heap: malloc and friends are
// interposed for the whole executable (so libraries are counted too).
#pragma once

#include <cstddef>

namespace heapcounter {

size_t current();
size_t peak();
// Starts a new peak at the current level.
void resetPeak();

}  // namespace heapcounter
