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

// Whether the OMP_DISPLAY_AFFINITY lines ("... affinity 0-1") in `display` show threads bound as
// `placement` asks on a process that may run on `affinity` (a cpu list): close and spread bind
// every thread to less than the whole set, false binds none. Empty when no line shows.
std::optional<bool> PlacementHonoured(std::string_view display, const std::string& placement,
                                      const std::string& affinity);

// Runs `bench` as the options say (a number of runs, or until --precision settles), under
// `placement` (an OMP_PROC_BIND value) when given, into `session`. Stops early at --time-limit
// or an interrupt, keeping every finished run. Returns a message when the benchmark cannot be
// started at all, or an empty string.
std::string MeasureSession(const Options& options, const std::string& bench,
                           const std::optional<std::string>& placement, Session& session);
