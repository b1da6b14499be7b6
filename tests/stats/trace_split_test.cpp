#include "stats/trace_split.h"

#include <gtest/gtest.h>

#include <numeric>

namespace speedup {
namespace {

// Times in milliseconds from the region's begin, as nanoseconds.
constexpr std::uint64_t MS = 1000000;

ThreadInRegion Thread(std::uint32_t index, std::uint64_t begin_ms, std::uint64_t end_ms,
                      std::vector<std::uint64_t> claims_ms) {
  ThreadInRegion thread;
  thread.slot = thread.index = index;
  thread.task_begin_ns = thread.loop_begin_ns = begin_ms * MS;
  thread.loop_end_ns = end_ms * MS;
  std::uint64_t row = index * 100;
  for (const std::uint64_t at : claims_ms) thread.claims.push_back({row++, 1, at * MS});
  return thread;
}

RegionTrace Region(std::vector<ThreadInRegion> threads, std::uint64_t end_ms = 100) {
  RegionTrace region;
  region.number = 1;
  region.requested_team = static_cast<std::uint32_t>(threads.size());
  region.begin_ns = 0;
  region.end_ns = end_ms * MS;
  region.threads = std::move(threads);
  return region;
}

struct Expected {
  double fork, work, scheduling, imbalance, join;  // milliseconds, averaged over the team
};

void ExpectSplit(const RegionSplit& split, const Expected& expected) {
  EXPECT_NEAR(split.fork * 1e3, expected.fork, 1e-9);
  EXPECT_NEAR(split.work * 1e3, expected.work, 1e-9);
  EXPECT_NEAR(split.scheduling * 1e3, expected.scheduling, 1e-9);
  EXPECT_NEAR(split.imbalance * 1e3, expected.imbalance, 1e-9);
  EXPECT_NEAR(split.join * 1e3, expected.join, 1e-9);
  // The five states partition every thread's time, so they add up to the region's.
  EXPECT_NEAR(split.fork + split.work + split.scheduling + split.imbalance + split.join,
              split.seconds, 1e-12);
}

// Each case is a team whose split is known exactly; claims cost 2 ms (first claim 2 ms after
// each thread's loop begins).
TEST(TraceSplitTest, HandBuiltTeamsSplitExactly) {
  struct Case {
    const char* what;
    RegionTrace region;
    Expected expected;
  };
  const std::vector<Case> cases = {
      // T0 loops 10..90 with 3 claims (4 claim costs: 8 ms), T1 20..70 with 2 (6 ms); the last
      // arrives at 90: T1 waits 20 ms for it, both wait 10 ms for the join.
      {"a team of two",
       Region({Thread(0, 10, 90, {12, 30, 50}), Thread(1, 20, 70, {22, 40})}),
       {15, 58, 7, 10, 10}},
      // T1 finds no row: its loop of 2 ms is one empty claim.
      {"a thread that claims nothing",
       Region({Thread(0, 10, 90, {12, 30, 50}), Thread(1, 20, 22, {})}),
       {15, 36, 5, 34, 10}},
      // T0 spends its whole loop on one long row while T1 computes many short ones.
      {"one long row",
       Region({Thread(0, 10, 95, {12}), Thread(1, 10, 60, {12, 20, 30, 40, 50})}),
       {10, 59.5, 8, 17.5, 5}},
      // T1 starts at 60 ms, when the work is nearly done: its wait for the start is fork.
      {"a late starter",
       Region({Thread(0, 5, 80, {7, 20, 40}), Thread(1, 60, 70, {62})}),
       {32.5, 36.5, 6, 5, 20}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RegionSplit split = SplitRegion(c.region);
    EXPECT_EQ(split.threads, 2u);
    EXPECT_TRUE(split.claims_seen);
    EXPECT_NEAR(split.claim_seconds, 0.002, 1e-12);
    ExpectSplit(split, c.expected);
  }
}

TEST(TraceSplitTest, RowsPerThreadAndIdleThreadsAreCounted) {
  RegionTrace region =
      Region({Thread(0, 10, 90, {12, 30, 50}), Thread(1, 20, 22, {}), Thread(2, 10, 80, {12})});
  region.threads[2].claims[0].rows = 5;  // a chunk of five rows
  const RegionSplit split = SplitRegion(region);
  EXPECT_EQ(split.rows, (std::vector<std::uint64_t>{3, 0, 5}));
  EXPECT_EQ(split.idle_threads, 1u);
}

TEST(TraceSplitTest, SerialisedTeamOfOneWithoutClaimsIsAllWork) {
  ThreadInRegion alone = Thread(0, 1, 99, {});
  const RegionSplit split = SplitRegion(Region({alone}));
  EXPECT_FALSE(split.claims_seen);
  EXPECT_TRUE(split.rows.empty());
  EXPECT_EQ(split.idle_threads, 0u);
  ExpectSplit(split, {1, 98, 0, 0, 1});
}

TEST(TraceSplitTest, MissingEventsNeverMakeANegativeShare) {
  ThreadInRegion never_started;  // seen only at the barrier
  never_started.index = 1;
  never_started.waits.push_back({95 * MS, 99 * MS});
  ThreadInRegion late = Thread(2, 120, 130, {121});  // events past the region's end are clipped
  late.loop_end_ns.reset();
  const RegionSplit split = SplitRegion(Region({Thread(0, 10, 90, {12, 30}), never_started, late}));
  for (const double share :
       {split.fork, split.work, split.scheduling, split.imbalance, split.join}) {
    EXPECT_GE(share, 0.0);
  }
  EXPECT_NEAR(split.fork + split.work + split.scheduling + split.imbalance + split.join,
              split.seconds, 1e-12);
}

TEST(TraceSplitTest, RegionWithNoThreadSeenIsAllJoinRatherThanLost) {
  const RegionSplit split = SplitRegion(Region({}, 40));
  EXPECT_EQ(split.threads, 0u);
  EXPECT_NEAR(split.join, 0.040, 1e-12);
  EXPECT_EQ(SplitRun(RunTrace{}).size(), 0u);
}

}  // namespace
}  // namespace speedup
