#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "bench/clock.h"

// The fine build's clock unit (matbench-fine): the same conversion, in microseconds.
namespace {

struct ElapsedCase {
  ClockTicks t0, t1;
  const char* printed;
};

TEST(FineElapsedSecondsTest, TicksBecomeMicrosecondsInTheSixPrintedDecimals) {
  const ElapsedCase cases[] = {
      {0, 125, "0.000125"},  // a millisecond conversion would print 0.125000
      {1000, 1000, "0.000000"},
      {5, 2000006, "2.000001"},
      // Readings past the 32-bit range must not wrap.
      {4294967290LL, 4294967300LL, "0.000010"},
      {2147483000LL, 2147484125LL, "0.001125"},
  };
  for (const ElapsedCase& c : cases) {
    char printed[64];
    std::snprintf(printed, sizeof printed, "%f", ElapsedSeconds(c.t0, c.t1));
    EXPECT_STREQ(printed, c.printed) << c.t0 << " to " << c.t1;
  }
}

TEST(FineReadClockTest, CountsMicrosecondsForward) {
  const ClockTicks before = ReadClock();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const ClockTicks elapsed = ReadClock() - before;
  EXPECT_GE(elapsed, 30000);     // milliseconds would show 30
  EXPECT_LT(elapsed, 10000000);  // nanoseconds would show tens of millions
}

}  // namespace
