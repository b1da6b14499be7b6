#include "stats/comparison.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include "present/words.h"
#include "speedup_support.h"
#include "stats/diagnostics.h"

namespace speedup {
namespace {

TEST(CompareTest, VerdictNeedsSignificanceAndAnIntervalBeyondTwoPercent) {
  const struct {
    double p, low, high;
    Verdict verdict;
  } cases[] = {
      {0.01, 1.03, 1.08, Verdict::kSlower},
      {0.01, 0.90, 0.97, Verdict::kFaster},
      {0.20, 1.10, 1.20, Verdict::kNoClearDifference},  // large but not significant
      {0.01, 1.01, 1.05, Verdict::kNoClearDifference},  // significant but may be within 2%
      {0.05, 1.10, 1.20, Verdict::kNoClearDifference},  // p must be below 0.05
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Judge(cases[i].p, cases[i].low, cases[i].high), cases[i].verdict);
  }
}

TEST(CompareTest, ASessionAgainstItselfShowsNoDifferenceAndPOne) {
  const Session session = SessionBuilder().Tick(MICROSECOND_TICK).TimedRuns(10, 1.0).Build();
  const Comparison comparison = CompareSessions(session, session);
  ASSERT_EQ(comparison.rows.size(), 21u);
  for (const RowComparison& row : comparison.rows) {
    SCOPED_TRACE(RowLabel(row.threads));
    EXPECT_EQ(row.verdict, Verdict::kNoClearDifference);
    EXPECT_DOUBLE_EQ(row.p_value, 1.0);
    EXPECT_DOUBLE_EQ(row.ratio, 1.0);
  }
  EXPECT_TRUE(comparison.context_differences.empty());
  EXPECT_TRUE(ComparisonWarnings(comparison).empty());
  EXPECT_FALSE(SlowerBeyond(comparison, 0.0));
}

TEST(CompareTest, ASlowerBuildIsSlowerInEveryRowWithItsRatio) {
  const Comparison comparison = CompareSessions(SessionBuilder().TimedRuns(10, 1.0).Build(),
                                                SessionBuilder().TimedRuns(10, 1.5).Build());
  ASSERT_EQ(comparison.rows.size(), 21u);
  for (const RowComparison& row : comparison.rows) {
    SCOPED_TRACE(RowLabel(row.threads));
    EXPECT_EQ(row.verdict, Verdict::kSlower);
    EXPECT_NEAR(row.ratio, 1.5, 1e-9);
    EXPECT_LE(row.ratio_low, 1.5);
    EXPECT_GE(row.ratio_high, 1.5);
    EXPECT_LT(row.p_holm, 0.05);
  }
  EXPECT_TRUE(SlowerBeyond(comparison, 0.10));
  EXPECT_FALSE(SlowerBeyond(comparison, 0.60)) << "50% slower is not slower by more than 60%";
  EXPECT_EQ(CompareSessions(SessionBuilder().TimedRuns(10, 1.5).Build(),
                            SessionBuilder().TimedRuns(10, 1.0).Build())
                .rows[3]
                .verdict,
            Verdict::kFaster);
}

TEST(CompareTest, WarnsAboutFewRunsAndDifferentConditions) {
  const Session base =
      SessionBuilder().CpuModel("AMD EPYC 7B13").Tick(MICROSECOND_TICK).TimedRuns(5, 1.0).Build();
  const Session candidate =
      SessionBuilder().CpuModel("AMD EPYC 9B14").Tick(MICROSECOND_TICK).TimedRuns(12, 1.0).Build();
  const Comparison comparison = CompareSessions(base, candidate);
  EXPECT_EQ(comparison.base_runs, 5);
  EXPECT_EQ(comparison.new_runs, 12);
  EXPECT_EQ(comparison.context_differences,
            std::vector<std::string>{"CPU model: AMD EPYC 7B13 vs AMD EPYC 9B14"});
  const std::vector<std::string> warnings = ComparisonWarnings(comparison);
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[0].find("BASE has only 5 passed runs"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[1].find("AMD EPYC 7B13"), std::string::npos) << warnings[1];
}

TEST(CompareTest, ContextDifferencesNameWhatCanChangeTheFigures) {
  const Context a = SessionBuilder().FullContext().Build().context;
  EXPECT_TRUE(ContextDifferences(a, a).empty());

  Context b = a;
  b.host = "runner-8";
  b.load_before = 3.0;
  b.date_utc = "2026-12-10T10:40:00Z";
  b.governor = "performance";  // not recorded in a
  b.slurm_job_id = "4243";
  b.slurm_node = "n3";
  EXPECT_TRUE(ContextDifferences(a, b).empty());
  EXPECT_TRUE(ContextDifferences(a, Context{}).empty());

  b.cpu_model = "AMD EPYC 7B13";
  b.processors = 4;
  b.build_flags = "-O2 -DNDEBUG -Wall -Wextra -ffp-contract=off -fno-fast-math -march=native";
  b.omp_settings = Settings{{"OMP_NUM_THREADS", "4"}};
  const std::vector<std::string> expected = {
      "CPU model: AMD EPYC 9B14 vs AMD EPYC 7B13", "processors: 2 vs 4",
      "build flags: -O3 vs -O2 -march=native", "OMP_NUM_THREADS: not set vs 4"};
  EXPECT_EQ(ContextDifferences(a, b), expected);
}

TEST(CompareTest, NoVerdictIsClaimedPossibleWhereTheRunCountsCannotGiveOne) {
  // Catches a comparison of 5 runs a side that only warned a difference "may go unseen" while no
  // Holm p over 21 rows could come below 0.05, not even for an 8x slowdown.
  const struct {
    int base_runs, new_runs;
    bool possible;
  } cases[] = {{3, 3, false}, {5, 5, false}, {2, 10, false},
               {5, 10, true}, {6, 6, true},  {10, 10, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.base_runs) + " against " + std::to_string(c.new_runs));
    const Session base = SessionBuilder().Processors(2).TimedRuns(c.base_runs, 1.0).Build();
    const Session slow = SessionBuilder().Processors(2).TimedRuns(c.new_runs, 8.0).Build();
    const Comparison comparison = CompareSessions(base, slow);
    EXPECT_EQ(comparison.verdict_possible, c.possible);
    EXPECT_EQ(comparison.runs_for_verdict, 6);
    for (const RowComparison& row : comparison.rows) {
      EXPECT_EQ(row.verdict, c.possible ? Verdict::kSlower : Verdict::kNotPossible)
          << "row " << row.threads;
    }
    const std::vector<std::string> warnings = ComparisonWarnings(comparison);
    const bool said = std::any_of(warnings.begin(), warnings.end(), [](const std::string& w) {
      return w.find("no verdict is possible") != std::string::npos &&
             w.find("6 runs a side") != std::string::npos;
    });
    EXPECT_EQ(said, !c.possible);
  }
}

