#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "base/policy.h"

// Pure statistics: order statistics, rank tests, robust estimates and resampling, each checked
// against published tables. Every value passed in must be finite.
namespace speedup::stats {

struct Interval {
  double low = 0.0;
  double high = 0.0;
};

// Order-statistic interval for a median: 1-based ranks into the sorted values and the
// confidence the interval actually reaches.
struct RankInterval {
  std::size_t low_rank = 0;
  std::size_t high_rank = 0;
  double confidence = 0.0;
};

struct MedianInterval {
  double low = 0.0;   // the low_rank-th smallest value
  double high = 0.0;  // the high_rank-th smallest value
  std::size_t low_rank = 0;
  std::size_t high_rank = 0;
  double confidence = 0.0;  // coverage reached, which may fall short of the target
};

struct Correlation {
  double rho = 0.0;
  double p_value = 1.0;  // two-sided, for "no correlation"
  bool exact = false;    // permutation distribution rather than the t approximation
};

struct RankSumTest {
  double u = 0.0;        // pairs with x > y, plus half the tied pairs; 0..n1*n2
  double p_value = 1.0;  // two-sided, for "same distribution"
  bool exact = false;    // exact permutation distribution rather than the normal approximation
};

struct ShiftEstimate {
  double shift = 0.0;  // Hodges-Lehmann estimate of y - x
  double low = 0.0;
  double high = 0.0;
  double confidence = 0.0;  // coverage reached by [low, high]; 0 when there is one pair only
  // The test rejects the end itself though it keeps every shift just inside it (ties put pairs
  // on it), so the interval is open there: (low, high] or [low, high).
  bool low_open = false, high_open = false;
};

struct Point {
  double x = 0.0;
  double y = 0.0;
};

struct Line {
  double slope = 0.0;
  double intercept = 0.0;
};

// Standard normal P(Z <= z), through std::erfc so that the far tails keep their precision.
double NormalCdf(double z);

// Regularized incomplete beta I_x(a, b) for a, b > 0 and x in [0, 1]; 0 at x = 0, 1 at x = 1.
double RegularizedIncompleteBeta(double a, double b, double x);

// Quantile by linear interpolation between order statistics (R type 7, numpy's default):
// p in [0, 1], `values` not empty; p = 0 and p = 1 give the extremes.
double Quantile(std::span<const double> values, double p);

// Middle value, or the mean of the two middle values for an even count; `values` not empty.
double Median(std::span<const double> values);

// Q3 - Q1 with type-7 quartiles; `values` not empty; 0 for a single value.
double InterquartileRange(std::span<const double> values);

// How many values lie outside [Q1 - 1.5 IQR, Q3 + 1.5 IQR] (type 7); a value on a fence is
// inside, and so is one beyond it by no more than `tolerance` times the larger quartile's size,
// so that rounding cannot move a value across a fence. With most values tied the IQR is 0 and
// every other value counts. 0 when empty. `slack`, when larger, replaces that tolerance by an
// absolute distance (a fraction of a clock tick, for times that are whole ticks).
std::size_t CountOutsideTukeyFences(std::span<const double> values,
                                    double tolerance = FENCE_TOLERANCE, double slack = 0.0);

// Ranks (k, n - k + 1) of the narrowest symmetric order-statistic interval for the median of
// n values whose coverage 1 - 2 P(Binomial(n, 1/2) <= k - 1) reaches `target` (in (0, 1));
// if even (1, n) falls short, that one with its own coverage. Empty for n < 2.
std::optional<RankInterval> MedianRanks(std::size_t n, double target = 0.95);

// Distribution-free interval for the median of `values` from MedianRanks; empty for fewer
// than 2 values. Ties do not matter: the bounds are values of the sample.
std::optional<MedianInterval> MedianConfidenceInterval(std::span<const double> values,
                                                       double target = 0.95);

// Spearman's rho on average ranks with a two-sided p-value: exact over all n! pairings for
// n <= EXACT_SPEARMAN_MAX (ties included), else t = rho sqrt((n - 2) / (1 - rho^2)) with n - 2
// degrees of freedom. x and y the same size. Empty when n < 2 or either side is constant.
std::optional<Correlation> SpearmanCorrelation(std::span<const double> x,
                                               std::span<const double> y);

// Mann-Whitney U of x against y with a two-sided p-value. Exact up to EXACT_RANK_SUM_MAX values
// in all, over the pooled midranks so ties are exact too (p = P(|W - E W| >= observed));
// above it, normal with tie and continuity corrections. p = 1 when either sample is empty.
RankSumTest MannWhitney(std::span<const double> x, std::span<const double> y);

// Hodges-Lehmann shift of y - x (median of the n1*n2 differences y_j - x_i) with Moses'
// interval: the k-th smallest and k-th largest difference, where k inverts MannWhitney's own
// two-sided test under its own law (exact over the pooled midranks, ties included, up to
// EXACT_RANK_SUM_MAX values, else normal with the tie and continuity corrections): a shift lies
// inside when the test of y against x moved by it, at the observed pattern of ties, gives
// p >= 1 - target. So the interval leaves out 0 exactly when MannWhitney(x, y) gives
// p < 1 - target. If even k = 1 falls short, k = 1 with its own coverage. An empty sample gives
// all zeros. Apply it to log times for a ratio y / x = exp(shift). The differences are never
// listed: each is selected by bisection over counts of pairs, in O((n1 + n2) log) time and
// O(n1 + n2) memory.
ShiftEstimate HodgesLehmann(std::span<const double> x, std::span<const double> y,
                            double target = 0.95);

// A pooled sample sorted once, so that each part of it (a node's runs in a fleet) can be set
// against the rest of the pool without pooling, ranking or pairing the rest again.
struct Pool {
  std::vector<double> sorted;  // every value, ascending
  double tie_term = 0.0;       // sum of t^3 - t over groups of t tied values
};

Pool MakePool(std::span<const double> values);

// The "AgainstRest" functions give exactly what the plain ones give for (rest, part), where rest
// is `pool` less one copy of each value of `part`; every value of `part` must be in the pool.

// Median of the rest, which must not be empty; O(|part| log |pool|) steps per value bisected.
double MedianOfRest(const Pool& pool, std::span<const double> part);

// MannWhitney(rest, part), from the pool's midranks: O(|part| log |pool|) above
// EXACT_RANK_SUM_MAX pooled values.
RankSumTest MannWhitneyAgainstRest(const Pool& pool, std::span<const double> part);

// HodgesLehmann(rest, part, target): O(|part| log |pool|) per count, 64 counts per difference
// selected.
ShiftEstimate HodgesLehmannAgainstRest(const Pool& pool, std::span<const double> part,
                                       double target = 0.95);

// The smallest two-sided p that MannWhitney can give for n1 against n2 values (both at least 1),
// under the law it uses: 2 / C(n1 + n2, n1) from the exact distribution up to
// EXACT_RANK_SUM_MAX values, the normal approximation's smallest above. Ties only raise it.
double SmallestRankSumP(std::size_t n1, std::size_t n2);

// The smallest two-sided p that SpearmanCorrelation can give for n pairs (at least 2): 2 / n!
// from the permutation distribution up to EXACT_SPEARMAN_MAX, else 0.
double SmallestSpearmanP(std::size_t n);

// Holm step-down adjusted p-values in input order: sorted ascending, the i-th (from 0) of m is
// (m - i) p, made non-decreasing along the sort and capped at 1. Empty in, empty out.
std::vector<double> HolmAdjust(std::span<const double> p_values);

// Theil-Sen line: median slope over all pairs with distinct x, then median of y - slope x.
// Empty when fewer than two distinct x.
std::optional<Line> TheilSen(std::span<const Point> points);

// Uniform integer in [0, bound) by rejection on the raw 64-bit output, so that every standard
// library gives the same draws (std::uniform_int_distribution does not); bound > 0.
std::uint64_t DrawBelow(std::mt19937_64& engine, std::uint64_t bound);

// n indices in [0, n) drawn with replacement by DrawBelow from `engine`, for a bootstrap
// replicate over whole runs.
std::vector<std::size_t> ResampleIndices(std::mt19937_64& engine, std::size_t n);

// ResampleIndices from a fresh std::mt19937_64 seeded with `seed`: the same indices everywhere.
std::vector<std::size_t> ResampleIndices(std::uint64_t seed, std::size_t n);

// Percentile bootstrap interval: type-7 quantiles (1 - confidence) / 2 and (1 + confidence) / 2
// of `replicates`, which must not be empty; confidence in [0, 1].
Interval PercentileInterval(std::span<const double> replicates, double confidence = 0.95);

}  // namespace speedup::stats
