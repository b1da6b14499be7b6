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

// Every file as a node; a failure when one is not a session of this version or an interrupt
// came. Each file's text is let go once its node is read.
Result<std::vector<NodeInput>> ReadNodes(const std::vector<std::string>& paths) {
  const auto interrupted = [] {
    return Fail(FailureKind::kInterrupted, "interrupted by " + SignalName(PendingInterrupt()));
  };
  std::vector<NodeInput> nodes;
  nodes.reserve(paths.size());
  for (const std::string& path : paths) {
    if (PendingInterrupt() != 0) return interrupted();
    const Result<std::string> text = ReadInput(path);
    // Named as it fails; the node keeps it as its problem, and the files that were read merge.
    if (!text) Complain(text.failure().message);
    Result<NodeInput> node = ReadNode(path, text);
    if (!node) return PendingInterrupt() != 0 ? interrupted() : node.failure();
    nodes.push_back(std::move(node).value());
  }
  if (PendingInterrupt() != 0) return interrupted();
  return nodes;
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
  Result<std::vector<NodeInput>> inputs = ReadNodes(options.merged);
  if (!inputs) return Refuse(inputs.failure());
  // Where no file could be read there is nothing to show: each was named as it failed.
  const auto unreadable = [](const NodeInput& node) {
    return node.problem && node.problem->kind == NodeProblem::Kind::kUnreadable;
  };
  if (std::all_of(inputs->begin(), inputs->end(), unreadable)) return 2;
  const Fleet fleet = BuildFleet(std::move(inputs).value());
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
