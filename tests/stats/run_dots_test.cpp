#include "stats/run_dots.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/policy.h"
#include "bench/sweep.h"
#include "speedup_support.h"
#include "stats/comparison.h"
#include "stats/figures.h"

namespace speedup {
namespace {

std::vector<double> Counting(int count) {
  std::vector<double> values;
  for (int i = 0; i < count; ++i) values.push_back(i);
  return values;
}

// Thinning that dropped the fastest or slowest run, passed its bound or bunched its ranks would
// draw a narrower or lopsided spread than the runs had.
TEST(RunDotsTest, ThinningKeepsTheExtremesAtEvenRanksWithinTheBound) {
  const struct {
    int values;
    std::size_t limit;
    std::vector<double> kept;
  } cases[] = {
      {3, 5, {0, 1, 2}},     {5, 5, {0, 1, 2, 3, 4}}, {9, 5, {0, 2, 4, 6, 8}},
      {10, 4, {0, 3, 6, 9}}, {1000, 2, {0, 999}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.values) + " values, limit " + std::to_string(c.limit));
    EXPECT_EQ(AtEvenRanks(Counting(c.values), c.limit), c.kept);
  }
}

// Each passed run is one dot, its time over the row's median; a failed run is no dot, though the
// run order still counts it, so "run 3" on the page is the session's third run.
TEST(RunDotsTest, EachPassedRunIsOneDotOverItsRowsMedianInTheOrderRun) {
  const Session session = SessionBuilder()
                              .Processors(4)
                              .Run(ReportWith(0.100, [](int t) { return t == 3 ? 0.020 : 0.050; }))
                              .FailedRun("run 2 failed")
                              .Run(ReportWith(0.110, [](int t) { return t == 3 ? 0.022 : 0.055; }))
                              .Run(ReportWith(0.120, [](int t) { return t == 3 ? 0.024 : 0.060; }))
                              .Build();
  const RunDots dots = SessionRunDots(session, SessionFigures(session));
  ASSERT_EQ(dots.rows.size(), static_cast<std::size_t>(MAX_THREADS + 1));
  EXPECT_EQ(dots.rows[0].threads, 0);
  EXPECT_EQ(dots.rows[3].threads, 3);
  for (const RowDots& row : dots.rows) {
    SCOPED_TRACE(row.threads);
    EXPECT_EQ(row.runs, 3) << "a failed run counted";
    ASSERT_EQ(row.values.size(), 3u);
    EXPECT_NEAR(row.values[0], 100.0 / 110.0, 1e-12) << "not over the row's median";
    EXPECT_NEAR(row.values[2], 120.0 / 110.0, 1e-12);
  }
  EXPECT_NEAR(dots.low, 100.0 / 110.0, 1e-12);
  EXPECT_NEAR(dots.high, 120.0 / 110.0, 1e-12);
  ASSERT_EQ(dots.order.size(), 2u);
  EXPECT_EQ(dots.order[0].threads, 0);
  EXPECT_EQ(dots.order[1].threads, 3) << "not the team of the greatest median speedup";
  EXPECT_EQ(dots.order[1].run, (std::vector<int>{1, 3, 4})) << "run numbers skip the failed run";
  EXPECT_NEAR(dots.order[1].values[1], 1.0, 1e-12);
}

// A session of MAX_RUNS runs stays a light page: each row and each run-order line within its
// bound, and the counts before thinning kept, for the caption to say so.
TEST(RunDotsTest, AThousandRunsAreThinnedToTheBounds) {
  const Session session = SessionBuilder().Processors(2).TimedRuns(MAX_RUNS, 1.0).Build();
  const RunDots dots = SessionRunDots(session, SessionFigures(session));
  for (const RowDots& row : dots.rows) {
    EXPECT_EQ(row.runs, MAX_RUNS);
    EXPECT_EQ(row.values.size(), HTML_STRIP_DOTS);
  }
  for (const RunOrder& order : dots.order) {
    EXPECT_EQ(order.runs, MAX_RUNS);
    EXPECT_LE(order.run.size(), HTML_ORDER_DOTS);
    EXPECT_EQ(order.step, 4);
    EXPECT_EQ(order.run.size(), 250u);
    EXPECT_EQ(order.run[1], 5) << "not every step-th run";
  }
}

// NEW's dots stand against BASE's median of the same row, so a NEW twice as slow lies at 2 and
// BASE about 1; each over its own median would hide the difference the page shows.
TEST(RunDotsTest, ComparedSidesAreBothOverBasesMedian) {
  const Session base = SessionBuilder().Processors(2).TimedRuns(6, 1.0).Build();
  const Session slow = SessionBuilder().Processors(2).TimedRuns(5, 2.0).Build();
  const RunDots dots = ComparedRunDots(base, slow, CompareSessions(base, slow));
  ASSERT_EQ(dots.rows.size(), dots.added.size());
  ASSERT_EQ(dots.rows.size(), static_cast<std::size_t>(MAX_THREADS + 1));
  EXPECT_TRUE(dots.order.empty()) << "a comparison has no single run order";
  for (std::size_t i = 0; i < dots.rows.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(dots.rows[i].runs, 6);
    EXPECT_EQ(dots.added[i].runs, 5);
    EXPECT_EQ(dots.added[i].threads, dots.rows[i].threads);
    for (const double value : dots.rows[i].values) EXPECT_NEAR(value, 1.0, 0.05);
    for (const double value : dots.added[i].values) EXPECT_NEAR(value, 2.0, 0.1);
  }
  EXPECT_GT(dots.high, 1.9) << "the range leaves NEW's dots out";
  EXPECT_LT(dots.low, 1.01);
}

}  // namespace
}  // namespace speedup
