// A run's failure as data: its words made once, and read back from a session file as written.
#include "session/run_failure.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "speedup_support.h"

namespace speedup {
namespace {

using Fault = ReportFault::Kind;
using Process = ProcessFailure::Kind;

ReportFault LineFault(Fault kind, int line, const char* excerpt = nullptr, int team = 0) {
  ReportFault fault{.kind = kind, .line = line, .team = team};
  if (excerpt != nullptr) fault.excerpt = excerpt;
  return fault;
}

// Catches words changed for a kind (every saved session and message would change) and a kind,
// line, team or quote that a saved session's text gives back as another.
TEST(RunFailureTest, EveryKindSaysItsWordsAndReadsBackAsTheSameKind) {
  ReportFault stray = LineFault(Fault::kMalformed, 25, "leftover");
  stray.after_closing = true;
  const struct {
    RunFailure failure;
    const char* text;
  } cases[] = {
      {{.report = ReportFault{.kind = Fault::kEmptyReport}}, "empty report"},
      {{.report = ReportFault{.kind = Fault::kMoreThanOneReport}}, "more than one report"},
      {{.report = LineFault(Fault::kMalformed, 3, "x")}, "line 3: malformed line: \"x\""},
      {{.report = LineFault(Fault::kTruncated, 1, "x")},
       "line 1: report truncated in this line: \"x\""},
      {{.report = LineFault(Fault::kConvertedToUtf8, 2, "a")},
       "line 2: this looks like a report converted to UTF-8; give the original bytes: \"a\""},
      {{.report = LineFault(Fault::kNegativeTime, 6, "t")},
       "line 6: malformed line: a negative time: \"t\""},
      {{.report = LineFault(Fault::kNotATime, 1, "t")},
       "line 1: malformed line: not a time (1e9 s or more): \"t\""},
      {{.report = LineFault(Fault::kNoSerialLine, 4, "p")},
       "line 4: no SerialMulti line before it: \"p\""},
      {{.report = LineFault(Fault::kTeamOutOfRange, 22, "p")},
       "line 22: team size out of range: \"p\""},
      {{.report = LineFault(Fault::kTeamRepeated, 9, "p")}, "line 9: team size repeated: \"p\""},
      {{.report = LineFault(Fault::kProductDiffers, 9, "p: \"q\"")},
       "line 9: parallel product differs from the serial one: \"p: \"q\"\""},
      {{.report = LineFault(Fault::kTeamMissing, 22, "end", 12)},
       "line 22: team size 12 missing: \"end\""},
      {{.report = LineFault(Fault::kNoClosingText, 24)},
       "line 24: report truncated: no closing text"},
      {{.report = stray}, "text after the closing text: line 25: malformed line: \"leftover\""},
      {{.process = ProcessFailure{Process::kExitStatus, 3}}, "exit status 3"},
      {{.process = ProcessFailure{Process::kKilled, SIGKILL}}, "killed by signal 9 (Killed)"},
      {{.process = ProcessFailure{.kind = Process::kTimedOut, .seconds = 0.3}},
       "timed out after 0.3 s"},
      {{.process = ProcessFailure{Process::kInterrupted, SIGINT}}, "interrupted by SIGINT"},
      {{.process = ProcessFailure{Process::kEndedEarly}},
       "ended by the tool once its output was enough"},
      {{.process = ProcessFailure{Process::kStatusLost}}, "its exit status was lost"},
      {{.process = ProcessFailure{Process::kExitStatus, 3},
        .report = LineFault(Fault::kNoClosingText, 2)},
       "exit status 3; line 2: report truncated: no closing text"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(RunFailureText(c.failure), c.text);
    EXPECT_EQ(RunFailureFromText(c.text), c.failure);
  }
}

// An old file's words, another version's or a hand-edited one's, must neither be refused nor
// changed: each is kept as it is and written back byte for byte.
TEST(RunFailureTest, WordsThatDoNotReadBackTheSameAreKeptAsTheyAre) {
  for (const char* text : {
           "ParallelMulti ( 3 ) mismatch",
           "line 9: parallel product differs: \"\\x1b[2J\"",  // older words for the kind
           "line 3: malformed line: \"\x1b[2J\"",  // a quote Printable would have escaped
           "line x: malformed line",
           "exit status 3; something else",
           "interrupted by SIGBREAK",
           "killed by signal 9 (Terminated)",
           "timed out after 0.30 s",
           "empty report ",
       }) {
    SCOPED_TRACE(text);
    const RunFailure failure = RunFailureFromText(text);
    EXPECT_FALSE(failure.process || failure.report) << "taken for a kind it does not write";
    EXPECT_EQ(failure.unknown_text, text);
    EXPECT_EQ(RunFailureText(failure), text);
  }
}

}  // namespace
}  // namespace speedup
