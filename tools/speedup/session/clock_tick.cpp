#include "session/clock_tick.h"

#include <cmath>

#include "base/policy.h"
#include "bench/report_texts.h"

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

std::optional<double> TickOfMark(std::string_view bytes) {
  const std::string_view prefix = CLOCK_TICK_MARK_PREFIX;
  for (std::size_t at = bytes.find(prefix); at != bytes.npos; at = bytes.find(prefix, at + 1)) {
    const std::string_view rest = bytes.substr(at + prefix.size());
    // Only the two clocks' own words, each ended by the zero byte of a C string.
    if (rest.starts_with(std::string_view("0.001\0", 6))) return MILLISECOND_TICK;
    if (rest.starts_with(std::string_view("0.000001\0", 9))) return MICROSECOND_TICK;
  }
  return std::nullopt;
}

ClockTick SessionTick(const Session& session) {
  const std::optional<double>& recorded = session.context.clock_tick_seconds;
  if (recorded && *recorded > 0.0 && *recorded <= 1.0) return {*recorded, false};
  return {TickOfValues(PassedReports(session)), true};
}

}  // namespace speedup
