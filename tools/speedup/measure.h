#pragma once

#include <optional>
#include <string>

#include "options.h"
#include "session.h"

// Cap on one run's output: a report is about 1 KB.
inline constexpr std::size_t MAX_REPORT_BYTES = std::size_t{1} << 20;

// Time limit for the first run, before any run has shown how long one takes.
inline constexpr double FIRST_RUN_TIMEOUT_SECONDS = 120.0;

// Time limit for a run after `longest` seconds, the longest run so far: generous, so only a run
// that hangs is cut.
double RunTimeout(double longest);

// Whether the thread affinity lines in `display` show threads bound as `placement` asks, on a
// process that may run on `processors` processors: close and spread bind every thread to fewer,
// false binds none. libgomp writes "level 1 thread 0x7f01 affinity 0-1", LLVM's runtime "OMP: pid
// 7 tid 7 thread 0 bound to OS proc set {0,1}". Empty when no such line shows.
std::optional<bool> PlacementHonoured(std::string_view display, const std::string& placement,
                                      int processors);

// `output` without LLVM's runtime's affinity lines, which it writes to standard output, between
// the report's own lines; those lines are appended to `display`.
std::string WithoutAffinityLines(std::string_view output, std::string& display);

// Runs `bench` as the options say (a number of runs, or until --precision settles), under
// `placement` (an OMP_PROC_BIND value) when given, into `session`. Stops early at --time-limit
// or an interrupt, keeping every finished run. Returns a message when the benchmark cannot be
// started at all, or an empty string.
std::string MeasureSession(const Options& options, const std::string& bench,
                           const std::optional<std::string>& placement, Session& session);
