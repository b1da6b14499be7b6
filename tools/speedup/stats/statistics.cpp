#include "stats/statistics.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <numbers>
#include <numeric>

namespace speedup::stats {

namespace {

// Doubled midranks are whole numbers, so exact distributions can count sums without rounding.
struct Ranking {
  std::vector<std::int64_t> doubled;  // twice the average rank, input order
  double tie_term = 0.0;              // sum of t^3 - t over groups of t tied values
};

Ranking RankDoubled(std::span<const double> values) {
  const std::size_t n = values.size();
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  // Ties keep their input order, as a stable sort would (std::stable_sort's temporary buffer is
  // deprecated under Clang 19 with this standard library).
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return values[a] < values[b] || (values[a] == values[b] && a < b);
  });
  Ranking ranking;
  ranking.doubled.resize(n);
  for (std::size_t first = 0; first < n;) {
    std::size_t end = first + 1;
    while (end < n && values[order[end]] == values[order[first]]) ++end;
    // Ranks first + 1 .. end average to (first + 1 + end) / 2.
    const auto doubled = static_cast<std::int64_t>(first + 1 + end);
    for (std::size_t i = first; i < end; ++i) ranking.doubled[order[i]] = doubled;
    const auto t = static_cast<double>(end - first);
    ranking.tie_term += t * t * t - t;
    first = end;
  }
  return ranking;
}

// counts[s]: how many ways `picks` of the doubled ranks sum to s.
std::vector<std::uint64_t> RankSumCounts(std::span<const std::int64_t> doubled, std::size_t picks) {
  const auto total =
      static_cast<std::size_t>(std::accumulate(doubled.begin(), doubled.end(), std::int64_t{0}));
  const std::size_t width = total + 1;
  std::vector<std::uint64_t> table((picks + 1) * width, 0);
  table[0] = 1;
  std::size_t seen = 0;
  for (const std::int64_t rank : doubled) {
    const auto r = static_cast<std::size_t>(rank);
    ++seen;
    // Downwards, so that each rank joins a subset at most once.
    for (std::size_t c = std::min(seen, picks); c >= 1; --c) {
      for (std::size_t s = total; s >= r; --s)
        table[c * width + s] += table[(c - 1) * width + s - r];
    }
  }
  return {table.begin() + static_cast<std::ptrdiff_t>(picks * width), table.end()};
}

// P(U <= c) for c = 0 .. n1 n2, U the Mann-Whitney statistic of n1 against n2 tie-free values.
std::vector<double> ExactUTail(std::size_t n1, std::size_t n2) {
  const std::size_t small = std::min(n1, n2);
  std::vector<std::int64_t> doubled(n1 + n2);
  for (std::size_t i = 0; i < doubled.size(); ++i)
    doubled[i] = 2 * static_cast<std::int64_t>(i + 1);
  const std::vector<std::uint64_t> counts = RankSumCounts(doubled, small);
  // U is symmetric and has the same law for either sample, so the smaller one's U will do.
  const std::size_t offset = small * (small + 1);
  std::vector<double> tail(n1 * n2 + 1, 0.0);
  std::uint64_t total = 0;
  for (std::size_t s = offset; s < counts.size(); s += 2) {
    total += counts[s];
    const std::size_t u = (s - offset) / 2;
    if (u < tail.size()) tail[u] = static_cast<double>(total);
  }
  for (double& value : tail) value /= static_cast<double>(total);
  return tail;
}

// Continued fraction for I_x(a, b) by the modified Lentz method (Numerical Recipes' betacf).
double BetaContinuedFraction(double a, double b, double x) {
  constexpr int MAX_TERMS = 500;
  constexpr double EPSILON = 1e-16;
  constexpr double TINY = 1e-300;  // keeps a zero denominator from stopping the recurrence
  const double qab = a + b;
  const double qap = a + 1.0;
  const double qam = a - 1.0;
  double c = 1.0;
  double d = 1.0 - qab * x / qap;
  if (std::fabs(d) < TINY) d = TINY;
  d = 1.0 / d;
  double h = d;
  for (int m = 1; m <= MAX_TERMS; ++m) {
    const double m2 = 2.0 * m;
    double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
    d = 1.0 + aa * d;
    if (std::fabs(d) < TINY) d = TINY;
    c = 1.0 + aa / c;
    if (std::fabs(c) < TINY) c = TINY;
    d = 1.0 / d;
    h *= d * c;
    aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
    d = 1.0 + aa * d;
    if (std::fabs(d) < TINY) d = TINY;
    c = 1.0 + aa / c;
    if (std::fabs(c) < TINY) c = TINY;
    d = 1.0 / d;
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1.0) < EPSILON) break;
  }
  return h;
}

