#include "stats/quantiles.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace speedup::stats {

namespace {

// Largest k in 1 .. limit whose coverage(k) reaches target, or 1 when none does.
template <typename Coverage>
std::size_t WidestReach(std::size_t limit, double target, Coverage coverage) {
  std::size_t k = 1;
  while (k + 1 <= limit && coverage(k + 1) >= target) ++k;
  return k;
}

}  // namespace

double QuantileOfSorted(std::span<const double> sorted, double p) {
  const double h = static_cast<double>(sorted.size() - 1) * p;
  const auto below = static_cast<std::size_t>(std::floor(h));
  if (below + 1 >= sorted.size()) return sorted.back();
  const double fraction = h - static_cast<double>(below);
  return sorted[below] + fraction * (sorted[below + 1] - sorted[below]);
}

double Quantile(std::span<const double> values, double p) {
  // Values already in order (Estimated sorts once for its five summaries) are read as they are.
  if (std::is_sorted(values.begin(), values.end())) return QuantileOfSorted(values, p);
  std::vector<double> sorted(values.begin(), values.end());
  std::sort(sorted.begin(), sorted.end());
  return QuantileOfSorted(sorted, p);
}

double MedianInPlace(std::span<double> values) {
  // A handful (Theil-Sen's slopes over a few team sizes, a thousand times per node) is sorted
  // by insertion: std::nth_element's set-up cost more than the work on so few.
  constexpr std::size_t HANDFUL = 12;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  if (values.size() <= HANDFUL) {
    for (auto next = values.begin() + 1; next < values.end(); ++next) {
      const double value = *next;
      auto slot = next;
      for (; slot != values.begin() && value < *(slot - 1); --slot) *slot = *(slot - 1);
      *slot = value;
    }
    if (values.size() % 2 == 1) return *middle;
    return (*(middle - 1) + *middle) / 2.0;
  }
  std::nth_element(values.begin(), middle, values.end());
  if (values.size() % 2 == 1) return *middle;
  return (*std::max_element(values.begin(), middle) + *middle) / 2.0;
}

double Median(std::span<const double> values) {
  // A few values (a node's runs) are copied onto the stack: allocating for each took a fleet's
  // merge as long as the medians themselves.
  constexpr std::size_t FEW = 32;
  std::array<double, FEW> few{};
  std::vector<double> many;
  double* first = few.data();
  if (values.size() > FEW) {
    many.assign(values.begin(), values.end());
    first = many.data();
  } else {
    std::copy(values.begin(), values.end(), first);
  }
  return MedianInPlace({first, values.size()});
}

double InterquartileRange(std::span<const double> values) {
  return Quantile(values, 0.75) - Quantile(values, 0.25);
}

std::size_t CountOutsideTukeyFences(std::span<const double> values, double tolerance,
                                    double least_slack) {
  if (values.empty()) return 0;
  const double q1 = Quantile(values, 0.25);
  const double q3 = Quantile(values, 0.75);
  // Rounding can put a value on a fence a few units in the last place beyond it (0.052 - 0.050
  // is 0.001999999999999995): only a distance beyond the tolerance, relative to the quartiles'
  // size, counts.
  const double slack = std::max(least_slack, tolerance * std::max(std::fabs(q1), std::fabs(q3)));
  const double low = q1 - 1.5 * (q3 - q1) - slack;
  const double high = q3 + 1.5 * (q3 - q1) + slack;
  return static_cast<std::size_t>(
      std::count_if(values.begin(), values.end(), [&](double v) { return v < low || v > high; }));
}

std::optional<RankInterval> MedianRanks(std::size_t n, double target) {
  if (n < 2) return std::nullopt;
  const std::size_t limit = (n + 1) / 2;
  // tail[j] = P(B <= j); the pmf is stepped in logs because 2^-n underflows for large n.
  std::vector<double> tail(limit);
  double log_pmf = -static_cast<double>(n) * std::numbers::ln2;
  double sum = 0.0;
  for (std::size_t j = 0; j < limit; ++j) {
    sum += std::exp(log_pmf);
    tail[j] = sum;
    log_pmf += std::log(static_cast<double>(n - j) / static_cast<double>(j + 1));
  }
  const auto coverage = [&](std::size_t k) { return 1.0 - 2.0 * tail[k - 1]; };
  const std::size_t k = WidestReach(limit, target, coverage);
  return RankInterval{k, n - k + 1, coverage(k)};
}

std::optional<MedianInterval> MedianConfidenceInterval(std::span<const double> values,
                                                       double target) {
  const std::optional<RankInterval> ranks = MedianRanks(values.size(), target);
  if (!ranks) return std::nullopt;
  const auto interval = [&](std::span<const double> sorted) {
    return MedianInterval{sorted[ranks->low_rank - 1], sorted[ranks->high_rank - 1],
                          ranks->low_rank, ranks->high_rank, ranks->confidence};
  };
  if (std::is_sorted(values.begin(), values.end())) return interval(values);
  std::vector<double> sorted(values.begin(), values.end());
  std::sort(sorted.begin(), sorted.end());
  return interval(sorted);
}

std::optional<Line> TheilSen(std::span<const Point> points) {
  std::vector<double> scratch;
  return TheilSen(points, scratch);
}

std::optional<Line> TheilSen(std::span<const Point> points, std::vector<double>& scratch) {
  scratch.clear();
  for (std::size_t i = 0; i < points.size(); ++i) {
    for (std::size_t j = i + 1; j < points.size(); ++j) {
      if (points[i].x == points[j].x) continue;
      scratch.push_back((points[j].y - points[i].y) / (points[j].x - points[i].x));
    }
  }
  if (scratch.empty()) return std::nullopt;
  Line line;
  line.slope = MedianInPlace(scratch);
  scratch.clear();
  for (const Point& point : points) scratch.push_back(point.y - line.slope * point.x);
  line.intercept = MedianInPlace(scratch);
  return line;
}

}  // namespace speedup::stats
