#include "session/clock_tick.h"

#include <gtest/gtest.h>

#include <optional>

#include "base/policy.h"
#include "speedup_support.h"

namespace speedup {
namespace {

TEST(ClockTickTest, MarkInABenchmarksBytesNamesItsClockAndNothingElseDoes) {
  // Catches a clock read from the wrong words: the mark's prefix alone, another value, or a value
  // that only begins like a tick ("0.0010") must name none, and a later true mark still counts.
  using namespace std::string_literals;
  const std::string prefix = "MATBENCH_CLOCK_TICK_SECONDS=";
  const struct {
    std::string bytes;
    std::optional<double> tick;
  } cases[] = {
      {"\x7f"
       "ELF..."s +
           prefix + "0.001\0..."s,
       MILLISECOND_TICK},
      {prefix + "0.000001\0"s, MICROSECOND_TICK},
      {prefix + "0.0010\0"s, std::nullopt},
      {prefix + "0.5\0"s, std::nullopt},
      {prefix, std::nullopt},
      {prefix + "1\0"s + prefix + "0.000001\0"s, MICROSECOND_TICK},
      {"no mark at all", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(TickOfMark(c.bytes), c.tick);
  }
}

TEST(ClockTickTest, FoundFromTheValuesWhenNotRecorded) {
  // Catches a tick assumed rather than read: an old session file or a raw report of the fine
  // build taken for millisecond readings (widened a thousandfold too much), or a whole-millisecond
  // one taken for microseconds because its decimals did not round-trip exactly.
  const struct {
    const char* fault;
    double serial, parallel;
    std::optional<double> recorded;
    ClockTick expected;
  } cases[] = {
      {"whole milliseconds", 0.121, 0.061, std::nullopt, {MILLISECOND_TICK, true}},
      {"decimals that are no exact double", 0.1, 0.3, std::nullopt, {MILLISECOND_TICK, true}},
      {"one microsecond off a millisecond",
       0.121,
       0.061001,
       std::nullopt,
       {MICROSECOND_TICK, true}},
      {"a serial time in microseconds", 0.120999, 0.061, std::nullopt, {MICROSECOND_TICK, true}},
      {"a recorded tick wins", 0.121, 0.061, MICROSECOND_TICK, {MICROSECOND_TICK, false}},
      {"a zero tick is none", 0.121, 0.061, 0.0, {MILLISECOND_TICK, true}},
      {"a tick above a second is none", 0.121, 0.061001, 2.0, {MICROSECOND_TICK, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    SessionBuilder builder;
    builder.Runs(3, [&](int) { return ReportWith(c.serial, c.parallel); });
    if (c.recorded) builder.Tick(*c.recorded);
    EXPECT_EQ(SessionTick(builder.Build()), c.expected);
  }
}

TEST(ClockTickTest, FailedRunsDoNotDecideTheTick) {
  // Catches a failed run's times, kept out of the figures, deciding the clock of the passed ones.
  RunReport failed = ReportWith(0.1205, 0.0605);
  failed.failure = RunFailureFromText("ParallelMulti ( 3 ) mismatch");
  const Session session = SessionBuilder().Run(ReportWith(0.121, 0.061)).Run(failed).Build();
  EXPECT_EQ(SessionTick(session), (ClockTick{MILLISECOND_TICK, true}));
}

}  // namespace
}  // namespace speedup