// I_x(a, b) with y = 1 - x given separately, so that x near 1 keeps its precision.
double IncompleteBeta(double a, double b, double x, double y) {
  if (x <= 0.0) return 0.0;
  if (y <= 0.0) return 1.0;
  const double front = std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) +
                                a * std::log(x) + b * std::log(y));
  // The fraction converges fast only below the mean; above it, use I_x(a, b) = 1 - I_y(b, a).
  if (x < (a + 1.0) / (a + b + 2.0)) return front * BetaContinuedFraction(a, b, x) / a;
  return 1.0 - front * BetaContinuedFraction(b, a, y) / b;
}

// Largest k in 1 .. limit whose coverage(k) reaches target, or 1 when none does.
template <typename Coverage>
std::size_t WidestReach(std::size_t limit, double target, Coverage coverage) {
  std::size_t k = 1;
  while (k + 1 <= limit && coverage(k + 1) >= target) ++k;
  return k;
}

// Two-sided p of U for n1 against n2 values by the normal approximation, with the tie correction
// from `tie_term` (sum of t^3 - t over the pooled ties) and a continuity correction.
double NormalRankSumP(std::size_t n1, std::size_t n2, double u, double tie_term) {
  const double mean_u = static_cast<double>(n1 * n2) / 2.0;
  const double nd = static_cast<double>(n1 + n2);
  const double variance =
      static_cast<double>(n1 * n2) / 12.0 * ((nd + 1.0) - tie_term / (nd * (nd - 1.0)));
  if (!(variance > 0.0)) return 1.0;
  const double z = std::max(0.0, std::fabs(u - mean_u) - 0.5) / std::sqrt(variance);
  return std::min(1.0, std::erfc(z / std::numbers::sqrt2));
}

// The two-sided law of the Mann-Whitney statistic for n1 against n2 values, as tail(d) =
// P(|2U - n1 n2| >= d) for d in whole doubled-U units: exact over the pooled doubled midranks
// (ties included) or normal with the tie and continuity corrections.
class RankSumLaw {
 public:
  // Exact: `doubled` holds the pooled doubled midranks, n1 + n2 of them.
  RankSumLaw(std::span<const std::int64_t> doubled, std::size_t n1, std::size_t n2)
      : m_(std::uint64_t{n1} * n2) {
    const std::size_t n = n1 + n2;
    const std::size_t picks = std::min(n1, n2);
    const std::vector<std::uint64_t> counts = RankSumCounts(doubled, picks);
    // 2U - n1 n2 is the smaller sample's doubled rank sum less its mean, up to its sign.
    const auto expected = static_cast<std::int64_t>(picks * (n + 1));
    for (std::size_t s = 0; s < counts.size(); ++s) {
      if (counts[s] == 0) continue;
      const auto deviation =
          static_cast<std::size_t>(std::abs(static_cast<std::int64_t>(s) - expected));
      if (deviation >= at_deviation_.size()) at_deviation_.resize(deviation + 1, 0);
      at_deviation_[deviation] += counts[s];
      all_ += counts[s];
    }
    // at_deviation_[d] becomes the count at d or beyond.
    for (std::size_t d = at_deviation_.size(); d-- > 1;) at_deviation_[d - 1] += at_deviation_[d];
  }

  // Normal, with `tie_term` the sum of t^3 - t over the pooled ties.
  RankSumLaw(std::size_t n1, std::size_t n2, double tie_term)
      : m_(std::uint64_t{n1} * n2), n1_(n1), n2_(n2), tie_term_(tie_term) {}

