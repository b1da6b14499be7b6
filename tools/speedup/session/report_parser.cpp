#include "session/report_parser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include "base/interrupts.h"
#include "base/policy.h"
#include "base/text.h"
#include "bench/report_texts.h"

namespace speedup {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the number at `at` that printf's %d (decimal) or %f (six decimals) could write.
std::size_t NumberLength(std::string_view text, std::size_t at, bool fixed) {
  std::size_t end = at;
  if (end < text.size() && text[end] == '-') ++end;
  const std::size_t digits = end;
  while (end < text.size() && IsDigit(text[end])) ++end;
  if (end == digits) return 0;
  if (!fixed) return end - at;
  if (end >= text.size() || text[end] != '.') return 0;
  for (int decimal = 0; decimal < 6; ++decimal) {
    if (++end >= text.size() || !IsDigit(text[end])) return 0;
  }
  return end + 1 - at;
}

// The report line from `pos` to `end` (its line feed or the end of the text), without its line
// end.
std::string_view LineAt(std::string_view text, std::size_t pos, std::size_t end) {
  std::string_view line = text.substr(pos, end - pos);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Where the line at a position ends, for positions that never go back: each search starts past
// the last line feed found, so a whole parse searches every byte once, however many bytes it
// skips one by one (a text of carriage returns alone searched to its end for each).
class LineEnds {
 public:
  explicit LineEnds(std::string_view text) : text_(text) {}

  // The first line feed at or after `pos`, or the text's size when there is none.
  std::size_t At(std::size_t pos) {
    if (!found_ || (end_ < pos && end_ < text_.size())) {
      end_ = std::min(text_.find('\n', pos), text_.size());
      found_ = true;
    }
    return end_;
  }

 private:
  std::string_view text_;
  std::size_t end_ = 0;
  bool found_ = false;
};

// The benchmark writes its Russian words in Windows-1251; these are their UTF-8 forms.
bool LooksConvertedToUtf8(std::string_view line) {
  for (std::string_view word :
       {"\xD0\xBF\xD0\xBE\xD1\x82\xD0\xBE\xD0\xBA\xD0\xBE\xD0\xB2",
        "\xD0\xA2\xD0\xB5\xD1\x81\xD1\x82", "\xD0\x97\xD0\xB0\xD0\xB2\xD0\xB5\xD1\x80\xD1\x88"}) {
    if (line.find(word) != line.npos) return true;
  }
  return false;
}

}  // namespace

// -0.000000 is what printf makes of a small negative time (a clock that went back): negative too.
bool IsTime(double seconds) {
  return seconds >= 0.0 && !std::signbit(seconds) && seconds < MAX_SECONDS;
}

bool MatchFormat(std::string_view format, std::string_view text, std::size_t& pos,
                 std::vector<double>& values) {
  std::size_t at = pos;
  std::vector<double> found;
  for (std::size_t f = 0; f < format.size(); ++f) {
    if (format[f] == '%' && f + 1 < format.size() &&
        (format[f + 1] == 'd' || format[f + 1] == 'f')) {
      const std::size_t length = NumberLength(text, at, format[++f] == 'f');
      if (length == 0) return false;
      double value = 0.0;
      const auto [end, error] = std::from_chars(text.data() + at, text.data() + at + length, value);
      // Beyond a double's range from_chars leaves the value alone: 0 would pass for a time.
      if (error == std::errc::result_out_of_range) {
        value = text[at] == '-' ? -std::numeric_limits<double>::infinity()
                                : std::numeric_limits<double>::infinity();
      }
      found.push_back(value);
      at += length;
    } else if (format[f] == '\n' && at + 1 < text.size() && text[at] == '\r' &&
               text[at + 1] == '\n') {
      at += 2;
    } else if (at < text.size() && text[at] == format[f]) {
      ++at;
    } else {
      return false;
    }
  }
  pos = at;
  values.insert(values.end(), found.begin(), found.end());
  return true;
}

namespace {

// The reports read so far and where the reading stands: the last one open or closed, the team
// sizes it has shown, and the line number for the messages.
class ReportReader {
 public:
  std::vector<RunReport> reports;
  int line_number = 1;

  // Fails the open report (or a stray one begun for a line outside any) with the first reason,
  // quoting `line` unless it is empty.
  void Fail(ReportFault::Kind why, std::string_view line, int team = 0) {
    if (!open_) {  // a line outside any report starts a broken one
      reports.emplace_back();
      reports.back().stray = true;
      Begin();
    }
    if (reports.back().Passed()) {
      ReportFault fault{.kind = why, .line = line_number, .team = team};
      if (!line.empty()) {
        fault.excerpt =
            Excerpt(Cp1251ToUtf8(line.substr(0, QUOTED_LINE_BYTES + 1)), QUOTED_LINE_BYTES);
      }
      reports.back().failure = RunFailure{.report = fault};
    }
  }

  // A time that is none fails its report and is kept out of it, as 0, so that a saved session of
  // the failed run still reads back.
  double Time(double seconds, std::string_view line) {
    if (IsTime(seconds)) return seconds;
    Fail(std::signbit(seconds) ? ReportFault::Kind::kNegativeTime : ReportFault::Kind::kNotATime,
         line);
    return 0.0;
  }

