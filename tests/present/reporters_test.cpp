#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "present/reporter.h"
#include "speedup_support.h"
#include "stats/comparison.h"
#include "stats/diagnostics.h"

namespace speedup {
namespace {

// The session file the tool writes for `session`.
std::string SessionFile(const Session& session) {
  return MakeReporter(OutputFormat::kJson)->SessionReport(session, Analyse(session));
}

TEST(ReportersTest, PlacementStudyTableCarriesEachComparisonsWarningsAndItsClock) {
  // Catches a --bind table that left the comparison's own warnings (few runs) to --json alone,
  // and a table that does not name the clock its times were read on.
  Session close = SessionBuilder().Tick(MICROSECOND_TICK).TimedRuns(6, 1.0).Build();
  Session spread = SessionBuilder().Tick(MICROSECOND_TICK).TimedRuns(6, 1.2).Build();
  close.placement = "close";
  spread.placement = "spread";
  const SessionAnalysis close_analysis = Analyse(close);
  const SessionAnalysis spread_analysis = Analyse(spread);
  const std::string table = MakeReporter(OutputFormat::kTable)
                                ->StudyReport({{"OMP_PROC_BIND=close", &close, &close_analysis},
                                               {"OMP_PROC_BIND=spread", &spread, &spread_analysis}},
                                              {CompareSessions(close, spread)});
  EXPECT_NE(table.find("warning: BASE has only 6 passed runs"), std::string::npos) << table;
  EXPECT_NE(table.find("on a 1 µs clock"), std::string::npos) << table;
  EXPECT_NE(table.find("cannot be called at these times with a 1 µs clock"), std::string::npos)
      << table;
}

TEST(ReportersTest, CsvReadsBackToTheSameFigures) {
  auto reports = ParseReports(ReportText() + ReportText() + ReportText());
  ASSERT_EQ(reports.size(), 3u);
  reports[1].parallel_seconds[2] = 0.1;
  SessionBuilder builder;
  builder.Processors(2);
  for (const RunReport& report : reports) builder.Run(report);
  const Session session = builder.Build();
  const SessionAnalysis analysis = Analyse(session);
  std::istringstream csv(MakeReporter(OutputFormat::kCsv)->SessionReport(session, analysis));
  std::string line;
  std::getline(csv, line);
  std::getline(csv, line);
  // Three identical 0.06 s readings: the interval is theirs widened by half a tick each way.
  EXPECT_EQ(line.rfind("serial,0.06,0.0595,0.0605,", 0), 0u) << line;
  for (const TeamFigures& team : analysis.figures.teams) {
    SCOPED_TRACE(team.threads);
    const bool read = static_cast<bool>(std::getline(csv, line));
    EXPECT_TRUE(read) << "a team size missing";
    if (!read) break;
    std::vector<std::string> fields;
    std::istringstream row(line);
    for (std::string field; std::getline(row, field, ',');) fields.push_back(field);
    EXPECT_EQ(fields.size(), 19u) << line;
    if (fields.size() != 19u) continue;
    EXPECT_EQ(std::stoi(fields[0]), team.threads);
    EXPECT_EQ(std::stod(fields[1]), team.seconds.median);
    EXPECT_EQ(std::stod(fields[3]), team.seconds.high);
    EXPECT_EQ(std::stod(fields[6]), *team.speedup_vs_serial.median);
    EXPECT_EQ(std::stod(fields[8]), *team.speedup_vs_serial.high);
    EXPECT_EQ(std::stod(fields[12]), *team.efficiency.median);
    EXPECT_EQ(fields[16], team.oversubscribed ? "true" : "false");
  }
}

TEST(ReportersTest, ZeroTimesAreNeverShownAsZeroInfOrNaN) {
  const struct {
    const char* name;
    RunReport report;
  } cases[] = {
      {"zero serial time", ReportWith(0.0, [](int t) { return t == 2 ? 0.010 : 0.0; })},
      {"zero parallel time", ReportWith(0.060, [](int t) { return t == 3 ? 0.0 : 0.030; })},
  };
  for (const auto& c : cases) {
    const Session session = SessionBuilder().Processors(2).Run(c.report).Build();
    const SessionAnalysis analysis = Analyse(session);
    for (const OutputFormat format :
         {OutputFormat::kTable, OutputFormat::kCsv, OutputFormat::kJson}) {
      SCOPED_TRACE(std::string(c.name) + ", format " + std::to_string(static_cast<int>(format)));
      const std::string text = MakeReporter(format)->SessionReport(session, analysis);
      EXPECT_EQ(text.find("inf"), std::string::npos) << text;
      EXPECT_EQ(text.find("nan"), std::string::npos) << text;
      EXPECT_EQ(text.find(" 0.00 "), std::string::npos) << text;
    }
  }
}

TEST(ReportersTest, FleetReportsNameEachNodesSlurmJob) {
  const NodeInput slurm = *ReadNodeText("a.json", SessionFile(SessionBuilder()
                                                                  .Host("host-a")
                                                                  .Processors(2)
                                                                  .TimedRuns(4, 1.0)
                                                                  .Slurm("4242", "n2")
                                                                  .Build()));
  const NodeInput plain = *ReadNodeText(
      "b.json",
      SessionFile(SessionBuilder().Host("host-b").Processors(2).TimedRuns(4, 1.0).Build()));
  const Fleet fleet = BuildFleet({slurm, plain});
  const std::string table = MakeReporter(OutputFormat::kTable)->FleetReport(fleet);
  EXPECT_NE(table.find("Slurm job 4242: "), std::string::npos) << table;
  const std::string csv = MakeReporter(OutputFormat::kCsv)->FleetReport(fleet);
  EXPECT_NE(csv.find("\"n2\",\"4242\",\"a.json\""), std::string::npos) << csv;
}

// Rows of a Markdown table that start with "| " and have `cells` cells.
std::vector<std::string> TableRows(const std::string& text, std::size_t cells) {
  std::vector<std::string> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::size_t pipes = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '|' && (i == 0 || line[i - 1] != '\\')) ++pipes;
    }
    if (line.rfind("| ", 0) == 0 && pipes == cells + 1) rows.push_back(line);
  }
  return rows;
}

