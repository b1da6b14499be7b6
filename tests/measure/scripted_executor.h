#pragma once

// A benchmark scripted run by run for the session loop's tests, and the plans and runs they use.

#include <csignal>
#include <deque>
#include <functional>

#include "measure/session_loop.h"
#include "speedup_support.h"

namespace speedup {

// A benchmark scripted run by run, on a clock that moves only by the runs' own wall times.
class ScriptedExecutor : public Executor {
 public:
  // The result of run `index` (from 0); the default is a passing run of `wall` seconds.
  std::function<ProcessResult(int index)> script = [](int) { return Passing(0.06, 0.03); };
  std::vector<double> time_limits;  // each run's time limit, as the loop set it
  int ended_early = 0;              // runs the loop ended once it had seen enough
  double clock = 0.0;

  static ProcessResult Passing(double serial, double parallel, double wall = 2.0) {
    ProcessResult result;
    result.started = true;
    result.exit_status = 0;
    result.output = ReportBytes(ReportWith(serial, parallel));
    result.wall_seconds = wall;
    result.cpu_seconds = wall * 1.9;
    return result;
  }

  ProcessResult RunOnce(const ProcessOptions& options,
                        const std::function<void(std::string_view)>& on_output) override {
    time_limits.push_back(options.time_limit_seconds);
    ProcessResult result = script(static_cast<int>(time_limits.size()) - 1);
    // Line by line, as a running benchmark writes, ended where the loop has seen enough.
    for (std::size_t end = result.output.find('\n');
         options.seen_enough && end != result.output.npos;
         end = result.output.find('\n', end + 1)) {
      if (options.seen_enough(std::string_view(result.output).substr(0, end + 1))) {
        result.output.resize(end + 1);
        result.ended_early = true;
        ++ended_early;
        break;
      }
    }
    if (!result.output.empty()) on_output(result.output);
    clock += result.wall_seconds;
    return result;
  }
  double Elapsed() override { return clock; }
  void ShowProgress(const std::string& text, bool overwrite) override {
    (overwrite ? rewritten : lines).push_back(text);
  }
  std::vector<std::string> rewritten;  // progress on a terminal's one line, in order
  std::vector<std::string> lines;      // progress as lines of their own
};

inline Session Measured(const MeasurePlan& plan, ScriptedExecutor& executor,
                        std::string* error = nullptr) {
  Session session;
  session.context.processors = 2;
  const std::string message =
      MessageOf(MeasureSession(plan, executor, "bench", std::nullopt, session));
  if (error != nullptr) *error = message;
  return session;
}

}  // namespace speedup
