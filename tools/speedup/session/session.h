#pragma once

#include <optional>
#include <string>
#include <vector>

#include "session/context.h"
#include "session/report_parser.h"

// A session: every run kept whole, in order, with the context it ran under and how it ended.
namespace speedup {

// One run of the benchmark, kept whole whether it passed or failed.
struct Run {
  RunReport report;                   // report.Passed() when the run passed
  std::optional<double> cpu_seconds;  // user + system time of the child, when run here
  std::optional<double> wall_seconds;
};

// Why a session ended before its requested runs, other than by an interrupt.
struct StopReason {
  enum class Kind {
    kTimeLimit,      // --time-limit `seconds` reached: the user's limit
    kMaxRuns,        // --max-runs `runs` reached before --precision settled: the user's limit
    kBenchmarkLost,  // the benchmark could not be started again: `detail` says why
    kOther,          // read from a file in words this tool does not know: `detail` holds them
  };
  Kind kind = Kind::kOther;
  double seconds = 0;
  int runs = 0;
  std::string detail;

  bool operator==(const StopReason&) const = default;
};

// Whether the user's own limit ended the session, rather than a fault.
bool SetByUser(const StopReason& reason);

// The reason as it is saved in a session file and shown, e.g. "--time-limit 300 s reached".
std::string StopText(const StopReason& reason);

// The reason that StopText wrote; words it does not know are kOther.
StopReason StopFromText(const std::string& text);

// The signal that ended a session early: its number, or, read from a file, a name that no signal
// of this system has, kept as it was written.
struct Interrupt {
  int signal_number = 0;  // 0: only `unknown_name` is known
  std::string unknown_name;

  bool operator==(const Interrupt&) const = default;
};

// The signal's name as it is saved in a session file and shown, e.g. "SIGINT" (SignalName).
std::string InterruptName(const Interrupt& interrupt);

// The signal that InterruptName named; a name no signal here has is kept as it is.
Interrupt InterruptFromName(const std::string& name);

// Everything measured in one session, and how it went; the figures are computed from it.
struct Session {
  Context context;
  std::vector<Run> runs;         // in the order they ran
  std::vector<Run> warmup_runs;  // made before `runs` (--warmup), kept but left out of the figures
  std::optional<int> requested_runs;
  std::optional<double> precision;       // sought half-width of every speedup interval, a fraction
  std::optional<std::string> placement;  // OMP_PROC_BIND of a placement study
  std::optional<bool> placement_honoured;  // whether the runtime bound threads as asked
  std::optional<Interrupt> interrupted;    // the signal that ended the session early
  std::optional<StopReason> stopped;       // why the session ended before its requested runs
};

// Whether any run of the session passed.
bool HasPassedRun(const Session& session);

// Copies of the reports of the runs that passed, in order: what the figures are computed from.
std::vector<RunReport> PassedReports(const Session& session);

}  // namespace speedup
