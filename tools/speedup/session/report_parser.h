#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench/sweep.h"
#include "session/run_failure.h"

// Reading the benchmark's reports back from their bytes.
namespace speedup {

// One benchmark report as read back from its bytes.
struct RunReport {
  double serial_seconds = 0.0;
  std::array<double, MAX_THREADS> parallel_seconds{};  // [t - 1] holds team size t
  // None when the report is whole and every product was verified (and its run's process passed).
  std::optional<RunFailure> failure;
  bool stray = false;  // made of lines that belong to no report

  bool Passed() const { return !failure; }
};

// Times of this many seconds or more (31 years) are no measurement.
inline constexpr double MAX_SECONDS = 1e9;

// What a time is, in a report and in a saved session alike: seconds, not negative (-0 included,
// which is how printf writes a small negative time) and below
// MAX_SECONDS (so never NaN or infinite). One rule, so that whatever a report gives, a saved
// session keeps and reads back.
bool IsTime(double seconds);

// Matches `format`, a printf format with only %d and %f, against `text` at `pos`, as printf
// would have written it (%f: six decimals). A line feed in the format also matches CR LF. On a
// match advances `pos` and appends the numbers to `values` (one beyond a double's range as an
// infinity of its sign); otherwise leaves `pos` alone.
bool MatchFormat(std::string_view format, std::string_view text, std::size_t& pos,
                 std::vector<double>& values);

// Every report in `text`, in order (saved reports may be concatenated). A report with a
// verification failure, a missing, repeated or out-of-range team size, a time that is not IsTime
// (kept out of the report as 0), a malformed line or no closing text carries a ReportFault naming
// the line and quoting at most QUOTED_LINE_BYTES of it (shown Printable). Empty when `text` holds
// no report at all. Stops once a report past the first `most_reports` has begun, so a caller can
// tell that there were more without holding them all; stops early, too, once an interrupt is
// pending (PendingInterrupt). Linear in the size of `text`.
std::vector<RunReport> ParseReports(std::string_view text,
                                    std::size_t most_reports = static_cast<std::size_t>(-1));

// The one report a run wrote; no report, more than one or text after the closing text make it a
// failed one.
RunReport ParseOneReport(std::string_view text);

// The times of a report's whole lines so far, as they come from a running benchmark: the serial
// time, then each team's in the order written; empty before the serial line. Stops at the first
// line that is not one of these two (or not whole). Linear in the size of `output`.
std::vector<double> TimesSoFar(std::string_view output);

// Whether a run's `output` ends as a report does, with the closing text (white space after it
// aside): all that a benchmark writes has been written.
bool EndsWithClosingText(std::string_view output);

// Windows-1251 text as UTF-8, for quoting report lines in messages; control bytes stay as
// they are (Printable shows them).
std::string Cp1251ToUtf8(std::string_view text);

}  // namespace speedup
