#include "stats/fleet.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

#include "bench/sweep.h"
#include "stats/diagnostics.h"
#include "stats/pooled_rank_tests.h"
#include "stats/quantiles.h"

namespace speedup {
namespace {

// The median, least and greatest of `values`; left alone when there are none.
void MedianAndRange(const std::vector<double>& values, std::optional<double>& median,
                    std::optional<double>& low, std::optional<double>& high) {
  if (values.empty()) return;
  median = stats::Median(values);
  low = *std::min_element(values.begin(), values.end());
  high = *std::max_element(values.begin(), values.end());
}

// The median and the FLEET_BAND_LOW..FLEET_BAND_HIGH quantiles of `values`: the spread of most
// nodes, which a handful of outliers cannot stretch over the whole chart.
void MedianAndSpread(const std::vector<double>& values, Estimate& estimate) {
  if (values.empty()) return;
  estimate.median = stats::Median(values);
  estimate.low = stats::Quantile(values, FLEET_BAND_LOW);
  estimate.high = stats::Quantile(values, FLEET_BAND_HIGH);
}

NodeVerdict VerdictOf(const NodeRow& node, std::size_t judged, bool possible) {
  using Kind = NodeVerdict::Kind;
  using Basis = NodeVerdict::Basis;
  if (judged < 2) return {Kind::kAlone};
  if (!possible) return {Kind::kNotPossible};
  for (const Verdict apart : {Verdict::kSlower, Verdict::kFaster}) {
    const Kind kind = apart == Verdict::kSlower ? Kind::kSlower : Kind::kFaster;
    if (node.serial.verdict == apart) return {kind, Basis::kSerial};
    if (node.speedup.verdict == apart) return {kind, Basis::kSpeedup};
  }
  return {Kind::kLikeFleet};
}

// The merged nodes like the fleet, or every merged node when none is.
std::vector<const NodeRow*> BandNodes(const Fleet& fleet) {
  std::vector<const NodeRow*> alike, merged;
  for (const NodeRow& node : fleet.nodes) {
    if (!node.input.merged) continue;
    merged.push_back(&node);
    if (!JudgedApart(node.verdict)) alike.push_back(&node);
  }
  return alike.empty() ? merged : alike;
}

// What differs between each judged node's context and the first one's.
void AddDifferences(Fleet& fleet, const std::vector<NodeRow*>& judged) {
  for (NodeRow* node : judged) {
    if (node == judged.front()) continue;
    for (std::string& difference :
         ContextDifferences(judged.front()->input.session.context, node->input.session.context)) {
      fleet.differences.push_back(
          {node->input.node, judged.front()->input.node, std::move(difference)});
    }
  }
}

// Every node is read with the coarsest clock among them, so no node's margin is too narrow.
void SetFleetTick(Fleet& fleet, const std::vector<NodeRow*>& judged) {
  fleet.tick = {};
  for (std::size_t i = 0; i < judged.size(); ++i) {
    const ClockTick tick = judged[i]->figures.tick;
    if (i > 0 && tick.seconds != fleet.tick.seconds) fleet.ticks_differ = true;
    if (tick.seconds > fleet.tick.seconds) fleet.tick = tick;
  }
}

// As compare does: where a node's runs (`runs`, of `pooled_runs` in all) against the rest's
// cannot give a Holm p below SIGNIFICANCE over the nodes, whatever the times, no verdict is
// possible for it.
void SetVerdicts(const std::vector<NodeRow*>& judged, const std::vector<std::size_t>& runs,
                 std::size_t pooled_runs) {
  for (std::size_t i = 0; i < judged.size(); ++i) {
    const double least_p = static_cast<double>(judged.size()) *
                           stats::SmallestRankSumP(runs[i], pooled_runs - runs[i]);
    judged[i]->verdict = VerdictOf(*judged[i], judged.size(), least_p < SIGNIFICANCE);
  }
}

}  // namespace

ClockMargin FleetTimeMargin(const std::vector<std::vector<RunReport>>& passed, int threads,
                            double tick) {
  double least = std::numeric_limits<double>::infinity();
  for (const std::vector<RunReport>& reports : passed) {
    for (const RunReport& report : reports) {
      least = std::min(least,
                       threads == 0 ? report.serial_seconds : report.parallel_seconds[threads - 1]);
    }
  }
  return TimeMargin(std::max(least, 0.5 * tick), tick);
}

ClockMargin FleetSpeedupMargin(const std::vector<std::vector<RunReport>>& passed, int team,
                               double tick) {
  const ClockMargin serial = FleetTimeMargin(passed, 0, tick);
  const ClockMargin parallel = FleetTimeMargin(passed, team, tick);
  return {serial.below + parallel.above, serial.above + parallel.below};
}

bool JudgedApart(const NodeVerdict& verdict) {
  return verdict.kind == NodeVerdict::Kind::kSlower || verdict.kind == NodeVerdict::Kind::kFaster;
}

void SetNodeFigures(NodeRow& node, Figures figures, NodeDetail detail) {
  for (std::size_t t = 0; t < figures.teams.size() && t < node.medians.size(); ++t) {
    node.medians[t] = {figures.teams[t].speedup_vs_serial.median,
                       figures.teams[t].efficiency.median};
  }
  if (node.team >= 1 && static_cast<std::size_t>(node.team) <= figures.teams.size()) {
    node.at_team = figures.teams[node.team - 1];
  }
  if (detail == NodeDetail::kTable) std::vector<TeamFigures>().swap(figures.teams);
  node.figures = std::move(figures);
}

void AddNode(Fleet& fleet, NodeInput input, NodeDetail detail) {
  NodeRow& node = fleet.nodes.emplace_back();
  node.input = std::move(input);
  if (!node.input.merged) return;
  const Context& context = node.input.session.context;
  const std::optional<int> cores = context.cores ? context.cores : context.processors;
  node.team = std::clamp(cores.value_or(1), 1, MAX_THREADS);
  Figures figures = SessionFigures(node.input.session);
  node.warnings = SessionWarnings(node.input.session, figures);
  SetNodeFigures(node, std::move(figures), detail);
}

void FinishFleet(Fleet& fleet) {
  // Two sessions from one node stay apart, told by their files; counted once, as counting the
  // whole fleet again for each node made a large fleet quadratic.
  std::map<std::string, int> sessions_of;
  for (const NodeRow& node : fleet.nodes) ++sessions_of[node.input.node];
  for (NodeRow& node : fleet.nodes) {
    if (sessions_of[node.input.node] > 1 && node.input.node != node.input.file) {
      node.input.node += " (" + node.input.file + ")";
    }
  }
  JudgeFleet(fleet);
}

Fleet BuildFleet(std::vector<NodeInput> inputs, NodeDetail detail) {
  Fleet fleet;
  fleet.nodes.reserve(inputs.size());
  // Each input let go as its node takes it, before the judging needs its memory.
  for (NodeInput& input : inputs) AddNode(fleet, std::exchange(input, {}), detail);
  std::vector<NodeInput>().swap(inputs);
  FinishFleet(fleet);
  return fleet;
}

namespace {

// The fleet pooled and sorted once (once per team size judged, for the speedups), with the
// clock's margins, which depend on the fleet's shortest times alone: each node is then set
// against the pool less its own runs, not against a fresh pool of the others, and its margin is
// not found again per node, either of which made a fleet's judging quadratic.
struct FleetPools {
  stats::Pool serial;
  std::map<int, stats::Pool> speedup;  // by team size
  ClockMargin serial_margin;
  std::map<int, ClockMargin> speedup_margin;  // by team size
};

// Calls visit(report) for each passed run of `session`, in order: the judging reads the
// sessions' own reports, as copies of every node's cost a large fleet two kilobytes a node.
template <typename Visit>
void ForEachPassed(const Session& session, Visit visit) {
  for (const Run& run : session.runs) {
    if (run.report.Passed()) visit(run.report);
  }
}

// The margin of `tick` for the least of the judged nodes' passed times at `threads` (0: serial),
// as FleetTimeMargin gives it for their reports.
ClockMargin JudgedTimeMargin(const std::vector<NodeRow*>& judged, int threads, double tick) {
  double least = std::numeric_limits<double>::infinity();
  for (const NodeRow* node : judged) {
    ForEachPassed(node->input.session, [&](const RunReport& report) {
      least = std::min(least,
                       threads == 0 ? report.serial_seconds : report.parallel_seconds[threads - 1]);
    });
  }
  return TimeMargin(std::max(least, 0.5 * tick), tick);
}

// The judged nodes' log serial times (team 0) or log speedups at `team`, all in one pool.
stats::Pool PoolOf(const std::vector<NodeRow*>& judged, std::size_t runs, int team, double tick) {
  std::vector<double> all;
  all.reserve(runs);
  for (const NodeRow* node : judged) {
    ForEachPassed(node->input.session, [&](const RunReport& report) {
      if (team == 0) {
        all.push_back(LogTime(report.serial_seconds, tick));
      } else if (const auto speedup =
                     Ratio(report.serial_seconds, report.parallel_seconds[team - 1])) {
        all.push_back(std::log(*speedup));
      }
    });
  }
  return stats::MakePool(all);
}

FleetPools PoolFleet(const std::vector<NodeRow*>& judged, std::size_t runs, double tick) {
  FleetPools pools;
  pools.serial = PoolOf(judged, runs, 0, tick);
  pools.serial_margin = JudgedTimeMargin(judged, 0, tick);
  for (const NodeRow* node : judged) {
    if (pools.speedup.count(node->team) > 0) continue;
    pools.speedup[node->team] = PoolOf(judged, runs, node->team, tick);
    const ClockMargin parallel = JudgedTimeMargin(judged, node->team, tick);
    // As FleetSpeedupMargin puts the serial and parallel margins together.
    pools.speedup_margin[node->team] = {pools.serial_margin.below + parallel.above,
                                        pools.serial_margin.above + parallel.below};
  }
  return pools;
}

}  // namespace

void JudgeFleet(Fleet& fleet) {
  std::vector<NodeRow*> judged;
  for (NodeRow& node : fleet.nodes) {
    if (node.input.merged && node.figures.runs > 0) judged.push_back(&node);
  }
  // Each judged node's passed runs, counted.
  std::vector<std::size_t> runs(judged.size(), 0);
  for (std::size_t i = 0; i < judged.size(); ++i) {
    ForEachPassed(judged[i]->input.session, [&](const RunReport&) { ++runs[i]; });
  }
  std::size_t pooled_runs = 0;
  for (const std::size_t count : runs) pooled_runs += count;
  SetFleetTick(fleet, judged);
  const double tick = fleet.tick.seconds;
  const FleetPools pools = PoolFleet(judged, pooled_runs, tick);
  std::vector<double> serial_medians, speedup_medians;
  std::vector<RowComparison*> serial_rows, speedup_rows;
  std::vector<double> serial_logs, speedup_logs;
  for (std::size_t i = 0; i < judged.size(); ++i) {
    NodeRow* node = judged[i];
    serial_logs.clear();
    speedup_logs.clear();
    ForEachPassed(node->input.session, [&](const RunReport& report) {
      serial_logs.push_back(LogTime(report.serial_seconds, tick));
      if (const auto speedup =
              Ratio(report.serial_seconds, report.parallel_seconds[node->team - 1])) {
        speedup_logs.push_back(std::log(*speedup));
      }
    });
    node->serial = CompareLogsAgainstRest(pools.serial, serial_logs);
    node->speedup = CompareLogsAgainstRest(pools.speedup.at(node->team), speedup_logs);
    WidenForClock(node->serial, pools.serial_margin, pools.serial_margin);
    const ClockMargin& speedup = pools.speedup_margin.at(node->team);
    WidenForClock(node->speedup, speedup, speedup);
    fleet.smallest_change = std::max(
        {fleet.smallest_change, node->serial.smallest_change, node->speedup.smallest_change});
    serial_rows.push_back(&node->serial);
    speedup_rows.push_back(&node->speedup);
    serial_medians.push_back(*node->figures.serial.median);
    if (const auto& s = node->at_team.speedup_vs_serial.median) speedup_medians.push_back(*s);
  }
  fleet.confidence = judged.empty() ? 0.0 : 1.0;
  for (const NodeRow* node : judged) {
    fleet.confidence = std::min(fleet.confidence, node->figures.serial.confidence);
  }
  JudgeRows(serial_rows);
  // A higher speedup is the better one.
  JudgeRows(speedup_rows, true);
  SetVerdicts(judged, runs, pooled_runs);
  MedianAndRange(serial_medians, fleet.serial_median, fleet.serial_min, fleet.serial_max);
  MedianAndRange(speedup_medians, fleet.speedup_median, fleet.speedup_min, fleet.speedup_max);
  AddDifferences(fleet, judged);
}

std::size_t FleetBandNodes(const Fleet& fleet) { return BandNodes(fleet).size(); }

Figures FleetBand(const Fleet& fleet) {
  const std::vector<const NodeRow*> nodes = BandNodes(fleet);
  Figures band;
  for (int threads = 1; threads <= MAX_THREADS; ++threads) {
    std::vector<double> speedups, efficiencies;
    for (const NodeRow* node : nodes) {
      const TeamMedians& team = node->medians[threads - 1];
      if (team.speedup) speedups.push_back(*team.speedup);
      if (team.efficiency) efficiencies.push_back(*team.efficiency);
    }
    TeamFigures team;
    team.threads = threads;
    MedianAndSpread(speedups, team.speedup_vs_serial);
    MedianAndSpread(efficiencies, team.efficiency);
    band.teams.push_back(team);
  }
  return band;
}

}  // namespace speedup
