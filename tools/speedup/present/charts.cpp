#include "present/charts.h"

#include <algorithm>

#include "base/text.h"
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
    request.curves.push_back({named.name, &figures, figures.amdahl.serial_fraction});
  }
  return request;
}

PlotRequest ComparisonChart(const std::string& path, const std::string& base_name,
                            const Figures& base, const std::string& new_name,
                            const Figures& added) {
  PlotRequest request;
  request.path = path;
  request.runs = std::min(base.runs, added.runs);
  request.curves = {{"BASE " + base_name, &base, base.amdahl.serial_fraction},
                    {"NEW " + new_name, &added, added.amdahl.serial_fraction}};
  request.title = "matbench comparison: speedup vs serial, medians with " +
                  Formatted("%g%%", CONFIDENCE * 100.0) + " intervals";
  return request;
}

PlotRequest FleetChart(const std::string& path, const Fleet& fleet, const Figures& band) {
  PlotRequest request;
  request.path = path;
  request.title = "matbench fleet: speedup vs serial per node, medians with " +
                  Formatted("%g%%", CONFIDENCE * 100.0) + " intervals";
  std::vector<const NodeRow*> merged;
  for (const NodeRow& node : fleet.nodes) {
    if (!node.input.merged) continue;
    merged.push_back(&node);
    if (!request.processors) request.processors = node.input.session.context.processors;
    request.runs =
        request.runs == 0 ? node.figures.runs : std::min(request.runs, node.figures.runs);
  }
  if (merged.size() <= MAX_NODE_CURVES) {
    for (const NodeRow* node : merged) {
      request.curves.push_back({node->input.node, &node->figures, {}, false});
    }
    return request;
  }
  request.title = "matbench fleet: speedup vs serial, medians over the nodes and per named node";
  // Short, as the key sets three entries in a row.
  request.curves.push_back(
      {"median of " + std::to_string(FleetBandNodes(fleet)) + " nodes, shaded: their range",
       &band,
       {},
       true});
  for (const NodeRow* node : merged) {
    if (JudgedApart(node->verdict) && request.curves.size() < MAX_NODE_CURVES) {
      request.curves.push_back({node->input.node + ", " + NodeVerdictText(*node).substr(0, 6),
                                &node->figures,
                                {},
                                false});
    }
  }
  return request;
}

}  // namespace speedup
