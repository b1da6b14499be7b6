#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "base/policy.h"

// Order statistics and robust estimates of one sample: quantiles, the median's
// distribution-free interval, outlier fences and a robust line. Every value must be finite.
namespace speedup::stats {

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

struct Point {
  double x = 0.0;
  double y = 0.0;
};

struct Line {
  double slope = 0.0;
  double intercept = 0.0;
};

// Quantile by linear interpolation between order statistics (R type 7, numpy's default):
// p in [0, 1], `values` not empty; p = 0 and p = 1 give the extremes.
double Quantile(std::span<const double> values, double p);

// Quantile as above of `sorted`, already ascending and not empty: no copy, no sort.
double QuantileOfSorted(std::span<const double> sorted, double p);

// Middle value, or the mean of the two middle values for an even count; `values` not empty.
double Median(std::span<const double> values);

// Median as above of `values` (not empty), which it reorders in place: no copy.
double MedianInPlace(std::span<double> values);

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

// Theil-Sen line: median slope over all pairs with distinct x, then median of y - slope x.
// Empty when fewer than two distinct x.
std::optional<Line> TheilSen(std::span<const Point> points);

// TheilSen with the slopes and intercepts kept in `scratch`, for callers that fit many lines.
std::optional<Line> TheilSen(std::span<const Point> points, std::vector<double>& scratch);

}  // namespace speedup::stats
