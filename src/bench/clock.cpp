#include "bench/clock.h"

#include <chrono>
#include <string_view>

#include "bench/report_texts.h"

namespace {
#ifdef MATBENCH_FINE_CLOCK
using Tick = std::chrono::microseconds;
#else
using Tick = std::chrono::milliseconds;
#endif
// Kept by the compiler and the linker though nothing reads it at run time.
#ifdef MATBENCH_FINE_CLOCK
[[gnu::used]] constexpr char CLOCK_TICK_MARK[] = "MATBENCH_CLOCK_TICK_SECONDS=0.000001";
#else
[[gnu::used]] constexpr char CLOCK_TICK_MARK[] = "MATBENCH_CLOCK_TICK_SECONDS=0.001";
#endif
static_assert(std::string_view(CLOCK_TICK_MARK).starts_with(CLOCK_TICK_MARK_PREFIX));
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
