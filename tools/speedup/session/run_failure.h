#pragma once

#include <optional>
#include <string>

#include "base/process.h"

// Why a run of the benchmark failed, as data: what its process did, what its report got wrong,
// and the words both are saved and shown in.
namespace speedup {

// What a report's bytes got wrong: the report as a whole, or one of its lines.
struct ReportFault {
  enum class Kind {
    kEmptyReport,        // no report at all
    kMoreThanOneReport,  // a second report after the first
    // The kinds of a line's fault, at `line`:
    kConvertedToUtf8,  // its Russian words are UTF-8, not the original bytes
    kTruncated,        // the output stopped inside it
    kMalformed,        // of no shape a report has
    kNegativeTime,     // a time below 0
    kNotATime,         // a time of 1e9 s or more
    kNoSerialLine,     // a team's line before any serial line
    kTeamOutOfRange,   // a team size outside 1..MAX_THREADS
    kTeamRepeated,     // a team size given twice
    kProductDiffers,   // the verification failed: a parallel product differs from the serial one
    kTeamMissing,      // at the closing text, team size `team` never given
    kNoClosingText,    // the report ended without its closing text
  };
  Kind kind = Kind::kMalformed;
  int line = 0;  // from 1
  int team = 0;
  std::optional<std::string> excerpt{};  // the line (UTF-8, at most QUOTED_LINE_BYTES), quoted
  bool after_closing = false;            // in text after the report's closing text

  bool operator==(const ReportFault&) const = default;
};

// A failed run: how its process failed, what its report got wrong, or both (the process first);
// or, read from a file, words this tool does not know, kept as they are.
struct RunFailure {
  std::optional<ProcessFailure> process{};
  std::optional<ReportFault> report{};
  std::string unknown_text{};  // only when neither of the two

  bool operator==(const RunFailure&) const = default;
};

// The failure in words, as saved in a session file and shown: e.g. "exit status 3; line 22:
// team size out of range: \"...\"", "empty report".
std::string RunFailureText(const RunFailure& failure);

// The failure that RunFailureText wrote; words that do not read back the same are kept as
// `unknown_text`, as are a process's failures whose words do not give back their values (output
// too large, a run the tool stopped watching). Linear in the size of `text`.
RunFailure RunFailureFromText(const std::string& text);

}  // namespace speedup
