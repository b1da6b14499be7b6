#include "stats/fleet.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "bench/sweep.h"
#include "stats/diagnostics.h"
#include "stats/pooled_rank_tests.h"
#include "stats/quantiles.h"

namespace speedup {
namespace {

// Log of each run's own speedup at `team` threads; runs without one are left out.
std::vector<double> LogSpeedups(const std::vector<RunReport>& reports, int team) {
  std::vector<double> logs;
  for (const RunReport& report : reports) {
    if (const auto speedup = Ratio(report.serial_seconds, report.parallel_seconds[team - 1])) {
      logs.push_back(std::log(*speedup));
    }
  }
  return logs;
}

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

// As compare does: where a node's runs against the rest's cannot give a Holm p below
// SIGNIFICANCE over the nodes, whatever the times, no verdict is possible for it.
void SetVerdicts(const std::vector<NodeRow*>& judged,
                 const std::vector<std::vector<RunReport>>& passed) {
  std::size_t pooled_runs = 0;
  for (const std::vector<RunReport>& reports : passed) pooled_runs += reports.size();
  for (std::size_t i = 0; i < judged.size(); ++i) {
    const std::size_t runs = passed[i].size();
    const double least_p =
        static_cast<double>(judged.size()) * stats::SmallestRankSumP(runs, pooled_runs - runs);
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

Fleet BuildFleet(std::vector<NodeInput> inputs) {
  Fleet fleet;
  fleet.nodes.reserve(inputs.size());
  for (NodeInput& input : inputs) {
    NodeRow& node = fleet.nodes.emplace_back();
    node.input = std::move(input);
    if (!node.input.merged) continue;
    node.figures = SessionFigures(node.input.session);
    node.warnings = SessionWarnings(node.input.session, node.figures);
    const Context& context = node.input.session.context;
    const std::optional<int> cores = context.cores ? context.cores : context.processors;
    node.team = std::clamp(cores.value_or(1), 1, MAX_THREADS);
  }
  // The moved-from inputs, a kilobyte or more each, go before the judging needs its memory.
  std::vector<NodeInput>().swap(inputs);
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

FleetPools PoolFleet(const std::vector<NodeRow*>& judged,
                     const std::vector<std::vector<RunReport>>& passed, double tick) {
  const auto pooled = [&](auto values_of) {
    std::vector<double> all;
    for (const std::vector<RunReport>& reports : passed) {
      const std::vector<double> values = values_of(reports);
      all.insert(all.end(), values.begin(), values.end());
    }
    return stats::MakePool(all);
  };
  FleetPools pools;
  pools.serial =
      pooled([&](const std::vector<RunReport>& reports) { return LogTimes(reports, 0, tick); });
  pools.serial_margin = FleetTimeMargin(passed, 0, tick);
  for (const NodeRow* node : judged) {
    if (pools.speedup.count(node->team) > 0) continue;
    pools.speedup[node->team] = pooled(
        [&](const std::vector<RunReport>& reports) { return LogSpeedups(reports, node->team); });
    pools.speedup_margin[node->team] = FleetSpeedupMargin(passed, node->team, tick);
  }
  return pools;
}

}  // namespace

void JudgeFleet(Fleet& fleet) {
  std::vector<NodeRow*> judged;
  for (NodeRow& node : fleet.nodes) {
    if (node.input.merged && node.figures.runs > 0) judged.push_back(&node);
  }
  std::vector<std::vector<RunReport>> passed;
  for (NodeRow* node : judged) passed.push_back(PassedReports(node->input.session));
  SetFleetTick(fleet, judged);
  const double tick = fleet.tick.seconds;
  const FleetPools pools = PoolFleet(judged, passed, tick);
  std::vector<double> serial_medians, speedup_medians;
  std::vector<RowComparison*> serial_rows, speedup_rows;
  for (std::size_t i = 0; i < judged.size(); ++i) {
    NodeRow* node = judged[i];
    node->serial = CompareLogsAgainstRest(pools.serial, LogTimes(passed[i], 0, tick));
    node->speedup =
        CompareLogsAgainstRest(pools.speedup.at(node->team), LogSpeedups(passed[i], node->team));
    WidenForClock(node->serial, pools.serial_margin, pools.serial_margin);
    const ClockMargin& speedup = pools.speedup_margin.at(node->team);
    WidenForClock(node->speedup, speedup, speedup);
    fleet.smallest_change = std::max(
        {fleet.smallest_change, node->serial.smallest_change, node->speedup.smallest_change});
    serial_rows.push_back(&node->serial);
    speedup_rows.push_back(&node->speedup);
    serial_medians.push_back(*node->figures.serial.median);
    if (const auto& s = node->figures.teams[node->team - 1].speedup_vs_serial.median) {
      speedup_medians.push_back(*s);
    }
  }
  fleet.confidence = judged.empty() ? 0.0 : 1.0;
  for (const NodeRow* node : judged) {
    fleet.confidence = std::min(fleet.confidence, node->figures.serial.confidence);
  }
  JudgeRows(serial_rows);
  // A higher speedup is the better one.
  JudgeRows(speedup_rows, true);
  SetVerdicts(judged, passed);
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
      const TeamFigures& team = node->figures.teams[threads - 1];
      if (team.speedup_vs_serial.median) speedups.push_back(*team.speedup_vs_serial.median);
      if (team.efficiency.median) efficiencies.push_back(*team.efficiency.median);
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
