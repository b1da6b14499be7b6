#pragma once

// Independent counts of the rank-sum law and the Hodges-Lehmann interval, which the rank tests'
// checks set the tool's selection against, and samples drawn with many ties.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <random>
#include <vector>

#include "base/policy.h"
#include "stats/rank_tests.h"

namespace speedup::stats {

using Values = std::vector<double>;

// The two-sided law of |2U - n1 n2| as MannWhitney uses it, counted here independently: exact
// over the pooled doubled midranks (ties included) by a map of (picked, sum) up to
// EXACT_RANK_SUM_MAX values, else normal with the tie and continuity corrections.
struct BruteLaw {
  std::map<std::int64_t, double> by_sum;  // exact: ways for the first sample's doubled rank sum
  double all = 0.0;
  std::int64_t expected = 0;
  double sigma = 0.0;  // normal: standard deviation of U
  bool exact = false;

  double Tail(double deviation) const {
    if (exact) {
      double extreme = 0.0;
      for (const auto& [sum, ways] : by_sum) {
        if (static_cast<double>(std::llabs(sum - expected)) >= deviation) extreme += ways;
      }
      return extreme / all;
    }
    if (!(sigma > 0.0)) return 1.0;
    return std::min(1.0, std::erfc(std::max(0.0, deviation / 2.0 - 0.5) / sigma / std::sqrt(2.0)));
  }
};

inline BruteLaw BruteRankLaw(const Values& x, const Values& y) {
  Values pooled = x;
  pooled.insert(pooled.end(), y.begin(), y.end());
  const std::size_t n = pooled.size();
  std::vector<std::int64_t> doubled;
  double tie_term = 0.0;
  for (const double v : pooled) {
    const auto less = std::count_if(pooled.begin(), pooled.end(), [&](double w) { return w < v; });
    const auto equal = std::count(pooled.begin(), pooled.end(), v);
    doubled.push_back(2 * less + equal + 1);
    tie_term += (static_cast<double>(equal) * equal * equal - static_cast<double>(equal)) /
                static_cast<double>(equal);  // each of a group of t adds (t^3 - t) / t
  }
  BruteLaw law;
  const double n1 = static_cast<double>(x.size()), n2 = static_cast<double>(y.size());
  if (n <= EXACT_RANK_SUM_MAX) {
    std::vector<std::map<std::int64_t, double>> ways(x.size() + 1);
    ways[0][0] = 1.0;
    for (const std::int64_t rank : doubled) {
      for (std::size_t c = x.size(); c >= 1; --c) {
        for (const auto& [sum, count] : ways[c - 1]) ways[c][sum + rank] += count;
      }
    }
    law.by_sum = ways[x.size()];
    for (const auto& entry : law.by_sum) law.all += entry.second;
    law.expected = static_cast<std::int64_t>(x.size() * (n + 1));
    law.exact = true;
  } else {
    const double nd = static_cast<double>(n);
    law.sigma = std::sqrt(n1 * n2 / 12.0 * ((nd + 1.0) - tie_term / (nd * (nd - 1.0))));
  }
  return law;
}

// The Hodges-Lehmann estimate with its interval found as the definition says, by trying every
// shift: the median of all differences listed and sorted, and as the interval the least and the
// greatest shift at which the rank-sum test of y against x moved by it (U counting tied pairs as
// halves) gives p >= 1 - target under the law of the observed ties, a shift between two
// differences standing for the gap.
inline ShiftEstimate BruteForceHodgesLehmann(const Values& x, const Values& y,
                                             double target = 0.95) {
  Values d;
  for (const double yj : y) {
    for (const double xi : x) d.push_back(yj - xi);
  }
  std::sort(d.begin(), d.end());
  const std::size_t m = d.size();
  ShiftEstimate result;
  if (m == 0) return result;
  result.shift = m % 2 == 1 ? d[m / 2] : (d[m / 2 - 1] + d[m / 2]) / 2.0;
  const BruteLaw law = BruteRankLaw(x, y);
  const double alpha = 1.0 - target;
  const double md = static_cast<double>(m);
  const auto accepted = [&](double u) { return law.Tail(std::fabs(2.0 * u - md)) >= alpha; };
  const auto above = [&](double v) {
    return static_cast<double>(d.end() - std::upper_bound(d.begin(), d.end(), v));
  };
  const auto at = [&](double v) {
    return static_cast<double>(std::upper_bound(d.begin(), d.end(), v) -
                               std::lower_bound(d.begin(), d.end(), v));
  };
  Values distinct = d;
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  result.low = distinct.front();
  if (!accepted(md)) {
    for (const double v : distinct) {
      if (accepted(above(v) + at(v) / 2.0) || accepted(above(v))) {
        result.low = v;
        break;
      }
    }
  }
  result.high = distinct.back();
  if (!accepted(0.0)) {
    for (auto v = distinct.rbegin(); v != distinct.rend(); ++v) {
      if (accepted(above(*v) + at(*v) / 2.0) || accepted(above(*v) + at(*v))) {
        result.high = *v;
        break;
      }
    }
  }
  result.low_open = !accepted(above(result.low) + at(result.low) / 2.0);
  result.high_open = !accepted(above(result.high) + at(result.high) / 2.0);
  // The coverage of the k-th smallest to k-th largest: 1 - P(|2U - m| >= m - 2k + 2).
  double widest = 0.0;
  while (widest + 1.0 <= md && law.Tail(widest + 1.0) >= alpha) widest += 1.0;
  const double k = std::max(1.0, std::ceil((md - widest) / 2.0));
  // Named by the tied law's coverage, at most the untied one of the widest interval, k = 1.
  Values x_untied, y_untied;
  for (std::size_t i = 0; i < x.size(); ++i) x_untied.push_back(static_cast<double>(i));
  for (std::size_t i = 0; i < y.size(); ++i) y_untied.push_back(0.5 + static_cast<double>(i));
  const BruteLaw untied = BruteRankLaw(x_untied, y_untied);
  result.confidence = std::max(0.0, 1.0 - std::max(law.Tail(md + 2.0 - 2.0 * k), untied.Tail(md)));
  return result;
}

// n values drawn from `engine`: continuous when `levels` is 0, else from that many values only,
// so that many differences tie.
inline Values Drawn(std::mt19937_64& engine, std::size_t n, int levels, double shift) {
  Values values;
  std::normal_distribution<double> normal(shift, 1.0);
  for (std::size_t i = 0; i < n; ++i) {
    const double value = normal(engine);
    values.push_back(levels == 0 ? value : std::round(value * levels / 4.0) / levels);
  }
  return values;
}

}  // namespace speedup::stats
