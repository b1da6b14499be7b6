#include "base/policy.h"
#include "base/text.h"
#include "present/charts.h"
#include "present/html_parts.h"
#include "present/html_reporter.h"
#include "present/json_reporter.h"
#include "present/words.h"

namespace speedup::html {
namespace {

// The verdict's key in the page's filter, one word a kind; "none" when not judged.
std::string VerdictKey(NodeVerdict::Kind kind) {
  using Kind = NodeVerdict::Kind;
  switch (kind) {
    case Kind::kSlower:
      return "slower";
    case Kind::kFaster:
      return "faster";
    case Kind::kLikeFleet:
      return "like";
    case Kind::kAlone:
      return "alone";
    case Kind::kNotPossible:
      return "impossible";
    case Kind::kNotJudged:
      break;
  }
  return "none";
}

// The merged nodes, slower ones first, then faster ones, then the rest, each in file order.
std::vector<const NodeRow*> SlowFirst(const Fleet& fleet) {
  using Kind = NodeVerdict::Kind;
  std::vector<const NodeRow*> rows;
  for (const Kind kind : {Kind::kSlower, Kind::kFaster}) {
    for (const NodeRow& node : fleet.nodes) {
      if (node.input.merged && node.verdict.kind == kind) rows.push_back(&node);
    }
  }
  for (const NodeRow& node : fleet.nodes) {
    if (node.input.merged && !JudgedApart(node.verdict)) rows.push_back(&node);
  }
  return rows;
}

std::string FleetRows(const Fleet& fleet, int& merged) {
  const std::string confidence = ConfidenceLabel(fleet.confidence);
  std::string table = "<div class=\"scroll\"><table class=\"sortable\" id=\"fleet\">\n<thead><tr>";
  // The verdict next to the node, so no long host or CPU name pushes it out of view.
  for (const char* head : {"node", "verdict", "serial s", "serial [95%]", "p", "S@p", "S@p [95%]",
                           "efficiency", "procs", "runs", "Slurm job", "CPU"}) {
    std::string shown = head;
    if (const std::size_t at = shown.find("95%"); at != std::string::npos) {
      shown.replace(at, 3, confidence);
    }
    const bool text =
        shown == "node" || shown == "Slurm job" || shown == "CPU" || shown == "verdict";
    table += std::string("<th") + (text ? " class=\"text\"" : "") +
             " scope=\"col\"><button type=\"button\">" + Escaped(shown) + "</button></th>";
  }
  table += "</tr></thead>\n<tbody>\n";
  for (const NodeRow* row : SlowFirst(fleet)) {
    const NodeRow& node = *row;
    ++merged;
    const Context& context = node.input.session.context;
    const TeamFigures& team = node.figures.teams[node.team - 1];
    const std::string kind = VerdictKey(node.verdict.kind);
    table += "<tr data-verdict=\"" + kind + "\" data-node=\"" + Escaped(node.input.node) + "\">" +
             TextCell(node.input.node) + "<td class=\"text verdict " +
             (JudgedApart(node.verdict) ? kind : std::string()) + "\">" +
             Escaped(NodeVerdictText(node)) + "</td>" +
             EstimateCells(node.figures.serial, 3, "serial_seconds") +
             CountCell(node.team, "team") +
             EstimateCells(team.speedup_vs_serial, 2, "speedup_vs_serial") +
             NumberCell(team.efficiency.median, 2, "efficiency.median") +
             (context.processors ? CountCell(*context.processors, "processors")
                                 : std::string("<td>—</td>")) +
             CountCell(node.figures.runs, "runs") +
             TextCell(node.input.job ? *node.input.job : "", "job") +
             TextCell(context.cpu_model ? *context.cpu_model : "not recorded", "cpu") + "</tr>\n";
  }
  return table + "</tbody>\n</table></div>\n";
}

// The verdict filter, each kind with its count, and how many rows are shown.
std::string FleetControls(const Fleet& fleet, int merged) {
  using Kind = NodeVerdict::Kind;
  std::string controls =
      "<div class=\"controls\"><label for=\"verdict-filter\">show nodes: </label>"
      "<select id=\"verdict-filter\"><option value=\"\">every verdict (" +
      std::to_string(merged) + ")</option>";
  for (const Kind kind :
       {Kind::kSlower, Kind::kFaster, Kind::kLikeFleet, Kind::kNotPossible, Kind::kAlone}) {
    int count = 0;
    for (const NodeRow& node : fleet.nodes) {
      count += node.input.merged && node.verdict.kind == kind ? 1 : 0;
    }
    if (count == 0) continue;
    controls += "<option value=\"" + VerdictKey(kind) + "\">" + Escaped(NodeVerdictKindText(kind)) +
                " (" + std::to_string(count) + ")</option>";
  }
  return controls + "</select> <span aria-live=\"polite\"><span id=\"shown-count\">" +
         std::to_string(merged) + "</span> of " + std::to_string(merged) +
         " nodes shown; click a column's head to sort by it.</span></div>\n";
}

std::string FailedNodes(const Fleet& fleet) {
  std::string list;
  for (const NodeRow& node : fleet.nodes) {
    if (!node.input.problem) continue;
    list += "<li><strong>" + std::string(node.input.merged ? "cut short" : "failed") +
            ":</strong> " + Escaped(node.input.node) +
            (node.input.node == node.input.file ? "" : " (" + Escaped(node.input.file) + ")") +
            ": " + Escaped(ProblemText(*node.input.problem)) + "</li>\n";
  }
  return list.empty() ? "<p>Every node's session was read whole.</p>\n"
                      : "<ul id=\"failed-nodes\">\n" + list + "</ul>\n";
}

}  // namespace

std::string FleetPage(const Fleet& fleet, const HtmlMaterial& material) {
  int merged = 0;
  const std::string rows = FleetRows(fleet, merged);
  std::string body =
      "<h1>matbench fleet</h1>\n" + FleetHeadline(fleet) + "<div class=\"head\"><p>" +
      std::to_string(merged) + " of " + std::to_string(fleet.nodes.size()) +
      " sessions merged</p><p>fleet: serial median " + FixedText(fleet.serial_median, 3) +
      " s (nodes " + FixedText(fleet.serial_min, 3) + " to " + FixedText(fleet.serial_max, 3) +
      "), speedup median " + FixedText(fleet.speedup_median, 2) + " (" +
      FixedText(fleet.speedup_min, 2) + " to " + FixedText(fleet.speedup_max, 2) + ")</p></div>\n" +
      WarningList(FleetWarnings(fleet));
  body += Section("nodes", "Nodes",
                  FleetControls(fleet, merged) + rows +
                      "<p class=\"legend\">S@p: speedup vs serial at the "
                      "node's team size p, its core count. p: that team "
                      "size. A node is slower or faster when its runs "
                      "differ from the pooled runs of the others with Holm "
                      "p &lt; " +
                      Formatted("%g", SIGNIFICANCE) +
                      " (Mann-Whitney U, over the nodes) and the ratio's " + ConfidenceText() +
                      " interval lies wholly outside ±" +
                      Formatted("%g", NEGLIGIBLE_CHANGE * 100.0) + "%.</p>\n");
  body += Section("failed", "Failed and cut-short nodes", FailedNodes(fleet));
  if (merged > 0) {
    const Figures none;
    const PlotRequest request =
        FleetChart("chart.svg", fleet, material.fleet_band ? *material.fleet_band : none);
    body += Section(
        "chart", "Chart",
        ChartFigure(material, PlotScript(request, "chart.svg"),
                    merged > static_cast<int>(MAX_NODE_CURVES)
                        ? "Speedup vs serial (left) and efficiency (right) against team size: "
                          "the median over the nodes like the fleet with their range shaded, "
                          "and the nodes named slower or faster apart."
                        : "Speedup vs serial (left) and efficiency (right) of every node "
                          "against team size: medians with their " +
                              ConfidenceText() + " intervals as bars.",
                    "chart of the fleet's speedup and efficiency against team size; the "
                    "table holds each node's figures"));
  }
  const bool node_figures = fleet.nodes.size() <= HTML_FLEET_FIGURES_NODES;
  body += Section(
      "raw", "Raw data",
      std::string(node_figures
                      ? "<p>The fleet as <code>merge --json</code> writes it: each node's "
                        "verdict and its session, every run kept.</p>\n"
                      : "<p>The fleet as <code>merge --json</code> writes it, but for each "
                        "node's figures, left out above " +
                            std::to_string(HTML_FLEET_FIGURES_NODES) +
                            " nodes to keep the page quick to open: every run, context and "
                            "verdict is kept, and merge recomputes the figures from the "
                            "runs.</p>\n") +
          RawSection("fleet-json", "fleet JSON", JsonText(FleetJson(fleet, node_figures), -1)));
  return Page("matbench fleet", body);
}

}  // namespace speedup::html
