#pragma once

#include <optional>
#include <string>
#include <vector>

#include "compare.h"
#include "figures.h"
#include "options.h"
#include "plot.h"
#include "session.h"

// One machine's session in a fleet, judged against the pooled runs of all the others.
struct NodeRow {
  std::string node;  // the Slurm node name, else the host, else the file
  std::string file;
  std::optional<std::string> job;      // the Slurm job id
  std::optional<std::string> problem;  // why the session is missing or incomplete
  bool merged = false;                 // its finished runs count in the fleet
  Session session;
  Figures figures;
  int team = 0;  // team size at the node's core count, where its speedup is reported
  // Node against the others: serial time ratio and speedup ratio at `team`, each with its
  // Hodges-Lehmann interval, Mann-Whitney p and Holm p over the nodes.
  RowComparison serial, speedup;
  std::string verdict;  // "like the fleet", "slower", "faster", or what could not be judged
};

struct Fleet {
  std::vector<NodeRow> nodes;  // in the order of the files
  std::vector<std::string> warnings;
  std::optional<double> serial_median, serial_min, serial_max;  // over the nodes' medians
  std::optional<double> speedup_median, speedup_min, speedup_max;
};

// At most this many nodes get a curve of their own on the fleet's chart.
inline constexpr std::size_t MAX_NODE_CURVES = 8;

// The node read from `file`, whose `text` is empty when it could not be read. A session that
// failed, was cut short or left nothing is a node with its problem; `refusal` is set instead
// when the file is not a session JSON of this format version at all.
NodeRow NodeFromText(const std::string& file, const std::optional<std::string>& text,
                     std::string& refusal);

// Judges each merged node (with passed runs) against the pooled runs of the other merged
// nodes, Holm-corrected over the nodes, and names what differs between their contexts.
void JudgeFleet(Fleet& fleet);

// Per team size, the median over the merged nodes like the fleet (all merged nodes when none is)
// of their median speedups and efficiencies, as `median`, and the least and greatest of them as
// `low` and `high`; no runs of its own.
Figures FleetBand(const Fleet& fleet);

// One curve per merged node up to MAX_NODE_CURVES nodes; beyond, `band` (from FleetBand) drawn
// as a band, and the nodes named slower or faster apart, as many as fit.
std::vector<PlotCurve> FleetCurves(const Fleet& fleet, const Figures& band);

// The fleet as a table of at most 100 columns, CSV, or JSON.
std::string FormatFleetTable(const Fleet& fleet);
std::string FormatFleetCsv(const Fleet& fleet);
std::string FormatFleetJson(const Fleet& fleet);

// Merges the session files named in `options`; returns the exit status: 0, 1 when some node
// failed, was cut short or an output failed, 2 when a file is not a session of this version.
int MergeCommand(const Options& options);
