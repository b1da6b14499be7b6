#include "bench/clock.h"

#include <chrono>

namespace {
#ifdef MATBENCH_FINE_CLOCK
using Tick = std::chrono::microseconds;
#else
using Tick = std::chrono::milliseconds;
#endif
static_assert(Tick::period::den / Tick::period::num == static_cast<long long>(TICKS_PER_SECOND),
              "the tick read must be the tick converted");
}  // namespace

ClockTicks ReadClock() {
  const auto since_start = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<Tick>(since_start).count();
}

double ElapsedSeconds(ClockTicks t0, ClockTicks t1) {
  return static_cast<double>(t1 - t0) / TICKS_PER_SECOND;
}
