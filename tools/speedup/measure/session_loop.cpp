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
  if (!plan.precision || static_cast<int>(PassedReports(session).size()) < fewest_runs) {
    return false;
  }
  const Figures figures = SessionFigures(session);
  if (UnsettledTeams(figures, *plan.precision).empty()) return true;
  if (const std::optional<double> half_width = WidestSpeedupInterval(figures)) {
    widest = "; widest interval ±" + PercentText(*half_width);
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
  if (!result.failure.empty()) {
    const bool own_words_only =
        result.timed_out || result.output_too_large || run.report.failure.empty();
    run.report.failure = result.failure + (own_words_only ? "" : "; " + run.report.failure);
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

std::string MeasureSession(const MeasurePlan& plan, Executor& executor, const std::string& bench,
                           const std::optional<std::string>& placement, Session& session) {
  const int most_runs = plan.precision ? plan.max_runs : plan.runs;
  const int fewest_runs =
      plan.precision ? std::max(plan.runs_given ? plan.runs : 0, MIN_RUNS_FOR_95) : plan.runs;
  session.requested_runs = most_runs;
  session.precision = plan.precision;
  session.placement = placement;

  ProcessOptions process = RunOptions(placement);
  double longest = 0.0;
  std::string widest;         // the widest speedup interval so far, for the progress line
  std::vector<double> walls;  // every finished run's wall time, for the time left
  const bool at_most = plan.precision.has_value();
  const std::string of =
      " of " + std::string(at_most ? "at most " : "") + std::to_string(most_runs);
  // The time the runs from `first` on should take, within what is left of the time limit.
  const auto left = [&](int first) {
    const std::optional<double> time_left =
        plan.time_limit ? std::optional(*plan.time_limit - executor.Elapsed()) : std::nullopt;
    return SecondsLeft(walls, most_runs - first + 1, time_left);
  };
  while (static_cast<int>(session.runs.size()) < most_runs) {
    const int run = static_cast<int>(session.runs.size()) + 1;
    if (plan.time_limit && executor.Elapsed() >= *plan.time_limit) {
      session.stopped = StopReason{StopReason::Kind::kTimeLimit, *plan.time_limit, 0, ""};
      break;
    }
    process.time_limit_seconds = plan.run_timeout ? *plan.run_timeout
                                 : run == 1       ? FIRST_RUN_TIMEOUT_SECONDS
                                                  : RunTimeout(longest);
    int lines = 0;
    const std::string time_left = LeftText(left(run), at_most);
    auto progress = [&](std::string_view output) {
      lines += static_cast<int>(std::count(output.begin(), output.end(), '\n'));
      if (plan.progress == Progress::kTerminal) {
        executor.ShowProgress("run " + std::to_string(run) + of + ": " + std::to_string(lines) +
                                  " lines" + widest + time_left,
                              true);
      }
    };
    const ProcessResult result = executor.RunOnce(process, progress);
    if (result.interrupted != 0) {
      session.interrupted = SignalName(result.interrupted);
      break;
    }
    if (!result.started) {
      if (run == 1) {
        return "cannot run the benchmark " + Printable(bench) + ": " + result.start_error;
      }
      session.stopped = StopReason{StopReason::Kind::kBenchmarkLost, 0, 0, result.start_error};
      break;
    }
    std::string display;
    Run kept = KeptRun(result, placement, display);
    if (placement && session.context.processors) {
      const std::optional<bool> honoured =
          PlacementHonoured(display, *placement, *session.context.processors);
      if (honoured) {
        session.placement_honoured = session.placement_honoured.value_or(true) && *honoured;
      }
    }
    if (kept.report.failure.empty()) longest = std::max(longest, result.wall_seconds);
    const bool passed = kept.report.failure.empty();
    session.runs.push_back(std::move(kept));
    walls.push_back(result.wall_seconds);
    const bool settled = Settled(plan, session, fewest_runs, widest);
    if (plan.progress == Progress::kLines) {
      executor.ShowProgress(
          "run " + std::to_string(run) + of + ": " + (passed ? "passed in " : "failed after ") +
              Formatted("%.1f s", result.wall_seconds) + widest +
              (settled || run == most_runs ? "" : LeftText(left(run + 1), at_most)),
          false);
    }
    if (settled) break;
    if (plan.progress == Progress::kTerminal && !widest.empty()) {
      executor.ShowProgress("after run " + std::to_string(run) + widest, true);
    }
  }
  if (plan.precision && !session.stopped && !session.interrupted &&
      static_cast<int>(session.runs.size()) >= most_runs) {
    const std::vector<RunReport> passed = PassedReports(session);
    if (passed.empty() || !UnsettledTeams(SessionFigures(session), *plan.precision).empty()) {
      session.stopped = StopReason{StopReason::Kind::kMaxRuns, 0, most_runs, ""};
    }
  }
  if (plan.progress == Progress::kTerminal) executor.ShowProgress("", true);
  return "";
}

}  // namespace speedup
