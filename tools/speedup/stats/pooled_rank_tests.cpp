#include "stats/pooled_rank_tests.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <utility>

#include "stats/rank_sum_law.h"

namespace speedup::stats {

using namespace detail;

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
  for (std::size_t i = 0; i < pool.sorted.size(); i += POOL_STRIDE) {
    pool.sampled.push_back(pool.sorted[i]);
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

// std::partition_point over [first, first + n) with no branch on the predicate's answers, which
// a search of random values would mispredict at half of its steps: the range halves whatever
// the answer, and only the start moves.
template <typename Predicate>
const double* PartitionPointBranchless(const double* first, std::size_t n, Predicate predicate) {
  while (n > 1) {
    const std::size_t half = n / 2;
    first = predicate(first[half - 1]) ? first + half : first;
    n -= half;
  }
  return n == 1 && predicate(*first) ? first + 1 : first;
}

// std::partition_point over the pool's sorted values for a predicate true below some point and
// false from there on: found among the sampled values first, then within one stride, so that a
// search of a large pool misses the cache a few times rather than at every step.
template <typename Predicate>
std::vector<double>::const_iterator PoolPartitionPoint(const Pool& pool, Predicate predicate) {
  const std::size_t stride = static_cast<std::size_t>(
      PartitionPointBranchless(pool.sampled.data(), pool.sampled.size(), predicate) -
      pool.sampled.data());
  // The point lies after the last sampled value the predicate holds for, and at or before the
  // first it does not hold for.
  const std::size_t first = stride == 0 ? 0 : (stride - 1) * POOL_STRIDE + 1;
  const std::size_t last =
      stride == pool.sampled.size() ? pool.sorted.size() : stride * POOL_STRIDE;
  const double* point =
      PartitionPointBranchless(pool.sorted.data() + first, last - first, predicate);
  return pool.sorted.begin() + (point - pool.sorted.data());
}

// SelectKth of values in [low, high] again and again, each selection started from the narrowest
// bracket that the counts of the ones before it found: a Hodges-Lehmann estimate's two middle
// differences lie side by side, and its interval's ends share the first halvings with them.
template <typename AtMost, typename List>
class Selections {
 public:
  Selections(double low, double high, std::uint64_t few, AtMost at_most, List list)
      : low_(low), high_(high), few_(few), at_most_(at_most), list_(list), all_(Count(high)) {}

  double Kth(std::uint64_t k) {
    double below = std::nextafter(low_, -std::numeric_limits<double>::infinity());
    std::uint64_t count_below = 0;
    double above = high_;
    std::uint64_t count_above = all_;
    for (const auto& [v, count] : counted_) {
      if (count < k && v > below) {
        below = v;
        count_below = count;
      } else if (count >= k && v < above) {
        above = v;
        count_above = count;
      }
    }
    return SelectKthWithin(
        k, below, count_below, above, count_above, few_, [this](double v) { return Count(v); },
        list_);
  }

 private:
  std::uint64_t Count(double v) {
    const std::uint64_t count = at_most_(v);
    counted_.emplace_back(v, count);
    return count;
  }

  double low_, high_;
  std::uint64_t few_;
  AtMost at_most_;
  List list_;
  std::vector<std::pair<double, std::uint64_t>> counted_;  // every count made: (v, at or below)
  std::uint64_t all_;
};

}  // namespace

double MedianOfRest(const Pool& pool, std::span<const double> part) {
  std::vector<double> sorted_part(part.begin(), part.end());
  std::sort(sorted_part.begin(), sorted_part.end());
  // The pool's positions that the part takes out, ascending: for each value, its first copies
  // in the pool, as many as the part holds (tied copies are one value, whichever go).
  std::vector<std::size_t> taken;
  taken.reserve(sorted_part.size());
  for (auto first = sorted_part.begin(); first != sorted_part.end();) {
    const auto end = std::upper_bound(first, sorted_part.end(), *first);
    const auto at = static_cast<std::size_t>(
        std::lower_bound(pool.sorted.begin(), pool.sorted.end(), *first) - pool.sorted.begin());
    for (std::size_t copy = 0; copy < static_cast<std::size_t>(end - first); ++copy) {
      taken.push_back(at + copy);
    }
    first = end;
  }
  const std::uint64_t r = pool.sorted.size() - sorted_part.size();
  // The k-th (from 1) of the rest is the pool's k-th position not taken: found by index, not by
  // bisecting the doubles (64 counts of the whole pool each). + 0.0 as SelectKth gives it.
  const auto kth = [&](std::uint64_t k) {
    std::size_t at = k - 1;
    for (const std::size_t position : taken) {
      if (position > at) break;
      ++at;
    }
    return pool.sorted[at] + 0.0;
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
      const auto first = PoolPartitionPoint(pool, [&](double p) { return yj - p > v; });
      count += static_cast<std::uint64_t>(pool.sorted.end() - first);
    }
    return count - PairsAtMost(ys, ys, v);
  };
  // The rest's pairs in (low, high]: the pool's, less one copy of each of the part's own.
  const auto list = [&](double low, double high, std::vector<double>& out) {
    for (const double yj : ys) {
      const auto first = PoolPartitionPoint(pool, [&](double p) { return yj - p > high; });
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
  const std::uint64_t few = 8 * ys.size();
  Selections<decltype(pairs_at_most), decltype(list)> selections(
      ys.front() - pool.sorted.back(), ys.back() - pool.sorted.front(), few, pairs_at_most, list);
  const auto kth = [&](std::uint64_t k) { return selections.Kth(k); };
  return ShiftBySelection(RankSumLaw(n1, ys.size(), pool.tie_term), UntiedLaw(n1, ys.size()),
                          target, kth, pairs_at_most);
}
}  // namespace speedup::stats
