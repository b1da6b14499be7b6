#pragma once

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

// The recorded tick when the context holds one in (0, 1] s; otherwise the one found from the
// passed runs' values, marked found.
ClockTick SessionTick(const Session& session);

}  // namespace speedup
