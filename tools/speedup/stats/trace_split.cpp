#include "stats/trace_split.h"

#include <algorithm>

#include "stats/statistics.h"

namespace speedup {
namespace {

constexpr double NS = 1e-9;

// The thread's boundaries between its states, each within the region and after the one before.
struct Marks {
  std::uint64_t loop_begin, loop_end;
};

Marks MarksOf(const ThreadInRegion& thread, const RegionTrace& region) {
  const auto within = [&](std::uint64_t time, std::uint64_t floor) {
    return std::clamp(time, floor, region.end_ns);
  };
  // Without a loop, the implicit task stands for it; without either, the thread never started.
  const std::uint64_t start = thread.loop_begin_ns   ? *thread.loop_begin_ns
                              : thread.task_begin_ns ? *thread.task_begin_ns
                                                     : region.end_ns;
  Marks marks;
  marks.loop_begin = within(start, region.begin_ns);
  std::uint64_t end = region.end_ns;
  if (thread.loop_end_ns) {
    end = *thread.loop_end_ns;
  } else if (!thread.waits.empty()) {
    end = thread.waits.front().begin_ns;
  } else if (thread.task_end_ns) {
    end = *thread.task_end_ns;
  }
  marks.loop_end = within(end, marks.loop_begin);
  return marks;
}

// Median over the threads with a claim of the time from their loop begin to their first claim.
double ClaimCost(const RegionTrace& region) {
  std::vector<double> first_claims;
  for (const ThreadInRegion& thread : region.threads) {
    if (thread.claims.empty() || !thread.loop_begin_ns) continue;
    const std::uint64_t claimed = thread.claims.front().at_ns;
    first_claims.push_back(claimed > *thread.loop_begin_ns ? (claimed - *thread.loop_begin_ns) * NS
                                                           : 0.0);
  }
  return first_claims.empty() ? 0.0 : stats::Median(first_claims);
}

}  // namespace

RegionSplit SplitRegion(const RegionTrace& region) {
  RegionSplit split;
  split.team = region.requested_team;
  split.threads = static_cast<std::uint32_t>(region.threads.size());
  split.seconds = (region.end_ns - region.begin_ns) * NS;
  if (region.threads.empty()) {
    split.join = split.seconds;  // nothing seen but the region itself
    return split;
  }
  for (const ThreadInRegion& thread : region.threads) split.claims_seen |= !thread.claims.empty();
  split.claim_seconds = split.claims_seen ? ClaimCost(region) : 0.0;

  std::vector<Marks> marks;
  std::uint64_t last_arrival = region.begin_ns;
  for (const ThreadInRegion& thread : region.threads) {
    marks.push_back(MarksOf(thread, region));
    last_arrival = std::max(last_arrival, marks.back().loop_end);
  }
  for (std::size_t i = 0; i < region.threads.size(); ++i) {
    const ThreadInRegion& thread = region.threads[i];
    const Marks& m = marks[i];
    const double loop = (m.loop_end - m.loop_begin) * NS;
    if (split.claims_seen) {
      std::uint64_t rows = 0;
      for (const RowClaim& claim : thread.claims) rows += claim.rows;
      split.rows.push_back(rows);
      if (rows == 0) ++split.idle_threads;
    }
    // Each claim, and the last one that finds no row left, costs one claim.
    const double scheduling =
        split.claims_seen ? std::min(loop, split.claim_seconds * (thread.claims.size() + 1)) : 0.0;
    split.fork += (m.loop_begin - region.begin_ns) * NS;
    split.scheduling += scheduling;
    split.work += loop - scheduling;
    split.imbalance += (last_arrival - m.loop_end) * NS;
    split.join += (region.end_ns - last_arrival) * NS;
  }
  const double threads = static_cast<double>(region.threads.size());
  for (double* share :
       {&split.fork, &split.work, &split.scheduling, &split.imbalance, &split.join}) {
    *share /= threads;
  }
  return split;
}

std::vector<RegionSplit> SplitRun(const RunTrace& run) {
  std::vector<RegionSplit> splits;
  for (const RegionTrace& region : run.regions) splits.push_back(SplitRegion(region));
  return splits;
}

}  // namespace speedup
