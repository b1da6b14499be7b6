#include "stats/quantiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <random>
#include <vector>

#include "stats/distributions.h"
#include "stats/resampling.h"

namespace speedup::stats {
namespace {

using Values = std::vector<double>;

// Student t P(T <= t) with df degrees of freedom from P(|T| > |t|) = I_{df / (df + t^2)}(df / 2,
// 1 / 2): the tail that Spearman's p-value for more than EXACT_SPEARMAN_MAX pairs is made of.
double TCdf(double t, double df) {
  const double tail = 0.5 * RegularizedIncompleteBeta(df / 2.0, 0.5, df / (df + t * t));
  return t > 0 ? 1.0 - tail : tail;
}

TEST(SummaryTest, QuantileIsType7AndMedianAveragesTheMiddlePair) {
  // R quantile(1:4): 1, 1.75, 2.5, 3.25, 4 (hinges would give 1.5 and 3.5, type 6 1.25, 3.75).
  const Values values = {4, 2, 1, 3};
  const double expected[][2] = {{0.0, 1.0}, {0.25, 1.75}, {0.5, 2.5}, {0.75, 3.25}, {1.0, 4.0}};
  for (const auto& [p, q] : expected) {
    SCOPED_TRACE(p);
    EXPECT_DOUBLE_EQ(Quantile(values, p), q);
  }
  EXPECT_DOUBLE_EQ(InterquartileRange(values), 1.5);
  EXPECT_EQ(Quantile(Values{7}, 0.3), 7.0);
  EXPECT_EQ(Median(values), 2.5);
  EXPECT_EQ(Median(Values{3, 1, 2}), 2.0);
  EXPECT_EQ(Median(Values{7}), 7.0);
  const Interval interval = PercentileInterval(Values{5, 1, 4, 2, 3}, 0.5);
  EXPECT_EQ(interval.low, 2.0);
  EXPECT_EQ(interval.high, 4.0);
}

TEST(SummaryTest, TukeyFencesCountValuesBeyondNotOnThem) {
  // Q1 = 3, Q3 = 7, IQR = 4: fences at -3 and 13. Ties on a millisecond clock give IQR 0.
  const struct {
    Values values;
    std::size_t outside;
  } cases[] = {{{-3, 3, 3, 3, 5, 7, 7, 7, 13}, 0},
               {{-3.5, 3, 3, 3, 5, 7, 7, 7, 13.5}, 2},
               {{-3, 3, 3, 3, 5, 7, 7, 7, 13.5}, 1},
               {{5, 5, 5, 5, 5, 6}, 1},
               {{5}, 0},
               {{}, 0}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(CountOutsideTukeyFences(cases[i].values), cases[i].outside);
  }
}

TEST(SummaryTest, TukeyFencesOfMillisecondTimesAndTheirRatiosAreDecidedExactly) {
  // Catches fences compared in plain floating point: for 47, 50, 50, 50, 51, 51, 52, 52, 55 ms
  // the quartiles are 50 and 52 ms, the fences exactly 47 and 55 ms, yet 0.052 - 0.050 rounds
  // to 0.001999999999999995 and both ends came out as outliers. Speedups 37/20 .. 45/20 of
  // whole-millisecond times (quartiles 2.0 and 2.1) have fences exactly at 1.85 and 2.25.
  const struct {
    Values ms;
    double over;  // each value is ms * 0.001 / over: a time in seconds, or a ratio of times
    std::size_t outside;
  } cases[] = {{{47, 50, 50, 50, 51, 51, 52, 52, 55}, 1.0, 0},
               {{46, 50, 50, 50, 51, 51, 52, 52, 55}, 1.0, 1},
               {{47, 50, 50, 50, 51, 51, 52, 52, 56}, 1.0, 1},
               {{46, 50, 50, 50, 51, 51, 52, 52, 56}, 1.0, 2},
               {{37, 40, 40, 40, 41, 41, 42, 42, 45}, 0.020, 0},
               {{36, 40, 40, 40, 41, 41, 42, 42, 46}, 0.020, 2},
               {{37, 40, 40, 40, 41, 41, 42, 42, 45}, 0.003, 0},
               {{47, 50, 50, 50, 51, 51, 52, 52, 55}, 1e-6, 0}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    Values values;
    for (const double t : cases[i].ms) values.push_back(t * 0.001 / cases[i].over);
    EXPECT_EQ(CountOutsideTukeyFences(values), cases[i].outside);
  }
}

TEST(MedianIntervalTest, RanksMatchTheBinomialTables) {
  // Published sign-test tables: n = 6 -> 1..6 at 96.9%, 10 -> 2..9 at 97.9%, 20 -> 6..15 at
  // 95.9%; n <= 5 falls short. Confidences are exact sums in Python; 2^-2000 underflows.
  const struct {
    std::size_t n, low, high;
    double confidence;
  } cases[] = {{2, 1, 2, 0.5},
               {5, 1, 5, 15.0 / 16},
               {6, 1, 6, 31.0 / 32},
               {10, 2, 9, 501.0 / 512},
               {20, 6, 15, 125647.0 / 131072},
               {100, 40, 61, 0.9647997997822951},
               {2000, 956, 1045, 0.9534471795082162}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    const auto ranks = MedianRanks(c.n);
    EXPECT_TRUE(ranks);
    if (!ranks) continue;
    EXPECT_EQ(ranks->low_rank, c.low);
    EXPECT_EQ(ranks->high_rank, c.high);
    EXPECT_NEAR(ranks->confidence, c.confidence, 1e-12);
  }
  EXPECT_EQ(MedianRanks(10, 501.0 / 512)->low_rank, 2u);  // reaching the target exactly counts
  EXPECT_FALSE(MedianRanks(1));
  // Ranks 2 and 9 of 10, 11, 12 x 6, 13, 14: the bounds are sample values, ties or not.
  const auto interval = MedianConfidenceInterval(Values{13, 11, 12, 12, 12, 14, 12, 12, 10, 12});
  EXPECT_EQ(interval->low, 11.0);
  EXPECT_EQ(interval->high, 13.0);
  EXPECT_FALSE(MedianConfidenceInterval(Values{12}));
}

TEST(DistributionTest, TailsMatchClosedFormsAndTables) {
  // df = 1 is Cauchy, df = 2 is 1/2 + t / (2 sqrt(2 + t^2)); 2.228139 and 2.042272 are the
  // tabled 97.5% points for 10 and 30 df; others from mpmath at 30 digits.
  const double t_cases[][3] = {{1, 1, 0.75},
                               {1, 2, 0.78867513459481288},
                               {2.228139, 10, 0.97500000627355872},
                               {-2.042272, 30, 0.025000024002307516}};
  for (const auto& [t, df, p] : t_cases) {
    SCOPED_TRACE(testing::Message() << "t " << t << ", df " << df);
    EXPECT_NEAR(TCdf(t, df), p, 1e-13);
  }
  EXPECT_EQ(TCdf(-INFINITY, 4), 0.0);
  EXPECT_EQ(RegularizedIncompleteBeta(2, 0.5, 0.0), 0.0);
  EXPECT_EQ(RegularizedIncompleteBeta(2, 0.5, 1.0), 1.0);
  EXPECT_NEAR(RegularizedIncompleteBeta(50, 60, 0.45), 0.46423529143060363, 1e-13);
  EXPECT_NEAR(NormalCdf(-8) / 6.2209605742717841e-16, 1.0, 1e-12);  // no 1 - p cancellation
}

TEST(TheilSenTest, OutlierDoesNotMoveTheLineAndEqualXIsSkipped) {
  // Slopes 1 x6, 24.75, 32.7, 48.5, 96: median 1; y - x = 0 x4, 95: median 0.
  const auto line = TheilSen(std::vector<Point>{{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 100}});
  ASSERT_TRUE(line);
  EXPECT_EQ(line->slope, 1.0);
  EXPECT_EQ(line->intercept, 0.0);
  const auto tied = TheilSen(std::vector<Point>{{0, 0}, {0, 10}, {1, 1}});
  ASSERT_TRUE(tied);
  EXPECT_EQ(tied->slope, -4.0);  // (1 - 0) / 1 and (1 - 10) / 1; the x = 0 pair has no slope
  EXPECT_FALSE(TheilSen(std::vector<Point>{{2, 1}, {2, 3}}));
}

TEST(ResampleTest, DrawsAreTheSameOnEveryStandardLibrary) {
  // The standard fixes the 10000th output for the default seed; the expected indices come from
  // a Python mt19937_64 checked against that value.
  std::mt19937_64 check;
  check.discard(9999);
  EXPECT_EQ(check(), 9981545732273789042ull);
  EXPECT_EQ(ResampleIndices(42, 10), (std::vector<std::size_t>{6, 4, 0, 2, 1, 8, 6, 4, 0, 7}));
  EXPECT_TRUE(ResampleIndices(7, 0).empty());
  // Bound 2^63 + 1 rejects almost half the outputs: 5 are skipped before the first draw.
  std::mt19937_64 engine(1);
  EXPECT_EQ(DrawBelow(engine, (1ull << 63) + 1), 7588216632478230600ull);
  EXPECT_EQ(DrawBelow(engine, (1ull << 63) + 1), 1288452476385911039ull);
}

}  // namespace
}  // namespace speedup::stats
