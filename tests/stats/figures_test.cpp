#include "stats/figures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>
#include <vector>

#include "session/session_json.h"
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

TEST(FiguresTest, AmdahlFitOutsideTheLawGivesNoFractionAndFewRunsNoInterval) {
  // Catches a "serial fraction" of 1.19 or -0.011 printed as a figure, and a "95%" bootstrap
  // interval from runs too few for resampling to reach it.
  const struct {
    const char* what;
    std::function<double(int)> time;  // T(p) for team size p
    int runs;
    AmdahlFit::Shape shape;
    bool interval;
  } cases[] = {
      {"f = 0.1, 6 runs", [](int t) { return 0.01 + 0.09 / t; }, 6, AmdahlFit::Shape::kFraction,
       true},
      {"f = 0.1, 5 runs", [](int t) { return 0.01 + 0.09 / t; }, 5, AmdahlFit::Shape::kFraction,
       false},
      {"f = 0.1, 2 runs", [](int t) { return 0.01 + 0.09 / t; }, 2, AmdahlFit::Shape::kFraction,
       false},
      {"slower with more threads: b < 0", [](int t) { return 0.12 - 0.02 / t; }, 10,
       AmdahlFit::Shape::kOutsideLaw, false},
      {"faster than linear: a < 0", [](int t) { return -0.001 + 0.101 / t; }, 10,
       AmdahlFit::Shape::kOutsideLaw, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<RunReport> reports(c.runs, ReportWith(0.1, c.time));
    const AmdahlFit fit = ComputeFigures(reports, 2, 2).amdahl;
    EXPECT_EQ(fit.shape, c.shape);
    EXPECT_EQ(fit.serial_fraction.has_value(), c.shape == AmdahlFit::Shape::kFraction);
    if (fit.serial_fraction) {
      EXPECT_GE(*fit.serial_fraction, 0.0);
      EXPECT_LE(*fit.serial_fraction, 1.0);
    }
    EXPECT_EQ(fit.low.has_value() && fit.high.has_value(), c.interval);
  }
}

TEST(FiguresTest, AmdahlIntervalStaysWithinTheFractionsRange) {
  // Catches bootstrap replicates kept outside [0, 1]: runs on either side of f = 0 gave an
  // interval reaching below zero (-0.0099), a negative share of serial work.
  std::vector<RunReport> reports;
  for (int run = 0; run < 8; ++run) {
    const double two = run % 2 == 0 ? 0.0515 : 0.0485;
    reports.push_back(ReportWith(0.1, [&](int t) { return t == 1 ? 0.1 : two; }));
  }
  const AmdahlFit fit = ComputeFigures(reports, 2, 2).amdahl;
  ASSERT_EQ(fit.shape, AmdahlFit::Shape::kFraction);
  ASSERT_TRUE(fit.low && fit.high);
  EXPECT_EQ(*fit.low, 0.0) << "some replicates fall below zero and stop at the edge";
  EXPECT_GT(*fit.high, 0.0);
  EXPECT_LE(*fit.high, 1.0);
}

TEST(FiguresTest, DriftIsJudgedOnlyFromRunsThatCanShowIt) {
  // Catches drift called absent from 3 or 4 runs, whose every ordering has p of 0.083 or more.
  for (int runs = 1; runs <= 7; ++runs) {
    SCOPED_TRACE(runs);
    std::vector<RunReport> reports;
    for (int i = 0; i < runs; ++i) reports.push_back(ReportWith(0.1 + 0.01 * i, 0.05));
    const Drift drift = ComputeFigures(reports, 2).drift;
    EXPECT_EQ(drift.judged, runs >= 5);
    EXPECT_EQ(drift.runs_to_judge, 5);
    EXPECT_EQ(drift.warn, runs >= 5) << "a steady rise is drift wherever it can be judged";
  }
}

TEST(FiguresTest, IntervalsStandForTheTrueTimesWithinTheirClocksMargin) {
  // Catches an interval that is the readings' own (identical readings gave a zero-width interval,
  // printed as certainty), and one widened by a fixed millisecond whatever the input's clock.
  const struct {
    int runs;
    double serial, parallel, tick;
  } cases[] = {{10, 0.100, 0.050, MILLISECOND_TICK},
               {30, 0.060, 0.030, MILLISECOND_TICK},
               {100, 0.121, 0.032, MILLISECOND_TICK},
               {10, 0.100123, 0.050007, MICROSECOND_TICK},
               {30, 0.060001, 0.030999, MICROSECOND_TICK}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.runs);
    const std::vector<RunReport> reports(c.runs, ReportWith(c.serial, c.parallel));
    const Figures figures = ComputeFigures(reports, 2);
    EXPECT_EQ(figures.tick, (ClockTick{c.tick, true})) << "the tick is found from the values";
    const double m = CLOCK_MARGIN_TICKS * c.tick;
    ASSERT_TRUE(figures.serial.low && figures.serial.high);
    EXPECT_NEAR(*figures.serial.low, c.serial - m, 1e-15);
    EXPECT_NEAR(*figures.serial.high, c.serial + m, 1e-15);
    const Estimate& speedup = figures.teams[1].speedup_vs_serial;
    ASSERT_TRUE(speedup.low && speedup.high);
    // The true ratio lies between (S - m) / (T + m) and (S + m) / (T - m).
    EXPECT_NEAR(*speedup.low, (c.serial - m) / (c.parallel + m), 1e-12);
    EXPECT_NEAR(*speedup.high, (c.serial + m) / (c.parallel - m), 1e-12);
    const Estimate& itself = figures.teams[0].speedup_vs_one_thread;
    ASSERT_TRUE(itself.low && itself.high);
    EXPECT_EQ(*itself.low, 1.0) << "one reading over itself is exactly 1";
  }
}

