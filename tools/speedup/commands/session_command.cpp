#include <unistd.h>

#include "base/interrupts.h"
#include "base/io.h"
#include "base/text.h"
#include "commands/commands.h"
#include "commands/output.h"
#include "measure/session_loop.h"
#include "measure/sysinfo.h"
#include "present/charts.h"
#include "present/words.h"
#include "session/inputs.h"
#include "stats/comparison.h"
#include "stats/diagnostics.h"

namespace speedup {
namespace {

std::string DefaultBench() {
  std::string self(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size());
  self.resize(length > 0 ? length : 0);
  return self.substr(0, self.rfind('/') + 1) + "matbench";
}

// Names every failed run; true when none failed.
bool NameFailedRuns(const Session& session) {
  bool all_passed = true;
  for (std::size_t i = 0; i < session.runs.size(); ++i) {
    if (!session.runs[i].report.failure.empty()) {
      Complain("run " + std::to_string(i + 1) +
               " failed: " + Printable(session.runs[i].report.failure));
      all_passed = false;
    }
  }
  return all_passed;
}

// The name a session is shown under: its placement in a study, else none.
std::string PlacementName(const Session& session) {
  return session.placement ? "OMP_PROC_BIND=" + *session.placement : "";
}

// Reports the sessions of one command: failed runs, warnings, the figures, for a placement
// study the comparison of each placement with the first, and the chart. Returns the exit
// status: 0, or 1 when a run failed, no run passed or an output could not be written.
int Report(const Options& options, const std::vector<Session>& sessions) {
  bool failed = false;
  std::vector<const Session*> reported;
  std::vector<SessionAnalysis> analyses;
  analyses.reserve(sessions.size());
  for (const Session& session : sessions) {
    const std::string name = PlacementName(session);
    if (!name.empty()) Complain(name + ":");
    failed = !NameFailedRuns(session) || failed;
    if (PassedReports(session).empty()) {
      Complain(session.runs.empty() ? std::string("no figures: no run finished")
                                    : "no figures: none of the " +
                                          std::to_string(session.runs.size()) + " runs passed");
      failed = true;
      continue;
    }
    analyses.push_back(Analyse(session));
    for (const Warning& warning : analyses.back().warnings) {
      Complain("warning: " + WarningText(warning));
    }
    reported.push_back(&session);
  }
  if (reported.empty()) return 1;

  std::vector<NamedSession> named;
  for (std::size_t i = 0; i < reported.size(); ++i) {
    const std::string name = PlacementName(*reported[i]);
    named.push_back({name.empty() ? "speedup vs serial" : name, reported[i], &analyses[i]});
  }
  const std::unique_ptr<Reporter> reporter = MakeReporter(options.format);
  std::string text;
  if (options.placements.empty()) {
    text = reporter->SessionReport(*reported.front(), analyses.front());
  } else {
    std::vector<Comparison> comparisons;
    for (std::size_t i = 1; i < reported.size(); ++i) {
      comparisons.push_back(CompareSessions(*reported[0], *reported[i]));
    }
    text = reporter->StudyReport(named, comparisons);
  }
  const PlotRequest chart = SessionsChart(options.plot, named);
  failed = !Deliver(text, &chart) || failed;
  return failed ? 1 : 0;
}

// One session, or one per placement measured interleaved run by run, each with its own look at
// the machine. Sets `error` when the benchmark cannot be started at all.
std::vector<Session> MeasureSessions(const Options& options, std::string& error) {
  const std::string bench = options.bench.empty() ? DefaultBench() : options.bench;
  std::vector<std::optional<std::string>> placements(options.placements.begin(),
                                                     options.placements.end());
  if (placements.empty()) placements.push_back(std::nullopt);
  MeasurePlan plan = options.plan;
  plan.show_progress = isatty(STDERR_FILENO) != 0;
  std::vector<Session> sessions;
  for (const std::optional<std::string>& placement : placements) {
    Session& session = sessions.emplace_back();
    session.context = ReadMachineContext();
    // The build fields describe the benchmark built beside this tool, not one named by --bench.
    if (options.bench.empty()) AddBuildInfo(session.context);
    session.placement = placement;
  }
  ProcessExecutor executor(bench);
  error = sessions.size() == 1
              ? MeasureSession(plan, executor, bench, placements.front(), sessions.front())
              : MeasureInterleaved(plan, executor, bench, sessions);
  const std::optional<double> load_after = ReadLoadAverage();
  for (Session& session : sessions) session.context.load_after = load_after;
  return sessions;
}

}  // namespace

int SessionCommand(const Options& options) {
  if (!options.input.empty()) {
    Session session;
    if (!ReadSessionFile(options.input, options.processors, session)) return 2;
    return Report(options, {session});
  }
  std::string error;
  const std::vector<Session> sessions = MeasureSessions(options, error);
  if (!error.empty()) {
    Complain(error);
    return 2;
  }
  const int status = Report(options, sessions);
  for (const Session& session : sessions) {
    if (!session.interrupted) continue;
    Complain("interrupted by " + *session.interrupted + " after " +
             std::to_string(session.runs.size()) + " of " +
             std::to_string(*session.requested_runs) + " runs");
    return 128 + PendingInterrupt();
  }
  return status;
}

}  // namespace speedup
