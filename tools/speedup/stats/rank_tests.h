#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "base/policy.h"

// Rank tests of two samples and of a pairing: Spearman's correlation, Mann-Whitney's test and
// the Hodges-Lehmann shift with Moses' interval, the least p each can give, and Holm's
// adjustment of many p-values; exact laws for small samples, each checked against published
// tables. Every value passed in must be finite.
namespace speedup::stats {

struct Correlation {
  double rho = 0.0;
  double p_value = 1.0;  // two-sided, for "no correlation"
  bool exact = false;    // permutation distribution rather than the t approximation
};

struct RankSumTest {
  double u = 0.0;        // pairs with x > y, plus half the tied pairs; 0..n1*n2
  double p_value = 1.0;  // two-sided, for "same distribution"
  bool exact = false;    // exact permutation distribution rather than the normal approximation
};

struct ShiftEstimate {
  double shift = 0.0;  // Hodges-Lehmann estimate of y - x
  double low = 0.0;
  double high = 0.0;
  double confidence = 0.0;  // coverage reached by [low, high]; 0 when there is one pair only
  // The test rejects the end itself though it keeps every shift just inside it (ties put pairs
  // on it), so the interval is open there: (low, high] or [low, high).
  bool low_open = false, high_open = false;
};

// Spearman's rho on average ranks with a two-sided p-value: exact over all n! pairings for
// n <= EXACT_SPEARMAN_MAX (ties included), else t = rho sqrt((n - 2) / (1 - rho^2)) with n - 2
// degrees of freedom. x and y the same size. Empty when n < 2 or either side is constant.
std::optional<Correlation> SpearmanCorrelation(std::span<const double> x,
                                               std::span<const double> y);

// Mann-Whitney U of x against y with a two-sided p-value. Exact up to EXACT_RANK_SUM_MAX values
// in all, over the pooled midranks so ties are exact too (p = P(|W - E W| >= observed));
// above it, normal with tie and continuity corrections. p = 1 when either sample is empty.
RankSumTest MannWhitney(std::span<const double> x, std::span<const double> y);

// Hodges-Lehmann shift of y - x (median of the n1*n2 differences y_j - x_i) with Moses'
// interval: the k-th smallest and k-th largest difference, where k inverts MannWhitney's own
// two-sided test under its own law (exact over the pooled midranks, ties included, up to
// EXACT_RANK_SUM_MAX values, else normal with the tie and continuity corrections): a shift lies
// inside when the test of y against x moved by it, at the observed pattern of ties, gives
// p >= 1 - target. So the interval leaves out 0 exactly when MannWhitney(x, y) gives
// p < 1 - target. If even k = 1 falls short, k = 1 with its own coverage. An empty sample gives
// all zeros. Apply it to log times for a ratio y / x = exp(shift). The differences are never
// listed: each is selected by bisection over counts of pairs, in O((n1 + n2) log) time and
// O(n1 + n2) memory.
ShiftEstimate HodgesLehmann(std::span<const double> x, std::span<const double> y,
                            double target = 0.95);

// The smallest two-sided p that MannWhitney can give for n1 against n2 values (both at least 1),
// under the law it uses: 2 / C(n1 + n2, n1) from the exact distribution up to
// EXACT_RANK_SUM_MAX values, the normal approximation's smallest above. Ties only raise it.
double SmallestRankSumP(std::size_t n1, std::size_t n2);

// The smallest two-sided p that SpearmanCorrelation can give for n pairs (at least 2): 2 / n!
// from the permutation distribution up to EXACT_SPEARMAN_MAX, else 0.
double SmallestSpearmanP(std::size_t n);

// Holm step-down adjusted p-values in input order: sorted ascending, the i-th (from 0) of m is
// (m - i) p, made non-decreasing along the sort and capped at 1. Empty in, empty out.
std::vector<double> HolmAdjust(std::span<const double> p_values);

}  // namespace speedup::stats
