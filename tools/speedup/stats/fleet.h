#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "session/inputs.h"
#include "stats/comparison.h"
#include "stats/diagnostics.h"
#include "stats/figures.h"

// Many machines' sessions as one fleet: each node judged against the pooled runs of the others.
namespace speedup {

// What the fleet makes of one node.
struct NodeVerdict {
  enum class Kind {
    kNotJudged,    // not merged: no passed run
    kAlone,        // the only merged node: nothing to judge it against
    kNotPossible,  // too few runs here or in the rest for a Holm p below SIGNIFICANCE
    kLikeFleet,
    kSlower,
    kFaster,
  };
  enum class Basis { kSerial, kSpeedup };  // which ratio decided a slower or faster node
  Kind kind = Kind::kNotJudged;
  Basis basis = Basis::kSerial;

  bool operator==(const NodeVerdict&) const = default;
};

// A node named slower or faster than the fleet.
bool JudgedApart(const NodeVerdict& verdict);

// A node's median speedup and efficiency at one team size: what the fleet's band is drawn from.
struct TeamMedians {
  std::optional<double> speedup, efficiency;
};

// What a fleet keeps of each node's figures: all of them (--json, --html and --plot show every
// team size's), or only what the fleet's table, band and verdicts read, a tenth of their memory,
// for the terminal, CSV and Markdown reports of a large fleet.
enum class NodeDetail { kWhole, kTable };

// One machine's session in a fleet, judged against the pooled runs of all the others.
struct NodeRow {
  NodeInput input;
  // The node's figures over its passed runs; under NodeDetail::kTable without `teams`, whose
  // figures the fleet reads stay in at_team and medians.
  Figures figures;
  int team = 0;         // team size at the node's core count, where its speedup is reported
  TeamFigures at_team;  // figures.teams[team - 1]
  std::array<TeamMedians, MAX_THREADS> medians;  // at team sizes 1..MAX_THREADS
  // Node against the others: serial time ratio and speedup ratio at `team`, each with its
  // Hodges-Lehmann interval, Mann-Whitney p and Holm p over the nodes.
  RowComparison serial, speedup;
  NodeVerdict verdict;
  std::vector<Warning> warnings;  // the session's own, when merged
};

// A difference between a node's context and the first judged node's.
struct FleetDifference {
  std::string node, against;
  std::string difference;  // one line, as ContextDifferences gives it
};

struct Fleet {
  std::vector<NodeRow> nodes;  // in the order of the files
  std::vector<FleetDifference> differences;
  std::optional<double> serial_median, serial_min, serial_max;  // over the nodes' medians
  std::optional<double> speedup_median, speedup_min, speedup_max;
  double confidence = 0.0;  // the least that any merged node's intervals reach
  // The coarsest clock of the judged nodes, whose margins every node's interval takes, and
  // whether the judged nodes' clocks differ.
  ClockTick tick;
  bool ticks_differ = false;
  // Changes below this fraction cannot be called for some judged node at these times and clocks.
  double smallest_change = 0.0;
};

// The margin of a clock of `tick` seconds for the times at `threads` (0: serial) of all the runs
// given, and for the per-run speedups at `team`: the least reading decides, on every node alike.
ClockMargin FleetTimeMargin(const std::vector<std::vector<RunReport>>& passed, int threads,
                            double tick);
ClockMargin FleetSpeedupMargin(const std::vector<std::vector<RunReport>>& passed, int team,
                               double tick);

// Gives `node`, whose team is set, its `figures`: at_team and medians from them, and the
// figures of every team size only under NodeDetail::kWhole.
void SetNodeFigures(NodeRow& node, Figures figures, NodeDetail detail = NodeDetail::kWhole);

// Adds `input` as the fleet's next node, a merged one with its team, figures and warnings: a
// fleet can be built one file at a time, its figures made as each is read (FinishFleet last).
void AddNode(Fleet& fleet, NodeInput input, NodeDetail detail = NodeDetail::kWhole);

// Tells two sessions named alike apart by their files and judges every node (JudgeFleet).
void FinishFleet(Fleet& fleet);

// The fleet of `inputs`: each added (AddNode), then finished (FinishFleet).
Fleet BuildFleet(std::vector<NodeInput> inputs, NodeDetail detail = NodeDetail::kWhole);

// Judges each merged node (with passed runs) against the pooled runs of the other merged
// nodes, Holm-corrected over the nodes, and names what differs between their contexts.
void JudgeFleet(Fleet& fleet);

// Per team size, the median over the merged nodes like the fleet (all merged nodes when none is)
// of their median speedups and efficiencies, as `median`, and their FLEET_BAND_LOW and
// FLEET_BAND_HIGH quantiles as `low` and `high`; no runs of its own.
Figures FleetBand(const Fleet& fleet);

// How many nodes FleetBand draws on.
std::size_t FleetBandNodes(const Fleet& fleet);

}  // namespace speedup
