#include "compare.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// `runs` passed runs whose every time is `scale` x (0.060 + a small run-to-run wobble).
Session Timed(int runs, double scale) {
  Session session;
  for (int run = 0; run < runs; ++run) {
    RunReport report;
    const double wobble = 1.0 + 0.01 * ((run * 7) % 5);
    report.serial_seconds = 0.060 * scale * wobble;
    for (int t = 1; t <= MAX_THREADS; ++t) {
      report.parallel_seconds[t - 1] = (0.010 + 0.050 / std::min(t, 2)) * scale * wobble;
    }
    session.runs.push_back({report, {}, {}});
  }
  return session;
}

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
  for (const auto& c : cases)
    EXPECT_EQ(Judge(c.p, c.low, c.high), c.verdict) << c.p << " " << c.low;
}

TEST(CompareTest, ASessionAgainstItselfShowsNoDifferenceAndPOne) {
  const Session session = Timed(10, 1.0);
  const Comparison comparison = CompareSessions(session, session);
  ASSERT_EQ(comparison.rows.size(), 21u);
  for (const RowComparison& row : comparison.rows) {
    EXPECT_EQ(row.verdict, Verdict::kNoClearDifference) << row.threads;
    EXPECT_DOUBLE_EQ(row.p_value, 1.0) << row.threads;
    EXPECT_DOUBLE_EQ(row.ratio, 1.0) << row.threads;
  }
  EXPECT_TRUE(comparison.warnings.empty());
  EXPECT_FALSE(SlowerBeyond(comparison, 0.0));
}

TEST(CompareTest, ASlowerBuildIsSlowerInEveryRowWithItsRatio) {
  const Comparison comparison = CompareSessions(Timed(10, 1.0), Timed(10, 1.5));
  for (const RowComparison& row : comparison.rows) {
    EXPECT_EQ(row.verdict, Verdict::kSlower) << row.threads;
    EXPECT_NEAR(row.ratio, 1.5, 1e-9) << row.threads;
    EXPECT_LE(row.ratio_low, 1.5);
    EXPECT_GE(row.ratio_high, 1.5);
    EXPECT_LT(row.p_holm, 0.05);
  }
  EXPECT_TRUE(SlowerBeyond(comparison, 0.10));
  EXPECT_FALSE(SlowerBeyond(comparison, 0.60)) << "50% slower is not slower by more than 60%";
  EXPECT_EQ(CompareSessions(Timed(10, 1.5), Timed(10, 1.0)).rows[3].verdict, Verdict::kFaster);
}

TEST(CompareTest, WarnsAboutFewRunsAndDifferentConditions) {
  Session base = Timed(5, 1.0);
  Session candidate = Timed(12, 1.0);
  base.context.cpu_model = "AMD EPYC 7B13";
  candidate.context.cpu_model = "AMD EPYC 9B14";
  const Comparison comparison = CompareSessions(base, candidate);
  ASSERT_EQ(comparison.warnings.size(), 2u);
  EXPECT_NE(comparison.warnings[0].find("BASE has only 5 passed runs"), std::string::npos);
  EXPECT_NE(comparison.warnings[1].find("AMD EPYC 7B13"), std::string::npos);
}

}  // namespace
