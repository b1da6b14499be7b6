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

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

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

class WithoutGnuplot {
 public:
  WithoutGnuplot() : saved_(getenv("PATH") ? getenv("PATH") : "") { setenv("PATH", "/nowhere", 1); }
  ~WithoutGnuplot() { setenv("PATH", saved_.c_str(), 1); }

 private:
  std::string saved_;
};

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
