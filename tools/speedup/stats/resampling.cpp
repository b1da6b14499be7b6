#include "stats/resampling.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "stats/quantiles.h"

namespace speedup::stats {

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

std::span<const std::uint32_t> SharedDrawCounts(std::uint64_t seed, std::size_t n, int resamples) {
  if (n == 0 || n > SHARED_DRAWS_MAX_RUNS || resamples <= 0) return {};
  struct Table {
    std::uint64_t seed = 0;
    std::size_t n = 0;
    int resamples = 0;
    std::vector<std::uint32_t> counts;
  };
  thread_local Table table;
  if (table.counts.empty() || table.seed != seed || table.n != n || table.resamples != resamples) {
    table = {seed, n, resamples,
             std::vector<std::uint32_t>(n * static_cast<std::size_t>(resamples))};
    std::mt19937_64 engine(seed);
    for (std::size_t round = 0; round < static_cast<std::size_t>(resamples); ++round) {
      std::uint32_t* counts = table.counts.data() + round * n;
      for (std::size_t draw = 0; draw < n; ++draw) ++counts[DrawBelow(engine, n)];
    }
  }
  return table.counts;
}

double MedianOfDraws(std::span<const double> values, std::span<const std::uint32_t> order,
                     std::span<const std::uint32_t> draws) {
  std::uint64_t total = 0;
  for (const std::uint32_t count : draws) total += count;
  // The ranks (from 0) of the drawn values that Median averages: one rank for an odd total.
  const std::uint64_t low_rank = (total - 1) / 2;
  const std::uint64_t high_rank = total / 2;
  // The positions in `order` where the running count first passes each rank, counted rather
  // than found by a branch: a thousand resamples' random counts would mispredict it.
  std::uint64_t passed = 0;
  std::size_t low_at = 0, high_at = 0;
  for (const std::uint32_t index : order) {
    passed += draws[index];
    low_at += passed <= low_rank ? 1 : 0;
    high_at += passed <= high_rank ? 1 : 0;
  }
  const double high = values[order[high_at]];
  return total % 2 == 1 ? high : (values[order[low_at]] + high) / 2.0;
}

Interval PercentileInterval(std::span<const double> replicates, double confidence) {
  std::vector<double> sorted(replicates.begin(), replicates.end());
  return PercentileIntervalInPlace(sorted, confidence);
}

namespace {

// Quantile as QuantileOfSorted reads it from the sorted values, by selecting only the two order
// statistics it needs from `values` (not empty), which are reordered.
double QuantileBySelection(std::span<double> values, double p) {
  const double h = static_cast<double>(values.size() - 1) * p;
  const auto below = static_cast<std::size_t>(std::floor(h));
  const auto at = values.begin() + static_cast<std::ptrdiff_t>(std::min(below, values.size() - 1));
  std::nth_element(values.begin(), at, values.end());
  if (below + 1 >= values.size()) return *at;
  const double next = *std::min_element(at + 1, values.end());
  const double fraction = h - static_cast<double>(below);
  return *at + fraction * (next - *at);
}

}  // namespace

Interval PercentileIntervalInPlace(std::span<double> replicates, double confidence) {
  const double low = QuantileBySelection(replicates, (1.0 - confidence) / 2.0);
  return {low, QuantileBySelection(replicates, (1.0 + confidence) / 2.0)};
}

}  // namespace speedup::stats
