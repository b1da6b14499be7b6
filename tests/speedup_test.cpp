#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "figures.h"
#include "options.h"
#include "output.h"
#include "report_parser.h"
#include "test_support.h"

namespace {

// A whole report in the benchmark's bytes: serial 0.060 s, team size t taking 0.030 + t ms.
std::string ReportText(const std::string& line_end = "\n") {
  std::string utf8 = "SerialMulti =  0.060000 " + line_end + " " + line_end;
  for (int t = 1; t <= 20; ++t) {
    utf8 += "ParallelMulti ( " + std::to_string(t) + " потоков ) = 0.0" + std::to_string(30 + t) +
            "000  Тест 1 " + line_end;
  }
  return Cp1251(utf8 + line_end + " Завершено");
}

std::string Replaced(std::string text, const std::string& from_utf8, const std::string& to_utf8) {
  const std::string from = Cp1251(from_utf8);
  return text.replace(text.find(from), from.size(), Cp1251(to_utf8));
}

TEST(ReportParserTest, ReadsEveryFigureOfAWholeReportWithAnyLineEnd) {
  for (const char* line_end : {"\n", "\r\n"}) {
    const auto reports = ParseReports(ReportText(line_end));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].failure, "");
    EXPECT_EQ(reports[0].serial_seconds, 0.060);
    EXPECT_EQ(reports[0].parallel_seconds[0], 0.031);
    EXPECT_EQ(reports[0].parallel_seconds[19], 0.050);
  }
}

TEST(ReportParserTest, ReadsConcatenatedReportsSeparately) {
  const auto reports = ParseReports(ReportText() + ReportText() + "\n");
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1].failure, "");
}

struct BrokenReport {
  const char* name;
  std::string text;
  const char* failure;  // expected at the start of the failure message
};

TEST(ReportParserTest, NamesTheLineThatBreaksAReport) {
  const std::string whole = ReportText();
  const BrokenReport cases[] = {
      {"failed verification", Replaced(whole, "0.037000  Тест 1", "0.037000  Тест 0"),
       "line 9: parallel product differs from the serial one: \"ParallelMulti ( 7 потоков ) = "
       "0.037000  Тест 0 \""},
      {"repeated team size", Replaced(whole, "( 8 потоков", "( 7 потоков"),
       "line 10: team size repeated: \"ParallelMulti ( 7 потоков"},
      {"team size out of range", Replaced(whole, "( 20 потоков", "( 21 потоков"),
       "line 22: team size out of range"},
      {"seconds not in six decimals", Replaced(whole, "0.033000", "0.033"),
       "line 5: malformed line: \"ParallelMulti ( 3 потоков ) = 0.033  Тест 1 \""},
      {"truncated in a line", whole.substr(0, whole.find(Cp1251("( 5 "))),
       "line 7: report truncated in this line: \"ParallelMulti \""},
      {"no closing text", whole.substr(0, whole.rfind('\n')),
       "line 23: report truncated: no closing text"},
      {"a team size missing",
       Replaced(whole, "ParallelMulti ( 12 потоков ) = 0.042000  Тест 1 \n", ""),
       "line 22: team size 12 missing"},
  };
  for (const BrokenReport& c : cases) {
    const auto reports = ParseReports(c.text);
    ASSERT_EQ(reports.size(), 1u) << c.name;
    EXPECT_EQ(reports[0].failure.rfind(c.failure, 0), 0u) << c.name << ": " << reports[0].failure;
  }
}

TEST(ReportParserTest, FindsNoReportInEmptyOrForeignText) {
  EXPECT_TRUE(ParseReports("").empty());
  EXPECT_TRUE(ParseReports("\n\r\n").empty());
  const auto foreign = ParseReports("hello\n");
  ASSERT_EQ(foreign.size(), 1u);
  EXPECT_NE(foreign[0].failure, "");
}

TEST(FiguresTest, MedianOfOddAndEvenCounts) {
  EXPECT_EQ(Median({3.0, 1.0, 2.0}), 2.0);
  EXPECT_EQ(Median({4.0, 1.0, 3.0, 2.0}), 2.5);
  EXPECT_EQ(Median({7.0}), 7.0);
}

