#include "measure/session_loop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "base/interrupts.h"
#include "base/text.h"
#include "measure/placement.h"
#include "stats/figures.h"

namespace speedup {
namespace {

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// "; about 1 min left", "; at most 3 min left" for a --precision session, or nothing.
std::string LeftText(const std::optional<double>& seconds, bool at_most) {
  if (!seconds) return "";
  return (at_most ? "; at most " : "; about ") + WaitText(*seconds) + " left";
}

// The process options of every run: the output cap and, for a placement, its settings with the
// runtime's affinity display captured apart.
ProcessOptions RunOptions(const std::optional<std::string>& placement) {
  ProcessOptions process;
  process.max_output_bytes = MAX_REPORT_BYTES;
  // A background process the benchmark left holding its output must not make a whole report
  // wait for the time limit; the run is judged by the report and the exit status.
  process.output_whole = [](std::string_view output) { return EndsWithClosingText(output); };
  if (placement) {
    process.extra_environment = {"OMP_PLACES=cores", "OMP_PROC_BIND=" + *placement,
                                 "OMP_DISPLAY_AFFINITY=true"};
    process.stderr_handling = StderrHandling::kCapture;
  }
  return process;
}

// The run kept from a finished process: its report, failed by the process's own failure, and
// its times.
Run KeptRun(const ProcessResult& result, const std::optional<std::string>& placement,
            std::string& display) {
  display = result.error_output;
  const std::string report =
      placement ? WithoutAffinityLines(result.output, display) : result.output;
  return RunOfProcess(result, report);
}

// Whether a --precision session has settled; sets `widest` for the progress line.
bool Settled(const MeasurePlan& plan, const Session& session, int fewest_runs,
             std::string& widest) {
  if (!plan.precision) return false;
  const auto passed = std::count_if(session.runs.begin(), session.runs.end(),
                                    [](const Run& run) { return run.report.Passed(); });
  if (passed < fewest_runs) return false;
  const Figures figures = PrecisionFigures(session);
  if (UnsettledTeams(figures, *plan.precision).empty()) return true;
  // The team that holds the session back is named: on a loaded machine it is often one team
  // whose times swing, while the rest settled long before.
  const std::optional<double> half_width = WidestSpeedupInterval(figures);
  const std::optional<int> team = WidestSpeedupTeam(figures);
  if (half_width && team) {
    widest = "; widest interval ±" + PercentText(*half_width) + " at " +
             CountText(*team, "thread", "threads");
  }
  return false;
}

}  // namespace

ProcessExecutor::ProcessExecutor(std::string bench)
    : bench_(std::move(bench)), start_(SteadySeconds()) {}

void Executor::ShowProgress(const std::string& text, bool overwrite) {
  if (overwrite) {
    std::fprintf(stderr, "\r%-78s\r%s", "", text.c_str());
  } else {
    std::fprintf(stderr, "matbench-speedup: %s\n", text.c_str());
  }
}

ProcessResult ProcessExecutor::RunOnce(const ProcessOptions& options,
                                       const std::function<void(std::string_view)>& on_output) {
  return RunProcess({bench_}, options, on_output);
}

double ProcessExecutor::Elapsed() { return SteadySeconds() - start_; }

Run RunOfProcess(const ProcessResult& result, std::string_view report) {
  Run run;
  run.report = ParseOneReport(report);
  if (result.failure) {
    const bool own_words_only = result.timed_out || result.output_too_large || run.report.Passed();
    RunFailure failure{.process = result.failure};
    if (!own_words_only) failure.report = run.report.failure->report;
    run.report.failure = failure;
  }
  run.cpu_seconds = result.cpu_seconds;
  run.wall_seconds = result.wall_seconds;
  return run;
}

std::optional<double> SecondsLeft(const std::vector<double>& walls, int runs_left,
                                  std::optional<double> time_left) {
  if (walls.empty()) return std::nullopt;
  double total = 0.0;
  for (const double wall : walls) total += wall;
  double left = total / static_cast<double>(walls.size()) * std::max(runs_left, 0);
  if (time_left) left = std::min(left, std::max(*time_left, 0.0));
  return left;
}

std::string WaitText(double seconds) {
  const long long whole = std::llround(std::max(seconds, 0.0));
  if (whole < 60) return std::to_string(whole) + " s";
  // Minutes and seconds below an hour, hours and minutes above.
  const bool hours = whole >= 3600;
  const long long rounded = hours ? (whole + 30) / 60 : whole;
  std::string text = std::to_string(rounded / 60);
  text += hours ? " h" : " min";
  if (rounded % 60 != 0) {
    text += ' ';
    text += std::to_string(rounded % 60);
    text += hours ? " min" : " s";
  }
  return text;
}

double RunTimeout(double longest) {
  return std::max(RUN_TIMEOUT_FLOOR_SECONDS, RUN_TIMEOUT_FACTOR * longest);
}

namespace {

// What the loop keeps between one session's runs.
// Whether the runtime bound the threads of a placement study's run as asked, from what it
// displayed; every run must have been bound for the session to be.
void NotePlacement(const std::string& display, Session& session) {
  if (!session.placement || !session.context.processors) return;
  const std::optional<bool> honoured =
      PlacementHonoured(display, *session.placement, *session.context.processors);
  if (honoured) {
    session.placement_honoured = session.placement_honoured.value_or(true) && *honoured;
  }
}

// Fails, saying why, when `precision` cannot be reached at times `serial` and `teams` (those
// known so far) on a clock of `tick` seconds.
Status CheckPrecisionReachable(double precision, double serial, const std::vector<double>& teams,
                               double tick) {
  const double reachable = ClockHalfWidth(serial, teams, tick);
  if (!(precision < reachable)) return Success();
  const bool coarse = tick == MILLISECOND_TICK;
  const std::string floor = std::isfinite(reachable)
                                ? Formatted("%.1f", std::ceil(reachable * 1000.0) / 10.0) + "%"
                                : "100%";
  return Fail(FailureKind::kUsage,
              "--precision " + PercentText(precision) + " cannot be reached: at these times a " +
                  (coarse ? "1 ms" : "1 µs") + " clock alone keeps a speedup interval at least ±" +
                  floor + " wide, whatever the runs" +
                  (coarse ? " (matbench-fine reads microseconds)" : ""));
}

// For the first run of a --precision session on a clock its benchmark's file names: the run is
// ended as soon as its lines so far put the precision out of reach, the refusal kept in
// `refusal` (the watch reports it while the run goes on), so a user waits for a row or two, not
// a whole run, to learn it.
void WatchFirstTimes(const MeasurePlan& plan, const Session& session, ProcessOptions& process,
                     Status& refusal) {
  process.seen_enough = nullptr;
  if (!plan.precision || !plan.clock_tick || HasPassedRun(session)) return;
  process.seen_enough = [&plan, &refusal](std::string_view output) {
    std::vector<double> times = TimesSoFar(output);
    if (times.size() < 2) return false;
    const double serial = times.front();
    times.erase(times.begin());
    const Status reachable =
        CheckPrecisionReachable(*plan.precision, serial, times, *plan.clock_tick);
    if (!reachable) refusal = reachable;
    return !reachable;
  };
}

struct LoopState {
  ProcessOptions process;
  int most_runs = 0, fewest_runs = 0;
  double longest = 0.0;
  std::string widest;         // the widest speedup interval so far, for the progress line
  std::vector<double> walls;  // every finished run's wall time, for the time left
  bool done = false;
  bool settled = false;  // --precision reached
  // One of an interleaved study: settling alone does not end it, as a placement that stopped
  // early would leave the rest of the machine's drift to the others.
  bool interleaved = false;
};

// One run of the benchmark, its first times watched when `watch`: a kUsage failure when they put
// --precision out of reach; an interrupt is kept in the session, which is then done.
Result<ProcessResult> RunWatched(const MeasurePlan& plan, Executor& executor, bool watch,
                                 const std::function<void(std::string_view)>& progress,
                                 Session& session, LoopState& state) {
  Status refusal = Success();
  if (watch) WatchFirstTimes(plan, session, state.process, refusal);
  ProcessResult result = executor.RunOnce(state.process, progress);
  state.process.seen_enough = nullptr;
  if (!refusal) return refusal.failure();
  if (result.interrupted != 0) {
    session.interrupted = Interrupt{result.interrupted, ""};
    state.done = true;
  }
  return result;
}

LoopState StartSession(const MeasurePlan& plan, const std::optional<std::string>& placement,
                       Session& session) {
  LoopState state;
  state.most_runs = plan.precision ? plan.max_runs : plan.runs;
  state.fewest_runs =
      plan.precision ? std::max(plan.runs_given ? plan.runs : 0, MIN_RUNS_FOR_95) : plan.runs;
  session.requested_runs = state.most_runs;
  session.precision = plan.precision;
  session.placement = placement;
  state.process = RunOptions(placement);
  state.done = state.most_runs <= 0;
  return state;
}

// The time the runs from `first` on should take, within what is left of the time limit.
std::optional<double> TimeLeft(const MeasurePlan& plan, Executor& executor, const LoopState& state,
                               int first) {
  const std::optional<double> time_left =
      plan.time_limit ? std::optional(*plan.time_limit - executor.Elapsed()) : std::nullopt;
  return SecondsLeft(state.walls, state.most_runs - first + 1, time_left);
}

// The first passed run's times show what the clock allows: a precision below it is refused.
Status CheckFirstReport(const MeasurePlan& plan, const RunReport& first) {
  if (!plan.precision) return Success();
  const double tick = plan.clock_tick ? *plan.clock_tick : TickOfValues({first});
  return CheckPrecisionReachable(*plan.precision, first.serial_seconds,
                                 {first.parallel_seconds.begin(), first.parallel_seconds.end()},
                                 tick);
}

// The line that says how run `run`, called `name`, went and what is left.
void ShowRunDone(const MeasurePlan& plan, Executor& executor, const LoopState& state,
                 const std::string& name, bool passed, double wall_seconds, int run) {
  const bool at_most = plan.precision.has_value();
  if (plan.progress == Progress::kLines) {
    executor.ShowProgress(
        name + ": " + (passed ? "passed in " : "failed after ") +
            Formatted("%.1f s", wall_seconds) + state.widest +
            (state.done ? "" : LeftText(TimeLeft(plan, executor, state, run + 1), at_most)),
        false);
  }
  if (plan.progress == Progress::kTerminal && !state.done && !state.widest.empty()) {
    executor.ShowProgress("after " + name + state.widest, true);
  }
}

// Whether the session's time limit has come; it then ends, saying so.
bool TimeLimitReached(const MeasurePlan& plan, Executor& executor, Session& session,
                      LoopState& state) {
  if (!plan.time_limit || executor.Elapsed() < *plan.time_limit) return false;
  session.stopped = StopReason{StopReason::Kind::kTimeLimit, *plan.time_limit, 0, ""};
  state.done = true;
  return true;
}

// One run into `session`, or the reason it ends; sets state.done when it has. A kBenchmark
// failure when the benchmark cannot be started at all.
Status RunInto(const MeasurePlan& plan, Executor& executor, const std::string& bench,
               Session& session, LoopState& state) {
  const std::optional<std::string>& placement = session.placement;
  const int run = static_cast<int>(session.runs.size()) + 1;
  if (TimeLimitReached(plan, executor, session, state)) return Success();
  // After a warm-up, the first measured run is timed by it as any later run is.
  const bool first = run == 1 && session.warmup_runs.empty();
  state.process.time_limit_seconds = plan.run_timeout ? *plan.run_timeout
                                     : first          ? FIRST_RUN_TIMEOUT_SECONDS
                                                      : RunTimeout(state.longest);
  const bool at_most = plan.precision.has_value();
  const std::string name = (placement ? Printable(*placement) + ": " : std::string()) + "run " +
                           std::to_string(run) + " of " + (at_most ? "at most " : "") +
                           std::to_string(state.most_runs);
  const std::string time_left = LeftText(TimeLeft(plan, executor, state, run), at_most);
  int lines = 0;
  auto progress = [&](std::string_view output) {
    lines += static_cast<int>(std::count(output.begin(), output.end(), '\n'));
    if (plan.progress == Progress::kTerminal) {
      executor.ShowProgress(
          name + ": " + std::to_string(lines) + " lines" + state.widest + time_left, true);
    }
  };
  Result<ProcessResult> ran = RunWatched(plan, executor, true, progress, session, state);
  if (!ran) return ran.failure();
  const ProcessResult& result = *ran;
  if (result.interrupted != 0) return Success();
  if (!result.started) {
    state.done = true;
    if (run == 1) {
      return Fail(FailureKind::kBenchmark,
                  "cannot run the benchmark " + Printable(bench) + ": " + result.start_error);
    }
    session.stopped = StopReason{StopReason::Kind::kBenchmarkLost, 0, 0, result.start_error};
    return Success();
  }
  std::string display;
  Run kept = KeptRun(result, placement, display);
  NotePlacement(display, session);
  const bool passed = kept.report.Passed();
  if (passed) state.longest = std::max(state.longest, result.wall_seconds);
  if (passed && !HasPassedRun(session)) {
    if (Status reachable = CheckFirstReport(plan, kept.report); !reachable) return reachable;
  }
  session.runs.push_back(std::move(kept));
  state.walls.push_back(result.wall_seconds);
  state.settled = Settled(plan, session, state.fewest_runs, state.widest);
  const bool last = static_cast<int>(session.runs.size()) >= state.most_runs;
  state.done = state.done || (state.settled && !state.interleaved) || last;
  ShowRunDone(plan, executor, state, name, passed, result.wall_seconds, run);
  return Success();
}

// The warm-up runs, before the measured ones, into session.warmup_runs; each sets the next one's
// time limit as a measured run would. Fails when the benchmark cannot be started.
Status WarmUp(const MeasurePlan& plan, Executor& executor, const std::string& bench,
              Session& session, LoopState& state) {
  const std::string prefix = session.placement ? Printable(*session.placement) + ": " : "";
  for (int run = 1; run <= plan.warmup && !state.done; ++run) {
    if (plan.time_limit && executor.Elapsed() >= *plan.time_limit) break;
    const std::string name =
        prefix + "warm-up run " + std::to_string(run) + " of " + std::to_string(plan.warmup);
    state.process.time_limit_seconds = plan.run_timeout ? *plan.run_timeout
                                       : run == 1       ? FIRST_RUN_TIMEOUT_SECONDS
                                                        : RunTimeout(state.longest);
    const auto progress = [&](std::string_view) {
      if (plan.progress == Progress::kTerminal) executor.ShowProgress(name, true);
    };
    Result<ProcessResult> ran = RunWatched(plan, executor, run == 1, progress, session, state);
    if (!ran) return ran.failure();
    const ProcessResult& result = *ran;
    if (result.interrupted != 0) break;
    if (!result.started) {
      state.done = true;
      return Fail(FailureKind::kBenchmark,
                  "cannot run the benchmark " + Printable(bench) + ": " + result.start_error);
    }
    std::string display;
    Run kept = KeptRun(result, session.placement, display);
    const bool passed = kept.report.Passed();
    if (passed) state.longest = std::max(state.longest, result.wall_seconds);
    session.warmup_runs.push_back(std::move(kept));
    if (plan.progress == Progress::kLines) {
      executor.ShowProgress(name + ": " + (passed ? "passed in " : "failed after ") +
                                Formatted("%.1f s", result.wall_seconds),
                            false);
    }
  }
  return Success();
}

// A --precision session that made its most runs unsettled says so. The session records the tick
// its benchmark's file names, else the one its own readings show (TickOfValues): whatever the
// benchmark's name or path, a millisecond build's are all whole milliseconds, and 21 microsecond
// readings a run all falling on whole milliseconds has odds of 10^-63.
void FinishSession(const MeasurePlan& plan, const LoopState& state, Session& session) {
  if (plan.clock_tick) {
    session.context.clock_tick_seconds = plan.clock_tick;
  } else if (const std::vector<RunReport> passed = PassedReports(session); !passed.empty()) {
    session.context.clock_tick_seconds = TickOfValues(passed);
  }
  if (plan.precision && !session.stopped && !session.interrupted &&
      static_cast<int>(session.runs.size()) >= state.most_runs) {
    if (!HasPassedRun(session) ||
        !UnsettledTeams(PrecisionFigures(session), *plan.precision).empty()) {
      session.stopped = StopReason{StopReason::Kind::kMaxRuns, 0, state.most_runs, ""};
    }
  }
}

}  // namespace

Status MeasureSession(const MeasurePlan& plan, Executor& executor, const std::string& bench,
                      const std::optional<std::string>& placement, Session& session) {
  LoopState state = StartSession(plan, placement, session);
  if (Status warmed = WarmUp(plan, executor, bench, session, state); !warmed) return warmed;
  while (!state.done) {
    if (Status ran = RunInto(plan, executor, bench, session, state); !ran) return ran;
  }
  FinishSession(plan, state, session);
  if (plan.progress == Progress::kTerminal) executor.ShowProgress("", true);
  return Success();
}

std::vector<std::size_t> RoundOrder(std::size_t sessions, std::size_t round) {
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < sessions; ++i) order.push_back((round + i) % sessions);
  return order;
}

