#pragma once

#include <cstdint>
#include <vector>

#include "session/trace.h"

// Where a parallel region's time went, from its trace alone: a pure function of the events.
//
// Each thread of the team spends the region's whole time, from the initial thread's parallel
// begin to its end, in one of five states, and the split is the team's average of each:
//   fork        from the region's begin until the thread starts its loop (its implicit task
//               begun, its share of the loop set up);
//   work        computing rows;
//   scheduling  claiming rows: the runtime's hand-out before each row and the last, empty claim;
//   imbalance   from the end of its loop until the last thread of the team arrives at the
//               closing barrier: waiting for the others' rows;
//   join        from that last arrival until the region's end, the same for every thread.
// So the five add up to the region's time. A row claim is traced when it is handed out, not
// when the row ends, so work and scheduling are told apart by an estimate: every claim is taken
// to cost what the team's first claims cost (from each thread's loop begin to its first row,
// the median over the threads), and the rest of the loop is work.
namespace speedup {

struct RegionSplit {
  std::uint32_t team = 0;     // the team size asked for
  std::uint32_t threads = 0;  // threads seen in the team
  double seconds = 0.0;       // the region's time, end - begin
  double fork = 0.0, work = 0.0, scheduling = 0.0, imbalance = 0.0, join = 0.0;  // seconds
  double claim_seconds = 0.0;       // the estimated cost of one claim
  std::vector<std::uint64_t> rows;  // rows each thread computed, in team order; empty when
                                    // no claim was traced
  std::uint32_t idle_threads = 0;   // threads that got no row
  bool claims_seen = false;         // some row claim was traced in the region
};

// The split of one region. A thread whose events are missing spends the region in the state
// before the first missing one (a thread never seen to start is all fork); a region without
// traced claims (a team of one run serialised) counts its loops as work.
RegionSplit SplitRegion(const RegionTrace& region);

// The split of every region of a run, in order.
std::vector<RegionSplit> SplitRun(const RunTrace& run);

}  // namespace speedup
