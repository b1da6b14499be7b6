#include "stats/rank_tests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <random>
#include <vector>

#include "rank_law_support.h"
#include "stats/distributions.h"

namespace speedup::stats {
namespace {

// Hollander & Wolfe (1973) p. 69, R's ?wilcox.test example: W = 35, one-sided exact p = 0.1272.
const Values TERM = {0.80, 0.83, 1.89, 1.04, 1.45, 1.38, 1.91, 1.64, 0.73, 1.46};
const Values EARLY = {1.15, 0.88, 0.90, 0.74, 1.21};

Values Ramp(double slope, double offset) {
  Values values;
  for (int i = 0; i < 30; ++i) values.push_back(slope * i + offset);
  return values;
}

TEST(SpearmanTest, SmallSamplesCountEveryPairingWithTies) {
  // p by enumerating all n! pairings of midranks in Python (fractions).
  const struct {
    Values x, y;
    double rho, p;
  } cases[] = {{{1, 2, 3, 4, 5}, {2, 1, 4, 3, 5}, 0.8, 2.0 / 15},
               {{1, 2, 3, 4, 5, 6}, {1, 1, 2, 2, 3, 3}, 0.95618288746751491, 1.0 / 45},
               {{1, 2}, {3, 1}, -1.0, 1.0}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const auto& c = cases[i];
    const auto r = SpearmanCorrelation(c.x, c.y);
    EXPECT_TRUE(r);
    if (!r) continue;
    EXPECT_NEAR(r->rho, c.rho, 1e-15);
    EXPECT_NEAR(r->p_value, c.p, 1e-15);
    EXPECT_TRUE(r->exact);
  }
  EXPECT_FALSE(SpearmanCorrelation(Values{1, 2, 3}, Values{4, 4, 4}));
  EXPECT_FALSE(SpearmanCorrelation(Values{1}, Values{2}));
}

TEST(SpearmanTest, LargerSamplesUseTheTApproximation) {
  // Wikipedia "Spearman's rank correlation coefficient": sum d^2 = 194, rho = -29/165, one-sided
  // p 0.6864058. The tied drift of clock readings against run number: mpmath quadrature.
  const struct {
    Values x, y;
    double rho, p;
  } cases[] = {{{106, 100, 86, 101, 99, 103, 97, 113, 112, 110},
                {7, 27, 2, 50, 28, 29, 20, 12, 6, 17},
                -29.0 / 165,
                2 * (1 - 0.68640583)},
               {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
                {105, 104, 104, 103, 104, 102, 102, 103, 101, 101, 102, 100},
                -0.89337987275326531,
                9.0503933136586469e-5}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const auto& c = cases[i];
    const auto r = SpearmanCorrelation(c.x, c.y);
    EXPECT_TRUE(r);
    if (!r) continue;
    EXPECT_NEAR(r->rho, c.rho, 1e-14);
    EXPECT_NEAR(r->p_value / c.p, 1.0, 1e-6);
    EXPECT_FALSE(r->exact);
  }
}

// 1-based average ranks in input order, ties sharing the mean of the ranks they span: the
// reference the tool's own integer ranking is checked against.
Values AverageRanks(const Values& values) {
  std::vector<std::size_t> order(values.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return values[a] < values[b]; });
  Values ranks(values.size());
  for (std::size_t first = 0; first < order.size();) {
    std::size_t last = first;
    while (last + 1 < order.size() && values[order[last + 1]] == values[order[first]]) ++last;
    for (std::size_t i = first; i <= last; ++i) ranks[order[i]] = (first + last) / 2.0 + 1.0;
    first = last + 1;
  }
  return ranks;
}

TEST(SpearmanTest, ManyRunsKeepTheSignAndSizeOfTheirDrift) {
  // Catches the n * sum of squared ranks overflowing 64 bits from about 51,000 runs (undefined;
  // at 80,000 the drift's sign came out reversed). The reference is Pearson's r on the average
  // ranks in long double, where these sums are exact.
  const struct {
    std::size_t n;
    int slope;   // of y against x
    int wobble;  // y's period of noise around the slope
  } cases[] = {{60000, 1, 7}, {80000, 1, 7}, {80000, -1, 5}, {120000, 1, 1000}, {200000, -1, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    Values x, y;
    for (std::size_t i = 0; i < c.n; ++i) {
      x.push_back(static_cast<double>(i));
      y.push_back(c.slope * static_cast<double>(i) + static_cast<double>(i * 7919 % c.wobble));
    }
    const Values a = AverageRanks(x), b = AverageRanks(y);
    long double mean_a = 0, mean_b = 0;
    for (std::size_t i = 0; i < c.n; ++i) mean_a += a[i], mean_b += b[i];
    mean_a /= c.n, mean_b /= c.n;
    long double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < c.n; ++i) {
      ab += (a[i] - mean_a) * (b[i] - mean_b);
      aa += (a[i] - mean_a) * (a[i] - mean_a);
      bb += (b[i] - mean_b) * (b[i] - mean_b);
    }
    const auto rho = SpearmanCorrelation(x, y);
    EXPECT_TRUE(rho);
    if (!rho) continue;
    EXPECT_NEAR(rho->rho, static_cast<double>(ab / std::sqrt(aa * bb)), 1e-9);
    EXPECT_LT(rho->p_value, 1e-6);
  }
}

TEST(MannWhitneyTest, ExactPValuesMatchPublishedAndEnumerated) {
  // TERM vs EARLY: two-sided is twice R's 0.1272, 764/3003 by enumerating C(15, 5) in Python;
  // the tied cases enumerate the pooled midranks the same way.
  const struct {
    Values x, y;
    double u, p;
  } cases[] = {{TERM, EARLY, 35, 764.0 / 3003},
               {{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}, 0, 2.0 / 252},
               {{3, 3, 3}, {3, 3, 3}, 4.5, 1.0},
               {{1, 2, 2, 3, 3, 3}, {2, 3, 3, 4, 4, 5}, 7, 25.0 / 231},
               {{5, 5, 6}, {5, 6, 6, 7}, 3, 0.4}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const auto& c = cases[i];
    const RankSumTest test = MannWhitney(c.x, c.y);
    EXPECT_EQ(test.u, c.u);
    EXPECT_NEAR(test.p_value, c.p, 1e-15);
    EXPECT_TRUE(test.exact);
    EXPECT_EQ(MannWhitney(c.y, c.x).u, c.x.size() * c.y.size() - c.u);  // U counted for x
    EXPECT_NEAR(MannWhitney(c.y, c.x).p_value, c.p, 1e-15);
  }
}

TEST(MannWhitneyTest, LargeTiedSamplesUseTieAndContinuityCorrections) {
  // 26 vs 26 clock readings: U = 96, sum t^3 - t = 10140; p from the formula at 30 digits.
  Values x(26, 11.0), y(26, 12.0);
  std::fill_n(x.begin(), 10, 10.0);
  std::fill_n(x.begin() + 20, 6, 12.0);
  std::fill_n(y.begin(), 6, 11.0);
  std::fill_n(y.begin() + 16, 10, 13.0);
  const RankSumTest test = MannWhitney(x, y);
  EXPECT_FALSE(test.exact);
  EXPECT_EQ(test.u, 96.0);
  EXPECT_NEAR(test.p_value / 4.4678137971073412e-6, 1.0, 1e-10);
  EXPECT_EQ(MannWhitney(Values(30, 1.0), Values(30, 1.0)).p_value, 1.0);
}

TEST(HodgesLehmannTest, MosesIntervalUsesTheUCriticalValue) {
  // m = n = 5: tabled two-sided 5% critical U is 2, so k = 3 at 1 - 2 * 4/252 = 61/63. The
  // TERM/EARLY interval and its 961/1001 come from enumerating U in Python; the 30 vs 30 ramps
  // (900 distinct differences) take the normal path, k = 317 with mpmath's normal CDF.
  const struct {
    Values x, y;
    double shift, low, high, confidence;
  } cases[] = {{{1, 2, 3, 4, 5}, {11, 12, 13, 14, 15}, 10, 7, 13, 61.0 / 63},
               {TERM, EARLY, -0.305, -0.76, 0.15, 961.0 / 1001},
               {{1, 2}, {3, 4, 5}, 2.5, 1, 4, 0.8},
               {{0}, {1}, 1, 1, 1, 0},
               {Ramp(1.0, 0.0), Ramp(1.01, 5.5), 5.645, 0.66, 10.63, 0.95158650053518634}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const auto& c = cases[i];
    const ShiftEstimate e = HodgesLehmann(c.x, c.y);
    EXPECT_NEAR(e.shift, c.shift, 1e-12);
    EXPECT_NEAR(e.low, c.low, 1e-12);
    EXPECT_NEAR(e.high, c.high, 1e-12);
    EXPECT_NEAR(e.confidence, c.confidence, 1e-15);
  }
}

TEST(HodgesLehmannTest, SelectionGivesWhatSortingAllDifferencesGave) {
  // Catches a selection that picks a neighbour of the k-th difference (an off-by-one in the
  // bisection or the pair count), a wrong k for the interval, or ties counted twice or not at all.
  const struct {
    std::size_t n1, n2;
    int levels;
    double shift;
  } cases[] = {{1, 1, 0, 0.0},   {1, 7, 0, 1.0},     {5, 5, 0, 0.5},      {12, 30, 0, -2.0},
               {25, 25, 0, 0.1}, {9, 14, 3, 0.0},    {20, 20, 1, 0.0},    {40, 33, 0, 0.3},
               {60, 90, 2, 0.2}, {200, 150, 0, 0.0}, {120, 130, 8, -0.1}, {7, 300, 0, 5.0}};
  std::mt19937_64 engine(18);
  for (const auto& c : cases) {
    for (int draw = 0; draw < 3; ++draw) {
      const Values x = Drawn(engine, c.n1, c.levels, 0.0);
      const Values y = Drawn(engine, c.n2, c.levels, c.shift);
      const ShiftEstimate expected = BruteForceHodgesLehmann(x, y);
      const ShiftEstimate e = HodgesLehmann(x, y);
      EXPECT_EQ(e.shift, expected.shift) << c.n1 << " x " << c.n2 << " levels " << c.levels;
      EXPECT_EQ(e.low, expected.low) << c.n1 << " x " << c.n2 << " levels " << c.levels;
      EXPECT_EQ(e.high, expected.high) << c.n1 << " x " << c.n2 << " levels " << c.levels;
      EXPECT_EQ(e.confidence, expected.confidence) << c.n1 << " x " << c.n2;
      EXPECT_EQ(e.low_open, expected.low_open) << c.n1 << " x " << c.n2 << " levels " << c.levels;
      EXPECT_EQ(e.high_open, expected.high_open) << c.n1 << " x " << c.n2;
    }
  }
}

TEST(HodgesLehmannTest, IntervalLeavesOutNoShiftExactlyWhenTheTestRejectsUnderTies) {
  // Catches an interval taken from the tie-free law while the p-value uses the tied one: with
  // whole-millisecond ties, rows had p < 0.05 while the interval still held a shift of 0.
  struct Case {
    std::size_t n1, n2;
    double base_ms, shift_ms, noise_ms;
  };
  const Case cases[] = {{10, 10, 50, 1.5, 0.8}, {10, 10, 50, 1.0, 0.6}, {6, 6, 30, 1.0, 0.5},
                        {12, 9, 100, 2.0, 1.0}, {25, 25, 50, 0.5, 0.7}, {5, 5, 50, 2.0, 0.4},
                        {20, 20, 33, 1.0, 0.9}, {15, 30, 50, 1.5, 1.2}};
  std::mt19937_64 engine(19);
  std::size_t rejected = 0, kept = 0;
  for (const Case& c : cases) {
    std::normal_distribution<double> noise(0.0, c.noise_ms);
    for (int draw = 0; draw < 40; ++draw) {
      Values x, y;
      for (std::size_t i = 0; i < c.n1; ++i)
        x.push_back(std::log(std::round(c.base_ms + noise(engine))));
      for (std::size_t i = 0; i < c.n2; ++i)
        y.push_back(std::log(std::round(c.base_ms + c.shift_ms + noise(engine))));
      const ShiftEstimate e = HodgesLehmann(x, y);
      const RankSumTest test = MannWhitney(x, y);
      const bool outside = e.low > 0.0 || e.high < 0.0 || (e.low == 0.0 && e.low_open) ||
                           (e.high == 0.0 && e.high_open);
      EXPECT_EQ(outside, test.p_value < 0.05)
          << c.n1 << " x " << c.n2 << " draw " << draw << ": p " << test.p_value << ", [" << e.low
          << ", " << e.high << "]";
      (outside ? rejected : kept) += 1;
    }
  }
  EXPECT_GT(rejected, 0u) << "the table must hold rows the test rejects";
  EXPECT_GT(kept, 0u) << "and rows it keeps";
}

TEST(HodgesLehmannTest, SamplesOfOneTiedValueClaimNoLessThanTheyHave) {
  // Catches a row of 30 identical readings against 30 more, where the normal law's variance is
  // 0: the interval was named as reaching 0% confidence (and "95%" with 25 a side, exactly).
  for (const std::size_t n : {5u, 25u, 26u, 30u, 100u}) {
    SCOPED_TRACE(n);
    const ShiftEstimate e = HodgesLehmann(Values(n, 0.021), Values(n, 0.021));
    EXPECT_EQ(e.low, 0.0);
    EXPECT_EQ(e.high, 0.0);
    EXPECT_GE(e.confidence, 0.95);
    EXPECT_EQ(MannWhitney(Values(n, 0.021), Values(n, 0.021)).p_value, 1.0);
  }
}

TEST(RankSumTest, SmallestAttainablePComesFromTheExactLaw) {
  // Catches a claim that a verdict is possible (or not) from a p the test can never give: with
  // n1 against n2 distinct values the two extreme orderings are the only ones as extreme, so the
  // smallest p is 2 / C(n1 + n2, n1), what MannWhitney gives for wholly separated samples.
  const struct {
    std::size_t n1, n2;
  } cases[] = {{1, 1}, {2, 3}, {3, 3}, {5, 5}, {6, 6}, {4, 9}, {10, 10}, {25, 25}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.n1) + " x " + std::to_string(c.n2));
    Values x, y;
    for (std::size_t i = 0; i < c.n1; ++i) x.push_back(static_cast<double>(i));
    for (std::size_t i = 0; i < c.n2; ++i) y.push_back(100.0 + static_cast<double>(i));
    double choose = 1.0;
    for (std::size_t i = 1; i <= c.n1; ++i)
      choose = choose * static_cast<double>(c.n2 + i) / static_cast<double>(i);
    EXPECT_NEAR(SmallestRankSumP(c.n1, c.n2), std::min(1.0, 2.0 / choose), 1e-15);
    EXPECT_EQ(SmallestRankSumP(c.n1, c.n2), MannWhitney(x, y).p_value);
  }
  // 5 runs a side over 21 rows: Holm's smallest is 21 * 2 / 252 = 0.083, never below 0.05.
  EXPECT_GT(21 * SmallestRankSumP(5, 5), SIGNIFICANCE);
  EXPECT_LT(21 * SmallestRankSumP(6, 6), SIGNIFICANCE);
}

