#pragma once

#include <string>
#include <vector>

#include "present/chart.h"
#include "present/reporter.h"

// The chart each command draws, as a request for WritePlot.
namespace speedup {

// One speedup curve per session, each with its Amdahl fit, named by `NamedSession::name`.
PlotRequest SessionsChart(const std::string& path, const std::vector<NamedSession>& sessions);

// BASE and NEW as two curves, each with its Amdahl fit, and beside them NEW / BASE per row with
// its interval and verdict; a side flagged not a parallel result is marked.
PlotRequest ComparisonChart(const std::string& path, const Comparison& comparison,
                            const std::string& base_name, const Figures& base,
                            const std::string& new_name, const Figures& added);

// One curve per merged node, named with its verdict, up to MAX_NODE_CURVES nodes; beyond, `band`
// (from FleetBand) drawn as a band, and the nodes named slower or faster apart, as many as fit. No
// curves when no node was merged.
PlotRequest FleetChart(const std::string& path, const Fleet& fleet, const Figures& band);

}  // namespace speedup
