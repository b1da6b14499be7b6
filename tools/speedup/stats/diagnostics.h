#pragma once

#include <optional>
#include <string>
#include <vector>

#include "session/session.h"
#include "stats/figures.h"

// What makes a session's figures less than they seem, as data: each warning is a kind with its
// values, put into words by the presentation alone.
namespace speedup {

struct Warning {
  enum class Kind {
    kTeamsMayShrink,        // `setting`, e.g. "OMP_DYNAMIC=true", lets the runtime shrink teams
    kBusyMachine,           // load average `value` before the runs
    kPartialAllocation,     // a Slurm task received `received` of `whole` processors
    kDrift,                 // the serial time drifted: rho `value`, p `p_value`
    kPlacementUnchecked,    // `setting` (a placement) could not be checked
    kPlacementNotHonoured,  // the runtime did not bind threads as `setting` asks
    kOneProcessor,          // the runs used about one processor: `value` CPU s per wall s
    kDriftNotJudged,        // `received` runs, fewer than the `whole` that can show drift
    kTickFound,             // no tick recorded: `value` s found from the times (TickOfValues)
    kAboveProcessors,       // at `received` threads the speedup vs serial, median `value`, lies
                            // with its whole interval above the `whole` processors it could use;
                            // `teams` team sizes in all
  };
  Kind kind;
  std::string setting{};
  double value = 0.0;
  double p_value = 0.0;
  int received = 0;
  int whole = 0;
  bool whole_is_node = false;  // kPartialAllocation: `whole` is the node's, not the allocation's
  int teams = 0;               // kAboveProcessors: how many team sizes lie above

  bool operator==(const Warning&) const = default;
};

// How many processors the runs kept busy, from the children's CPU and wall times.
struct ParallelUse {
  std::optional<double> cpu_per_wall;  // median over the runs that recorded both
  bool one_processor = false;          // several processors available, yet about one was used
};

// The session's processor use; one_processor needs at least two processors recorded.
ParallelUse CheckParallelUse(const Session& session);

// A busy machine: load_before at least BUSY_LOAD; empty when lower or not recorded.
std::optional<Warning> LoadWarning(const Context& context);

// A Slurm task that received fewer processors than the node has or than the job was allocated
// on it, as speedups beyond that count then describe the allocation, not the node; empty outside
// Slurm or when it received them all.
std::optional<Warning> AllocationWarning(const Context& context);

// Every warning of the session, in a fixed order: settings that let the runtime shrink teams,
// other work on the machine, a partial allocation, drift, placement, runs on about one processor,
// a clock tick found from the times rather than recorded, speedups above the processors they
// could use.
std::vector<Warning> SessionWarnings(const Session& session, const Figures& figures);

// A speedup whose interval lies wholly above what its team could reach, the smaller of its
// threads and the processors recorded: the serial baseline was slowed (load, caches), so the
// figure is not a parallel result. The first such team size, with the count of them; empty when
// none.
std::optional<Warning> AboveProcessorsWarning(const Context& context, const Figures& figures);

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
