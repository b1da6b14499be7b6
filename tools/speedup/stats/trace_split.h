#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "session/trace.h"

// Where a parallel region's time went, from its trace alone: a pure function of the events.
//
// Each thread of the team spends the region's whole time, from the initial thread's parallel
// begin to its end, in one of seven states, and the split is the team's average of each:
//   fork        from the region's begin until the thread starts its loop (its implicit task
//               begun, its share of the loop set up), less the two below;
//   tool        the trace tool's own work in that time (a buffer made on the thread's begin;
//               the team's CPU clocks read at the region's begin, which holds up every thread);
//   core wait   waiting for a core: wall time less the thread's CPU time, from the region's
//               begin to its task's begin (taken from the fork) and over its task (shared
//               between its loop and its wait at the barrier in proportion to their times);
//   work        computing rows, on a core;
//   scheduling  claiming rows: the runtime's hand-out before each row and the last, empty claim;
//   imbalance   from the end of its loop until the last thread of the team arrives at the
//               closing barrier: waiting for the others' rows;
//   join        from that last arrival until the region's end, the same for every thread.
// So the seven add up to the region's time. A row claim is traced when it is handed out, not
// when the row ends, so work and scheduling are told apart by an estimate (ClaimCost). Traces
// without CPU samples (the tool's first version) have no core wait.
namespace speedup {

struct RegionSplit {
  std::uint32_t team = 0;     // the team size asked for
  std::uint32_t granted = 0;  // the team size the runtime gave, 0 when not seen
  std::uint32_t threads = 0;  // threads seen in the team
  double seconds = 0.0;       // the region's time, end - begin
  double fork = 0.0, tool = 0.0, core_wait = 0.0, work = 0.0, scheduling = 0.0, imbalance = 0.0,
         join = 0.0;                    // seconds, averaged over the team
  double max_work = 0.0;                // the work of the thread that worked most, seconds
  std::optional<double> claim_seconds;  // the estimated cost of one claim; absent when it
                                        // could not be estimated (then scheduling is 0)
  std::vector<std::uint64_t> rows;      // rows each thread computed, in team order; empty when
                                        // no claim was traced
  std::uint32_t idle_threads = 0;       // threads that got no row
  std::uint32_t migrations = 0;  // threads that ended their task on another CPU than it began
  bool claims_seen = false;      // some row claim was traced in the region
  bool cpu_seen = false;         // some thread's CPU time was sampled
};

// The time one row takes in the run's team of one, on a core: its loop's wall time less the
// time its thread spent off a core, over the loop's iterations; absent without such a region.
std::optional<double> RowSeconds(const RunTrace& run);

// The cost of one claim, estimated from the claims that are not a thread's first (whose time
// holds setting up the loop): the median over every later claim of the time since the claim
// before it less the rows that claim handed out at `row_seconds` each, at least 0. Absent
// without a later claim.
std::optional<double> ClaimCost(const RegionTrace& region, double row_seconds);

// The split of one region; `row_seconds` (RowSeconds) lets scheduling be estimated, without it
// the loops count as work. A thread whose events are missing spends the region in the state
// before the first missing one (a thread never seen to start is all fork); a region without
// traced claims (a team of one run serialised) counts its loops as work.
RegionSplit SplitRegion(const RegionTrace& region,
                        std::optional<double> row_seconds = std::nullopt);

// `seconds` of the region of `split` as a fraction of the region's time; empty for a region that
// took no time.
std::optional<double> StateShare(const RegionSplit& split, double seconds);

// A thread's barrier waits cut to its region, and what lay past the region's end: the time
// between regions, when the thread waits for the next one (idle, not a barrier wait).
struct ClippedWaits {
  std::vector<BarrierWait> inside, idle;
};
ClippedWaits ClipWaits(const RegionTrace& region, const ThreadInRegion& thread);

// A thread's time between two readings of its CPU clock: from the region's begin to its task's
// begin, then over its task. How much of it the thread spent on a core is known, not where
// within the interval; on_core_ns is its CPU time there, at most the interval's length (a clock
// that went back counts 0). Intervals whose readings are missing, or out of order, are left out.
struct CoreInterval {
  std::uint64_t begin_ns = 0, end_ns = 0;
  std::uint64_t on_core_ns = 0;
  std::optional<std::uint32_t> cpu_at_begin, cpu_at_end;  // where read
  bool before_task = false;  // from the region's begin to the task's, else over the task
  bool operator==(const CoreInterval&) const = default;
};
std::vector<CoreInterval> CoreIntervals(const ThreadInRegion& thread);

// POP's efficiencies of a split (all 0 for an empty region): load balance, the mean work over
// the most work; transfer (serialisation and transfer together), the most work over the
// region's time; parallel efficiency, their product: the mean work over the region's time.
struct Efficiencies {
  double load_balance = 0.0, transfer = 0.0, parallel = 0.0;
};
Efficiencies EfficienciesOf(const RegionSplit& split);

// The state that lost the region the most time (not work), and its share of the lost time.
enum class Loss { kNone, kFork, kTool, kCoreWait, kScheduling, kImbalance, kJoin };
struct DominantLoss {
  Loss state = Loss::kNone;
  double share = 0.0;  // of the time not spent working, 0..1
};
DominantLoss DominantLossOf(const RegionSplit& split);

}  // namespace speedup
