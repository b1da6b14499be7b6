// Any bytes as a benchmark's output or a saved report: the parser must neither crash nor read
// out of bounds, and every report it gives back must hold only times and a short failure.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/policy.h"
#include "session/report_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace speedup;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const RunReport& report : ParseReports(text, 64)) {
    if (!IsTime(report.serial_seconds)) std::abort();
    for (const double seconds : report.parallel_seconds) {
      if (!IsTime(seconds)) std::abort();
    }
    // The failure names its line and quotes a bounded piece of it.
    if (report.failure && RunFailureText(*report.failure).size() > 4 * QUOTED_LINE_BYTES + 200) {
      std::abort();
    }
    // Whatever the parser says, a session file reads back in the same words.
    if (report.failure) {
      const std::string text = RunFailureText(*report.failure);
      if (RunFailureText(RunFailureFromText(text)) != text) std::abort();
    }
  }
  const RunReport one = ParseOneReport(text);
  if (one.Passed() && !EndsWithClosingText(text)) std::abort();
  static_cast<void>(Cp1251ToUtf8(text));
  return 0;
}