  void Serial(double seconds, std::string_view line) {
    if (open_) Fail(ReportFault::Kind::kNoClosingText, "");
    reports.emplace_back();
    Begin();
    reports.back().serial_seconds = Time(seconds, line);
  }

  void Parallel(const std::vector<double>& values, std::string_view line) {
    // Compared as a double: a team number beyond int's range has no int to convert to.
    const double team = values[0];
    if (!open_) {
      Fail(ReportFault::Kind::kNoSerialLine, line);
    } else if (!(team >= 1.0 && team <= MAX_THREADS)) {
      Fail(ReportFault::Kind::kTeamOutOfRange, line);
    } else if (const int threads = static_cast<int>(team); seen_[threads - 1]++ > 0) {
      Fail(ReportFault::Kind::kTeamRepeated, line);
    } else {
      reports.back().parallel_seconds[threads - 1] = Time(values[1], line);
      if (values[2] != 1.0) Fail(ReportFault::Kind::kProductDiffers, line);
    }
  }

  void Closing(std::string_view line) {
    for (int threads = 1; open_ && threads <= MAX_THREADS; ++threads) {
      if (seen_[threads - 1] == 0) Fail(ReportFault::Kind::kTeamMissing, line, threads);
    }
    open_ = false;
  }

  void End() {
    if (open_) Fail(ReportFault::Kind::kNoClosingText, "");
  }

 private:
  void Begin() {
    open_ = true;
    seen_ = {};
  }

  bool open_ = false;  // the last report has begun and not yet closed
  std::array<int, MAX_THREADS> seen_{};
};

}  // namespace

std::vector<RunReport> ParseReports(std::string_view text, std::size_t most_reports) {
  ReportReader reader;
  std::size_t pos = 0;
  LineEnds line_ends(text);
  for (std::size_t step = 1; pos < text.size() && reader.reports.size() <= most_reports; ++step) {
    // An interrupt ends a long parse; the caller sees it pending and lets the reports go.
    if (step % 65536 == 0 && PendingInterrupt() != 0) break;
    const std::size_t start = pos;
    const std::size_t line_end = line_ends.At(pos);
    const std::string_view line = LineAt(text, pos, line_end);
    std::vector<double> values;
    if (MatchFormat(SERIAL_LINE.bytes, text, pos, values)) {
      reader.Serial(values[0], line);
    } else if (MatchFormat(PARALLEL_LINE.bytes, text, pos, values)) {
      reader.Parallel(values, line);
    } else if (MatchFormat(CLOSING_TEXT.bytes, text, pos, values)) {
      reader.Closing(line);
    } else if (text[pos] == '\n' || text[pos] == '\r') {
      ++pos;
    } else {
      // An unfinished last line is where the output stopped, not a line of another shape.
      reader.Fail(LooksConvertedToUtf8(line) ? ReportFault::Kind::kConvertedToUtf8
                  : line_end == text.size()  ? ReportFault::Kind::kTruncated
                                             : ReportFault::Kind::kMalformed,
                  line);
      pos = line_end;
    }
    for (std::size_t i = start; i < pos; ++i) reader.line_number += text[i] == '\n';
  }
  reader.End();
  return std::move(reader.reports);
}

RunReport ParseOneReport(std::string_view text) {
  // A second report, or text after the first, is all it takes to fail the run.
  std::vector<RunReport> reports = ParseReports(text, 1);
  if (reports.empty()) {
    RunReport empty;
    empty.failure = RunFailure{.report = ReportFault{.kind = ReportFault::Kind::kEmptyReport}};
    return empty;
  }
  RunReport report = reports.front();
  for (std::size_t i = 1; i < reports.size() && report.Passed(); ++i) {
    // A stray report's failure is always its first line's.
    ReportFault fault{.kind = ReportFault::Kind::kMoreThanOneReport};
    if (reports[i].stray && reports[i].failure && reports[i].failure->report) {
      fault = *reports[i].failure->report;
      fault.after_closing = true;
    }
    report.failure = RunFailure{.report = fault};
  }
  return report;
}

std::vector<double> TimesSoFar(std::string_view output) {
  std::vector<double> times;
  std::size_t pos = 0;
  std::vector<double> values;
  if (!MatchFormat(SERIAL_LINE.bytes, output, pos, values) || !IsTime(values[0])) return times;
  times.push_back(values[0]);
  for (values.clear(); MatchFormat(PARALLEL_LINE.bytes, output, pos, values); values.clear()) {
    if (!IsTime(values[1])) break;
    times.push_back(values[1]);
  }
  return times;
}

bool EndsWithClosingText(std::string_view output) {
  const std::size_t end = output.find_last_not_of(" \t\r\n");
  return end != output.npos && output.substr(0, end + 1).ends_with(CLOSING_TEXT.bytes);
}

std::string Cp1251ToUtf8(std::string_view text) {
  std::string utf8;
  for (const char c : text) {
    const unsigned byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else if (byte >= 0xC0) {  // А..я, U+0410..U+044F
      const unsigned code = byte - 0xC0 + 0x410;
      utf8 += static_cast<char>(0xC0 | (code >> 6));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      utf8 += '?';
    }
  }
  return utf8;
}

}  // namespace speedup
