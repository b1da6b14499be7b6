#pragma once

#include <string>
#include <vector>

#include "session/session.h"
#include "stats/diagnostics.h"

// The marks a session's rows carry and what each means: one model that the table, Markdown
// and HTML read, each in its own markup.
namespace speedup {

enum class Mark {
  kOversubscribed,  // * more threads than processors
  kTooShort,        // ~ a time too short for the clock
  kNoisy,           // ! a wide speedup interval
  kNotParallel,     // # the runs used about one processor
};

// The mark as the rows show it: "*", "~", "!" or "#".
std::string MarkSymbol(Mark mark);

// The marks of the serial row, and of a team size's row, in the order above.
std::vector<Mark> SerialMarks(const Figures& figures);
std::vector<Mark> TeamMarks(const TeamFigures& team, const SessionAnalysis& analysis);

// The marks' symbols, one after the other, e.g. "*!".
std::string MarksText(const std::vector<Mark>& marks);

// One entry of a session's legend of marks.
struct MarkLegendEntry {
  Mark mark = Mark::kOversubscribed;
  bool used = false;   // some row carries the mark
  bool shown = false;  // its symbol applies: false for the processors that were not recorded,
                       // so that no row is marked *
  std::string words;   // what it means for this session, e.g. "more threads than the 4
                       // processors available"
  std::string brief;   // the same, short enough for a line of them all
};

// Each mark a row of the session could carry, in the order of Mark.
std::vector<MarkLegendEntry> MarkLegend(const Session& session, const SessionAnalysis& analysis);

}  // namespace speedup
