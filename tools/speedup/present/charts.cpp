#include "present/charts.h"

#include <algorithm>

#include "base/text.h"
#include "present/chart.h"
#include "present/words.h"

namespace speedup {

PlotRequest SessionsChart(const std::string& path, const std::vector<NamedSession>& sessions) {
  PlotRequest request;
  request.path = path;
  request.processors = sessions.front().session->context.processors;
  request.runs = sessions.front().analysis->figures.runs;
  for (const NamedSession& named : sessions) {
    const Figures& figures = named.analysis->figures;
    request.runs = std::min(request.runs, figures.runs);
    request.confidence = std::min(request.confidence, figures.serial.confidence);
    request.curves.push_back({named.name, &figures, figures.amdahl.serial_fraction, false,
                              named.analysis->use.one_processor});
  }
  return request;
}

PlotRequest ComparisonChart(const std::string& path, const Comparison& comparison,
                            const std::string& base_name, const Figures& base,
                            const std::string& new_name, const Figures& added) {
  PlotRequest request;
  request.path = path;
  request.runs = std::min(base.runs, added.runs);
  request.confidence = std::min(base.serial.confidence, added.serial.confidence);
  request.curves = {{"BASE " + base_name, &base, base.amdahl.serial_fraction, false,
                     comparison.base_not_parallel},
                    {"NEW " + new_name, &added, added.amdahl.serial_fraction, false,
                     comparison.new_not_parallel}};
  for (const RowComparison& row : comparison.rows) {
    request.ratios.push_back(
        {row.threads, row.ratio, row.ratio_low, row.ratio_high, VerdictText(row.verdict)});
  }
  request.ratio_title = "NEW / BASE time with its " + ConfidenceLabel(comparison.confidence) +
                        " interval (below 1: NEW is faster)";
  request.title = "matbench comparison: speedup vs serial with " +
                  ConfidenceLabel(request.confidence) + " intervals, and NEW / BASE with verdicts";
  return request;
}

namespace {

// The merged nodes, slower ones first, then faster, then the rest: the key names the ones that
// matter first. Sets the request's processor count and fewest runs from them.
std::vector<const NodeRow*> MergedBySlowness(const Fleet& fleet, PlotRequest& request) {
  std::vector<const NodeRow*> merged;
  using Kind = NodeVerdict::Kind;
  for (const int pass : {0, 1, 2}) {
    for (const NodeRow& node : fleet.nodes) {
      if (!node.input.merged) continue;
      const int rank = node.verdict.kind == Kind::kSlower   ? 0
                       : node.verdict.kind == Kind::kFaster ? 1
                                                            : 2;
      if (rank != pass) continue;
      merged.push_back(&node);
      if (!request.processors) request.processors = node.input.session.context.processors;
      request.runs =
          request.runs == 0 ? node.figures.runs : std::min(request.runs, node.figures.runs);
    }
  }
  return merged;
}

std::string KeyName(const NodeRow& node) {
  const std::string verdict = NodeVerdictText(node);
  return verdict.empty() ? ShortName(node.input.node)
                         : ShortName(node.input.node) + ", " + verdict.substr(0, verdict.find(':'));
}

// Too many nodes for a curve each: the fleet's band, the nodes judged apart while the key has
// room, and what it leaves out said in it (the table lists every node).
void AddBandCurves(PlotRequest& request, const Fleet& fleet, const Figures& band,
                   const std::vector<const NodeRow*>& merged) {
  request.title = "matbench fleet: speedup vs serial, medians over the nodes and per named node";
  request.curves.push_back({"median of " + std::to_string(FleetBandNodes(fleet)) +
                                " nodes, shaded: " + FleetBandText() + " of them",
                            &band,
                            {},
                            true});
  int slower_left = 0, faster_left = 0, like = 0;
  for (const NodeRow* node : merged) {
    if (!JudgedApart(node->verdict)) {
      ++like;
    } else if (request.curves.size() < MAX_NODE_CURVES) {
      request.curves.push_back({KeyName(*node), &node->figures, {}, false});
    } else {
      (node->verdict.kind == NodeVerdict::Kind::kSlower ? slower_left : faster_left) += 1;
    }
  }
  if (slower_left + faster_left > 0) {
    request.curves.push_back({"and " + std::to_string(slower_left) + " more slower, " +
                                  std::to_string(faster_left) +
                                  " more faster nodes, not drawn (see the table)",
                              nullptr,
                              {},
                              false,
                              false,
                              true});
  }
  request.curves.push_back({"and " + std::to_string(like) + " more like the fleet, in the band",
                            nullptr,
                            {},
                            false,
                            false,
                            true});
}

}  // namespace

PlotRequest FleetChart(const std::string& path, const Fleet& fleet, const Figures& band) {
  PlotRequest request;
  request.path = path;
  request.confidence = fleet.confidence;
  request.title = "matbench fleet: speedup vs serial per node, medians with " +
                  ConfidenceLabel(fleet.confidence) + " intervals; each node's verdict in the key";
  const std::vector<const NodeRow*> merged = MergedBySlowness(fleet, request);
  if (merged.size() > MAX_NODE_CURVES) {
    AddBandCurves(request, fleet, band, merged);
    return request;
  }
  for (const NodeRow* node : merged) {
    request.curves.push_back(
        {KeyName(*node),
         &node->figures,
         {},
         false,
         std::any_of(node->warnings.begin(), node->warnings.end(), [](const Warning& warning) {
           return std::holds_alternative<OneProcessor>(warning);
         })});
  }
  return request;
}

}  // namespace speedup
