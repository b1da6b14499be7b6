#include "present/trace_report.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "base/text.h"
#include "present/html_reporter.h"
#include "present/reporter.h"
#include "present/words.h"
#include "speedup_support.h"

namespace speedup {
namespace {

// A region of `team` threads from `begin_ns`, `ms` long, each thread working all of it.
RegionTrace Region(std::uint32_t team, std::uint64_t begin_ns, double ms) {
  RegionTrace region;
  region.requested_team = region.granted_team = team;
  region.begin_ns = begin_ns;
  region.end_ns = begin_ns + static_cast<std::uint64_t>(ms * 1e6);
  for (std::uint32_t i = 0; i < team; ++i) {
    ThreadInRegion thread;
    thread.index = i;
    thread.task_begin_ns = thread.loop_begin_ns = begin_ns + 1000;
    thread.loop_end_ns = thread.task_end_ns = region.end_ns - 1000;
    region.threads.push_back(thread);
  }
  return region;
}

// Three traced runs of teams of one and two, the last one untraced, a hostile runtime text and
// lost events: every warning a trace report can carry.
TraceSession TracedSession() {
  TraceSession session;
  session.runtime = "<b>preloaded</b>";
  session.traced = SessionBuilder().Processors(2).TimedRuns(3, 1.0).Build();
  session.untraced = SessionBuilder().Processors(2).TimedRuns(2, 1.0).FailedRun("lost").Build();
  for (int run = 0; run < 3; ++run) {
    RunTrace trace;
    trace.runtime = "LLVM OMP <version>";
    trace.lost_events = run == 0 ? 7 : 0;
    trace.regions = {Region(1, 1'000'000, 60.0 + run), Region(2, 100'000'000, 31.0 + run)};
    session.traces.push_back(run < 2 ? std::make_shared<const RunTrace>(trace) : nullptr);
    session.trace_files.push_back(run < 2 ? TraceFileName(run + 1) : "");
    session.untraced_reasons.push_back(run < 2 ? "" : "no \x1b trace");
  }
  return session;
}

TEST(TraceReportTest, PageAndMarkdownSayEveryWarningAndTheTableItsLostEvents) {
  const WithoutGnuplot no_gnuplot;
  const TraceSession session = TracedSession();
  const TraceFigures figures = ComputeTraceFigures(session);
  const std::vector<TraceWarning> warnings = TraceWarnings(session, figures);
  ASSERT_EQ(warnings.size(), 3u) << "lost events, the untraced run, the failed untraced run";
  const std::string page = MakeHtmlReporter({})->TraceReport(session, figures);
  const std::string markdown = MakeReporter(OutputFormat::kMarkdown)->TraceReport(session, figures);
  const std::string table = MakeReporter(OutputFormat::kTable)->TraceReport(session, figures);
  for (const TraceWarning& warning : warnings) {
    const std::string words = TraceWarningText(warning);
    SCOPED_TRACE(words);
    EXPECT_EQ(words.find('\x1b'), std::string::npos) << "a control character reaches the words";
    EXPECT_TRUE(Contains(page, "<strong>warning:</strong> " + HtmlEscaped(words)));
    EXPECT_TRUE(Contains(markdown, "- warning: " + MarkdownText(words))) << markdown;
  }
  EXPECT_TRUE(Contains(table, "\n" + TraceWarningText(warnings.front()) + "\n")) << table;
}

TEST(TraceReportTest, PageHeadIsTheTablesHeadEscaped) {
  const WithoutGnuplot no_gnuplot;
  const TraceSession session = TracedSession();
  const TraceFigures figures = ComputeTraceFigures(session);
  const std::vector<std::string> lines = TraceHeadLines(session, figures);
  const std::string table = MakeReporter(OutputFormat::kTable)->TraceReport(session, figures);
  const std::string page = MakeHtmlReporter({})->TraceReport(session, figures);
  std::string head;
  for (const std::string& line : lines) head += line + "\n";
  EXPECT_EQ(table.substr(0, head.size() + 1), head + "\n") << "the table's head differs";
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    EXPECT_TRUE(Contains(page, "<p>" + HtmlEscaped(line) + "</p>\n")) << "a head line is lost";
  }
  EXPECT_FALSE(Contains(page, "<b>preloaded")) << "the runtime's text as markup";
}

TEST(TraceReportTest, PageOpensWithTheBestTracedSpeedupAndWhereTimeWasLost) {
  const WithoutGnuplot no_gnuplot;
  TraceSession session = TracedSession();
  // Two threads that each wait a quarter of the region at its join: that is where time goes.
  auto trace = std::make_shared<RunTrace>(*session.traces[0]);
  for (ThreadInRegion& thread : trace->regions[1].threads) {
    thread.loop_end_ns = thread.task_end_ns = trace->regions[1].end_ns - 8'000'000;
  }
  session.traces[0] = session.traces[1] = trace;
  const TraceFigures figures = ComputeTraceFigures(session);
  const TeamTrace& pair = figures.teams.back();
  ASSERT_EQ(pair.threads, 2);
  ASSERT_NE(pair.dominant.state, Loss::kNone);
  const std::string page = MakeHtmlReporter({})->TraceReport(session, figures);
  const std::size_t headline = page.find("id=\"headline\"");
  ASSERT_NE(headline, std::string::npos) << "the trace page has no headline";
  EXPECT_LT(headline, page.find("id=\"split\"")) << "the headline comes after the table";
  const std::string block = page.substr(headline, page.find("</div>\n", headline) - headline);
  EXPECT_TRUE(Contains(block, "at 2 threads")) << block;
  EXPECT_TRUE(Contains(block, FixedText(pair.traced_speedup.median, 2))) << block;
  EXPECT_TRUE(Contains(block, std::string("went to ") + LossName(pair.dominant.state))) << block;
  ASSERT_GT(figures.lost_events, 0u);
  EXPECT_TRUE(Contains(block, "<dt>events lost</dt><dd>" + std::to_string(figures.lost_events)))
      << block;
}

TEST(TraceReportTest, PageOfSeveralChartsNamesEachOfTheirIdsOnce) {
  const TraceSession session = TracedSession();
  const TraceFigures figures = ComputeTraceFigures(session);
  HtmlMaterial material;
  for (const int team : {1, 2})
    material.timelines.push_back({team, "run 1", session.traces[0].get()});
  // Every chart gnuplot draws defines its markers under the same ids and refers to them.
  material.draw = [](const std::string&) {
    DrawnChart drawn;
    drawn.bytes =
        "<svg><defs><path id='gpPt0' d='M0'/><filter id=\"textbox\"/></defs>"
        "<use xlink:href='#gpPt0'/><g style='filter:url(#textbox)'><text> "
        "id='gpPt0'</text></g></svg>";
    return drawn;
  };
  const std::string page = MakeHtmlReporter(material)->TraceReport(session, figures);
  ASSERT_EQ(Count(page, "<svg"), 3u) << "the split chart and two timelines";
  for (int chart = 1; chart <= 3; ++chart) {
    const std::string prefix = "chart" + std::to_string(chart) + "-";
    SCOPED_TRACE(prefix);
    EXPECT_EQ(Count(page, "id='" + prefix + "gpPt0'"), 1u);
    EXPECT_EQ(Count(page, "id=\"" + prefix + "textbox\""), 1u);
    EXPECT_EQ(Count(page, "xlink:href='#" + prefix + "gpPt0'"), 1u) << "a reference left behind";
    EXPECT_EQ(Count(page, "url(#" + prefix + "textbox)"), 1u) << "a reference left behind";
  }
  EXPECT_EQ(Count(page, "<text> id='gpPt0'</text>"), 3u) << "a chart's text was changed";
}

TEST(TraceReportTest, CsvHasARowPerTeamSizeWhoseSharesAddUp) {
  const TraceSession session = TracedSession();
  const TraceFigures figures = ComputeTraceFigures(session);
  ASSERT_EQ(figures.teams.size(), 2u);
  std::istringstream csv(MakeReporter(OutputFormat::kCsv)->TraceReport(session, figures));
  std::string line;
  ASSERT_TRUE(std::getline(csv, line));
  EXPECT_EQ(line.substr(0, 26), "threads,runs,region_ms,reg");
  for (const TeamTrace& team : figures.teams) {
    ASSERT_TRUE(std::getline(csv, line));
    std::vector<std::string> cells;
    std::stringstream row(line);
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
    ASSERT_EQ(cells.size(), 21u) << line;
    EXPECT_EQ(cells[0], std::to_string(team.threads));
    double shares = 0.0;
    for (int i = 6; i <= 10; ++i) shares += std::stod(cells[i]);
    EXPECT_NEAR(shares, 1.0, 1e-9) << "the split's shares do not add up: " << line;
  }
  EXPECT_FALSE(std::getline(csv, line)) << "a row beyond the team sizes";
}

TEST(TraceReportTest, JsonIsTheIndexWithItsFigures) {
  const TraceSession session = TracedSession();
  const TraceFigures figures = ComputeTraceFigures(session);
  const nlohmann::json json =
      nlohmann::json::parse(MakeReporter(OutputFormat::kJson)->TraceReport(session, figures));
  EXPECT_EQ(json["lost_events"], 7);
  EXPECT_EQ(json["traced_runs"], figures.traced_runs);
  EXPECT_EQ(json["teams"].size(), figures.teams.size());
}

}  // namespace
}  // namespace speedup
