// The Amdahl bootstrap's medians from counts of draws, against the medians of the drawn values
// written out: one wrong rank would move every node's interval of a merged fleet.
#include "stats/resampling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "speedup_support.h"
#include "stats/figures.h"
#include "stats/quantiles.h"

namespace speedup {
namespace {

using stats::Median;
using stats::MedianOfDraws;

std::vector<std::uint32_t> AscendingOrder(const std::vector<double>& values) {
  std::vector<std::uint32_t> order(values.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(),
            [&](std::uint32_t a, std::uint32_t b) { return values[a] < values[b]; });
  return order;
}

std::vector<double> WrittenOut(const std::vector<double>& values,
                               const std::vector<std::uint32_t>& draws) {
  std::vector<double> drawn;
  for (std::size_t i = 0; i < values.size(); ++i) drawn.insert(drawn.end(), draws[i], values[i]);
  return drawn;
}

TEST(MedianOfDrawsTest, GivesTheMedianOfTheDrawnValuesForOddEvenTiedAndUndrawn) {
  const struct {
    const char* name;
    std::vector<double> values;
    std::vector<std::uint32_t> draws;
  } cases[] = {
      {"odd total", {3, 1, 2}, {1, 1, 1}},
      {"even total averages the middle pair", {4, 1, 3, 2}, {1, 1, 1, 1}},
      {"both middle ranks in one value drawn often", {5, 1, 9}, {0, 1, 3}},
      {"middle pair split across values", {5, 1, 9}, {1, 1, 2}},
      {"undrawn values skipped", {0.3, 0.1, 0.2, 0.4}, {0, 2, 0, 2}},
      {"tied values", {2, 2, 1, 2}, {1, 0, 3, 2}},
      {"one value drawn once", {7, 8}, {1, 0}},
      {"the largest value holds the upper middle", {1, 2, 3}, {1, 0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MedianOfDraws(c.values, AscendingOrder(c.values), c.draws),
              Median(WrittenOut(c.values, c.draws)));
  }
}

TEST(MedianOfDrawsTest, RandomResamplesGiveMediansToTheBit) {
  std::mt19937_64 engine(7);
  for (std::size_t n : {1u, 2u, 5u, 10u, 11u, 40u}) {
    std::vector<double> values(n);
    // Few distinct values, so that ties are common.
    for (double& v : values) v = 0.1 * static_cast<double>(stats::DrawBelow(engine, 6));
    const std::vector<std::uint32_t> order = AscendingOrder(values);
    for (int resample = 0; resample < 200; ++resample) {
      std::vector<std::uint32_t> draws(n, 0);
      for (std::size_t i = 0; i < n; ++i) ++draws[stats::DrawBelow(engine, n)];
      ASSERT_EQ(MedianOfDraws(values, order, draws), Median(WrittenOut(values, draws))) << n;
    }
  }
}

// The interval as the bootstrap drew it before it counted draws: each resample's runs written
// out, each team's median selected from them, the line fitted by Theil-Sen.
stats::Interval ReferenceInterval(const std::vector<RunReport>& reports, int cores) {
  std::mt19937_64 engine(AMDAHL_SEED);
  std::vector<double> fractions;
  for (int resample = 0; resample < AMDAHL_RESAMPLES; ++resample) {
    const std::vector<std::size_t> chosen = stats::ResampleIndices(engine, reports.size());
    std::vector<stats::Point> points;
    for (int threads = 1; threads <= cores; ++threads) {
      std::vector<double> times;
      for (const std::size_t run : chosen)
        times.push_back(reports[run].parallel_seconds[threads - 1]);
      points.push_back({1.0 / threads, Median(times)});
    }
    const auto line = stats::TheilSen(points);
    if (!line || !(line->intercept + line->slope > 0.0)) continue;
    fractions.push_back(std::clamp(line->intercept / (line->intercept + line->slope), 0.0, 1.0));
  }
  return stats::PercentileInterval(fractions, CONFIDENCE);
}

TEST(AmdahlBootstrapTest, IntervalIsTheOneOfWrittenOutResamples) {
  // Run counts that go back to one met before catch a shared table of draws kept for another
  // count; one above SHARED_DRAWS_MAX_RUNS, a fit that draws as it goes unlike the table.
  const int beyond = static_cast<int>(SHARED_DRAWS_MAX_RUNS) + 1;
  for (const int runs : {6, 7, 10, 6, beyond, 10}) {
    std::mt19937_64 engine(static_cast<std::uint64_t>(runs));
    std::vector<RunReport> reports;
    for (int run = 0; run < runs; ++run) {
      const double noise = 1.0 + 0.01 * static_cast<double>(stats::DrawBelow(engine, 5));
      reports.push_back(ReportWith(0.1 * noise, [&](int t) { return (0.01 + 0.09 / t) * noise; }));
    }
    SCOPED_TRACE(runs);
    const AmdahlFit fit = FitAmdahl(reports, 4);
    const stats::Interval reference = ReferenceInterval(reports, 4);
    ASSERT_TRUE(fit.low && fit.high);
    EXPECT_EQ(*fit.low, reference.low);
    EXPECT_EQ(*fit.high, reference.high);
  }
}

}  // namespace
}  // namespace speedup