TEST(CompareTest, EachSidesWarningsAreCarriedBesideTheVerdicts) {
  // Catches a comparison of sessions flagged "not a parallel result" that judged their speedups
  // as if they were.
  const Session base = SessionBuilder().Processors(2).TimedRuns(10, 1.0).Build();
  SessionBuilder one;
  one.Processors(2);
  for (int i = 0; i < 10; ++i) one.Run(ReportWith(0.06, 0.06), 1.0, 1.0);
  const Comparison comparison = CompareSessions(base, one.Build());
  EXPECT_FALSE(comparison.base_not_parallel);
  EXPECT_TRUE(comparison.new_not_parallel);
  const std::vector<std::string> warnings = ComparisonWarnings(comparison);
  EXPECT_TRUE(std::any_of(warnings.begin(), warnings.end(), [](const std::string& w) {
    return w.rfind("NEW: the runs used about one processor", 0) == 0;
  }));
}

TEST(CompareTest, ABuildRecordedOnOneSideOnlyIsSaid) {
  // Catches a comparison against a benchmark named by --bench, whose build is not recorded,
  // passed over in silence as though the builds matched.
  const Session recorded = SessionBuilder().FullContext().TimedRuns(10, 1.0).Build();
  Session unrecorded = recorded;
  unrecorded.context.compiler.reset();
  unrecorded.context.build_type.reset();
  unrecorded.context.build_flags.reset();
  unrecorded.context.openmp_runtime.reset();
  const std::vector<std::string> differences =
      CompareSessions(recorded, unrecorded).context_differences;
  EXPECT_TRUE(std::any_of(differences.begin(), differences.end(), [](const std::string& d) {
    return d.find("build: not recorded for NEW") == 0;
  }));
  EXPECT_TRUE(CompareSessions(recorded, recorded).context_differences.empty());
}

TEST(CompareTest, TheClockOfEachSideSetsItsMarginAndTheSmallestCallableChange) {
  // Catches a constant millisecond margin: a 3% slowdown read in microseconds must be called,
  // the same read in whole milliseconds cannot be at 50 ms (its margin alone exceeds it), the
  // smallest callable change must say so, and sides read by different clocks are warned of.
  const auto session = [](double scale, double tick, int runs) {
    return SessionBuilder()
        .Tick(tick)
        .Runs(runs,
              [&](int run) {
                // 0.3% noise, rounded to the clock's tick.
                const double wobble = 1.0 + 0.003 * ((run * 7) % 11 - 5) / 5.0;
                const auto read = [&](double t) { return std::round(t / tick) * tick; };
                return ReportWith(read(0.050 * scale * wobble), read(0.025 * scale * wobble));
              })
        .Build();
  };
  const struct {
    double base_tick, new_tick;
    Verdict verdict;
    double smallest_low, smallest_high;
    bool warned;
  } cases[] = {
      {MICROSECOND_TICK, MICROSECOND_TICK, Verdict::kSlower, 0.0200, 0.0202, false},
      {MILLISECOND_TICK, MILLISECOND_TICK, Verdict::kNoClearDifference, 0.055, 0.065, false},
      {MILLISECOND_TICK, MICROSECOND_TICK, Verdict::kNoClearDifference, 0.035, 0.045, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.base_tick / c.new_tick);
    const Comparison comparison =
        CompareSessions(session(1.0, c.base_tick, 30), session(1.03, c.new_tick, 30));
    EXPECT_EQ(comparison.rows[0].verdict, c.verdict);
    EXPECT_LT(comparison.rows[0].p_holm, 0.05) << "the rank test itself is never widened";
    EXPECT_GE(comparison.smallest_change, c.smallest_low);
    EXPECT_LE(comparison.smallest_change, c.smallest_high);
    const std::vector<std::string> warnings = ComparisonWarnings(comparison);
    const bool warned = std::any_of(warnings.begin(), warnings.end(), [](const std::string& w) {
      return w.find("different clocks") != std::string::npos;
    });
    EXPECT_EQ(warned, c.warned);
  }
}

}  // namespace
}  // namespace speedup
