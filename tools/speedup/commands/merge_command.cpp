#include <algorithm>

#include "base/interrupts.h"
#include "base/io.h"
#include "base/text.h"
#include "commands/commands.h"
#include "commands/output.h"
#include "present/charts.h"
#include "present/html_reporter.h"
#include "present/words.h"
#include "session/inputs.h"
#include "stats/fleet.h"

namespace speedup {
namespace {

// Every file as a node; false, with a message, when one is not a session of this version, and
// false when an interrupt came. Each file's text is let go once its node is read.
bool ReadNodes(const std::vector<std::string>& paths, std::vector<NodeInput>& nodes) {
  for (const std::string& path : paths) {
    if (PendingInterrupt() != 0) return false;
    std::optional<std::string> text(std::in_place);
    if (!ReadInput(path, *text)) text.reset();
    std::string refusal;
    nodes.push_back(ReadNode(path, text, refusal));
    if (!refusal.empty()) {
      if (PendingInterrupt() == 0) Complain(refusal);
      return false;
    }
  }
  return PendingInterrupt() == 0;
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
  std::vector<NodeInput> inputs;
  if (!ReadNodes(options.merged, inputs)) return 2;
  // Where no file could be read there is nothing to show: each was named as it failed.
  const auto unreadable = [](const NodeInput& node) {
    return node.problem && node.problem->kind == NodeProblem::Kind::kUnreadable;
  };
  if (std::all_of(inputs.begin(), inputs.end(), unreadable)) return 2;
  const Fleet fleet = BuildFleet(std::move(inputs));
  if (PendingInterrupt() != 0) return 1;
  for (const std::string& warning : FleetWarnings(fleet)) Complain("warning: " + warning);
  const Figures band = FleetBand(fleet);
  const PlotRequest chart = FleetChart(options.plot, fleet, band);
  bool delivered = Deliver(MakeReporter(options.format)->FleetReport(fleet), &chart);
  if (!options.html.empty()) {
    HtmlMaterial material;
    material.fleet_band = &band;
    delivered =
        DeliverPage(options.html, MakeHtmlReporter(material)->FleetReport(fleet)) && delivered;
  }
  const bool incomplete = NameProblems(fleet);
  return delivered && !incomplete ? 0 : 1;
}

}  // namespace speedup
