#include "stats/comparison.h"

#include <gtest/gtest.h>

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
  const Session session = SessionBuilder().TimedRuns(10, 1.0).Build();
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
  const Session base = SessionBuilder().CpuModel("AMD EPYC 7B13").TimedRuns(5, 1.0).Build();
  const Session candidate = SessionBuilder().CpuModel("AMD EPYC 9B14").TimedRuns(12, 1.0).Build();
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

}  // namespace
}  // namespace speedup
