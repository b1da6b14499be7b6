#include "present/marks.h"

#include "base/policy.h"
#include "base/text.h"
#include "present/words.h"

namespace speedup {

std::string MarkSymbol(Mark mark) {
  switch (mark) {
    case Mark::kOversubscribed:
      return "*";
    case Mark::kTooShort:
      return "~";
    case Mark::kNoisy:
      return "!";
    case Mark::kNotParallel:
      break;
  }
  return "#";
}

std::vector<Mark> SerialMarks(const Figures& figures) {
  if (figures.serial_too_short) return {Mark::kTooShort};
  return {};
}

std::vector<Mark> TeamMarks(const TeamFigures& team, const SessionAnalysis& analysis) {
  std::vector<Mark> marks;
  if (team.oversubscribed) marks.push_back(Mark::kOversubscribed);
  if (team.too_short) marks.push_back(Mark::kTooShort);
  if (team.noisy) marks.push_back(Mark::kNoisy);
  if (analysis.use.one_processor) marks.push_back(Mark::kNotParallel);
  return marks;
}

std::string MarksText(const std::vector<Mark>& marks) {
  std::string text;
  for (const Mark mark : marks) text += MarkSymbol(mark);
  return text;
}

namespace {

// Whether the serial row or some team's row carries `mark`.
bool Used(Mark mark, const SessionAnalysis& analysis) {
  std::vector<Mark> all = SerialMarks(analysis.figures);
  for (const TeamFigures& team : analysis.figures.teams) {
    for (const Mark carried : TeamMarks(team, analysis)) all.push_back(carried);
  }
  for (const Mark carried : all) {
    if (carried == mark) return true;
  }
  return false;
}

}  // namespace

std::vector<MarkLegendEntry> MarkLegend(const Session& session, const SessionAnalysis& analysis) {
  std::vector<MarkLegendEntry> legend;
  const std::optional<int> processors = session.context.processors;
  legend.push_back(
      {Mark::kOversubscribed, Used(Mark::kOversubscribed, analysis), processors.has_value(),
       processors ? "more threads than the " + CountText(*processors, "processor", "processors") +
                        " available"
                  : "processors not recorded: no team size is marked as "
                    "oversubscribed",
       "more threads than processors"});
  const double tick = analysis.figures.tick.seconds;
  const std::string below = "a time below " + TooShortText(tick);
  legend.push_back({Mark::kTooShort, Used(Mark::kTooShort, analysis), true,
                    below + ": too short for the " + TickText(tick) + " clock", below});
  const std::string wide =
      "interval wider than ±" + Formatted("%g", NOISY_HALF_WIDTH * 100.0) + "% of its median";
  legend.push_back(
      {Mark::kNoisy, Used(Mark::kNoisy, analysis), true, "speedup " + wide + ", or none", wide});
  legend.push_back({Mark::kNotParallel, analysis.use.one_processor, true,
                    "not a parallel result: the runs used about one processor (" +
                        FixedText(analysis.use.cpu_per_wall, 2) + " s of CPU per second)",
                    "the runs used about one processor"});
  return legend;
}

}  // namespace speedup
