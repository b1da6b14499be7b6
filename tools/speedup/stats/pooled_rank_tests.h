#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "stats/rank_tests.h"

// The rank tests of one part of a pool (a node's runs in a fleet) against the rest of it.
namespace speedup::stats {

// A pooled sample sorted once, so that each part of it (a node's runs in a fleet) can be set
// against the rest of the pool without pooling, ranking or pairing the rest again.
struct Pool {
  std::vector<double> sorted;  // every value, ascending
  double tie_term = 0.0;       // sum of t^3 - t over groups of t tied values
  // Every POOL_STRIDE-th of `sorted`, from the first: a search of a fleet's million values looks
  // here first, in cache, then in one stride of `sorted`.
  std::vector<double> sampled;
};

inline constexpr std::size_t POOL_STRIDE = 32;

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

}  // namespace speedup::stats
