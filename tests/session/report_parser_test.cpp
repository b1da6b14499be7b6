#include "session/report_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "base/policy.h"
#include "base/text.h"
#include "speedup_support.h"
#include "test_support.h"

namespace speedup {
namespace {

std::string Replaced(std::string text, const std::string& from_utf8, const std::string& to_utf8) {
  const std::string from = Cp1251(from_utf8);
  return text.replace(text.find(from), from.size(), Cp1251(to_utf8));
}

TEST(ReportParserTest, ReadsEveryFigureOfAWholeReportWithAnyLineEnd) {
  for (const char* line_end : {"\n", "\r\n"}) {
    SCOPED_TRACE(line_end[0] == '\r' ? "CR LF" : "LF");
    const auto reports = ParseReports(ReportText(line_end));
    EXPECT_EQ(reports.size(), 1u);
    if (reports.size() != 1) continue;
    EXPECT_EQ(FailureWords(reports[0].failure), "");
    EXPECT_EQ(reports[0].serial_seconds, 0.060);
    EXPECT_EQ(reports[0].parallel_seconds[0], 0.031);
    EXPECT_EQ(reports[0].parallel_seconds[19], 0.050);
  }
}

TEST(ReportParserTest, TimesSoFarTakeOnlyWholeLinesOfARunUnderWay) {
  // Catches a refusal judged on a half-written number ("0.03" of "0.030000") or on lines of
  // another shape: only whole serial and team lines count, in the order written.
  const std::string whole = ReportBytes(ReportWith(0.06, [](int t) { return 0.03 + t * 1e-6; }));
  const std::size_t second_team = whole.find(Cp1251("ParallelMulti ( 2"));
  const struct {
    std::string output;
    std::vector<double> times;
  } cases[] = {
      {"", {}},
      {whole.substr(0, whole.find(Cp1251("ParallelMulti"))), {0.06}},
      {whole.substr(0, second_team), {0.06, 0.030001}},
      {whole.substr(0, second_team + 30), {0.06, 0.030001}},
      {"junk\n" + whole, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output.size());
    EXPECT_EQ(TimesSoFar(c.output), c.times);
  }
  EXPECT_EQ(TimesSoFar(whole).size(), 1u + MAX_THREADS);
}

TEST(ReportParserTest, ReadsConcatenatedReportsSeparately) {
  const auto reports = ParseReports(ReportText() + ReportText() + "\n");
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_FALSE(reports[1].failure.has_value());
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
      {"negative time", Replaced(whole, "= 0.034000", "= -0.034000"),
       "line 6: malformed line: a negative time"},
      // printf's text of a small negative time: accepted, it passed as a time of 0.
      {"negative zero time", Replaced(whole, "= 0.034000", "= -0.000000"),
       "line 6: malformed line: a negative time"},
      {"control bytes", Replaced(whole, "( 3 потоков ) = 0.033000", "( 3 \x1b[2J\x07 ) = 0.033000"),
       "line 5: malformed line: \"ParallelMulti ( 3 \\x1B[2J\\x07 ) = 0.033000"},
      {"converted to UTF-8",
       whole.substr(0, whole.find('\n') + 3) + "ParallelMulti ( 1 потоков ) = 0.031000  Тест 1 \n",
       "line 3: this looks like a report converted to UTF-8; give the original bytes"},
      {"a team size missing",
       Replaced(whole, "ParallelMulti ( 12 потоков ) = 0.042000  Тест 1 \n", ""),
       "line 22: team size 12 missing"},
  };
  for (const BrokenReport& c : cases) {
    SCOPED_TRACE(c.name);
    const auto reports = ParseReports(c.text);
    EXPECT_EQ(reports.size(), 1u);
    if (reports.size() != 1) continue;
    EXPECT_EQ(FailureWords(reports[0].failure).rfind(c.failure, 0), 0u)
        << FailureWords(reports[0].failure);
  }
}

TEST(ReportParserTest, QuotesAtMostAShortPieceOfAHugeMalformedLine) {
  // A 2 MB line was quoted whole, making a 2 MB message (and a 2 MB failure in the session).
  const struct {
    const char* name;
    std::string line;
    bool cut;
  } cases[] = {
      {"2 MB of letters", std::string(2'000'000, 'x'), true},
      {"2 MB of Cyrillic",
       Cp1251(std::string(600'000, 'x') + "потоков") + std::string(1'000'000, '\xEF'), true},
      {"exactly the limit", std::string(QUOTED_LINE_BYTES, 'y'), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<RunReport> reports = ParseReports(c.line + "\n" + ReportText());
    EXPECT_FALSE(reports.empty());
    if (reports.empty()) continue;
    const std::string failure = FailureWords(reports.front().failure);
    EXPECT_LE(failure.size(), QUOTED_LINE_BYTES * 2 + 64) << failure.substr(0, 300);
    EXPECT_EQ(failure.ends_with("…\""), c.cut) << failure.substr(0, 300);
    EXPECT_EQ(ValidUtf8(failure), failure) << "the cut splits a character";
  }
}

TEST(ReportParserTest, OneRunsOutputTellsJunkFromASecondReport) {
  EXPECT_EQ(FailureWords(ParseOneReport(ReportText() + "\n").failure), "");
  EXPECT_EQ(FailureWords(ParseOneReport("").failure), "empty report");
  EXPECT_EQ(FailureWords(ParseOneReport(ReportText() + ReportText()).failure),
            "more than one report");
  EXPECT_EQ(FailureWords(ParseOneReport(ReportText() + "\nleftover\n").failure)
                .rfind("text after the closing text: line 25: malformed line", 0),
            0u);
}

TEST(ReportParserTest, FindsNoReportInEmptyOrForeignText) {
  EXPECT_TRUE(ParseReports("").empty());
  EXPECT_TRUE(ParseReports("\n\r\n").empty());
  const auto foreign = ParseReports("hello\n");
  ASSERT_EQ(foreign.size(), 1u);
  EXPECT_NE(FailureWords(foreign[0].failure), "");
}

TEST(ReportParserTest, MebibytesOfCarriageReturnsParseInOnePass) {
  // Catches a search for the next line feed from every byte skipped: quadratic, it took minutes
  // on these few MiB (and hours on 64 MiB), where one pass takes milliseconds.
  const std::string returns(std::size_t{4} << 20, '\r');
  EXPECT_TRUE(ParseReports(returns).empty());
  EXPECT_EQ(FailureWords(ParseOneReport(returns).failure), "empty report");
  const auto trailing = ParseReports(returns + "x");
  ASSERT_EQ(trailing.size(), 1u);
  EXPECT_EQ(FailureWords(trailing[0].failure), "line 1: report truncated in this line: \"x\"");
  const auto report = ParseReports(returns + ReportText() + returns + "\n");
  ASSERT_EQ(report.size(), 1u);
  EXPECT_EQ(FailureWords(report[0].failure), "");
}

TEST(ReportParserTest, TeamNumberBeyondIntIsOutOfRange) {
  // Catches converting a team number of 1e20 to int, which is undefined (UBSan names it).
  for (const char* team : {"100000000000000000000", "-100000000000000000000", "2147483648", "0"}) {
    SCOPED_TRACE(team);
    const auto reports =
        ParseReports(Replaced(ReportText(), "( 20 потоков", std::string("( ") + team + " потоков"));
    EXPECT_EQ(reports.size(), 1u);
    if (reports.size() != 1) continue;
    EXPECT_EQ(FailureWords(reports[0].failure).rfind("line 22: team size out of range", 0), 0u)
        << FailureWords(reports[0].failure);
  }
}

}  // namespace
}  // namespace speedup
