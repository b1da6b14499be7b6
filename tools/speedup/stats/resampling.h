#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "base/policy.h"

// Bootstrap resampling: draws that every standard library repeats, and percentile intervals.
namespace speedup::stats {

struct Interval {
  double low = 0.0;
  double high = 0.0;
};

// Uniform integer in [0, bound) by rejection on the raw 64-bit output, so that every standard
// library gives the same draws (std::uniform_int_distribution does not); bound > 0.
std::uint64_t DrawBelow(std::mt19937_64& engine, std::uint64_t bound);

// n indices in [0, n) drawn with replacement by DrawBelow from `engine`, for a bootstrap
// replicate over whole runs.
std::vector<std::size_t> ResampleIndices(std::mt19937_64& engine, std::size_t n);

// ResampleIndices from a fresh std::mt19937_64 seeded with `seed`: the same indices everywhere.
std::vector<std::size_t> ResampleIndices(std::uint64_t seed, std::size_t n);

// How often each of n indices is drawn in each of `resamples` rounds of ResampleIndices from one
// std::mt19937_64 seeded with `seed`: round r's counts at [r * n, (r + 1) * n). Made once per
// thread for the last (seed, n, resamples) asked, as every node of a fleet resamples alike; empty
// above SHARED_DRAWS_MAX_RUNS, whose table would outgrow the caches (the caller draws as it goes).
std::span<const std::uint32_t> SharedDrawCounts(std::uint64_t seed, std::size_t n, int resamples);

// Median of a resample given by how often each of `values` was drawn (`draws`, one count per
// value, not all zero), walking `order`, the indices of `values` in ascending order of value:
// the same double that Median gives for the drawn values written out, in O(n), with no copy and
// no selection for each resample.
double MedianOfDraws(std::span<const double> values, std::span<const std::uint32_t> order,
                     std::span<const std::uint32_t> draws);

// Percentile bootstrap interval: type-7 quantiles (1 - confidence) / 2 and (1 + confidence) / 2
// of `replicates`, which must not be empty; confidence in [0, 1].
Interval PercentileInterval(std::span<const double> replicates, double confidence = 0.95);

// PercentileInterval of `replicates`, which it reorders: the four order statistics selected,
// not the whole sorted.
Interval PercentileIntervalInPlace(std::span<double> replicates, double confidence = 0.95);

}  // namespace speedup::stats
