#include <unistd.h>

#include "base/interrupts.h"
#include "base/io.h"
#include "base/text.h"
#include "commands/commands.h"
#include "commands/complain.h"
#include "commands/drawing.h"
#include "commands/output.h"
#include "measure/session_loop.h"
#include "measure/sysinfo.h"
#include "present/charts.h"
#include "present/html_reporter.h"
#include "present/words.h"
#include "session/inputs.h"
#include "stats/comparison.h"
#include "stats/diagnostics.h"
#include "stats/run_dots.h"

namespace speedup {
namespace {

// Names every failed run; true when none failed.
bool NameFailedRuns(const Session& session) {
  bool all_passed = true;
  for (std::size_t i = 0; i < session.runs.size(); ++i) {
    if (const std::optional<RunFailure>& failure = session.runs[i].report.failure) {
      Complain("run " + std::to_string(i + 1) + " failed: " + Printable(RunFailureText(*failure)));
      all_passed = false;
    }
  }
  return all_passed;
}

// The name a session is shown under: its placement in a study, else none.
std::string PlacementName(const Session& session) {
  return session.placement ? "OMP_PROC_BIND=" + *session.placement : "";
}

// Whether every --precision session settled; says which did not. Sessions without a precision
// count as settled.
bool Settled(const std::vector<const Session*>& sessions,
             const std::vector<SessionAnalysis>& analyses) {
  bool settled = true;
  for (std::size_t i = 0; i < sessions.size(); ++i) {
    if (!sessions[i]->precision || analyses[i].unsettled.empty()) continue;
    std::string message = PlacementName(*sessions[i]);
    if (!message.empty()) message += ": ";
    message += "team sizes";
    for (const int threads : analyses[i].unsettled) {
      message += (threads == analyses[i].unsettled.front() ? " " : ", ");
      message += std::to_string(threads);
    }
    message += " did not settle within ±";
    message += PercentText(*sessions[i]->precision);
    Complain(message + " (--fail-if-unsettled)");
    settled = false;
  }
  return settled;
}

// One session's page, with its runs one by one.
std::string SessionPage(const Session& session, const SessionAnalysis& analysis) {
  HtmlMaterial material;
  material.draw = DrawPageChart;
  const RunDots dots = SessionRunDots(session, analysis.figures);
  material.run_dots = &dots;
  return MakeHtmlReporter(material)->SessionReport(session, analysis);
}

// Reports the sessions of one command: failed runs, warnings, the figures, for a placement
// study the comparison of each placement with the first, and the chart. Returns the exit
// status: 0, or 1 when a run failed, no run passed or an output could not be written. `measured`:
// the sessions ran here, so an interrupt that ended them still leaves their finished runs
// written.
int Report(const Options& options, const std::vector<Session>& sessions, bool measured) {
  bool failed = false;
  std::vector<const Session*> reported;
  std::vector<SessionAnalysis> analyses;
  analyses.reserve(sessions.size());
  for (const Session& session : sessions) {
    const std::string name = PlacementName(session);
    if (!name.empty()) Complain(Printable(name) + ":");
    failed = !NameFailedRuns(session) || failed;
    if (!HasPassedRun(session)) {
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
  HtmlMaterial material;
  material.draw = DrawPageChart;
  const std::unique_ptr<Reporter> html = MakeHtmlReporter(material);
  std::string text, page;
  std::vector<Comparison> comparisons;
  if (options.placements.empty()) {
    text = reporter->SessionReport(*reported.front(), analyses.front());
    if (!options.html.empty()) page = SessionPage(*reported.front(), analyses.front());
  } else {
    for (std::size_t i = 1; i < reported.size(); ++i) {
      comparisons.push_back(CompareSessions(*reported[0], *reported[i]));
    }
    text = reporter->StudyReport(named, comparisons);
    if (!options.html.empty()) page = html->StudyReport(named, comparisons);
  }
  // The files first and the report last, so that an interrupt while they are written leaves
  // neither a report nor a file: the report on screen says every output was made.
  const bool exported = WriteExports(options.exports, [&](const Reporter& format) {
    if (!options.placements.empty()) return format.StudyReport(named, comparisons);
    return format.SessionReport(*reported.front(), analyses.front());
  });
  failed = !exported || failed;
  failed = !DeliverPage(options.html, page) || failed;
  const PlotRequest chart = SessionsChart(options.plot, named);
  failed = !Deliver(text, &chart, measured && sessions.back().interrupted.has_value()) || failed;
  if (options.fail_if_unsettled && !Settled(reported, analyses)) failed = true;
  return failed ? 1 : 0;
}

// One session, or one per placement measured interleaved run by run, each with its own look at
// the machine. A kBenchmark failure when the benchmark cannot be started at all.
Result<std::vector<Session>> MeasureSessions(const Options& options) {
  const std::string bench = options.bench.empty() ? BenchBesideTool() : options.bench;
  std::vector<std::optional<std::string>> placements(options.placements.begin(),
                                                     options.placements.end());
  if (placements.empty()) placements.push_back(std::nullopt);
  MeasurePlan plan = options.plan;
  plan.clock_tick = BenchClockTick(bench);
  plan.progress = isatty(STDERR_FILENO) != 0 ? Progress::kTerminal : Progress::kLines;
  std::vector<Session> sessions;
  for (const std::optional<std::string>& placement : placements) {
    Session& session = sessions.emplace_back();
    session.context = ReadMachineContext();
    // The build fields describe the benchmark built beside this tool, not one named by --bench.
    if (options.bench.empty()) AddBuildInfo(session.context);
    session.placement = placement;
  }
  ProcessExecutor executor(bench);
  const Status measured =
      sessions.size() == 1
          ? MeasureSession(plan, executor, bench, placements.front(), sessions.front())
          : MeasureInterleaved(plan, executor, bench, sessions);
  if (!measured) return measured.failure();
  const std::optional<double> load_after = ReadLoadAverage();
  for (Session& session : sessions) session.context.load_after = load_after;
  return sessions;
}

}  // namespace

int SessionCommand(const Options& options) {
  if (!options.input.empty()) {
    Result<SessionFile> file = ReadSessionFile(options.input, options.processors);
    if (!file) return Refuse(file.failure());
    if (PendingInterrupt() != 0) return 1;
    return Report(options, {std::move(file->session)}, false);
  }
  const Result<std::vector<Session>> measured = MeasureSessions(options);
  ObeyInterruptsAtOnce();  // the runs are over: nothing is left to finish
  if (!measured) return Refuse(measured.failure());
  const std::vector<Session>& sessions = *measured;
  const int status = Report(options, sessions, true);
  for (const Session& session : sessions) {
    if (!session.interrupted) continue;
    Complain("interrupted by " + InterruptName(*session.interrupted) + " after " +
             std::to_string(session.runs.size()) + " of " +
             std::to_string(*session.requested_runs) + " runs");
    return 128 + PendingInterrupt();
  }
  // A benchmark that could not be started again is a fault, whatever the runs before it gave.
  for (const Session& session : sessions) {
    if (session.stopped && session.stopped->kind == StopReason::Kind::kBenchmarkLost) {
      Complain("the session stopped after " + CountText(session.runs.size(), "run", "runs") + ": " +
               Printable(StopText(*session.stopped)));
      return 1;
    }
  }
  return status;
}

}  // namespace speedup
