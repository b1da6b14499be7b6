#pragma once

#include <optional>
#include <string>
#include <vector>

#include "compare.h"
#include "figures.h"
#include "options.h"
#include "session.h"

// One machine's session in a fleet, judged against the pooled runs of all the others.
struct NodeRow {
  std::string node;  // the host, or the file when no host was recorded
  std::string file;
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

// Judges each merged node (with passed runs) against the pooled runs of the other merged
// nodes, Holm-corrected over the nodes, and names what differs between their contexts.
void JudgeFleet(Fleet& fleet);

// The fleet as a table of at most 100 columns, CSV, or JSON.
std::string FormatFleetTable(const Fleet& fleet);
std::string FormatFleetCsv(const Fleet& fleet);
std::string FormatFleetJson(const Fleet& fleet);

// Merges the session files named in `options`; returns the exit status: 0, 1 when some node
// failed, was cut short or an output failed, 2 when a file is not a session of this version.
int MergeCommand(const Options& options);