  double Tail(std::uint64_t deviation) const {
    if (all_ == 0) {
      // Every value tied: like the exact law, only a deviation of 0 can come.
      const double n = static_cast<double>(n1_ + n2_);
      if (!(n + 1.0 - tie_term_ / (n * (n - 1.0)) > 0.0)) return deviation == 0 ? 1.0 : 0.0;
      return NormalRankSumP(
          n1_, n2_, (static_cast<double>(m_) + static_cast<double>(deviation)) / 2.0, tie_term_);
    }
    if (deviation >= at_deviation_.size()) return 0.0;
    return static_cast<double>(at_deviation_[deviation]) / static_cast<double>(all_);
  }

  std::uint64_t Pairs() const { return m_; }

 private:
  std::uint64_t m_;
  std::vector<std::uint64_t> at_deviation_;  // exact: count at this deviation or beyond
  std::uint64_t all_ = 0;                    // exact: every subset; 0 for the normal law
  std::size_t n1_ = 0, n2_ = 0;
  double tie_term_ = 0.0;
};

// The law of n1 against n2 values with no ties.
RankSumLaw UntiedLaw(std::size_t n1, std::size_t n2) {
  if (n1 + n2 > EXACT_RANK_SUM_MAX) return {n1, n2, 0.0};
  std::vector<std::int64_t> doubled(n1 + n2);
  for (std::size_t i = 0; i < doubled.size(); ++i)
    doubled[i] = 2 * static_cast<std::int64_t>(i + 1);
  return {doubled, n1, n2};
}

// The law MannWhitney uses for x against y.
RankSumLaw LawOf(std::span<const double> x, std::span<const double> y) {
  std::vector<double> pooled(x.begin(), x.end());
  pooled.insert(pooled.end(), y.begin(), y.end());
  const Ranking ranking = RankDoubled(pooled);
  if (pooled.size() <= EXACT_RANK_SUM_MAX) return {ranking.doubled, x.size(), y.size()};
  return {x.size(), y.size(), ranking.tie_term};
}

