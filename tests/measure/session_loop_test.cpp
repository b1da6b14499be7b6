#include "measure/session_loop.h"

#include <gtest/gtest.h>

#include <csignal>
#include <deque>
#include <functional>

#include "scripted_executor.h"
#include "speedup_support.h"
#include "stats/comparison.h"

namespace speedup {
namespace {

TEST(SessionLoopTest, MakesTheRunsAskedForAndKeepsEachWhole) {
  ScriptedExecutor executor;
  MeasurePlan plan;
  plan.runs = 4;
  const Session session = Measured(plan, executor);
  ASSERT_EQ(session.runs.size(), 4u);
  EXPECT_EQ(session.requested_runs, 4);
  EXPECT_FALSE(session.stopped);
  EXPECT_TRUE(session.runs[3].report.Passed());
  EXPECT_EQ(session.runs[3].report.parallel_seconds[19], 0.03);
  EXPECT_EQ(session.runs[3].wall_seconds, 2.0);
}

TEST(SessionLoopTest, PrecisionStopsOnceEveryIntervalSettlesButNotBeforeSixRuns) {
  // Identical runs of seconds, where a tick of the clock is far below 2%: every interval is as
  // narrow as the clock allows at once.
  ScriptedExecutor executor;
  executor.script = [](int) { return ScriptedExecutor::Passing(6.0, 3.0); };
  MeasurePlan plan;
  plan.precision = 0.02;
  plan.max_runs = 50;
  const Session session = Measured(plan, executor);
  EXPECT_EQ(session.runs.size(), static_cast<std::size_t>(MIN_RUNS_FOR_95));
  EXPECT_EQ(session.requested_runs, 50);
  EXPECT_FALSE(session.stopped);
}

TEST(SessionLoopTest, PrecisionTheClockCannotReachIsRefusedAfterTheFirstTimes) {
  // Catches a session that runs to --max-runs for a precision its clock can never give: at 60 ms
  // and 30 ms on a millisecond clock, half a tick each way leaves every speedup at least ±2.6%;
  // the same times in microseconds allow 1%.
  const struct {
    double serial, parallel, precision;
    bool refused;
  } cases[] = {
      {0.060, 0.030, 0.01, true}, {0.060, 0.030, 0.03, false}, {0.060001, 0.030001, 0.01, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.precision);
    ScriptedExecutor executor;
    executor.script = [&](int) { return ScriptedExecutor::Passing(c.serial, c.parallel); };
    MeasurePlan plan;
    plan.precision = c.precision;
    plan.max_runs = 8;
    std::string error;
    const Session session = Measured(plan, executor, &error);
    EXPECT_EQ(!error.empty(), c.refused) << error;
    // A refused session keeps nothing: its first run only showed the times.
    EXPECT_EQ(session.runs.size(), c.refused ? 0u : static_cast<std::size_t>(MIN_RUNS_FOR_95));
    if (c.refused) {
      EXPECT_NE(error.find("±2.6%"), std::string::npos) << error;
    }
    // The session records the tick its own readings show, whatever the benchmark is called.
    if (!c.refused) {
      EXPECT_EQ(session.context.clock_tick_seconds,
                c.serial == 0.060 ? MILLISECOND_TICK : MICROSECOND_TICK);
    }
  }
}

TEST(SessionLoopTest, PrecisionOutOfReachOnANamedClockEndsTheFirstRunAtItsFirstRows) {
  // Catches a refusal that waits for a whole run (or a warm-up) although the benchmark's file
  // named its clock: at 60 ms and 30 ms on 1 ms the serial and 1-thread lines already keep 1.7%
  // out of reach, so the first run is ended there; on 1 us, or unnamed, it runs whole.
  const struct {
    std::optional<double> tick;
    int warmup;
    bool ended_early;
  } cases[] = {{MILLISECOND_TICK, 0, true},
               {MILLISECOND_TICK, 2, true},
               {MICROSECOND_TICK, 0, false},
               {std::nullopt, 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.warmup);
    ScriptedExecutor executor;
    executor.script = [](int) { return ScriptedExecutor::Passing(0.060, 0.030); };
    MeasurePlan plan;
    plan.precision = 0.01;
    plan.max_runs = 8;
    plan.warmup = c.warmup;
    plan.clock_tick = c.tick;
    std::string error;
    const Session session = Measured(plan, executor, &error);
    EXPECT_EQ(executor.ended_early, c.ended_early ? 1 : 0);
    if (c.ended_early) {
      EXPECT_EQ(executor.time_limits.size(), 1u);
      EXPECT_TRUE(session.runs.empty() && session.warmup_runs.empty());
      EXPECT_NE(error.find("--precision 1.0% cannot be reached: at these times a 1 ms clock alone "
                           "keeps a speedup interval at least ±"),
                std::string::npos)
          << error;
    }
    // The named clock is the one recorded, not one guessed from the values.
    if (c.tick == MICROSECOND_TICK) {
      EXPECT_EQ(session.context.clock_tick_seconds, MICROSECOND_TICK);
    }
  }
}

TEST(SessionLoopTest, PrecisionThatNeverSettlesStopsAtMaxRunsAndSaysSo) {
  ScriptedExecutor executor;
  // Speedups alternate between 2 and 1: no interval ever narrows to 2%.
  executor.script = [](int index) {
    return ScriptedExecutor::Passing(0.06, index % 2 == 0 ? 0.03 : 0.06);
  };
  MeasurePlan plan;
  plan.precision = 0.04;  // above the 2.6% that the millisecond clock alone allows here
  plan.max_runs = 12;
  const Session session = Measured(plan, executor);
  EXPECT_EQ(session.runs.size(), 12u);
  ASSERT_TRUE(session.stopped);
  EXPECT_EQ(session.stopped->kind, StopReason::Kind::kMaxRuns);
  EXPECT_EQ(session.stopped->runs, 12);
}

TEST(SessionLoopTest, TimeLimitStopsStartingRunsAndKeepsTheFinishedOnes) {
  ScriptedExecutor executor;  // each run takes 2 s on the scripted clock
  MeasurePlan plan;
  plan.runs = 10;
  plan.time_limit = 5.0;
  const Session session = Measured(plan, executor);
  EXPECT_EQ(session.runs.size(), 3u);  // started at 0, 2 and 4 s
  ASSERT_TRUE(session.stopped);
  EXPECT_EQ(session.stopped->kind, StopReason::Kind::kTimeLimit);
  EXPECT_EQ(session.stopped->seconds, 5.0);
}

TEST(SessionLoopTest, TimeoutIsGenerousFirstThenGrowsWithTheLongestPassedRun) {
  ScriptedExecutor executor;
  const std::vector<double> walls = {3.0, 9.0, 4.0, 200.0, 2.0};
  executor.script = [&walls](int index) {
    ProcessResult result = ScriptedExecutor::Passing(0.06, 0.03, walls[index]);
    if (index == 3) result.output = "garbage";  // a failed run does not raise the limit
    return result;
  };
  MeasurePlan plan;
  plan.runs = 5;
  Measured(plan, executor);
  ASSERT_EQ(executor.time_limits.size(), 5u);
  EXPECT_EQ(executor.time_limits[0], FIRST_RUN_TIMEOUT_SECONDS);
  EXPECT_EQ(executor.time_limits[1], RUN_TIMEOUT_FLOOR_SECONDS);  // 10 x 3 s is less
  EXPECT_EQ(executor.time_limits[2], RUN_TIMEOUT_FACTOR * 9.0);   // the longest so far
  EXPECT_EQ(executor.time_limits[3], RUN_TIMEOUT_FACTOR * 9.0);
  EXPECT_EQ(executor.time_limits[4], RUN_TIMEOUT_FACTOR * 9.0);  // not the failed 200 s
  MeasurePlan fixed = plan;
  fixed.run_timeout = 7.0;
  ScriptedExecutor given;
  Measured(fixed, given);
  for (const double limit : given.time_limits) EXPECT_EQ(limit, 7.0);
}

TEST(SessionLoopTest, BenchmarkLostAfterTheFirstRunEndsTheSessionWithItsReason) {
  ScriptedExecutor executor;
  executor.script = [](int index) {
    if (index < 2) return ScriptedExecutor::Passing(0.06, 0.03);
    ProcessResult result;
    result.start_error = "No such file or directory";
    return result;
  };
  MeasurePlan plan;
  plan.runs = 10;
  std::string error;
  const Session session = Measured(plan, executor, &error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(session.runs.size(), 2u);
  ASSERT_TRUE(session.stopped);
  EXPECT_EQ(session.stopped->kind, StopReason::Kind::kBenchmarkLost);
  EXPECT_EQ(session.stopped->detail, "No such file or directory");
  EXPECT_FALSE(SetByUser(*session.stopped));
}

TEST(SessionLoopTest, BenchmarkThatNeverStartsIsAnErrorNamingIt) {
  ScriptedExecutor executor;
  executor.script = [](int) {
    ProcessResult result;
    result.start_error = "Permission denied";
    return result;
  };
  std::string error;
  const Session session = Measured(MeasurePlan{}, executor, &error);
  EXPECT_EQ(error, "cannot run the benchmark bench: Permission denied");
  EXPECT_TRUE(session.runs.empty());
}

TEST(SessionLoopTest, InterruptEndsTheSessionKeepingTheFinishedRuns) {
  ScriptedExecutor executor;
  executor.script = [](int index) {
    ProcessResult result = ScriptedExecutor::Passing(0.06, 0.03);
    if (index == 3) result.interrupted = SIGTERM;
    return result;
  };
  MeasurePlan plan;
  plan.runs = 10;
  const Session session = Measured(plan, executor);
  EXPECT_EQ(session.runs.size(), 3u);
  EXPECT_EQ(session.interrupted, (Interrupt{SIGTERM, ""}));
  EXPECT_FALSE(session.stopped);
}

TEST(SessionLoopTest, ProcessFailureAndReportFailureAreBothNamed) {
  ScriptedExecutor executor;
  executor.script = [](int) {
    ProcessResult result = ScriptedExecutor::Passing(0.06, 0.03);
    result.exit_status = 3;
    result.failure = ProcessFailure{ProcessFailure::Kind::kExitStatus, 3};
    result.output = "half a report";
    return result;
  };
  MeasurePlan plan;
  plan.runs = 1;
  const Session session = Measured(plan, executor);
  ASSERT_EQ(session.runs.size(), 1u);
  const std::optional<RunFailure>& failure = session.runs[0].report.failure;
  ASSERT_TRUE(failure.has_value());
  EXPECT_TRUE(failure->process && failure->report) << FailureWords(failure);
  EXPECT_EQ(FailureWords(failure).rfind("exit status 3; ", 0), 0u) << FailureWords(failure);
}

// Without a line per run, a batch log shows nothing of where a long session is.
// --warmup: the first runs (often the slowest after a build) are made and kept apart, so no
// figure counts them, and they set the first measured run's time limit.
TEST(SessionLoopTest, WarmUpRunsComeFirstAndStayOutOfTheMeasuredRuns) {
  ScriptedExecutor executor;
  // Two slow warm-up runs (9 s of serial time), then fast ones.
  executor.script = [](int index) {
    return index < 2 ? ScriptedExecutor::Passing(9.0, 4.5, 20.0)
                     : ScriptedExecutor::Passing(0.06, 0.03);
  };
  MeasurePlan plan;
  plan.runs = 3;
  plan.warmup = 2;
  plan.progress = Progress::kLines;
  const Session session = Measured(plan, executor);
  ASSERT_EQ(session.warmup_runs.size(), 2u);
  ASSERT_EQ(session.runs.size(), 3u);
  EXPECT_EQ(session.warmup_runs[0].report.serial_seconds, 9.0);
  for (const speedup::Run& run : session.runs) EXPECT_EQ(run.report.serial_seconds, 0.06);
  EXPECT_EQ(session.requested_runs, 3);
  // The first measured run's limit comes from the longest warm-up, not the generous first one.
  ASSERT_EQ(executor.time_limits.size(), 5u);
  EXPECT_EQ(executor.time_limits[0], FIRST_RUN_TIMEOUT_SECONDS);
  EXPECT_EQ(executor.time_limits[2], RunTimeout(20.0));
  ASSERT_EQ(executor.lines.size(), 5u);
  EXPECT_EQ(executor.lines[0].rfind("warm-up run 1 of 2: passed", 0), 0u) << executor.lines[0];
  EXPECT_EQ(executor.lines[2].rfind("run 1 of 3", 0), 0u) << executor.lines[2];
}

TEST(SessionLoopTest, AnInterruptDuringTheWarmUpEndsTheSessionWithNoMeasuredRun) {
  ScriptedExecutor executor;
  executor.script = [](int) {
    ProcessResult result = ScriptedExecutor::Passing(0.06, 0.03);
    result.interrupted = SIGINT;
    return result;
  };
  MeasurePlan plan;
  plan.runs = 3;
  plan.warmup = 2;
  const Session session = Measured(plan, executor);
  EXPECT_EQ(executor.time_limits.size(), 1u) << "ran on after the interrupt";
  EXPECT_TRUE(session.runs.empty());
  EXPECT_EQ(session.interrupted, (Interrupt{SIGINT, ""}));
}

TEST(SessionLoopTest, PlainProgressIsOneLinePerRunWithTheTimeLeft) {
  ScriptedExecutor executor;  // each run takes 2 s
  executor.script = [](int index) {
    ProcessResult result = ScriptedExecutor::Passing(0.06, 0.03, index == 0 ? 4.0 : 2.0);
    if (index == 1) result.output = "garbage";
    return result;
  };
  MeasurePlan plan;
  plan.runs = 3;
  plan.progress = Progress::kLines;
  Measured(plan, executor);
  EXPECT_TRUE(executor.rewritten.empty());
  const std::vector<std::string> expected = {
      "run 1 of 3: passed in 4.0 s; about 8 s left",  // two more runs as long as the first
      "run 2 of 3: failed after 2.0 s; about 3 s left", "run 3 of 3: passed in 2.0 s"};
  EXPECT_EQ(executor.lines, expected);
}

// The estimate comes from the finished runs; the first run has none to go by.
TEST(SessionLoopTest, TerminalProgressEstimatesTheTimeLeftFromTheFinishedRuns) {
  ScriptedExecutor executor;
  MeasurePlan plan;
  plan.runs = 3;
  plan.progress = Progress::kTerminal;
  Measured(plan, executor);
  EXPECT_TRUE(executor.lines.empty());
  ASSERT_GE(executor.rewritten.size(), 4u);
  EXPECT_EQ(executor.rewritten[0].find("left"), std::string::npos) << executor.rewritten[0];
  EXPECT_NE(executor.rewritten[1].find("run 2 of 3: "), std::string::npos);
  EXPECT_NE(executor.rewritten[1].find("; about 4 s left"), std::string::npos)
      << executor.rewritten[1];
  EXPECT_NE(executor.rewritten[2].find("; about 2 s left"), std::string::npos)
      << executor.rewritten[2];
  EXPECT_EQ(executor.rewritten.back(), "");  // the line is cleared at the end
}

TEST(SessionLoopTest, NoProgressUnlessAsked) {
  ScriptedExecutor executor;
  MeasurePlan plan;
  plan.runs = 2;
  Measured(plan, executor);
  EXPECT_TRUE(executor.lines.empty());
  EXPECT_TRUE(executor.rewritten.empty());
}

TEST(SessionLoopTest, TimeLeftIsTheMeanRunTimesTheRunsLeftWithinTheLimit) {
  struct Case {
    std::vector<double> walls;
    int runs_left;
    std::optional<double> time_left;
    std::optional<double> expected;
  };
  const Case cases[] = {
      {{}, 5, std::nullopt, std::nullopt},  // nothing to go by yet
      {{2.0, 4.0}, 5, std::nullopt, 15.0},
      {{2.0, 4.0}, 5, 7.0, 7.0},  // the time limit ends the session sooner
      {{2.0}, 0, std::nullopt, 0.0},
      {{2.0}, 3, -1.0, 0.0},  // a limit already passed leaves nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.walls.size()) + " runs, " + std::to_string(c.runs_left) +
                 " left");
    EXPECT_EQ(SecondsLeft(c.walls, c.runs_left, c.time_left), c.expected);
  }
}

TEST(SessionLoopTest, WaitTextRoundsToWhatAPersonWaitsBy) {
  const std::pair<double, const char*> cases[] = {
      {0.4, "0 s"},          {44.6, "45 s"},          {60.0, "1 min"},
      {80.2, "1 min 20 s"},  {3599.0, "59 min 59 s"}, {3600.0, "1 h"},
      {7500.0, "2 h 5 min"}, {-3.0, "0 s"},
  };
  for (const auto& [seconds, text] : cases) {
    SCOPED_TRACE(seconds);
    EXPECT_EQ(WaitText(seconds), text);
  }
}

// A scripted executor that remembers each run's OMP_PROC_BIND, on a machine that slows down run
// after run whatever the placement: the drift a study of placements must not mistake for one.
}  // namespace
}  // namespace speedup
