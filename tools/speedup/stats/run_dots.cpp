#include "stats/run_dots.h"

#include <algorithm>

#include "base/policy.h"
#include "bench/sweep.h"

namespace speedup {
namespace {

double RowTime(const RunReport& report, int threads) {
  return threads == 0 ? report.serial_seconds : report.parallel_seconds[threads - 1];
}

// Each passed run's time of the row over `reference`; runs without a ratio (a zero time) are
// left out of the values but counted.
RowDots DotsOf(const Session& session, int threads, std::optional<double> reference) {
  RowDots dots{threads, {}, 0};
  for (const Run& run : session.runs) {
    if (!run.report.Passed()) continue;
    ++dots.runs;
    if (!reference) continue;
    if (const auto ratio = Ratio(RowTime(run.report, threads), *reference)) {
      dots.values.push_back(*ratio);
    }
  }
  std::sort(dots.values.begin(), dots.values.end());
  dots.values = AtEvenRanks(dots.values, HTML_STRIP_DOTS);
  return dots;
}

RunOrder OrderOf(const Session& session, int threads, std::optional<double> median) {
  RunOrder order{threads, {}, {}, 0, 1};
  for (const Run& run : session.runs) order.runs += run.report.Passed() ? 1 : 0;
  const int limit = static_cast<int>(HTML_ORDER_DOTS);
  order.step = std::max(1, (order.runs + limit - 1) / limit);
  int passed = 0;
  for (std::size_t i = 0; i < session.runs.size(); ++i) {
    const RunReport& report = session.runs[i].report;
    if (!report.Passed() || passed++ % order.step != 0 || !median) continue;
    if (const auto ratio = Ratio(RowTime(report, threads), *median)) {
      order.run.push_back(static_cast<int>(i) + 1);
      order.values.push_back(*ratio);
    }
  }
  return order;
}

// The least and greatest of the values it was shown; 1 and 1 before any.
struct Extent {
  bool any = false;
  double low = 1.0, high = 1.0;

  template <typename Rows>
  void Add(const Rows& rows) {
    for (const auto& row : rows) {
      for (const double value : row.values) {
        low = any ? std::min(low, value) : value;
        high = any ? std::max(high, value) : value;
        any = true;
      }
    }
  }
};

}  // namespace

std::vector<double> AtEvenRanks(const std::vector<double>& sorted, std::size_t limit) {
  if (sorted.size() <= limit) return sorted;
  std::vector<double> kept;
  kept.reserve(limit);
  const double stride = static_cast<double>(sorted.size() - 1) / static_cast<double>(limit - 1);
  for (std::size_t i = 0; i < limit; ++i) {
    kept.push_back(sorted[static_cast<std::size_t>(static_cast<double>(i) * stride + 0.5)]);
  }
  return kept;
}

RunDots SessionRunDots(const Session& session, const Figures& figures) {
  RunDots dots;
  dots.rows.push_back(DotsOf(session, 0, figures.serial.median));
  std::optional<int> fastest;
  std::optional<double> best;
  for (const TeamFigures& team : figures.teams) {
    dots.rows.push_back(DotsOf(session, team.threads, team.seconds.median));
    const std::optional<double>& speedup = team.speedup_vs_serial.median;
    if (speedup && (!best || *speedup > *best)) {
      best = speedup;
      fastest = team.threads;
    }
  }
  Extent rows;
  rows.Add(dots.rows);
  dots.low = rows.low;
  dots.high = rows.high;
  dots.order_runs = static_cast<int>(session.runs.size());
  dots.order.push_back(OrderOf(session, 0, figures.serial.median));
  if (fastest) {
    dots.order.push_back(OrderOf(session, *fastest, figures.teams[*fastest - 1].seconds.median));
  }
  Extent order;
  order.Add(dots.order);
  dots.order_low = order.low;
  dots.order_high = order.high;
  return dots;
}

RunDots ComparedRunDots(const Session& base, const Session& added, const Comparison& comparison) {
  RunDots dots;
  for (const RowComparison& row : comparison.rows) {
    dots.rows.push_back(DotsOf(base, row.threads, row.base_median));
    dots.added.push_back(DotsOf(added, row.threads, row.base_median));
  }
  Extent both;
  both.Add(dots.rows);
  both.Add(dots.added);
  dots.low = both.low;
  dots.high = both.high;
  return dots;
}

}  // namespace speedup