Status MeasureInterleaved(const MeasurePlan& plan, Executor& executor, const std::string& bench,
                          std::vector<Session>& sessions) {
  std::vector<LoopState> states;
  for (Session& session : sessions) {
    states.push_back(StartSession(plan, session.placement, session));
    states.back().interleaved = true;
  }
  // Each placement warms up before the study: a placement's first runs are often its slowest.
  for (std::size_t i = 0; i < sessions.size(); ++i) {
    if (Status warmed = WarmUp(plan, executor, bench, sessions[i], states[i]); !warmed) {
      return warmed;
    }
    if (sessions[i].interrupted) {
      for (LoopState& state : states) state.done = true;
      break;
    }
  }
  const auto all_done = [&] {
    return std::all_of(states.begin(), states.end(), [](const LoopState& s) { return s.done; });
  };
  for (std::size_t round = 0; !all_done(); ++round) {
    for (const std::size_t i : RoundOrder(sessions.size(), round)) {
      if (states[i].done) continue;
      if (Status ran = RunInto(plan, executor, bench, sessions[i], states[i]); !ran) return ran;
      if (sessions[i].interrupted) {
        // An interrupt ends every placement: none runs on after the user asked to stop.
        for (LoopState& state : states) state.done = true;
        break;
      }
      // One limit for the whole study: once it is reached, each placement stops as it comes.
    }
    // Placements stop together, once every one has settled, so each keeps the same rounds.
    if (std::all_of(states.begin(), states.end(), [](const LoopState& s) { return s.settled; })) {
      for (LoopState& state : states) state.done = true;
    }
  }
  for (std::size_t i = 0; i < sessions.size(); ++i) FinishSession(plan, states[i], sessions[i]);
  if (plan.progress == Progress::kTerminal) executor.ShowProgress("", true);
  return Success();
}

}  // namespace speedup