TEST(SpearmanTest, SmallestAttainablePIsTwoOrderingsOfAll) {
  // Catches drift judged on runs too few to ever show it: below 5 runs 2 / n! is 0.083 or more.
  for (std::size_t n = 2; n <= EXACT_SPEARMAN_MAX; ++n) {
    SCOPED_TRACE(n);
    Values order, times;
    for (std::size_t i = 0; i < n; ++i) {
      order.push_back(static_cast<double>(i));
      times.push_back(10.0 + static_cast<double>(i));
    }
    EXPECT_NEAR(SmallestSpearmanP(n), SpearmanCorrelation(order, times)->p_value, 1e-15);
  }
  EXPECT_GE(SmallestSpearmanP(4), SIGNIFICANCE);
  EXPECT_LT(SmallestSpearmanP(5), SIGNIFICANCE);
}

TEST(HodgesLehmannTest, SixtyThousandRunsASideNeedNoListOfAllPairs) {
  // Catches listing all 3.6e9 differences (29 GB: std::bad_alloc). On two ramps a step apart
  // the difference j - i + shift comes n - |j - i| times, so its k-th smallest is known.
  const std::size_t n = 60000;
  const double shift = 7.0;
  Values x, y;
  for (std::size_t i = 0; i < n; ++i) {
    x.push_back(static_cast<double>(i));
    y.push_back(static_cast<double>(i) + shift);
  }
  ShiftEstimate e;
  ASSERT_NO_THROW(e = HodgesLehmann(x, y));
  EXPECT_EQ(e.shift, shift);
  EXPECT_EQ(e.low + e.high, 2.0 * shift) << "the interval of a symmetric case is symmetric";
  // The lower end is the k-th smallest difference, k from the normal approximation.
  const double m = static_cast<double>(n) * static_cast<double>(n);
  // The ramps share n - 7 values, each tied once: the law's variance has the tie correction.
  const double pooled = 2.0 * n;
  const double ties = 6.0 * static_cast<double>(n - 7);
  const double sigma = std::sqrt(m / 12.0 * ((pooled + 1.0) - ties / (pooled * (pooled - 1.0))));
  const auto coverage = [&](double k) {
    return 1.0 - 2.0 * NormalCdf((k - 0.5 - m / 2.0) / sigma);
  };
  double below = 0.0;  // differences below e.low
  for (double d = -static_cast<double>(n) + 1 + shift; d < e.low; ++d)
    below += static_cast<double>(n) - std::fabs(d - shift);
  const double at_or_below = below + static_cast<double>(n) - std::fabs(e.low - shift);
  // k lies in (below, at_or_below]; the largest k reaching 95% is in there.
  double k = std::floor(m / 2.0 - 1.959963984540054 * sigma);
  while (coverage(k + 1) >= 0.95) ++k;
  while (coverage(k) < 0.95) --k;
  EXPECT_GT(k, below);
  EXPECT_LE(k, at_or_below);
  EXPECT_NEAR(e.confidence, coverage(k), 1e-14);
}

TEST(HolmTest, AdjustedValuesAreMonotoneCappedAndInInputOrder) {
  // By hand: sorted 0.005 x4, 0.01 x3, 0.03 x2, 0.04 x1 -> 0.02, 0.03, 0.06, max(0.04, 0.06).
  const struct {
    Values p, adjusted;
  } cases[] = {{{0.01, 0.04, 0.03, 0.005}, {0.03, 0.06, 0.06, 0.02}},
               {{0.6, 0.5}, {1.0, 1.0}},
               {{0.02, 0.02, 0.02}, {0.06, 0.06, 0.06}},
               {{}, {}}};
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    SCOPED_TRACE(k);
    const Values adjusted = HolmAdjust(cases[k].p);
    EXPECT_EQ(adjusted.size(), cases[k].adjusted.size());
    if (adjusted.size() != cases[k].adjusted.size()) continue;
    for (std::size_t i = 0; i < adjusted.size(); ++i) {
      EXPECT_DOUBLE_EQ(adjusted[i], cases[k].adjusted[i]) << "p-value " << i;
    }
  }
}

}  // namespace
}  // namespace speedup::stats