TEST(FiguresTest, ZeroTimesGiveNoRatioRatherThanInfOrNaN) {
  RunReport report;
  report.serial_seconds = 0.0;
  report.parallel_seconds.fill(0.0);
  report.parallel_seconds[1] = 0.010;
  const Figures figures = ComputeFigures({report}, 2);
  EXPECT_FALSE(figures.teams[0].speedup_vs_serial.has_value());
  EXPECT_FALSE(figures.teams[0].efficiency.has_value());
  EXPECT_EQ(figures.teams[1].speedup_vs_serial, 0.0);
  EXPECT_TRUE(figures.serial.too_short);
  for (const std::string& text :
       {FormatTable(figures, {}), FormatCsv(figures), FormatJson(figures, {})}) {
    EXPECT_EQ(text.find("inf"), std::string::npos);
    EXPECT_EQ(text.find("nan"), std::string::npos);
  }
}

TEST(FiguresTest, MarksTeamSizesAboveTheProcessorsAndTimesTooShortToMeasure) {
  const auto reports = ParseReports(ReportText() + ReportText());
  const Figures figures = ComputeFigures(reports, 4);
  for (const TeamFigures& team : figures.teams) {
    EXPECT_EQ(team.oversubscribed, team.threads > 4) << team.threads;
    EXPECT_FALSE(team.seconds.too_short);
  }
  RunReport fast = reports[0];
  fast.parallel_seconds[5] = 0.019;
  EXPECT_TRUE(ComputeFigures({fast}, 4).teams[5].seconds.too_short);
  EXPECT_FALSE(ComputeFigures({fast}, 4).teams[4].seconds.too_short);
}

TEST(OutputTest, CsvReadsBackToTheSameFigures) {
  auto reports = ParseReports(ReportText() + ReportText() + ReportText());
  reports[1].parallel_seconds[2] = 0.1;
  const Figures figures = ComputeFigures(reports, 2);
  std::istringstream csv(FormatCsv(figures));
  std::string line;
  std::getline(csv, line);
  std::getline(csv, line);
  EXPECT_EQ(line.rfind("serial,0.06,0.06,0.06,", 0), 0u);
  for (const TeamFigures& team : figures.teams) {
    ASSERT_TRUE(std::getline(csv, line));
    std::vector<std::string> fields;
    std::istringstream row(line);
    for (std::string field; std::getline(row, field, ',');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 9u) << line;
    EXPECT_EQ(std::stoi(fields[0]), team.threads);
    EXPECT_EQ(std::stod(fields[1]), team.seconds.median);
    EXPECT_EQ(std::stod(fields[3]), team.seconds.max);
    EXPECT_EQ(std::stod(fields[4]), *team.speedup_vs_serial);
    EXPECT_EQ(std::stod(fields[6]), *team.efficiency);
    EXPECT_EQ(fields[7], team.oversubscribed ? "true" : "false");
  }
}

TEST(OutputTest, JsonStringsEscapeQuotesBackslashesAndControlCharacters) {
  EXPECT_EQ(JsonString("a\"b\\c\nd\te\x01"), "\"a\\\"b\\\\c\\nd\\te\\u0001\"");
  EXPECT_EQ(JsonString("потоков"), "\"потоков\"");
}

struct OptionsCase {
  std::vector<std::string> args;
  const char* error;  // expected in the message; empty when the arguments are good
};

TEST(OptionsTest, RefusesBadArgumentsWithAMessageNamingThem) {
  const OptionsCase cases[] = {
      {{"--runs", "3", "--json", "--plot=chart.svg"}, ""},
      {{"--input", "-", "--csv"}, ""},
      {{"--frobnicate"}, "--frobnicate"},
      {{"--runs"}, "--runs needs a value"},
      {{"--runs", "0"}, "\"0\""},
      {{"--runs", "abc"}, "\"abc\""},
      {{"--runs", "5x"}, "\"5x\""},
      {{"--runs", "99999999999"}, "99999999999"},
      {{"--csv", "--json"}, "one of"},
      {{"--input", "saved.txt", "--runs", "2"}, "--input"},
      {{"--plot", "chart.pdf"}, ".svg or .png"},
      {{"--csv=yes"}, "takes no value"},
      {{"extra"}, "\"extra\""},
  };
  for (const OptionsCase& c : cases) {
    Options options;
    const std::string error = ParseOptions(c.args, options);
    if (*c.error == '\0') {
      EXPECT_EQ(error, "") << c.args[0];
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << c.args[0] << ": " << error;
    }
  }
}

}  // namespace
