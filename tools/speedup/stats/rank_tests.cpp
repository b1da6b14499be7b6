#include "stats/rank_tests.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numeric>

#include "stats/distributions.h"
#include "stats/rank_sum_law.h"

namespace speedup::stats {

using namespace detail;

std::optional<Correlation> SpearmanCorrelation(std::span<const double> x,
                                               std::span<const double> y) {
  const std::size_t n = x.size();
  if (n < 2 || y.size() != n) return std::nullopt;
  const std::vector<std::int64_t> a = RankDoubled(x).doubled;
  const std::vector<std::int64_t> b = RankDoubled(y).doubled;
  // Integer moments times n keep the exact path free of rounding. They grow as n^4 (2^63 at
  // about 51,000 values), so the products are taken 128 bits wide; the sums stay within 64.
  __extension__ using Wide = __int128;
  const auto count = static_cast<std::int64_t>(n);
  const std::int64_t sum_a = std::accumulate(a.begin(), a.end(), std::int64_t{0});
  const std::int64_t sum_b = std::accumulate(b.begin(), b.end(), std::int64_t{0});
  std::int64_t sum_aa = 0;
  std::int64_t sum_bb = 0;
  std::int64_t sum_ab = 0;
  for (std::size_t i = 0; i < n; ++i) {
    sum_aa += a[i] * a[i];
    sum_bb += b[i] * b[i];
    sum_ab += a[i] * b[i];
  }
  const Wide var_a = Wide{count} * sum_aa - Wide{sum_a} * sum_a;
  const Wide var_b = Wide{count} * sum_bb - Wide{sum_b} * sum_b;
  if (var_a == 0 || var_b == 0) return std::nullopt;
  const Wide centre = Wide{sum_a} * sum_b;
  const Wide observed = Wide{count} * sum_ab - centre;
  Correlation result;
  result.rho = std::clamp(static_cast<double>(observed) /
                              std::sqrt(static_cast<double>(var_a) * static_cast<double>(var_b)),
                          -1.0, 1.0);
  if (n <= EXACT_SPEARMAN_MAX) {
    // Permuting positions, not values, so tied ranks keep their multiplicities.
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::uint64_t extreme = 0;
    std::uint64_t total = 0;
    const auto magnitude = [](Wide value) { return value < 0 ? -value : value; };
    do {
      std::int64_t sum = 0;
      for (std::size_t i = 0; i < n; ++i) sum += a[i] * b[order[i]];
      if (magnitude(count * sum - centre) >= magnitude(observed)) ++extreme;
      ++total;
    } while (std::next_permutation(order.begin(), order.end()));
    result.p_value = static_cast<double>(extreme) / static_cast<double>(total);
    result.exact = true;
    return result;
  }
  // With t^2 = r^2 df / (1 - r^2), df / (df + t^2) is just 1 - r^2.
  const double r2 = result.rho * result.rho;
  result.p_value = RegularizedIncompleteBeta(static_cast<double>(n - 2) / 2.0, 0.5, 1.0 - r2, r2);
  return result;
}

RankSumTest MannWhitney(std::span<const double> x, std::span<const double> y) {
  const std::size_t n1 = x.size();
  const std::size_t n2 = y.size();
  RankSumTest result;
  if (n1 == 0 || n2 == 0) return result;
  const std::size_t n = n1 + n2;
  std::vector<double> pooled(x.begin(), x.end());
  pooled.insert(pooled.end(), y.begin(), y.end());
  const Ranking ranking = RankDoubled(pooled);
  const std::int64_t w_x =
      std::accumulate(ranking.doubled.begin(),
                      ranking.doubled.begin() + static_cast<std::ptrdiff_t>(n1), std::int64_t{0});
  result.u = static_cast<double>(w_x) / 2.0 - static_cast<double>(n1 * (n1 + 1)) / 2.0;
  if (n <= EXACT_RANK_SUM_MAX) {
    // |2U - n1 n2| is how far x's doubled rank sum lies from its mean.
    const auto expected = static_cast<std::int64_t>(n1 * (n + 1));
    const RankSumLaw law(ranking.doubled, n1, n2);
    result.p_value = law.Tail(static_cast<std::uint64_t>(std::abs(w_x - expected)));
    result.exact = true;
    return result;
  }
  result.p_value = NormalRankSumP(n1, n2, result.u, ranking.tie_term);
  return result;
}

ShiftEstimate HodgesLehmann(std::span<const double> x, std::span<const double> y, double target) {
  std::vector<double> xs(x.begin(), x.end());
  std::vector<double> ys(y.begin(), y.end());
  std::sort(xs.begin(), xs.end());
  std::sort(ys.begin(), ys.end());
  if (xs.empty() || ys.empty()) return {};
  const auto pairs_at_most = [&](double v) { return PairsAtMost(xs, ys, v); };
  const auto list = [&](double low, double high, std::vector<double>& out) {
    ListPairsBetween(xs, ys, low, high, out);
  };
  // Listing costs a count's time once the bracket holds a few pairs per value.
  const std::uint64_t few = 4 * (xs.size() + ys.size());
  return ShiftBySelection(
      LawOf(xs, ys), UntiedLaw(xs.size(), ys.size()), target,
      [&](std::uint64_t k) {
        return SelectKth(k, ys.front() - xs.back(), ys.back() - xs.front(), few, pairs_at_most,
                         list);
      },
      pairs_at_most);
}

double SmallestRankSumP(std::size_t n1, std::size_t n2) {
  if (n1 == 0 || n2 == 0) return 1.0;
  if (n1 + n2 <= EXACT_RANK_SUM_MAX) return 2.0 * ExactUTail(n1, n2)[0];
  return NormalRankSumP(n1, n2, 0.0, 0.0);
}

double SmallestSpearmanP(std::size_t n) {
  if (n > EXACT_SPEARMAN_MAX) return 0.0;
  double orderings = 1.0;
  for (std::size_t i = 2; i <= n; ++i) orderings *= static_cast<double>(i);
  return std::min(1.0, 2.0 / orderings);
}

std::vector<double> HolmAdjust(std::span<const double> p_values) {
  const std::size_t m = p_values.size();
  std::vector<std::size_t> order(m);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return p_values[a] < p_values[b] || (p_values[a] == p_values[b] && a < b);
  });
  std::vector<double> adjusted(m);
  double running = 0.0;
  for (std::size_t i = 0; i < m; ++i) {
    const double scaled = std::min(1.0, static_cast<double>(m - i) * p_values[order[i]]);
    running = std::max(running, scaled);
    adjusted[order[i]] = running;
  }
  return adjusted;
}
}  // namespace speedup::stats
