#pragma once

#include <functional>
#include <optional>
#include <string>

#include "session/inputs.h"
#include "session/session.h"

// The one way the speedup tool's tests build sessions and nodes.
namespace speedup {

// A passing report: serial `serial` seconds, every team size `parallel` seconds.
RunReport ReportWith(double serial, double parallel);

// A passing report: serial `serial` seconds, team size t taking `parallel(t)` seconds.
RunReport ReportWith(double serial, const std::function<double(int)>& parallel);

// The bytes the benchmark would write for `report`, every product verified.
std::string ReportBytes(const RunReport& report);

// Builds a session step by step, e.g.
//   SessionBuilder().Processors(2).Runs(10, [](int run) { return ReportWith(0.06, 0.03); }).Build()
class SessionBuilder {
 public:
  SessionBuilder& Host(const std::string& host);
  SessionBuilder& Processors(int processors);
  SessionBuilder& Cores(int cores);
  SessionBuilder& Setting(const std::string& name, const std::string& value);
  SessionBuilder& Slurm(const std::string& job, const std::string& node);
  // One run; CPU and wall seconds recorded when given.
  SessionBuilder& Run(const RunReport& report, std::optional<double> cpu_seconds = std::nullopt,
                      std::optional<double> wall_seconds = std::nullopt);
  // `count` runs, the i-th (from 0) made by `make(i)`.
  SessionBuilder& Runs(int count, const std::function<RunReport(int)>& make);
  // One run that failed with `failure`.
  SessionBuilder& FailedRun(const std::string& failure);
  SessionBuilder& Interrupted(const std::string& signal);
  SessionBuilder& Stopped(const StopReason& reason);
  Session Build() const { return session_; }

 private:
  Session session_;
};

// The node a fleet reads from `session`, named `name` and merged when a run passed.
NodeInput NodeOf(const std::string& name, const Session& session);

}  // namespace speedup
