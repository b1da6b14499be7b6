#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "session/trace_session.h"
#include "stats/trace_figures.h"

// A traced session in words and charts: the table of where each team's time went, its JSON,
// the stacked chart of the split against team size, and one run's timeline.
namespace speedup {

// The head of every trace report, one line each: the counts and the confidence, the runtime
// (two lines), an interrupt, and the context.
std::vector<std::string> TraceHeadLines(const TraceSession& session, const TraceFigures& figures);

// The table: the runtime, the context, per team size the region's time beside the report's, the
// split, the rows per thread, the speedups from both clocks, and the tool's cost.
std::string TraceTable(const TraceSession& session, const TraceFigures& figures);

// Per team, one line: POP's efficiencies (parallel = load balance x transfer) and the state
// that lost the most time, e.g. "20*: parallel efficiency 0.3% = 22.2% x 1.2%; 96.0% of the
// lost time waiting for a core".
std::vector<std::string> TraceWhyLines(const TraceFigures& figures);

// The state a loss names, as the why lines say it: "waiting for a core"; "nothing" for none.
const char* LossName(Loss loss);

// The same figures as JSON, with the runtime and each run's trace file or reason.
nlohmann::ordered_json TraceFiguresJson(const TraceSession& session, const TraceFigures& figures);

// A gnuplot script drawing the split's median shares as stacked bars against team size into
// `output_name` (.svg or .png).
std::string SplitChartScript(const TraceSession& session, const TraceFigures& figures,
                             const std::string& output_name);

// A gnuplot script drawing one region of `trace`, team size `team`, as a timeline into
// `output_name`: one lane per thread, one box per row, the fork, the waits and the join drawn
// apart, time in ms from the region's begin. Empty when the trace has no such region.
std::string TimelineScript(const RunTrace& trace, int team, const std::string& run_name,
                           const std::string& output_name);

}  // namespace speedup
