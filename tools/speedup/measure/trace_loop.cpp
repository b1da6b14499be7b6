#include "measure/trace_loop.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "base/interrupts.h"
#include "base/io.h"
#include "base/text.h"

namespace speedup {
namespace {

// The options of one run: on the runtime the plan names, with or without the tool.
ProcessOptions PairOptions(const TracePlan& plan, const std::string& trace_path, bool traced) {
  ProcessOptions options;
  options.max_output_bytes = MAX_REPORT_BYTES;
  if (plan.preload) options.extra_environment.push_back("LD_PRELOAD=" + *plan.preload);
  if (traced) {
    // The tool says on standard error why it could not trace; that becomes the run's reason.
    options.stderr_handling = StderrHandling::kCapture;
    options.extra_environment.push_back("OMP_TOOL_LIBRARIES=" + plan.tool);
    options.extra_environment.push_back("MATBENCH_TRACE_FILE=" + trace_path);
  } else {
    options.extra_environment.push_back("OMP_TOOL_LIBRARIES");
    options.extra_environment.push_back("MATBENCH_TRACE_FILE");
  }
  return options;
}

// What the tool said on standard error, made printable; empty when it said nothing. The
// benchmark's and the runtime's own lines are passed on, shown escaped.
std::string ToolMessage(const std::string& error_output) {
  constexpr std::string_view prefix = "matbench-trace: ";
  std::string message;
  for (const std::string_view line : SplitLines(error_output)) {
    if (line.starts_with(prefix) && message.empty()) {
      message = Printable(line.substr(prefix.size()));
    } else if (!line.starts_with(prefix)) {
      std::fprintf(stderr, "%s\n", Printable(line).c_str());
    }
  }
  return message;
}

// The trace read from `bytes` (a file's, or the failure to read it), or why there is none,
// from what the tool said if anything.
Result<RunTrace> TraceOf(const Result<std::string>& bytes, const std::string& tool_message) {
  if (!bytes) {
    return Fail(FailureKind::kInput,
                tool_message.empty() ? "no trace was written" : "the trace tool: " + tool_message);
  }
  Result<RunTrace> trace = ReadRunTrace(*bytes);
  if (!trace) return Fail(FailureKind::kInput, "its trace is unusable: " + trace.failure().message);
  return trace;
}

// A traced run and its trace, read back from `file` in the plan's folder, into `session`.
// Fails when the runtime never loaded the tool.
Status KeepTracedRun(const TracePlan& plan, const ProcessResult& result, const std::string& file,
                     Run run, TraceSession& session) {
  const std::string tool_message = ToolMessage(result.error_output);
  const Result<std::string> bytes = ReadWholeFile(plan.folder + "/" + file);
  const bool written = bytes.ok();
  Result<RunTrace> trace = TraceOf(bytes, tool_message);
  const bool first_passed =
      run.report.Passed() && std::none_of(session.traces.begin(), session.traces.end(),
                                          [](const auto& t) { return t != nullptr; });
  // No file and no word from the tool: the runtime never loaded it.
  if (!written && first_passed && tool_message.empty()) {
    return Fail(
        FailureKind::kBenchmark,
        "the OpenMP runtime did not load the trace tool " + Printable(plan.tool) +
            " (it needs a runtime with the OpenMP tools interface, such as LLVM's): nothing "
            "was traced");
  }
  session.traced.runs.push_back(std::move(run));
  session.trace_files.push_back(trace ? file : "");
  session.untraced_reasons.push_back(trace ? "" : trace.failure().message);
  session.traces.push_back(trace ? std::make_shared<const RunTrace>(std::move(trace).value())
                                 : nullptr);
  return Success();
}

// "; about 1 min left" after the pairs whose wall times (both runs') are `walls`.
std::string PairsLeftText(const std::vector<double>& walls, int pairs_left) {
  const std::optional<double> left = SecondsLeft(walls, pairs_left, std::nullopt);
  return left && pairs_left > 0 ? "; about " + WaitText(*left) + " left" : "";
}

}  // namespace

Status MeasureTraceSession(const TracePlan& plan, Executor& executor, const std::string& bench,
                           TraceSession& session) {
  session.traced.requested_runs = session.untraced.requested_runs = plan.runs;
  double longest = 0.0;
  std::vector<double> pair_walls;  // each finished pair's two runs, for the time left
  const auto finish = [&] {        // a terminal's progress line cleared
    if (plan.progress == Progress::kTerminal) executor.ShowProgress("", true);
  };
  for (int pair = 1; pair <= plan.runs; ++pair) {
    const std::string file = TraceFileName(pair), path = plan.folder + "/" + file;
    const std::string name = "pair " + std::to_string(pair) + " of " + std::to_string(plan.runs);
    const std::string left = PairsLeftText(pair_walls, plan.runs - pair + 1);
    double pair_wall = 0.0;
    std::string outcome;
    // Untraced first in odd pairs, traced first in even ones.
    for (const bool traced : pair % 2 == 1 ? std::vector{false, true} : std::vector{true, false}) {
      if (plan.progress == Progress::kTerminal) {
        executor.ShowProgress(name + ": " + (traced ? "traced" : "untraced") + " run" + left, true);
      }
      ProcessOptions options = PairOptions(plan, path, traced);
      options.time_limit_seconds = longest > 0.0 ? RunTimeout(longest) : FIRST_RUN_TIMEOUT_SECONDS;
      if (traced) static_cast<void>(unlink(path.c_str()));  // no trace of an earlier session
      const ProcessResult result = executor.RunOnce(options, {});
      if (result.interrupted != 0) {
        session.traced.interrupted = session.untraced.interrupted =
            Interrupt{result.interrupted, ""};
        finish();
        return Success();
      }
      if (!result.started) {
        finish();
        if (session.traced.runs.empty() && session.untraced.runs.empty()) {
          return Fail(FailureKind::kBenchmark,
                      "cannot run the benchmark " + Printable(bench) + ": " + result.start_error);
        }
        const StopReason lost{StopReason::Kind::kBenchmarkLost, 0, 0, result.start_error};
        session.traced.stopped = session.untraced.stopped = lost;
        return Success();
      }
      Run run = RunOfProcess(result, result.output);
      if (run.report.Passed()) longest = std::max(longest, result.wall_seconds);
      pair_wall += result.wall_seconds;
      outcome += std::string(outcome.empty() ? "" : ", ") + (traced ? "traced " : "untraced ") +
                 (run.report.Passed() ? "passed" : "failed");
      if (!traced) {
        session.untraced.runs.push_back(std::move(run));
      } else if (Status kept = KeepTracedRun(plan, result, file, std::move(run), session); !kept) {
        return kept;
      }
    }
    pair_walls.push_back(pair_wall);
    if (plan.progress == Progress::kLines) {
      executor.ShowProgress(name + ": " + outcome + Formatted(" in %.1f s", pair_wall) +
                                PairsLeftText(pair_walls, plan.runs - pair),
                            false);
    }
  }
  finish();
  return Success();
}

}  // namespace speedup
