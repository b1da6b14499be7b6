#pragma once

#include <cstdint>

// Clock readings in whole ticks: milliseconds, or microseconds in the fine build (matbench-fine,
// compiled with MATBENCH_FINE_CLOCK). The report prints six decimals of a second either way.
using ClockTicks = std::int64_t;

#ifdef MATBENCH_FINE_CLOCK
inline constexpr double TICKS_PER_SECOND = 1000000.0;
#else
inline constexpr double TICKS_PER_SECOND = 1000.0;
#endif

// Wall-clock ticks since a fixed point; never goes backwards.
ClockTicks ReadClock();

// Seconds from reading t0 to the later reading t1: (t1 - t0) / TICKS_PER_SECOND.
double ElapsedSeconds(ClockTicks t0, ClockTicks t1);
