#include "stats/trace_split.h"

#include <gtest/gtest.h>

#include <numeric>
#include <optional>

#include "stats/trace_figures.h"

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
  // The states partition every thread's time, so they add up to the region's.
  EXPECT_NEAR(split.fork + split.tool + split.core_wait + split.work + split.scheduling +
                  split.imbalance + split.join,
              split.seconds, 1e-12);
}

// Each case is a team whose split is known exactly. A claim costs what the claims after each
// thread's first cost beyond the rows they follow, at `row_ms` a row: the median of those.
TEST(TraceSplitTest, HandBuiltTeamsSplitExactly) {
  struct Case {
    const char* what;
    RegionTrace region;
    double row_ms, claim_ms;
    Expected expected;
  };
  const std::vector<Case> cases = {
      // Gaps after a row: T0 18, 20, T1 18 ms; at 16 ms a row the claims cost 2, 4, 2: 2 ms.
      // T0 loops 10..90 with 3 claims (4 claim costs: 8 ms), T1 20..70 with 2 (6 ms); the last
      // arrives at 90: T1 waits 20 ms for it, both wait 10 ms for the join.
      {"a team of two",
       Region({Thread(0, 10, 90, {12, 30, 50}), Thread(1, 20, 70, {22, 40})}),
       16,
       2,
       {15, 58, 7, 10, 10}},
      // T1 finds no row: its loop of 2 ms is one empty claim, cut to the loop.
      {"a thread that claims nothing",
       Region({Thread(0, 10, 90, {12, 30, 50}), Thread(1, 20, 22, {})}),
       16,
       3,
       {15, 34, 7, 34, 10}},
      // T0 spends its whole loop on one long row while T1 computes many short ones.
      {"one long row",
       Region({Thread(0, 10, 95, {12}), Thread(1, 10, 60, {12, 20, 30, 40, 50})}),
       8,
       2,
       {10, 59.5, 8, 17.5, 5}},
      // T1 starts at 60 ms, when the work is nearly done: its wait for the start is fork. Its
      // claims would cost 11 ms, more than its loop: scheduling is cut to the loop.
      {"a late starter",
       Region({Thread(0, 5, 80, {7, 20, 40}), Thread(1, 60, 70, {62})}),
       11,
       5.5,
       {32.5, 26.5, 16, 5, 20}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RegionSplit split = SplitRegion(c.region, c.row_ms * 1e-3);
    EXPECT_EQ(split.threads, 2u);
    EXPECT_TRUE(split.claims_seen);
    ASSERT_TRUE(split.claim_seconds.has_value());
    EXPECT_NEAR(*split.claim_seconds, c.claim_ms * 1e-3, 1e-12);
    ExpectSplit(split, c.expected);
  }
}

// The first claim holds the loop's set-up; taking its cost for every claim overstated
// scheduling threefold. Later claims alone say what a claim costs.
TEST(TraceSplitTest, ClaimCostComesFromClaimsThatAreNotAThreadsFirst) {
  struct Case {
    const char* what;
    std::vector<ThreadInRegion> threads;
    std::optional<double> row_ms;
    std::optional<double> claim_ms;  // expected
  };
  const std::vector<Case> cases = {
      // First claims 9 ms after the loop's begin, later ones 1 ms beyond a 10 ms row.
      {"slow first claims", {Thread(0, 0, 90, {9, 20, 31, 42}), Thread(1, 0, 90, {9, 20})}, 10, 1},
      // A gap shorter than a row (a faster row) counts as a free claim, never a negative one.
      {"rows faster than the reference", {Thread(0, 0, 90, {9, 15, 26})}, 10, 0.5},
      {"only first claims", {Thread(0, 0, 90, {9}), Thread(1, 0, 90, {9})}, 10, std::nullopt},
      {"no team of one to measure a row", {Thread(0, 0, 90, {9, 20})}, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<double> row =
        c.row_ms ? std::optional(*c.row_ms * 1e-3) : std::optional<double>();
    const RegionSplit split = SplitRegion(Region(c.threads), row);
    ASSERT_EQ(split.claim_seconds.has_value(), c.claim_ms.has_value());
    if (c.claim_ms) {
      EXPECT_NEAR(*split.claim_seconds, *c.claim_ms * 1e-3, 1e-12);
    } else {
      EXPECT_EQ(split.scheduling, 0.0);  // not estimated: the loops count as work
    }
  }
}

TEST(TraceSplitTest, RowSecondsIsTheTeamOfOnesLoopOnACorePerIteration) {
  RunTrace run;
  ThreadInRegion alone = Thread(0, 2, 62, {});
  alone.loop_iterations = 600;
  alone.cpu_at_task_begin = CpuSample{2 * MS, 100 * MS, 0};
  alone.cpu_at_task_end = CpuSample{62 * MS, 148 * MS, 0};  // 12 of the 60 ms off a core
  RegionTrace one = Region({alone});
  run.regions = {Region({Thread(0, 0, 50, {1}), Thread(1, 0, 50, {1})}), one};
  ASSERT_TRUE(RowSeconds(run).has_value());
  EXPECT_NEAR(*RowSeconds(run), 0.048 / 600, 1e-15);
  run.regions.pop_back();
  EXPECT_FALSE(RowSeconds(run).has_value());
}

// A thread ready to run but without a core was counted as forking or working. Its CPU time at
// the region's begin and at its task's ends tell that wait apart.
TEST(TraceSplitTest, WaitingForACoreIsToldFromForkAndWork) {
  struct Case {
    const char* what;
    std::optional<std::uint64_t> cpu_at_begin_ms, cpu_at_task_begin_ms, cpu_at_task_end_ms;
    Expected expected;
    double core_ms;
  };
  // One thread: region 0..100, task 10..95, loop 10..90, then it waits alone: no imbalance.
  const std::vector<Case> cases = {
      {"always on a core", 0, 10, 95, {10, 80, 0, 0, 10}, 0},
      // 8 of its 10 ms of fork off a core, 30 of its task's 85 ms: the loop's 80 ms of them.
      {"oversubscribed", 0, 2, 57, {2, 80 - 30.0 * 80 / 85, 0, 0, 10}, 8 + 30.0 * 80 / 85},
      // Off a core 84 of 85 ms: the loop keeps its share of the one ms on a core.
      {"off a core nearly always", 0, 1, 2, {1, 80 - 84.0 * 80 / 85, 0, 0, 10}, 9 + 84.0 * 80 / 85},
      {"no samples (a first-version trace)",
       std::nullopt,
       std::nullopt,
       std::nullopt,
       {10, 80, 0, 0, 10},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ThreadInRegion thread = Thread(0, 10, 90, {});
    thread.task_end_ns = 95 * MS;
    const auto sample = [](std::uint64_t wall_ms, std::optional<std::uint64_t> cpu_ms,
                           std::uint32_t cpu) -> std::optional<CpuSample> {
      if (!cpu_ms) return std::nullopt;
      return CpuSample{wall_ms * MS, *cpu_ms * MS, cpu};
    };
    thread.cpu_at_region_begin = sample(0, c.cpu_at_begin_ms, 0);
    thread.cpu_at_task_begin = sample(10, c.cpu_at_task_begin_ms, 0);
    thread.cpu_at_task_end = sample(95, c.cpu_at_task_end_ms, 1);
    const RegionSplit split = SplitRegion(Region({thread}));
    EXPECT_NEAR(split.core_wait * 1e3, c.core_ms, 1e-9);
    EXPECT_NEAR(split.fork * 1e3, c.expected.fork, 1e-9);
    EXPECT_NEAR(split.work * 1e3, c.expected.work, 1e-9);
    EXPECT_NEAR(split.fork + split.tool + split.core_wait + split.work + split.scheduling +
                    split.imbalance + split.join,
                split.seconds, 1e-12);
    EXPECT_EQ(split.cpu_seen, c.cpu_at_task_end_ms.has_value());
    // It began its task on CPU 0 and ended it on CPU 1.
    EXPECT_EQ(split.migrations, c.cpu_at_task_end_ms ? 1u : 0u);
  }
}

// The tool's set-up on a thread's begin inside a region was counted as that thread's fork.
TEST(TraceSplitTest, TheToolsOwnWorkIsNotFork) {
  ThreadInRegion thread = Thread(0, 10, 90, {});
  thread.tool = {{1 * MS, 4 * MS}, {95 * MS, 97 * MS}};  // the second lies after the fork
  const RegionSplit split = SplitRegion(Region({thread}));
  EXPECT_NEAR(split.tool, 0.003, 1e-12);
  EXPECT_NEAR(split.fork, 0.007, 1e-12);
}

TEST(TraceSplitTest, WaitsAreCutToTheirRegionAndTheRestIsIdle) {
  struct Case {
    const char* what;
    BarrierWait wait;
    std::vector<BarrierWait> inside, idle;
  };
  const std::vector<Case> cases = {
      {"within", {90 * MS, 99 * MS}, {{90 * MS, 99 * MS}}, {}},
      {"until the next region", {90 * MS, 300 * MS}, {{90 * MS, 100 * MS}}, {{100 * MS, 300 * MS}}},
      {"wholly after", {150 * MS, 160 * MS}, {{100 * MS, 100 * MS}}, {{150 * MS, 160 * MS}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ThreadInRegion thread = Thread(0, 10, 90, {});
    thread.waits = {c.wait};
    const ClippedWaits clipped = ClipWaits(Region({thread}), thread);
    EXPECT_EQ(clipped.inside, c.inside);
    EXPECT_EQ(clipped.idle, c.idle);
  }
}

TEST(TraceSplitTest, EfficienciesAndTheDominantLoss) {
  // 16 ms a row, claims 2 ms: T0 works 72 ms, T1 44 ms; the region is 100 ms.
  const RegionSplit split =
      SplitRegion(Region({Thread(0, 10, 90, {12, 30, 50}), Thread(1, 20, 70, {22, 40})}), 0.016);
  const Efficiencies e = EfficienciesOf(split);
  EXPECT_NEAR(e.load_balance, 58.0 / 72.0, 1e-12);
  EXPECT_NEAR(e.transfer, 0.72, 1e-12);
  EXPECT_NEAR(e.parallel, 0.58, 1e-12);
  EXPECT_NEAR(e.parallel, split.work / split.seconds, 1e-12);
  // Lost, averaged over the team: fork 15, scheduling 7, imbalance 10, join 10 ms of 42 ms.
  const DominantLoss loss = DominantLossOf(split);
  EXPECT_EQ(loss.state, Loss::kFork);
  EXPECT_NEAR(loss.share, 15.0 / 42.0, 1e-12);
  EXPECT_EQ(DominantLossOf(RegionSplit{}).state, Loss::kNone);
  EXPECT_EQ(EfficienciesOf(RegionSplit{}).parallel, 0.0);
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
  const RegionSplit split = SplitRegion(Region({alone}), 0.001);
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
  const RegionSplit split =
      SplitRegion(Region({Thread(0, 10, 90, {12, 30}), never_started, late}), 0.001);
  for (const double share : {split.fork, split.tool, split.core_wait, split.work, split.scheduling,
                             split.imbalance, split.join}) {
    EXPECT_GE(share, 0.0);
  }
  EXPECT_NEAR(split.fork + split.tool + split.core_wait + split.work + split.scheduling +
                  split.imbalance + split.join,
              split.seconds, 1e-12);
}

TEST(TraceSplitTest, RegionWithNoThreadSeenIsAllJoinRatherThanLost) {
  const RegionSplit split = SplitRegion(Region({}, 40));
  EXPECT_EQ(split.threads, 0u);
  EXPECT_NEAR(split.join, 0.040, 1e-12);
  // A run without regions splits no team, rather than a team of nothing.
  for (const std::optional<RegionSplit>& team : SplitsByTeam(RunTrace{})) EXPECT_FALSE(team);
}

}  // namespace
}  // namespace speedup
