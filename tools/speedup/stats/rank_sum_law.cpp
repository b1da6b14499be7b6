#include "stats/rank_sum_law.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <numeric>

namespace speedup::stats::detail {

namespace {

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

}  // namespace

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

double NormalRankSumP(std::size_t n1, std::size_t n2, double u, double tie_term) {
  const double mean_u = static_cast<double>(n1 * n2) / 2.0;
  const double nd = static_cast<double>(n1 + n2);
  const double variance =
      static_cast<double>(n1 * n2) / 12.0 * ((nd + 1.0) - tie_term / (nd * (nd - 1.0)));
  if (!(variance > 0.0)) return 1.0;
  const double z = std::max(0.0, std::fabs(u - mean_u) - 0.5) / std::sqrt(variance);
  return std::min(1.0, std::erfc(z / std::numbers::sqrt2));
}

RankSumLaw::RankSumLaw(std::span<const std::int64_t> doubled, std::size_t n1, std::size_t n2)
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

double RankSumLaw::Tail(std::uint64_t deviation) const {
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

RankSumLaw UntiedLaw(std::size_t n1, std::size_t n2) {
  if (n1 + n2 > EXACT_RANK_SUM_MAX) return {n1, n2, 0.0};
  std::vector<std::int64_t> doubled(n1 + n2);
  for (std::size_t i = 0; i < doubled.size(); ++i)
    doubled[i] = 2 * static_cast<std::int64_t>(i + 1);
  return {doubled, n1, n2};
}

RankSumLaw LawOf(std::span<const double> x, std::span<const double> y) {
  std::vector<double> pooled(x.begin(), x.end());
  pooled.insert(pooled.end(), y.begin(), y.end());
  const Ranking ranking = RankDoubled(pooled);
  if (pooled.size() <= EXACT_RANK_SUM_MAX) return {ranking.doubled, x.size(), y.size()};
  return {x.size(), y.size(), ranking.tie_term};
}

std::uint64_t OrderKey(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  return bits >> 63 != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

double FromOrderKey(std::uint64_t key) {
  return std::bit_cast<double>(key >> 63 != 0 ? key & ~(std::uint64_t{1} << 63) : ~key);
}

double Between(double below, double above) {
  const double small = std::min(std::fabs(below), std::fabs(above));
  const double large = std::max(std::fabs(below), std::fabs(above));
  if ((below < 0.0 && above > 0.0) || ((below < 0.0) == (above < 0.0) && large <= 2.0 * small)) {
    const double middle = below / 2.0 + above / 2.0;
    if (OrderKey(middle) > OrderKey(below) && OrderKey(middle) < OrderKey(above)) return middle;
  }
  return FromOrderKey(OrderKey(below) + (OrderKey(above) - OrderKey(below)) / 2);
}

std::uint64_t PairsAtMost(std::span<const double> x, std::span<const double> y, double v) {
  std::uint64_t count = 0;
  std::size_t first = 0;
  for (const double yj : y) {
    while (first < x.size() && yj - x[first] > v) ++first;
    count += x.size() - first;
  }
  return count;
}

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
}  // namespace speedup::stats::detail
