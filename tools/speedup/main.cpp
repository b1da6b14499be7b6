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
      Complain("run " + std::to_string(i + 1) + " failed: " + session.runs[i].report.failure);
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

// Reports one session: failed runs, warnings, the figures and the chart. Returns the exit
// status: 0, or 1 when a run failed or an output could not be written.
int Report(const Options& options, const Session& session) {
  const bool all_passed = NameFailedRuns(session);
  const std::vector<RunReport> passed = PassedReports(session);
  if (passed.empty()) {
    Complain(session.runs.empty() ? std::string("no figures: no run finished")
                                  : "no figures: none of the " +
                                        std::to_string(session.runs.size()) + " runs passed");
    return 1;
  }
  const Figures figures = SessionFigures(session);
  for (const std::string& warning : SessionWarnings(session, figures)) {
    Complain("warning: " + warning);
  }
  bool failed = !WriteOut(Formatted(options, session, figures));
  if (!options.plot.empty()) {
    PlotRequest request;
    request.path = options.plot;
    request.processors = session.context.processors;
    request.runs = figures.runs;
    request.curves.push_back({"speedup vs serial", &figures, std::nullopt});
    const PlotResult plot = WritePlot(request);
    if (!plot.message.empty()) Complain(plot.message);
    failed = failed || plot.failed;
  }
  return all_passed && !failed ? 0 : 1;
}

int SessionCommand(const Options& options) {
  Session session;
  if (!options.input.empty()) {
    if (!ReadSessionFile(options.input, options.processors, session)) return 2;
    return Report(options, session);
  }
  const std::string bench = options.bench.empty() ? DefaultBench() : options.bench;
  session.context = ReadMachineContext();
  // The build fields describe the benchmark built beside this tool, not one named by --bench.
  if (options.bench.empty()) AddBuildInfo(session.context);
  if (const std::string error = MeasureSession(options, bench, std::nullopt, session);
      !error.empty()) {
    Complain(error);
    return 2;
  }
  session.context.load_after = ReadLoadAverage();
  const int status = Report(options, session);
  if (session.interrupted) {
    Complain("interrupted by " + *session.interrupted + " after " +
             std::to_string(session.runs.size()) + " of " +
             std::to_string(*session.requested_runs) + " runs");
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
  return SessionCommand(options);
}
