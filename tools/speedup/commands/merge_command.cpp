#include <algorithm>

#include "base/interrupts.h"
#include "base/io.h"
#include "base/text.h"
#include "commands/commands.h"
#include "commands/complain.h"
#include "commands/drawing.h"
#include "commands/output.h"
#include "present/charts.h"
#include "present/html_reporter.h"
#include "present/words.h"
#include "session/inputs.h"
#include "stats/fleet.h"

namespace speedup {
namespace {

// Every file as a node of `fleet`, its figures made as it is read, so that only one file's text
// and parsed session are held at a time beside the nodes; a failure when one is not a session of
// this version or an interrupt came.
Status ReadFleet(const std::vector<std::string>& paths, NodeDetail detail, Fleet& fleet) {
  const auto interrupted = [] {
    return Fail(FailureKind::kInterrupted, "interrupted by " + SignalName(PendingInterrupt()));
  };
  fleet.nodes.reserve(paths.size());
  for (const std::string& path : paths) {
    if (PendingInterrupt() != 0) return interrupted();
    Result<NodeInput> node = [&path] {
      const Result<std::string> text = ReadInput(path);
      // Named as it fails; the node keeps it as its problem, and the files that were read merge.
      if (!text) Complain(text.failure().message);
      return ReadNode(path, text);
    }();
    if (!node) return PendingInterrupt() != 0 ? interrupted() : node.failure();
    AddNode(fleet, std::move(node).value(), detail);
  }
  if (PendingInterrupt() != 0) return interrupted();
  return Success();
}

// Names each node that failed or was cut short; true when there was one.
bool NameProblems(const Fleet& fleet) {
  bool any = false;
  for (const NodeRow& node : fleet.nodes) {
    if (!node.input.problem) continue;
    Complain((node.input.merged ? "cut short: " : "failed: ") + Printable(node.input.node) + ": " +
             Printable(ProblemText(*node.input.problem)));
    any = true;
  }
  return any;
}

}  // namespace

int MergeCommand(const Options& options) {
  if (options.merged.empty()) {
    Complain("merge needs at least one session file");
    return 2;
  }
  // The JSON, the page and the chart show every team size of every node; the other reports only
  // what the fleet's table reads.
  const NodeDetail detail =
      options.format == OutputFormat::kJson || !options.html.empty() || !options.plot.empty()
          ? NodeDetail::kWhole
          : NodeDetail::kTable;
  Fleet fleet;
  if (Status read = ReadFleet(options.merged, detail, fleet); !read) return Refuse(read.failure());
  // Where no file could be read there is nothing to show: each was named as it failed.
  const auto unreadable = [](const NodeRow& node) {
    return node.input.problem && node.input.problem->kind == NodeProblem::Kind::kUnreadable;
  };
  if (std::all_of(fleet.nodes.begin(), fleet.nodes.end(), unreadable)) return 2;
  FinishFleet(fleet);
  if (PendingInterrupt() != 0) return 1;
  for (const std::string& warning : FleetWarnings(fleet)) Complain("warning: " + warning);
  const Figures band = FleetBand(fleet);
  const PlotRequest chart = FleetChart(options.plot, fleet, band);
  // The page before the report, which comes last: an interrupt leaves neither.
  bool delivered = true;
  if (!options.html.empty()) {
    HtmlMaterial material;
    material.fleet_band = &band;
    material.draw = DrawPageChart;
    delivered = DeliverPage(options.html, MakeHtmlReporter(material)->FleetReport(fleet));
  }
  delivered = Deliver(MakeReporter(options.format)->FleetReport(fleet), &chart) && delivered;
  const bool incomplete = NameProblems(fleet);
  return delivered && !incomplete ? 0 : 1;
}

}  // namespace speedup
