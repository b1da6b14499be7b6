#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <span>
#include <vector>

#include "stats/rank_tests.h"

// The machinery that the rank tests (rank_tests.cpp) and their pooled forms
// (pooled_rank_tests.cpp) share: midranks, the rank-sum law, and selecting the k-th of the n1 x n2
// pairwise differences without listing them. Only this room's rank tests include it.
namespace speedup::stats::detail {

// Doubled midranks are whole numbers, so exact distributions can count sums without rounding.
struct Ranking {
  std::vector<std::int64_t> doubled;  // twice the average rank, input order
  double tie_term = 0.0;              // sum of t^3 - t over groups of t tied values
};

// Doubled midranks of `values` in input order, ties keeping their input order, with the tie term.
Ranking RankDoubled(std::span<const double> values);

// P(U <= c) for c = 0 .. n1 n2, U the Mann-Whitney statistic of n1 against n2 tie-free values.
std::vector<double> ExactUTail(std::size_t n1, std::size_t n2);

// Two-sided p of U for n1 against n2 values by the normal approximation, with the tie correction
// from `tie_term` (sum of t^3 - t over the pooled ties) and a continuity correction.
double NormalRankSumP(std::size_t n1, std::size_t n2, double u, double tie_term);

// The two-sided law of the Mann-Whitney statistic for n1 against n2 values, as tail(d) =
// P(|2U - n1 n2| >= d) for d in whole doubled-U units: exact over the pooled doubled midranks
// (ties included) or normal with the tie and continuity corrections.
class RankSumLaw {
 public:
  // Exact: `doubled` holds the pooled doubled midranks, n1 + n2 of them.
  RankSumLaw(std::span<const std::int64_t> doubled, std::size_t n1, std::size_t n2);

  // Normal, with `tie_term` the sum of t^3 - t over the pooled ties.
  RankSumLaw(std::size_t n1, std::size_t n2, double tie_term)
      : m_(std::uint64_t{n1} * n2), n1_(n1), n2_(n2), tie_term_(tie_term) {}

  double Tail(std::uint64_t deviation) const;

  std::uint64_t Pairs() const { return m_; }

 private:
  std::uint64_t m_;
  std::vector<std::uint64_t> at_deviation_;  // exact: count at this deviation or beyond
  std::uint64_t all_ = 0;                    // exact: every subset; 0 for the normal law
  std::size_t n1_ = 0, n2_ = 0;
  double tie_term_ = 0.0;
};

// The law of n1 against n2 values with no ties.
RankSumLaw UntiedLaw(std::size_t n1, std::size_t n2);

// The law MannWhitney uses for x against y.
RankSumLaw LawOf(std::span<const double> x, std::span<const double> y);

// Doubles as unsigned integers in the same order (-0 just below +0), so that a bisection can run
// over every double between two finite ones.
std::uint64_t OrderKey(double value);
double FromOrderKey(std::uint64_t key);

// A double strictly between `below` and `above`, whose order keys lie more than one apart:
// halfway in value while the two lie on either side of zero or within a factor of two, where
// differences of times spread about evenly, else halfway in order keys, which halves the range
// of exponents (from 1e-300 to 1, halving in value would take a thousand steps). Halving the
// keys from a bracket across zero first spent a dozen counts on exponents no value has.
double Between(double below, double above);

// The k-th smallest (from 1) of values never listed whole, known by how many lie at or below any
// v (at_most) and by list(low, high, out), which appends those in (low, high]. Bisects over the
// doubles between `low`, at most the least value, and `high`, with at_most(high) >= k, until at
// most `few` values lie in the bracket, then lists and picks among them. The answer is a value
// itself: the count only steps at them. At most 64 counts.
template <typename AtMost, typename List>
double SelectKthWithin(std::uint64_t k, double below, std::uint64_t count_below, double above,
                       std::uint64_t count_above, std::uint64_t few, AtMost at_most, List list);

template <typename AtMost, typename List>
double SelectKth(std::uint64_t k, double low, double high, std::uint64_t few, AtMost at_most,
                 List list) {
  return SelectKthWithin(k, std::nextafter(low, -std::numeric_limits<double>::infinity()), 0, high,
                         at_most(high), few, at_most, list);
}

// SelectKth from a bracket already counted: `below`, with count_below < k values at or below
// it, and `above`, with count_above >= k. The k-th value is one number whatever the bracket, so
// a narrower one found by an earlier selection gives the same value in fewer counts.
template <typename AtMost, typename List>
double SelectKthWithin(std::uint64_t k, double below, std::uint64_t count_below, double above,
                       std::uint64_t count_above, std::uint64_t few, AtMost at_most, List list) {
  while (OrderKey(above) - OrderKey(below) > 1) {
    if (count_above - count_below <= few) {
      std::vector<double> between;
      list(below, above, between);
      const auto pick = between.begin() + static_cast<std::ptrdiff_t>(k - count_below - 1);
      std::nth_element(between.begin(), pick, between.end());
      return *pick + 0.0;  // + 0.0: a zero difference is +0, as x - x is
    }
    const double middle = Between(below, above);
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
std::uint64_t PairsAtMost(std::span<const double> x, std::span<const double> y, double v);

// Appends y[j] - x[i] in (low, high] for x and y ascending: in each row a run of x whose ends,
// like PairsAtMost's pointer, never move back.
void ListPairsBetween(std::span<const double> x, std::span<const double> y, double low, double high,
                      std::vector<double>& out);

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
}  // namespace speedup::stats::detail
