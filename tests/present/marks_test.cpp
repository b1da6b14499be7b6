#include "present/marks.h"

#include <gtest/gtest.h>

#include <string>

#include "present/figure_text.h"
#include "present/html_reporter.h"
#include "present/reporter.h"
#include "speedup_support.h"

namespace speedup {
namespace {

// Each kind of mark, and a session that carries it; the Markdown words are the short ones.
struct MarkedSession {
  const char* name;
  Mark mark;
  Session session;
};

// One CPU second per wall second on four processors: the runs used one of them.
Session OneProcessorSession() {
  SessionBuilder builder;
  builder.Processors(4);
  for (int i = 0; i < 8; ++i) builder.Run(ReportWith(0.06, 0.03), 1.0, 1.0);
  return builder.Build();
}

std::vector<MarkedSession> MarkedSessions() {
  return {
      {"more threads than processors", Mark::kOversubscribed,
       SessionBuilder().Processors(2).TimedRuns(8, 1.0).Build()},
      {"times below the clock's reach", Mark::kTooShort,
       SessionBuilder()
           .Processors(20)
           .Runs(8, [](int) { return ReportWith(0.010, 0.005); })
           .Build()},
      {"runs on one processor", Mark::kNotParallel, OneProcessorSession()},
  };
}

TEST(MarksTest, EveryFormatExplainsEachMarkItsRowsCarry) {
  for (const MarkedSession& test : MarkedSessions()) {
    SCOPED_TRACE(test.name);
    const SessionAnalysis analysis = Analyse(test.session);
    const std::vector<MarkLegendEntry> legend = MarkLegend(test.session, analysis);
    const MarkLegendEntry& entry = legend[static_cast<std::size_t>(test.mark)];
    ASSERT_EQ(entry.mark, test.mark) << "the legend is not in the order of the marks";
    ASSERT_TRUE(entry.used) << "no row carries the mark the session should carry";
    const std::string symbol = MarkSymbol(test.mark);
    const std::string table =
        MakeReporter(OutputFormat::kTable)->SessionReport(test.session, analysis);
    EXPECT_TRUE(Contains(table, symbol + " " + entry.words)) << "the table does not explain it\n"
                                                             << table;
    const std::string markdown =
        MakeReporter(OutputFormat::kMarkdown)->SessionReport(test.session, analysis);
    EXPECT_TRUE(Contains(markdown, entry.brief)) << "Markdown does not explain it\n" << markdown;
    const std::string page = MakeHtmlReporter({})->SessionReport(test.session, analysis);
    EXPECT_TRUE(Contains(page, "<dt>" + symbol + "</dt><dd>" + HtmlEscaped(entry.words)))
        << "the page does not explain it";
    EXPECT_TRUE(Contains(page, "<td class=\"mark\">" + symbol) ||
                Contains(page, "<td class=\"mark\">" +
                                   MarksText(TeamMarks(analysis.figures.teams.back(), analysis))))
        << "no row of the page carries it";
  }
}

TEST(MarksTest, TableExplainsOnlyTheMarksItsRowsCarry) {
  // Two processors recorded and every time long: only * can be carried.
  const Session session = SessionBuilder().Processors(2).TimedRuns(8, 1.0).Build();
  const SessionAnalysis analysis = Analyse(session);
  const std::string table = MakeReporter(OutputFormat::kTable)->SessionReport(session, analysis);
  for (const MarkLegendEntry& entry : MarkLegend(session, analysis)) {
    SCOPED_TRACE(MarkSymbol(entry.mark));
    EXPECT_EQ(Contains(table, MarkSymbol(entry.mark) + " " + entry.words), entry.used)
        << "a mark no row carries is explained, or one a row carries is not";
  }
}

TEST(MarksTest, UnrecordedProcessorsMarkNoRowAndSaySo) {
  const Session session = SessionBuilder().TimedRuns(8, 1.0).Build();
  const SessionAnalysis analysis = Analyse(session);
  const MarkLegendEntry entry = MarkLegend(session, analysis).front();
  EXPECT_FALSE(entry.shown);
  EXPECT_FALSE(entry.used) << "a row is marked oversubscribed with no processor count";
  const std::string table = MakeReporter(OutputFormat::kTable)->SessionReport(session, analysis);
  EXPECT_TRUE(Contains(table, "\n" + entry.words + "\n")) << table;
}

TEST(MarksTest, MarkdownEscapesTheStarThatWouldStartEmphasis) {
  const Session session = SessionBuilder().Processors(2).TimedRuns(8, 1.0).Build();
  const std::string markdown =
      MakeReporter(OutputFormat::kMarkdown)->SessionReport(session, Analyse(session));
  EXPECT_TRUE(Contains(markdown, "| \\*")) << markdown;
  EXPECT_FALSE(Contains(markdown, "| *")) << "a bare * in a cell";
}

TEST(FigureTextTest, IntervalsAndCellsKeepTheirColumns) {
  const Estimate whole{1.9375, 1.9, 1.97, 0.95};
  const Estimate lone{1.9375, std::nullopt, std::nullopt, 0.0};
  const Estimate none{};
  const struct {
    const char* fault;
    Estimate estimate;
    IntervalLayout layout;
    std::string text;
  } cases[] = {
      {"ends cut or rounded apart", whole, {}, "1.94 [1.90, 1.97]"},
      {"columns drift", whole, {7, 6, true}, "   1.94 [  1.90,   1.97]"},
      {"a missing interval shown as a number", lone, {}, "1.94 [—, —]"},
      {"a dash padded by its bytes, not its one column", lone, {5, 4, true}, " 1.94 [   —,    —]"},
      {"an empty interval kept in a cell", lone, {0, 0, false}, "1.94"},
      {"an undefined median shown as 0", none, {0, 0, false}, "—"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.fault);
    EXPECT_EQ(WithInterval(test.estimate, 2, test.layout), test.text);
  }
  EXPECT_EQ(Cell("потоков", 9), "  потоков") << "a cell padded by bytes";
}

TEST(FigureTextTest, ARegionOfNoTimeHasNoShare) {
  RegionSplit split;
  split.work = 1.0;
  EXPECT_EQ(ShareText(split, split.work), "—") << "a share of nothing shown as inf or nan";
  split.seconds = 4.0;
  EXPECT_EQ(ShareText(split, split.work), "25.0%");
}

}  // namespace
}  // namespace speedup
