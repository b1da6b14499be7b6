#pragma once

#include <optional>
#include <string>

#include "base/policy.h"
#include "measure/session_loop.h"
#include "session/trace_session.h"

// The traced session's loop: each pair of runs is one under the trace tool and one on the same
// OpenMP runtime without it, the order alternating, so drift falls on both alike.
namespace speedup {

struct TracePlan {
  int runs = DEFAULT_RUNS;              // pairs of runs
  std::string tool;                     // the trace tool's shared library
  std::optional<std::string> preload;   // LLVM's runtime, preloaded under a libgomp build
  std::string folder;                   // where the raw traces are written
  Progress progress = Progress::kNone;  // as a session shows it, with the time the pairs have left
};

// Runs the pairs through `executor` into `session`, each trace written into the plan's folder and
// read back. Stops early at an interrupt, keeping every finished run. A kBenchmark failure, with
// nothing measured, when the benchmark cannot be started or the first traced run that passed
// left no trace (a runtime without the tools interface, or one that did not load the tool).
Status MeasureTraceSession(const TracePlan& plan, Executor& executor, const std::string& bench,
                           TraceSession& session);

}  // namespace speedup