// Doubles as unsigned integers in the same order (-0 just below +0), so that a bisection can run
// over every double between two finite ones.
std::uint64_t OrderKey(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  return bits >> 63 != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

double FromOrderKey(std::uint64_t key) {
  return std::bit_cast<double>(key >> 63 != 0 ? key & ~(std::uint64_t{1} << 63) : ~key);
}

// The k-th smallest (from 1) of values never listed whole, known by how many lie at or below any
// v (at_most) and by list(low, high, out), which appends those in (low, high]. Bisects over the
// doubles between `low`, at most the least value, and `high`, with at_most(high) >= k, until at
// most `few` values lie in the bracket, then lists and picks among them. The answer is a value
// itself: the count only steps at them. At most 64 counts.
template <typename AtMost, typename List>
double SelectKth(std::uint64_t k, double low, double high, std::uint64_t few, AtMost at_most,
                 List list) {
  // below: a double with fewer than k values at or below it; above: one with k or more.
  double below = std::nextafter(low, -std::numeric_limits<double>::infinity());
  double above = high;
  std::uint64_t count_below = 0;
  std::uint64_t count_above = at_most(high);
  while (OrderKey(above) - OrderKey(below) > 1) {
    if (count_above - count_below <= few) {
      std::vector<double> between;
      list(below, above, between);
      const auto pick = between.begin() + static_cast<std::ptrdiff_t>(k - count_below - 1);
      std::nth_element(between.begin(), pick, between.end());
      return *pick + 0.0;  // + 0.0: a zero difference is +0, as x - x is
    }
    const std::uint64_t middle_key = OrderKey(below) + (OrderKey(above) - OrderKey(below)) / 2;
    const double middle = FromOrderKey(middle_key);
    const std::uint64_t count = at_most(middle);
    if (count >= k) {
      above = middle;
      count_above = count;
    } else {
      below = middle;
      count_below = count;
    }
  }
  return above + 0.0;
}

// Pairs with y[j] - x[i] <= v, both ascending, by two pointers in O(n1 + n2): rounding keeps
// y[j] - x[i] ordered like the exact difference, so each row's pairs are a suffix of x that
// starts no earlier in the next row.
std::uint64_t PairsAtMost(std::span<const double> x, std::span<const double> y, double v) {
  std::uint64_t count = 0;
  std::size_t first = 0;
  for (const double yj : y) {
    while (first < x.size() && yj - x[first] > v) ++first;
    count += x.size() - first;
  }
  return count;
}

// Appends y[j] - x[i] in (low, high] for x and y ascending: in each row a run of x whose ends,
// like PairsAtMost's pointer, never move back.
void ListPairsBetween(std::span<const double> x, std::span<const double> y, double low, double high,
                      std::vector<double>& out) {
  std::size_t from = 0;  // first i with y[j] - x[i] <= high
  std::size_t to = 0;    // first i with y[j] - x[i] <= low
  for (const double yj : y) {
    while (from < x.size() && yj - x[from] > high) ++from;
    while (to < x.size() && yj - x[to] > low) ++to;
    for (std::size_t i = from; i < to; ++i) out.push_back(yj - x[i]);
  }
}

// The Hodges-Lehmann estimate and Moses interval of n1 x n2 differences (both at least 1),
// given kth(k): the k-th smallest difference from 1, at_most(v): how many lie at or below v, and
// the test's law.
template <typename Kth, typename AtMost>
ShiftEstimate ShiftBySelection(const RankSumLaw& law, const RankSumLaw& untied, double target,
                               Kth kth, AtMost at_most) {
  const std::uint64_t m = law.Pairs();
  ShiftEstimate result;
  result.shift = m % 2 == 1 ? kth(m / 2 + 1) : (kth(m / 2) + kth(m / 2 + 1)) / 2.0;
  // A shift is inside when U at it, counting tied pairs as halves, lies within the deviation
  // the test still accepts: |2U - m| <= widest, the largest with tail(widest) >= 1 - target,
  // found by bisection as the tail does not grow.
  const double alpha = 1.0 - target;
  std::uint64_t widest = 0;
  std::uint64_t beyond = m + 1;
  while (beyond - widest > 1) {
    const std::uint64_t middle = widest + (beyond - widest) / 2;
    if (law.Tail(middle) >= alpha) {
      widest = middle;
    } else {
      beyond = middle;
    }
  }
  // U(shift) <= (m + widest) / 2 from the k-th smallest difference on, k = ceil((m - widest) / 2).
  const std::uint64_t k = std::max<std::uint64_t>(1, (m - widest + 1) / 2);
  result.low = kth(k);
  result.high = kth(m - k + 1);
  // Ties can leave the extremes unreachable under the tied law (a sample against itself), which
  // would claim more than any interval from so few values can give: the coverage named is at
  // most that of the widest interval, k = 1, for untied values.
  result.confidence = std::max(0.0, 1.0 - std::max(law.Tail(m + 2 - 2 * k), untied.Tail(m)));
  // At an end v, 2U(v) - m = m - #(d <= v) - #(d < v): tied pairs count as halves.
  const auto rejected_at = [&](double v) {
    const auto le = static_cast<std::int64_t>(at_most(v));
    const auto lt = static_cast<std::int64_t>(
        at_most(std::nextafter(v, -std::numeric_limits<double>::infinity())));
    const auto deviation =
        static_cast<std::uint64_t>(std::abs(static_cast<std::int64_t>(m) - le - lt));
    return law.Tail(deviation) < alpha;
  };
  result.low_open = rejected_at(result.low);
  result.high_open = rejected_at(result.high);
  return result;
}

}  // namespace

double NormalCdf(double z) { return 0.5 * std::erfc(-z / std::numbers::sqrt2); }

double RegularizedIncompleteBeta(double a, double b, double x) {
  return IncompleteBeta(a, b, x, 1.0 - x);
}

double Quantile(std::span<const double> values, double p) {
  std::vector<double> sorted(values.begin(), values.end());
  std::sort(sorted.begin(), sorted.end());
  const double h = static_cast<double>(sorted.size() - 1) * p;
  const auto below = static_cast<std::size_t>(std::floor(h));
  if (below + 1 >= sorted.size()) return sorted.back();
  const double fraction = h - static_cast<double>(below);
  return sorted[below] + fraction * (sorted[below + 1] - sorted[below]);
}

