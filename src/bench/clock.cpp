#include "bench/clock.h"

#include <chrono>

ClockTicks ReadClock() {
  const auto since_start = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::milliseconds>(since_start).count();
}

double ElapsedSeconds(ClockTicks t0, ClockTicks t1) {
  return static_cast<double>(t1 - t0) / TICKS_PER_SECOND;
}
