#include "stats/resampling.h"

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

Interval PercentileInterval(std::span<const double> replicates, double confidence) {
  return {Quantile(replicates, (1.0 - confidence) / 2.0),
          Quantile(replicates, (1.0 + confidence) / 2.0)};
}
}  // namespace speedup::stats