double Median(std::span<const double> values) {
  // A few values (a node's runs, over and over in the bootstrap) are copied onto the stack:
  // allocating for each took a fleet's merge as long as the medians themselves.
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
  double* const last = first + values.size();
  double* const middle = first + values.size() / 2;
  std::nth_element(first, middle, last);
  if (values.size() % 2 == 1) return *middle;
  return (*std::max_element(first, middle) + *middle) / 2.0;
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
  std::vector<double> sorted(values.begin(), values.end());
  std::sort(sorted.begin(), sorted.end());
  return MedianInterval{sorted[ranks->low_rank - 1], sorted[ranks->high_rank - 1], ranks->low_rank,
                        ranks->high_rank, ranks->confidence};
}

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
  result.p_value = IncompleteBeta(static_cast<double>(n - 2) / 2.0, 0.5, 1.0 - r2, r2);
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

Pool MakePool(std::span<const double> values) {
  Pool pool;
  pool.sorted.assign(values.begin(), values.end());
  std::sort(pool.sorted.begin(), pool.sorted.end());
  // Groups in ascending order, as RankDoubled sums them, so that the sum rounds the same way.
  for (auto first = pool.sorted.begin(); first != pool.sorted.end();) {
    const auto end = std::upper_bound(first, pool.sorted.end(), *first);
    const auto t = static_cast<double>(end - first);
    pool.tie_term += t * t * t - t;
    first = end;
  }
  return pool;
}

namespace {

// The pool without one copy of each of part's values, ascending.
std::vector<double> Rest(const Pool& pool, std::span<const double> part) {
  std::vector<double> sorted_part(part.begin(), part.end());
  std::sort(sorted_part.begin(), sorted_part.end());
  std::vector<double> rest;
  std::set_difference(pool.sorted.begin(), pool.sorted.end(), sorted_part.begin(),
                      sorted_part.end(), std::back_inserter(rest));
  return rest;
}

// Values of the ascending `sorted` at or below v.
std::uint64_t AtMost(const std::vector<double>& sorted, double v) {
  return static_cast<std::uint64_t>(std::upper_bound(sorted.begin(), sorted.end(), v) -
                                    sorted.begin());
}

}  // namespace

double MedianOfRest(const Pool& pool, std::span<const double> part) {
  std::vector<double> sorted_part(part.begin(), part.end());
  std::sort(sorted_part.begin(), sorted_part.end());
  const std::uint64_t r = pool.sorted.size() - sorted_part.size();
  const auto at_most = [&](double v) { return AtMost(pool.sorted, v) - AtMost(sorted_part, v); };
  const auto kth = [&](std::uint64_t k) {
    // Never listed: each count is a bisection already.
    return SelectKth(k, pool.sorted.front(), pool.sorted.back(), 0, at_most,
                     [](double, double, std::vector<double>&) {});
  };
  // As Median: the middle value, or the mean of the two middle values.
  return r % 2 == 1 ? kth(r / 2 + 1) : (kth(r / 2) + kth(r / 2 + 1)) / 2.0;
}

RankSumTest MannWhitneyAgainstRest(const Pool& pool, std::span<const double> part) {
  const std::size_t n = pool.sorted.size();
  if (n <= EXACT_RANK_SUM_MAX) return MannWhitney(Rest(pool, part), part);
  const std::size_t n1 = n - part.size();
  const std::size_t n2 = part.size();
  RankSumTest result;
  if (n1 == 0 || n2 == 0) return result;
  // Midranks in the pool do not depend on how it splits: the rest's rank sum is the total less
  // the part's, all doubled so that they stay whole.
  std::int64_t w_part = 0;
  for (const double value : part) {
    const auto [first, end] = std::equal_range(pool.sorted.begin(), pool.sorted.end(), value);
    w_part += (first - pool.sorted.begin()) + 1 + (end - pool.sorted.begin());
  }
  const std::int64_t w_rest = static_cast<std::int64_t>(n * (n + 1)) - w_part;
  result.u = static_cast<double>(w_rest) / 2.0 - static_cast<double>(n1 * (n1 + 1)) / 2.0;
  result.p_value = NormalRankSumP(n1, n2, result.u, pool.tie_term);
  return result;
}