// --precision stops on PrecisionFigures alone: a session must settle, and name its widest
// interval, exactly as its full figures would say. Catches the two drifting apart (a ratio taken
// the other way, a team left out, a failed run counted).
TEST(FiguresTest, PrecisionFiguresAgreeWithTheFullFiguresOnEveryTeam) {
  const struct {
    const char* name;
    Session session;
  } cases[] = {
      {"one run", SessionBuilder().Processors(2).TimedRuns(1, 1.0).Build()},
      {"steady runs", SessionBuilder().Processors(2).TimedRuns(12, 1.0).Build()},
      {"noisy runs with a failure", SessionBuilder()
                                        .Processors(4)
                                        .Runs(15,
                                              [](int run) {
                                                return ReportWith(
                                                    0.06 + run % 4 * 0.004, [run](int t) {
                                                      return 0.06 / t + (run * 7 % 5) * 0.001;
                                                    });
                                              })
                                        .FailedRun("line 3: malformed line")
                                        .Build()},
      {"a zero time", SessionBuilder()
                          .Processors(2)
                          .TimedRuns(6, 1.0)
                          .Run(ReportWith(0.06, [](int t) { return t == 3 ? 0.0 : 0.03; }))
                          .Build()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Figures full = SessionFigures(c.session);
    const Figures quick = PrecisionFigures(c.session);
    EXPECT_EQ(quick.runs, full.runs);
    ASSERT_EQ(quick.teams.size(), full.teams.size());
    for (std::size_t i = 0; i < full.teams.size(); ++i) {
      const Estimate& a = quick.teams[i].speedup_vs_serial;
      const Estimate& b = full.teams[i].speedup_vs_serial;
      EXPECT_EQ(quick.teams[i].threads, full.teams[i].threads);
      EXPECT_EQ(a.median, b.median) << "team " << i + 1;
      EXPECT_EQ(a.low, b.low) << "team " << i + 1;
      EXPECT_EQ(a.high, b.high) << "team " << i + 1;
    }
    EXPECT_EQ(WidestSpeedupInterval(quick), WidestSpeedupInterval(full));
    for (const double precision : {0.001, 0.05, 0.5}) {
      EXPECT_EQ(UnsettledTeams(quick, precision), UnsettledTeams(full, precision)) << precision;
    }
  }
}

TEST(FiguresTest, WidestSpeedupTeamIsTheOneWhoseTimesSwing) {
  // Catches a progress line naming the wrong team as the one that holds --precision back: one
  // team's times swing by 10% from run to run (on a microsecond clock), every other is steady.
  for (const int swinging : {1, 2, 7, 20}) {
    SCOPED_TRACE(swinging);
    const Session session =
        SessionBuilder()
            .Processors(2)
            .Runs(10,
                  [&](int run) {
                    return ReportWith(0.060001, [&](int t) {
                      return t == swinging ? 0.030001 * (1.0 + 0.01 * (run % 10)) : 0.030001;
                    });
                  })
            .Build();
    EXPECT_EQ(WidestSpeedupTeam(PrecisionFigures(session)), swinging);
  }
  // Too few runs for a 95% interval: no team is named, as no width is.
  const Session few = SessionBuilder()
                          .Processors(2)
                          .Runs(3, [](int) { return ReportWith(0.060001, 0.030001); })
                          .Build();
  EXPECT_EQ(WidestSpeedupTeam(PrecisionFigures(few)), std::nullopt);
}

TEST(FiguresTest, TooShortAndTheClocksFloorFollowTheInputsTick) {
  // Catches the "~" mark and the --precision floor judged by a millisecond whatever the clock:
  // 5 ms is too short for a millisecond clock but not for a microsecond one, and the floor of a
  // speedup interval shrinks a thousandfold with the tick.
  const struct {
    double tick;
    bool too_short;
  } cases[] = {{MILLISECOND_TICK, true}, {MICROSECOND_TICK, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tick);
    const std::vector<RunReport> reports(6, ReportWith(0.050, 0.005));
    const Figures figures = ComputeFigures(reports, 2, std::nullopt, ClockTick{c.tick, false});
    EXPECT_EQ(figures.teams[1].too_short, c.too_short);
    const double m = CLOCK_MARGIN_TICKS * c.tick;
    EXPECT_NEAR(ClockHalfWidth(reports[0], c.tick), (0.050 + m) / (0.005 - m) * 0.1 - 1.0, 1e-12);
  }
  EXPECT_GT(ClockHalfWidth(ReportWith(0.050, 0.005), MILLISECOND_TICK), 0.10);
  EXPECT_LT(ClockHalfWidth(ReportWith(0.050, 0.005), MICROSECOND_TICK), 0.0002);
  EXPECT_TRUE(std::isinf(ClockHalfWidth(ReportWith(0.050, 0.0004), MILLISECOND_TICK)))
      << "a margin that can hide a whole time leaves no floor";
}

}  // namespace
}  // namespace speedup

namespace speedup {
namespace {

// A merge keeps every node's runs and figures: slack left by growing a list one entry at a time
// (16 places for 10 runs, 32 for 20 team sizes) cost a fleet of 100,000 nodes a gigabyte.
TEST(FleetMemoryTest, ListsAMergeKeepsPerNodeHoldNoSlack) {
  const Session built =
      SessionBuilder()
          .Processors(4)
          .Cores(4)
          .Runs(10, [](int) { return ReportWith(0.06, [](int t) { return 0.006 + 0.054 / t; }); })
          .Build();
  const Result<Session> read = ReadSessionText(SessionRecord(built).dump());
  ASSERT_TRUE(read);
  EXPECT_EQ(read->runs.capacity(), read->runs.size()) << "runs read from a file";
  const std::vector<RunReport> passed = PassedReports(*read);
  EXPECT_EQ(passed.capacity(), passed.size()) << "the passed runs' copies";
  const Figures figures = SessionFigures(*read);
  EXPECT_EQ(figures.teams.capacity(), figures.teams.size()) << "team figures";
}

}  // namespace
}  // namespace speedup
