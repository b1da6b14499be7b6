#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "compare.h"
#include "context.h"
#include "figures.h"
#include "io.h"
#include "measure.h"
#include "merge.h"
#include "options.h"
#include "output.h"
#include "plot.h"
#include "process.h"
#include "report_parser.h"
#include "session.h"
#include "text.h"

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

std::string Formatted(const Options& options, const Session& session, const Figures& figures) {
  switch (options.format) {
    case OutputFormat::kCsv:
      return FormatCsv(figures);
    case OutputFormat::kLongCsv:
      return FormatLongCsv(session);
    case OutputFormat::kJson:
      return FormatJson(session, figures);
    case OutputFormat::kTable:
      break;
  }
  return FormatTable(session, figures);
}

// Draws one speedup curve per session, each with its Amdahl fit; true when nothing failed.
bool Plot(const std::string& path, const std::vector<const Session*>& sessions,
          const std::vector<Figures>& figures, const std::vector<std::string>& names) {
  PlotRequest request;
  request.path = path;
  request.processors = sessions.front()->context.processors;
  request.runs = figures.front().runs;
  for (std::size_t i = 0; i < sessions.size(); ++i) {
    request.runs = std::min(request.runs, figures[i].runs);
    request.curves.push_back({names[i], &figures[i], figures[i].amdahl.serial_fraction});
  }
  const PlotResult plot = WritePlot(request);
  if (!plot.message.empty()) Complain(plot.message);
  return !plot.failed;
}

// Reports the sessions of one command: failed runs, warnings, the figures, for a placement
// study the comparison of each placement with the first, and the chart. Returns the exit
// status: 0, or 1 when a run failed, no run passed or an output could not be written.
int Report(const Options& options, const std::vector<Session>& sessions) {
  bool failed = false;
  std::vector<const Session*> reported;
  std::vector<Figures> figures;
  std::vector<std::string> names;
  for (const Session& session : sessions) {
    const std::string name = session.placement ? "OMP_PROC_BIND=" + *session.placement : "";
    if (!name.empty()) Complain(name + ":");
    failed = !NameFailedRuns(session) || failed;
    if (PassedReports(session).empty()) {
      Complain(session.runs.empty() ? std::string("no figures: no run finished")
                                    : "no figures: none of the " +
                                          std::to_string(session.runs.size()) + " runs passed");
      failed = true;
      continue;
    }
    figures.push_back(SessionFigures(session));
    for (const std::string& warning : SessionWarnings(session, figures.back())) {
      Complain("warning: " + warning);
    }
    reported.push_back(&session);
    names.push_back(name.empty() ? "speedup vs serial" : name);
  }
  if (reported.empty()) return 1;

  std::string text;
  if (options.placements.empty()) {
    text = Formatted(options, *reported.front(), figures.front());
  } else if (options.format == OutputFormat::kJson) {
    nlohmann::ordered_json json = {{"placements", nlohmann::ordered_json::array()},
                                   {"comparisons", nlohmann::ordered_json::array()}};
    for (std::size_t i = 0; i < reported.size(); ++i) {
      json["placements"].push_back(SessionJson(*reported[i], figures[i]));
      if (i > 0) {
        json["comparisons"].push_back(nlohmann::ordered_json::parse(
            FormatComparisonJson(CompareSessions(*reported[0], *reported[i]), names[0], names[i])));
      }
    }
    text = json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  } else {
    for (std::size_t i = 0; i < reported.size(); ++i) {
      text += (i == 0 ? "" : "\n") + names[i] + "\n" + FormatTable(*reported[i], figures[i]);
    }
    for (std::size_t i = 1; i < reported.size(); ++i) {
      text += '\n';
      text +=
          FormatComparisonTable(CompareSessions(*reported[0], *reported[i]), names[0], names[i]);
    }
  }
  failed = !WriteOut(text) || failed;
  if (!options.plot.empty()) failed = !Plot(options.plot, reported, figures, names) || failed;
  return failed ? 1 : 0;
}

int SessionCommand(const Options& options) {
  if (!options.input.empty()) {
    Session session;
    if (!ReadSessionFile(options.input, options.processors, session)) return 2;
    return Report(options, {session});
  }
  const std::string bench = options.bench.empty() ? DefaultBench() : options.bench;
  std::vector<std::optional<std::string>> placements(options.placements.begin(),
                                                     options.placements.end());
  if (placements.empty()) placements.push_back(std::nullopt);
  std::vector<Session> sessions;
  for (const std::optional<std::string>& placement : placements) {
    Session& session = sessions.emplace_back();
    session.context = ReadMachineContext();
    // The build fields describe the benchmark built beside this tool, not one named by --bench.
    if (options.bench.empty()) AddBuildInfo(session.context);
    if (const std::string error = MeasureSession(options, bench, placement, session);
        !error.empty()) {
      Complain(error);
      return 2;
    }
    session.context.load_after = ReadLoadAverage();
    if (session.interrupted) break;
  }
  const int status = Report(options, sessions);
  if (const Session& last = sessions.back(); last.interrupted) {
    Complain("interrupted by " + *last.interrupted + " after " + std::to_string(last.runs.size()) +
             " of " + std::to_string(*last.requested_runs) + " runs");
    return 128 + PendingInterrupt();
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (!InstallInterruptHandlers()) Complain("warning: interrupts will not end the runs cleanly");
  Options options;
  if (const std::string error = ParseOptions({argv + 1, argv + argc}, options); !error.empty()) {
    Complain(error + " (see --help)");
    return 2;
  }
  if (!options.help_text.empty()) return WriteOut(options.help_text) ? 0 : 1;
  if (options.command == Command::kCompare) return CompareCommand(options);
  if (options.command == Command::kMerge) return MergeCommand(options);
  return SessionCommand(options);
}