ShiftEstimate HodgesLehmannAgainstRest(const Pool& pool, std::span<const double> part,
                                       double target) {
  const std::size_t n = pool.sorted.size();
  if (n <= EXACT_RANK_SUM_MAX) return HodgesLehmann(Rest(pool, part), part, target);
  const std::size_t n1 = n - part.size();
  if (n1 == 0 || part.empty()) return {};
  std::vector<double> ys(part.begin(), part.end());
  std::sort(ys.begin(), ys.end());
  // Pairs with the rest: pairs with the whole pool less the part's pairs with itself. Each of
  // y's pool pairs at or below v is a suffix of the pool, found by bisection.
  const auto pairs_at_most = [&](double v) {
    std::uint64_t count = 0;
    for (const double yj : ys) {
      const auto first = std::partition_point(pool.sorted.begin(), pool.sorted.end(),
                                              [&](double p) { return yj - p > v; });
      count += static_cast<std::uint64_t>(pool.sorted.end() - first);
    }
    return count - PairsAtMost(ys, ys, v);
  };
  // The rest's pairs in (low, high]: the pool's, less one copy of each of the part's own.
  const auto list = [&](double low, double high, std::vector<double>& out) {
    for (const double yj : ys) {
      const auto first = std::partition_point(pool.sorted.begin(), pool.sorted.end(),
                                              [&](double p) { return yj - p > high; });
      const auto end =
          std::partition_point(first, pool.sorted.end(), [&](double p) { return yj - p > low; });
      for (auto p = first; p != end; ++p) out.push_back(yj - *p);
    }
    std::vector<double> own;
    ListPairsBetween(ys, ys, low, high, own);
    std::sort(out.begin(), out.end());
    std::sort(own.begin(), own.end());
    std::vector<double> rest;
    std::set_difference(out.begin(), out.end(), own.begin(), own.end(), std::back_inserter(rest));
    out.swap(rest);
  };
  // Counts cost |part| bisections of the pool; a listing of a few hundred pairs per value of
  // the part costs about as much.
  const std::uint64_t few = 64 * ys.size();
  return ShiftBySelection(
      RankSumLaw(n1, ys.size(), pool.tie_term), UntiedLaw(n1, ys.size()), target,
      [&](std::uint64_t k) {
        return SelectKth(k, ys.front() - pool.sorted.back(), ys.back() - pool.sorted.front(), few,
                         pairs_at_most, list);
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

std::optional<Line> TheilSen(std::span<const Point> points) {
  std::vector<double> slopes;
  for (std::size_t i = 0; i < points.size(); ++i) {
    for (std::size_t j = i + 1; j < points.size(); ++j) {
      if (points[i].x == points[j].x) continue;
      slopes.push_back((points[j].y - points[i].y) / (points[j].x - points[i].x));
    }
  }
  if (slopes.empty()) return std::nullopt;
  Line line;
  line.slope = Median(slopes);
  std::vector<double> intercepts;
  intercepts.reserve(points.size());
  for (const Point& point : points) intercepts.push_back(point.y - line.slope * point.x);
  line.intercept = Median(intercepts);
  return line;
}

std::uint64_t DrawBelow(std::mt19937_64& engine, std::uint64_t bound) {
  // 2^64 mod bound: the lowest outputs are dropped, so that the rest split evenly into bound.
  const std::uint64_t threshold = (0 - bound) % bound;
  while (true) {
    const std::uint64_t raw = engine();
    if (raw >= threshold) return raw % bound;
  }
}

std::vector<std::size_t> ResampleIndices(std::mt19937_64& engine, std::size_t n) {
  std::vector<std::size_t> indices(n);
  for (std::size_t& index : indices) index = static_cast<std::size_t>(DrawBelow(engine, n));
  return indices;
}

std::vector<std::size_t> ResampleIndices(std::uint64_t seed, std::size_t n) {
  std::mt19937_64 engine(seed);
  return ResampleIndices(engine, n);
}

Interval PercentileInterval(std::span<const double> replicates, double confidence) {
  return {Quantile(replicates, (1.0 - confidence) / 2.0),
          Quantile(replicates, (1.0 + confidence) / 2.0)};
}

}  // namespace speedup::stats
