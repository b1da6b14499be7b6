#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "session/session.h"
#include "stats/figures.h"

// What makes a session's figures less than they seem, as data: each warning is a kind with its
// values, put into words by the presentation alone.
namespace speedup {

// Settings such as "OMP_DYNAMIC=true" that let the runtime shrink teams.
struct TeamsMayShrink {
  std::string setting;
  bool operator==(const TeamsMayShrink&) const = default;
};

// Other work on the machine: the load average before the runs.
struct BusyMachine {
  double load = 0.0;
  bool operator==(const BusyMachine&) const = default;
};

// A Slurm task that received `received` of `whole` processors.
struct PartialAllocation {
  int received = 0;
  int whole = 0;
  bool whole_is_node = false;  // `whole` is the node's, not the allocation's on the node
  bool operator==(const PartialAllocation&) const = default;
};

// The serial time drifted over the runs: Spearman's rho against the run number and its p.
struct SerialDrift {
  double rho = 0.0;
  double p_value = 0.0;
  bool operator==(const SerialDrift&) const = default;
};

// Too few runs to show drift: `runs`, fewer than the `runs_to_judge` that can.
struct DriftNotJudged {
  int runs = 0;
  int runs_to_judge = 0;
  bool operator==(const DriftNotJudged&) const = default;
};

// A placement (OMP_PROC_BIND's value) that could not be checked: no thread affinity shown.
struct PlacementUnchecked {
  std::string placement;
  bool operator==(const PlacementUnchecked&) const = default;
};

// A placement the runtime did not honour: its threads were not bound as asked.
struct PlacementNotHonoured {
  std::string placement;
  bool operator==(const PlacementNotHonoured&) const = default;
};

// The runs used about one processor: the median CPU seconds per wall second.
struct OneProcessor {
  double cpu_per_wall = 0.0;
  bool operator==(const OneProcessor&) const = default;
};

// No tick recorded: this one found from the times (TickOfValues).
struct TickFound {
  double tick_seconds = 0.0;
  bool operator==(const TickFound&) const = default;
};

// At `threads` threads the speedup vs serial (median `speedup`) lies with its whole interval
// above the `processors` the team could use; `teams` team sizes in all do.
struct AboveProcessors {
  int threads = 0;
  double speedup = 0.0;
  int processors = 0;
  int teams = 0;
  bool operator==(const AboveProcessors&) const = default;
};

// What makes a session's figures less than they seem: one kind with exactly its own values.
using Warning = std::variant<TeamsMayShrink, BusyMachine, PartialAllocation, SerialDrift,
                             DriftNotJudged, PlacementUnchecked, PlacementNotHonoured, OneProcessor,
                             TickFound, AboveProcessors>;

// How many processors the runs kept busy, from the children's CPU and wall times.
struct ParallelUse {
  std::optional<double> cpu_per_wall;  // median over the runs that recorded both
  bool one_processor = false;          // several processors available, yet about one was used
};

// The session's processor use; one_processor needs at least two processors recorded.
ParallelUse CheckParallelUse(const Session& session);

// A busy machine: load_before at least BUSY_LOAD; empty when lower or not recorded.
std::optional<BusyMachine> LoadWarning(const Context& context);

// A Slurm task that received fewer processors than the node has or than the job was allocated
// on it, as speedups beyond that count then describe the allocation, not the node; empty outside
// Slurm or when it received them all.
std::optional<PartialAllocation> AllocationWarning(const Context& context);

// Every warning of the session, in a fixed order: settings that let the runtime shrink teams,
// other work on the machine, a partial allocation, drift, placement, runs on about one processor,
// a clock tick found from the times rather than recorded, speedups above the processors they
// could use.
std::vector<Warning> SessionWarnings(const Session& session, const Figures& figures);

// A speedup whose interval lies wholly above what its team could reach, the smaller of its
// threads and the processors recorded: the serial baseline was slowed (load, caches), so the
// figure is not a parallel result. The first such team size, with the count of them; empty when
// none.
std::optional<AboveProcessors> AboveProcessorsWarning(const Context& context,
                                                      const Figures& figures);

// The caches as "L1d 48 KiB x4, L2 1280 KiB x4", as context lines and differences show them.
std::string CachesText(const Caches& caches);

// One line per difference that can change the figures, e.g. "CPU model: A vs B", one per OMP_*
// variable; host, loads, date and the Slurm fields are not compared, nor fields absent on either
// side.
std::vector<std::string> ContextDifferences(const Context& a, const Context& b);

// Everything the reports of one session show, computed once: the figures, the processor use,
// the team sizes not yet settled to the session's precision, and the warnings.
struct SessionAnalysis {
  Figures figures;
  ParallelUse use;
  std::vector<int> unsettled;  // empty without --precision
  std::vector<Warning> warnings;
};

// The analysis of a session with at least one passed run.
SessionAnalysis Analyse(const Session& session);

}  // namespace speedup