// A wiki renders a table only when every row has the header's cells; a stray pipe in a name
// would split a cell.
TEST(ReportersTest, MarkdownTablesHaveARowPerFigureAndEscapeEveryPipe) {
  const Session session = SessionBuilder().Host("a|b").Processors(2).TimedRuns(6, 1.0).Build();
  const SessionAnalysis analysis = Analyse(session);
  const std::string markdown =
      MakeReporter(OutputFormat::kMarkdown)->SessionReport(session, analysis);
  // Header, rule, serial and 20 team sizes, each of 6 cells.
  const std::vector<std::string> rows = TableRows(markdown, 6);
  ASSERT_EQ(rows.size(), 23u) << markdown;
  EXPECT_EQ(rows[1], "| --- | ---: | ---: | ---: | ---: | ---: |");
  EXPECT_EQ(rows[2].rfind("| serial | 0.06", 0), 0u) << rows[2];
  EXPECT_EQ(rows[4].rfind("| 2 | 0.03", 0), 0u) << rows[4];
  // The marks cell of 3 threads on 2 processors starts with the oversubscribed mark.
  EXPECT_NE(rows[5].find("| \\*"), std::string::npos) << "3 threads on 2 processors: " << rows[5];
  EXPECT_NE(markdown.find("a\\|b"), std::string::npos) << markdown;

  const auto node = [&](const char* file, const char* host) {
    return *ReadNodeText(
        file, SessionFile(SessionBuilder().Host(host).Processors(2).TimedRuns(4, 1.0).Build()));
  };
  const Fleet fleet = BuildFleet({node("a.json", "n|1"), node("b.json", "n2")});
  const std::vector<std::string> nodes =
      TableRows(MakeReporter(OutputFormat::kMarkdown)->FleetReport(fleet), 7);
  ASSERT_EQ(nodes.size(), 4u);
  EXPECT_EQ(nodes[2].rfind("| n\\|1 |", 0), 0u) << nodes[2];

  const Comparison comparison = CompareSessions(session, session);
  EXPECT_EQ(TableRows(MakeReporter(OutputFormat::kMarkdown)
                          ->ComparisonReport(comparison, "base|x.json", "new.json"),
                      7)
                .size(),
            2u + 21u);
}

TEST(ReportersTest, FleetTableCutsLongNamesBetweenCharacters) {
  // The node and CPU columns were cut by bytes, splitting a two-byte letter in half.
  const std::string host = "узел-вычислительный-1";
  const NodeInput node = *ReadNodeText("a.json", SessionFile(SessionBuilder()
                                                                 .Host(host)
                                                                 .CpuModel("Процессор Эльбрус-8СВ")
                                                                 .Processors(2)
                                                                 .TimedRuns(4, 1.0)
                                                                 .Build()));
  const std::string table = MakeReporter(OutputFormat::kTable)->FleetReport(BuildFleet({node}));
  EXPECT_EQ(ValidUtf8(table), table) << table;
  EXPECT_NE(table.find("узел-вычислитель Процессор Эльбр     2 "), std::string::npos) << table;
}

TEST(ReportersTest, TableHeadersNameTheConfidenceTheRunsReach) {
  // Catches column headers that said "95%" over 3 runs (75%) or 5 (93.8%), below a head line
  // that already said the truth.
  const struct {
    int runs;
    const char* label;
  } cases[] = {{3, "75%"}, {5, "93.8%"}, {6, "95%"}, {10, "95%"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.runs);
    const Session session = SessionBuilder().Processors(2).TimedRuns(c.runs, 1.0).Build();
    const std::string table =
        MakeReporter(OutputFormat::kTable)->SessionReport(session, Analyse(session));
    const std::string header = std::string("threads  median s  [") + c.label + " interval]";
    EXPECT_NE(table.find(header), std::string::npos) << table.substr(0, 1200);
    EXPECT_NE(table.find(std::string("S vs serial [") + c.label + "]"), std::string::npos);
    const Comparison comparison = CompareSessions(session, session);
    const std::string compared =
        MakeReporter(OutputFormat::kTable)->ComparisonReport(comparison, "a", "b");
    // Hodges-Lehmann's interval reaches 95% from 4 runs a side (1 - 2 / 70), not from 3 (90%).
    EXPECT_EQ(compared.find("[95% interval]") != std::string::npos, c.runs >= 4);
  }
}

}  // namespace
}  // namespace speedup
