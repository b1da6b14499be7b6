#pragma once

#include <cstdint>

// Clock readings in whole milliseconds.
using ClockTicks = std::int64_t;

inline constexpr double TICKS_PER_SECOND = 1000.0;

// Wall-clock milliseconds since a fixed point; never goes backwards.
ClockTicks ReadClock();

// Seconds from reading t0 to the later reading t1: (t1 - t0) / TICKS_PER_SECOND.
double ElapsedSeconds(ClockTicks t0, ClockTicks t1);
