#include "session/session.h"

#include <algorithm>
#include <csignal>
#include <cstdio>

#include "base/interrupts.h"

namespace speedup {

bool SetByUser(const StopReason& reason) {
  return reason.kind == StopReason::Kind::kTimeLimit || reason.kind == StopReason::Kind::kMaxRuns;
}

std::string StopText(const StopReason& reason) {
  switch (reason.kind) {
    case StopReason::Kind::kTimeLimit: {
      char text[64];
      std::snprintf(text, sizeof text, "--time-limit %g s reached", reason.seconds);
      return text;
    }
    case StopReason::Kind::kMaxRuns:
      return "--max-runs " + std::to_string(reason.runs) + " reached";
    case StopReason::Kind::kBenchmarkLost:
      return "the benchmark could not be started again: " + reason.detail;
    case StopReason::Kind::kOther:
      break;
  }
  return reason.detail;
}

StopReason StopFromText(const std::string& text) {
  StopReason reason;
  reason.detail = text;
  double seconds = 0;
  int runs = 0;
  int end = 0;
  const std::string lost = "the benchmark could not be started again: ";
  if (std::sscanf(text.c_str(), "--time-limit %lg s reached%n", &seconds, &end) == 1 &&
      end == static_cast<int>(text.size())) {
    reason = {StopReason::Kind::kTimeLimit, seconds, 0, ""};
  } else if (std::sscanf(text.c_str(), "--max-runs %d reached%n", &runs, &end) == 1 &&
             end == static_cast<int>(text.size())) {
    reason = {StopReason::Kind::kMaxRuns, 0, runs, ""};
  } else if (text.starts_with(lost)) {
    reason = {StopReason::Kind::kBenchmarkLost, 0, 0, text.substr(lost.size())};
  }
  // Only a reason that reads back as it was written is taken for one of the known kinds.
  if (StopText(reason) != text) reason = {StopReason::Kind::kOther, 0, 0, text};
  return reason;
}

std::string InterruptName(const Interrupt& interrupt) {
  return interrupt.signal_number != 0 ? SignalName(interrupt.signal_number)
                                      : interrupt.unknown_name;
}

Interrupt InterruptFromName(const std::string& name) {
  // Linear in the signals of the system, which are few (NSIG, 65 on Linux).
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    if (SignalName(signal_number) == name) return {signal_number, ""};
  }
  return {0, name};
}

bool HasPassedRun(const Session& session) {
  return std::any_of(session.runs.begin(), session.runs.end(),
                     [](const Run& run) { return run.report.Passed(); });
}

std::vector<RunReport> PassedReports(const Session& session) {
  std::vector<RunReport> passed;
  passed.reserve(
      static_cast<std::size_t>(std::count_if(session.runs.begin(), session.runs.end(),
                                             [](const Run& run) { return run.report.Passed(); })));
  for (const Run& run : session.runs) {
    if (run.report.Passed()) passed.push_back(run.report);
  }
  return passed;
}

}  // namespace speedup
