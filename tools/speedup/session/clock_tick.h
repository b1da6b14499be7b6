#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "session/report_parser.h"
#include "session/session.h"

// The tick of the clock that read a session's times: recorded in its context by the session
// that ran, else found from the times themselves.
namespace speedup {

struct ClockTick {
  double seconds = 0.0;  // MILLISECOND_TICK or MICROSECOND_TICK, or what a session recorded
  bool found = false;    // not recorded: found from the values (old session files, raw reports)

  bool operator==(const ClockTick&) const = default;
};

// MILLISECOND_TICK where every time of `reports` is a whole millisecond (none at all counts as
// whole), else MICROSECOND_TICK.
double TickOfValues(const std::vector<RunReport>& reports);

// The tick a benchmark's file carries (CLOCK_TICK_MARK_PREFIX then 0.001 or 0.000001, ended by
// a zero byte), found in its bytes; empty where none is: a program that is not this project's
// build, or one from before the mark. Linear in the size of `bytes`.
std::optional<double> TickOfMark(std::string_view bytes);

// The recorded tick when the context holds one in (0, 1] s; otherwise the one found from the
// passed runs' values, marked found.
ClockTick SessionTick(const Session& session);

}  // namespace speedup
