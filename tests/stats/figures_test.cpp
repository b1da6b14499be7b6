#include "stats/figures.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "speedup_support.h"

namespace speedup {
namespace {

TEST(FiguresTest, MedianOfOddAndEvenCounts) {
  EXPECT_EQ(Estimated({3.0, 1.0, 2.0}).median, 2.0);
  EXPECT_EQ(Estimated({4.0, 1.0, 3.0, 2.0}).median, 2.5);
  EXPECT_EQ(Estimated({7.0}).median, 7.0);
  EXPECT_FALSE(Estimated({7.0, std::nullopt}).median.has_value());
}

TEST(FiguresTest, ZeroTimesGiveNoRatioRatherThanZeroInfOrNaN) {
  const struct {
    const char* name;
    RunReport report;
    int zero_team;  // the team size whose ratio has a zero time in it
  } cases[] = {
      {"zero serial time", ReportWith(0.0, [](int t) { return t == 2 ? 0.010 : 0.0; }), 2},
      {"zero parallel time", ReportWith(0.060, [](int t) { return t == 3 ? 0.0 : 0.030; }), 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Figures figures = ComputeFigures({c.report}, 2);
    const TeamFigures& zero = figures.teams[c.zero_team - 1];
    EXPECT_FALSE(zero.speedup_vs_serial.median.has_value());
    EXPECT_FALSE(zero.efficiency.median.has_value());
    EXPECT_FALSE(zero.ratio_of_medians.has_value());
    EXPECT_TRUE(zero.too_short);
    EXPECT_TRUE(zero.noisy);
  }
}

TEST(FiguresTest, MarksTeamSizesAboveTheProcessorsAndTimesTooShortToMeasure) {
  const auto reports = ParseReports(ReportText() + ReportText());
  ASSERT_EQ(reports.size(), 2u);
  const Figures figures = ComputeFigures(reports, 4);
  for (const TeamFigures& team : figures.teams) {
    SCOPED_TRACE(team.threads);
    EXPECT_EQ(team.oversubscribed, team.threads > 4);
    EXPECT_FALSE(team.too_short);
  }
  for (const TeamFigures& team : ComputeFigures(reports, std::nullopt).teams) {
    SCOPED_TRACE(team.threads);
    EXPECT_FALSE(team.oversubscribed) << "marked without a processor count";
  }
  RunReport fast = reports[0];
  fast.parallel_seconds[5] = 0.019;
  EXPECT_TRUE(ComputeFigures({fast}, 4).teams[5].too_short);
  EXPECT_FALSE(ComputeFigures({fast}, 4).teams[4].too_short);
}

TEST(FiguresTest, KarpFlattAndAmdahlFitRecoverAKnownSerialFraction) {
  EXPECT_DOUBLE_EQ(KarpFlatt(4.0, 4), 0.0);
  EXPECT_DOUBLE_EQ(KarpFlatt(1.0, 4), 1.0);
  // T(p) = 0.01 + 0.09 / p: f = 0.1 exactly, whatever the runs resampled.
  const std::vector<RunReport> reports(6, ReportWith(0.1, [](int t) { return 0.01 + 0.09 / t; }));
  const Figures figures = ComputeFigures(reports, 2, 4);
  EXPECT_EQ(figures.amdahl.team_sizes, 4);
  ASSERT_TRUE(figures.amdahl.serial_fraction && figures.amdahl.low && figures.amdahl.high &&
              figures.amdahl.limit);
  EXPECT_NEAR(*figures.amdahl.serial_fraction, 0.1, 1e-12);
  EXPECT_NEAR(*figures.amdahl.low, 0.1, 1e-12);
  EXPECT_NEAR(*figures.amdahl.high, 0.1, 1e-12);
  EXPECT_NEAR(*figures.amdahl.limit, 10.0, 1e-9);
  const TeamFigures& four = figures.teams[3];
  ASSERT_TRUE(four.karp_flatt);
  EXPECT_NEAR(*four.karp_flatt, 0.1, 1e-12) << "Amdahl's own speedup gives e = f";
  EXPECT_FALSE(figures.teams[0].karp_flatt.has_value());
  EXPECT_FALSE(ComputeFigures(reports, std::nullopt).amdahl.a.has_value());
}

}  // namespace
}  // namespace speedup
