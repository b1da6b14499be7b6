#pragma once

#include "commands/options.h"

// The tool's three commands. Each returns its exit status: 0; 1 when a run or a node failed, a
// comparison found a slower row under --fail-if-slower, or an output could not be written; 2 for
// input it refuses; 128 + the signal when interrupted.
namespace speedup {

// Runs the benchmark (or reads saved runs) and reports the session, or one session per placement.
int SessionCommand(const Options& options);

// Compares the two saved sessions named in `options`.
int CompareCommand(const Options& options);

// Merges the session files named in `options` into a fleet.
int MergeCommand(const Options& options);

// Runs a traced session into its folder, or reads one back, and reports where the time went.
int TraceCommand(const Options& options);

}  // namespace speedup
