#include "session/clock_tick.h"

#include <cmath>

#include "base/policy.h"

namespace speedup {
namespace {

// A report's six decimals hold whole microseconds; a whole millisecond has its last three zero,
// up to the rounding of the printed decimal into a double.
bool WholeMilliseconds(double seconds) {
  const double microseconds = std::round(seconds / MICROSECOND_TICK);
  return std::fmod(microseconds, 1000.0) == 0.0;
}

}  // namespace

double TickOfValues(const std::vector<RunReport>& reports) {
  for (const RunReport& report : reports) {
    if (!WholeMilliseconds(report.serial_seconds)) return MICROSECOND_TICK;
    for (const double seconds : report.parallel_seconds) {
      if (!WholeMilliseconds(seconds)) return MICROSECOND_TICK;
    }
  }
  return MILLISECOND_TICK;
}

ClockTick SessionTick(const Session& session) {
  const std::optional<double>& recorded = session.context.clock_tick_seconds;
  if (recorded && *recorded > 0.0 && *recorded <= 1.0) return {*recorded, false};
  return {TickOfValues(PassedReports(session)), true};
}

}  // namespace speedup
