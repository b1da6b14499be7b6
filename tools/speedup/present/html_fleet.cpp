#include <nlohmann/json.hpp>
#include <string_view>
#include <utility>

#include "base/policy.h"
#include "base/text.h"
#include "present/charts.h"
#include "present/html_parts.h"
#include "present/html_reporter.h"
#include "present/json_reporter.h"
#include "present/words.h"

namespace speedup::html {
namespace {

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

using Json = nlohmann::ordered_json;

// A number cell's data: its text as the terminal shows it and its exact value; null for "—".
Json NumberData(const std::optional<double>& value, int decimals) {
  if (!value) return nullptr;
  return Json::array({FixedText(value, decimals), *value});
}

Json CountData(long long count) { return Json::array({std::to_string(count), count}); }

// An interval cell's data: each end's text and value; null for "[—, —]".
Json IntervalData(const Estimate& estimate, int decimals) {
  if (!estimate.low || !estimate.high) return nullptr;
  return Json::array({FixedText(estimate.low, decimals), *estimate.low,
                      FixedText(estimate.high, decimals), *estimate.high});
}

// One node's row as data: its verdict's key, whether it is judged apart, and each cell in the
// columns' order, texts already made (the page's script only places them).
Json RowData(const NodeRow& node) {
  const Context& context = node.input.session.context;
  const TeamFigures& team = node.at_team;
  Json cells =
      Json::array({PageText(node.input.node), PageText(NodeVerdictText(node)),
                   NumberData(node.figures.serial.median, 3), IntervalData(node.figures.serial, 3),
                   CountData(node.team), NumberData(team.speedup_vs_serial.median, 2),
                   IntervalData(team.speedup_vs_serial, 2), NumberData(team.efficiency.median, 2),
                   context.processors ? CountData(*context.processors) : Json(nullptr),
                   CountData(node.figures.runs), PageText(node.input.job ? *node.input.job : ""),
                   PageText(context.cpu_model ? *context.cpu_model : "not recorded")});
  Json row = {{"v", NodeVerdictKey(node.verdict.kind)}, {"c", std::move(cells)}};
  if (JudgedApart(node.verdict)) row["a"] = 1;
  return row;
}

// The table's heads and an empty body, with every merged node's row as data beside it (slower
// first): the page's script draws HTML_FLEET_ROWS_AT_ONCE rows at a time, sorts and filters.
std::string FleetRows(const Fleet& fleet, int& merged) {
  const std::string confidence = ConfidenceLabel(fleet.confidence);
  struct Column {
    const char* head;
    const char* key;   // the figure's name in data-k; empty for a text
    const char* kind;  // "text" (its class), "number" or "interval"
  };
  // The verdict next to the node, so no long host or CPU name pushes it out of view.
  static const Column columns[] = {{"node", "", "text"},
                                   {"verdict", "", "text verdict"},
                                   {"serial s", "serial_seconds.median", "number"},
                                   {"serial [95%]", "serial_seconds", "interval"},
                                   {"p", "team", "number"},
                                   {"S@p", "speedup_vs_serial.median", "number"},
                                   {"S@p [95%]", "speedup_vs_serial", "interval"},
                                   {"efficiency", "efficiency.median", "number"},
                                   {"procs", "processors", "number"},
                                   {"runs", "runs", "number"},
                                   {"Slurm job", "", "text job"},
                                   {"CPU", "", "text cpu"}};
  Json data = {{"columns", Json::array()}, {"rows", Json::array()}};
  std::string table =
      "<div class=\"scroll\" id=\"fleet-scroll\"><table class=\"sortable\" id=\"fleet\" "
      "data-rows-at-once=\"" +
      std::to_string(HTML_FLEET_ROWS_AT_ONCE) + "\">\n<thead><tr>";
  for (const Column& column : columns) {
    std::string shown = column.head;
    if (const std::size_t at = shown.find("95%"); at != std::string::npos) {
      shown.replace(at, 3, confidence);
    }
    const bool text = std::string_view(column.kind).substr(0, 4) == "text";
    table += std::string("<th") + (text ? " class=\"text\"" : "") +
             " scope=\"col\"><button type=\"button\">" + Escaped(shown) + "</button></th>";
    data["columns"].push_back({{"k", column.key}, {"t", column.kind}});
  }
  for (const NodeRow* row : SlowFirst(fleet)) {
    ++merged;
    data["rows"].push_back(RowData(*row));
  }
  return table +
         "</tr></thead>\n<tbody></tbody>\n</table>\n<p class=\"more\"><button type=\"button\" "
         "id=\"more-rows\" hidden>show " +
         std::to_string(HTML_FLEET_ROWS_AT_ONCE) +
         " more rows</button></p></div>\n<noscript><p>The rows are drawn by the page's own "
         "script, which is off: the fleet JSON under Raw data holds every node.</p></noscript>\n"
         "<script type=\"application/json\" id=\"fleet-rows\">" +
         ScriptJson(JsonText(data, -1, JsonEnd::kNone)) + "</script>\n";
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
    controls += "<option value=\"" + NodeVerdictKey(kind) + "\">" +
                Escaped(NodeVerdictKindText(kind)) + " (" + std::to_string(count) + ")</option>";
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
                          "the median over the nodes like the fleet, with the band between their " +
                              FleetBandText() +
                              " quantiles shaded (not their whole range), and the nodes named "
                              "slower or faster apart."
                        : "Speedup vs serial (left) and efficiency (right) of every node "
                          "against team size: medians with their " +
                              ConfidenceText() + " intervals as bars.",
                    "chart of the fleet's speedup and efficiency against team size; the "
                    "table holds each node's figures"));
  }
  const bool node_figures = fleet.nodes.size() <= HTML_FLEET_FIGURES_NODES;
  body +=
      Section("raw", "Raw data",
              std::string(node_figures
                              ? "<p>The fleet as <code>merge --json</code> writes it: each node's "
                                "verdict and its session, every run kept.</p>\n"
                              : "<p>The fleet as <code>merge --json</code> writes it, but for each "
                                "node's figures, left out above " +
                                    std::to_string(HTML_FLEET_FIGURES_NODES) +
                                    " nodes to keep the page quick to open: every run, context and "
                                    "verdict is kept, and merge recomputes the figures from the "
                                    "runs.</p>\n") +
                  RawSection("fleet-json", "fleet JSON", FleetJsonLine(fleet, node_figures)));
  return Page("matbench fleet", std::move(body));
}

}  // namespace speedup::html
