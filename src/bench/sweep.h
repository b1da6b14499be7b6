#pragma once

// Largest team size; the sweep runs every size from 1 up to it, whatever the processor count.
inline constexpr int MAX_THREADS = 20;

// For each team size 1..MAX_THREADS in turn: times ParallelMulti, checks its product against
// SerialResult and writes one report line (after a dump of the product below PRINT_LIMIT).
// Needs A, B and SerialResult in place; a mismatch shows as 0 and the sweep goes on.
void ThreadSweep();
