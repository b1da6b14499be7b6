#pragma once

#include <cstdlib>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "base/result.h"
#include "session/inputs.h"
#include "session/session.h"
#include "stats/diagnostics.h"

// The one way the speedup tool's tests build reports, sessions and nodes.
namespace speedup {

// A whole report in the benchmark's own bytes (Windows-1251), lines ended by `line_end`: serial
// 0.060 s, team size t taking 0.030 + t ms.
std::string ReportText(const std::string& line_end = "\n");

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
  SessionBuilder& CpuModel(const std::string& model);
  // Every field of the context recorded, as on a two-core runner outside Slurm with no OMP_*
  // variable set: host runner-7, AMD EPYC 9B14, loads 0.10 before and 1.95 after, and so on.
  SessionBuilder& FullContext();
  SessionBuilder& Slurm(const std::string& job, const std::string& node,
                        const std::optional<std::string>& nodelist = std::nullopt,
                        std::optional<int> cpus_on_node = std::nullopt);
  // The clock's tick recorded in the context, in seconds.
  SessionBuilder& Tick(double seconds);
  SessionBuilder& Requested(int runs);
  // One run; CPU and wall seconds recorded when given.
  SessionBuilder& Run(const RunReport& report, std::optional<double> cpu_seconds = std::nullopt,
                      std::optional<double> wall_seconds = std::nullopt);
  // `count` runs, the i-th (from 0) made by `make(i)`.
  SessionBuilder& Runs(int count, const std::function<RunReport(int)>& make);
  // `count` passing runs, teams of two and more twice as fast as one thread: run i's times are
  // `scale` x (serial 0.060 s) x a wobble of 0 to 4% that repeats every five runs.
  SessionBuilder& TimedRuns(int count, double scale);
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

// A warning as GoogleTest shows it in a failure: its words.
void PrintTo(const Warning& warning, std::ostream* out);

// A run's failure in words, as the tool saves and says it; "" when it passed.
std::string FailureWords(const std::optional<RunFailure>& failure);

// A run's failure as GoogleTest shows it in a failure: its words.
void PrintTo(const RunFailure& failure, std::ostream* out);

// An interrupt as GoogleTest shows it in a failure: its signal's name.
void PrintTo(const Interrupt& interrupt, std::ostream* out);

// The node read from `text` as merge reads it; no text: a file that could not be read.
inline Result<NodeInput> ReadNodeText(const std::string& file,
                                      const std::optional<std::string>& text) {
  if (!text) return ReadNode(file, Fail(FailureKind::kInput, "cannot read " + file));
  return ReadNode(file, *text);
}

// How many times `part` occurs in `text`, overlapping occurrences each counted.
std::size_t Count(const std::string& text, const std::string& part);

// While it lives, gnuplot is off the PATH: pages must not depend on it, and the tests stay quick.
class WithoutGnuplot {
 public:
  WithoutGnuplot() : saved_(getenv("PATH") ? getenv("PATH") : "") { setenv("PATH", "/nowhere", 1); }
  ~WithoutGnuplot() { setenv("PATH", saved_.c_str(), 1); }

 private:
  std::string saved_;
};

// Whether `part` occurs in `text`.
inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The message of a failed result, or an empty string when it succeeded: what a test compares.
template <typename T>
std::string MessageOf(const Result<T>& result) {
  return result ? std::string() : result.failure().message;
}

}  // namespace speedup
