#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/policy.h"
#include "base/process.h"
#include "base/result.h"
#include "session/session.h"

// The session loop: runs the benchmark again and again into a session, until the runs asked for
// are made, --precision settles, a limit is reached or an interrupt comes.
namespace speedup {

// How a session shows its progress on standard error.
enum class Progress {
  kNone,
  kTerminal,  // one line, rewritten as the run goes, with an estimate of the time left
  kLines,     // one plain line per finished run, for a log
};

// How many runs a session makes and for how long.
struct MeasurePlan {
  int runs = DEFAULT_RUNS;            // runs to make; with precision, the fewest when given
  bool runs_given = false;            // runs was asked for, not the default
  int warmup = 0;                     // runs made first, kept apart and left out of the figures
  std::optional<double> precision;    // sought half-width of every speedup interval
  int max_runs = DEFAULT_MAX_RUNS;    // most runs with precision
  std::optional<double> time_limit;   // seconds for the whole session
  std::optional<double> run_timeout;  // seconds for one run; empty: RunTimeout
  // The benchmark's clock tick when its file tells (BenchClockTick): a precision the clock cannot
  // reach is then refused as soon as the first run's lines show it, and the session records it.
  std::optional<double> clock_tick;
  Progress progress = Progress::kNone;
};

// The world as the loop sees it: one run of the benchmark, and the clock. The real one starts a
// process; tests give a scripted one.
class Executor {
 public:
  virtual ~Executor() = default;
  // Runs the benchmark once as `options` say; `on_output` sees its output as it comes.
  virtual ProcessResult RunOnce(const ProcessOptions& options,
                                const std::function<void(std::string_view)>& on_output) = 0;
  // Seconds since the session began.
  virtual double Elapsed() = 0;
  // Shows `text` as progress on standard error: on a terminal's line that the next one
  // `overwrite`s (an empty text clears it), or else as a line of its own.
  virtual void ShowProgress(const std::string& text, bool overwrite);
};

// Runs `bench` as a child process, on the steady clock.
class ProcessExecutor : public Executor {
 public:
  explicit ProcessExecutor(std::string bench);
  ProcessResult RunOnce(const ProcessOptions& options,
                        const std::function<void(std::string_view)>& on_output) override;
  double Elapsed() override;

 private:
  std::string bench_;
  double start_;
};

// The run kept from a finished process whose report is `report`: the report's failure, led by
// the process's own when it failed (alone when it timed out or wrote too much), and its times.
Run RunOfProcess(const ProcessResult& result, std::string_view report);

// Seconds the rest of a session should take: `runs_left` more runs as long as the mean of
// `walls`, the finished runs' wall times, and no more than `time_left` when a limit is set;
// empty before any run has finished.
std::optional<double> SecondsLeft(const std::vector<double>& walls, int runs_left,
                                  std::optional<double> time_left);

// "45 s", "1 min 20 s", "2 h 5 min": a duration rounded to what a person waits by.
std::string WaitText(double seconds);

// Time limit for a run after `longest` seconds, the longest run so far: RUN_TIMEOUT_FACTOR
// times it, at least RUN_TIMEOUT_FLOOR_SECONDS.
double RunTimeout(double longest);

// Runs the benchmark through `executor` as `plan` says, under `placement` (an OMP_PROC_BIND
// value) when given, into `session`. Stops early at the time limit or an interrupt, keeping
// every finished run. A kBenchmark failure, naming `bench`, when the benchmark cannot be started
// at all.
Status MeasureSession(const MeasurePlan& plan, Executor& executor, const std::string& bench,
                      const std::optional<std::string>& placement, Session& session);

// The order of round `round` (from 0) over `sessions` sessions: 0 1 2, then 1 2 0, 2 0 1, …
std::vector<std::size_t> RoundOrder(std::size_t sessions, std::size_t round);

// The sessions (each with its placement and context set) measured run by run in turn, the order
// rotated each round (RoundOrder), so that a machine that drifts during the study slows every
// placement alike; each session stops on its own (runs made, settled, the time limit), and an
// interrupt stops them all. A kBenchmark failure when the benchmark cannot be started at all.
Status MeasureInterleaved(const MeasurePlan& plan, Executor& executor, const std::string& bench,
                          std::vector<Session>& sessions);

}  // namespace speedup
