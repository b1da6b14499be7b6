#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "figures.h"
#include "measure.h"
#include "options.h"
#include "output.h"
#include "report_parser.h"
#include "session.h"
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

// One passing report: serial `serial` seconds, every team size `parallel` seconds.
RunReport ReportWith(double serial, double parallel) {
  RunReport report;
  report.serial_seconds = serial;
  report.parallel_seconds.fill(parallel);
  return report;
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
      {"negative time", Replaced(whole, "= 0.034000", "= -0.034000"),
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
    const auto reports = ParseReports(c.text);
    ASSERT_EQ(reports.size(), 1u) << c.name;
    EXPECT_EQ(reports[0].failure.rfind(c.failure, 0), 0u) << c.name << ": " << reports[0].failure;
  }
}

TEST(ReportParserTest, OneRunsOutputTellsJunkFromASecondReport) {
  EXPECT_EQ(ParseOneReport(ReportText() + "\n").failure, "");
  EXPECT_EQ(ParseOneReport("").failure, "empty report");
  EXPECT_EQ(ParseOneReport(ReportText() + ReportText()).failure, "more than one report");
  EXPECT_EQ(ParseOneReport(ReportText() + "\nleftover\n")
                .failure.rfind("text after the closing text: line 25: malformed line", 0),
            0u);
}

TEST(ReportParserTest, FindsNoReportInEmptyOrForeignText) {
  EXPECT_TRUE(ParseReports("").empty());
  EXPECT_TRUE(ParseReports("\n\r\n").empty());
  const auto foreign = ParseReports("hello\n");
  ASSERT_EQ(foreign.size(), 1u);
  EXPECT_NE(foreign[0].failure, "");
}

TEST(ReportParserTest, MebibytesOfCarriageReturnsParseInOnePass) {
  // Catches a search for the next line feed from every byte skipped: quadratic, it took minutes
  // on these few MiB (and hours on 64 MiB), where one pass takes milliseconds.
  const std::string returns(std::size_t{4} << 20, '\r');
  EXPECT_TRUE(ParseReports(returns).empty());
  EXPECT_EQ(ParseOneReport(returns).failure, "empty report");
  const auto trailing = ParseReports(returns + "x");
  ASSERT_EQ(trailing.size(), 1u);
  EXPECT_EQ(trailing[0].failure, "line 1: report truncated in this line: \"x\"");
  const auto report = ParseReports(returns + ReportText() + returns + "\n");
  ASSERT_EQ(report.size(), 1u);
  EXPECT_EQ(report[0].failure, "");
}

TEST(ReportParserTest, TeamNumberBeyondIntIsOutOfRange) {
  // Catches converting a team number of 1e20 to int, which is undefined (UBSan names it).
  for (const char* team : {"100000000000000000000", "-100000000000000000000", "2147483648", "0"}) {
    const auto reports =
        ParseReports(Replaced(ReportText(), "( 20 потоков", std::string("( ") + team + " потоков"));
    ASSERT_EQ(reports.size(), 1u) << team;
    EXPECT_EQ(reports[0].failure.rfind("line 22: team size out of range", 0), 0u)
        << team << ": " << reports[0].failure;
  }
}

TEST(FiguresTest, MedianOfOddAndEvenCounts) {
  EXPECT_EQ(Estimated({3.0, 1.0, 2.0}).median, 2.0);
  EXPECT_EQ(Estimated({4.0, 1.0, 3.0, 2.0}).median, 2.5);
  EXPECT_EQ(Estimated({7.0}).median, 7.0);
  EXPECT_FALSE(Estimated({7.0, std::nullopt}).median.has_value());
}

TEST(FiguresTest, ZeroTimesGiveNoRatioRatherThanZeroInfOrNaN) {
  RunReport report;
  report.serial_seconds = 0.0;
  report.parallel_seconds.fill(0.0);
  report.parallel_seconds[1] = 0.010;
  RunReport zero_parallel = ReportWith(0.060, 0.030);
  zero_parallel.parallel_seconds[2] = 0.0;
  for (const Figures& figures : {ComputeFigures({report}, 2), ComputeFigures({zero_parallel}, 2)}) {
    const TeamFigures& zero = figures.teams[figures.serial.median == 0.0 ? 1 : 2];
    EXPECT_FALSE(zero.speedup_vs_serial.median.has_value());
    EXPECT_FALSE(zero.efficiency.median.has_value());
    EXPECT_FALSE(zero.ratio_of_medians.has_value());
    EXPECT_TRUE(zero.too_short);
    EXPECT_TRUE(zero.noisy);
    Session session;
    session.runs.push_back({report, {}, {}});
    for (const std::string& text :
         {FormatTable(session, figures), FormatCsv(figures), FormatJson(session, figures)}) {
      EXPECT_EQ(text.find("inf"), std::string::npos);
      EXPECT_EQ(text.find("nan"), std::string::npos);
      EXPECT_EQ(text.find(" 0.00 "), std::string::npos) << text;
    }
  }
}

TEST(FiguresTest, MarksTeamSizesAboveTheProcessorsAndTimesTooShortToMeasure) {
  const auto reports = ParseReports(ReportText() + ReportText());
  const Figures figures = ComputeFigures(reports, 4);
  for (const TeamFigures& team : figures.teams) {
    EXPECT_EQ(team.oversubscribed, team.threads > 4) << team.threads;
    EXPECT_FALSE(team.too_short);
  }
  for (const TeamFigures& team : ComputeFigures(reports, std::nullopt).teams) {
    EXPECT_FALSE(team.oversubscribed) << "marked without a processor count";
  }
  RunReport fast = reports[0];
  fast.parallel_seconds[5] = 0.019;
  EXPECT_TRUE(ComputeFigures({fast}, 4).teams[5].too_short);
  EXPECT_FALSE(ComputeFigures({fast}, 4).teams[4].too_short);
}

TEST(FiguresTest, KarpFlattAndAmdahlFitRecoverAKnownSerialFraction) {
  EXPECT_DOUBLE_EQ(KarpFlatt(4.0, 4), 0.0);
  EXPECT_DOUBLE_EQ(KarpFlatt(1.0, 4), 1.0);
  // T(p) = 0.01 + 0.09 / p: f = 0.1 exactly, whatever the runs resampled.
  std::vector<RunReport> reports(6, ReportWith(0.1, 0.0));
  for (RunReport& report : reports) {
    for (int t = 1; t <= MAX_THREADS; ++t) report.parallel_seconds[t - 1] = 0.01 + 0.09 / t;
  }
  const Figures figures = ComputeFigures(reports, 2, 4);
  EXPECT_EQ(figures.amdahl.team_sizes, 4);
  EXPECT_NEAR(*figures.amdahl.serial_fraction, 0.1, 1e-12);
  EXPECT_NEAR(*figures.amdahl.low, 0.1, 1e-12);
  EXPECT_NEAR(*figures.amdahl.high, 0.1, 1e-12);
  EXPECT_NEAR(*figures.amdahl.limit, 10.0, 1e-9);
  const TeamFigures& four = figures.teams[3];
  EXPECT_NEAR(*four.karp_flatt, 0.1, 1e-12) << "Amdahl's own speedup gives e = f";
  EXPECT_FALSE(figures.teams[0].karp_flatt.has_value());
  EXPECT_FALSE(ComputeFigures(reports, std::nullopt).amdahl.a.has_value());
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
    ASSERT_EQ(fields.size(), 19u) << line;
    EXPECT_EQ(std::stoi(fields[0]), team.threads);
    EXPECT_EQ(std::stod(fields[1]), team.seconds.median);
    EXPECT_EQ(std::stod(fields[3]), team.seconds.high);
    EXPECT_EQ(std::stod(fields[6]), *team.speedup_vs_serial.median);
    EXPECT_EQ(std::stod(fields[8]), *team.speedup_vs_serial.high);
    EXPECT_EQ(std::stod(fields[12]), *team.efficiency.median);
    EXPECT_EQ(fields[16], team.oversubscribed ? "true" : "false");
  }
}

// Seven runs with times that differ from run to run, one failed run, and a context.
Session SavedSession() {
  Session session;
  for (int run = 0; run < 8; ++run) {
    Run kept{ReportWith(0.060 + run * 0.001, 0.031 + (run * 7 % 5) * 0.001), 1.8, 1.0};
    kept.report.parallel_seconds[4] = 0.0;
    if (run == 5) kept.report.failure = "line 9: parallel product differs: \"\x1b[2J\"";
    session.runs.push_back(kept);
  }
  session.requested_runs = 8;
  session.context.processors = 2;
  session.context.host = "node\x07one";
  session.context.omp_settings = std::map<std::string, std::string>{{"OMP_DYNAMIC", "true"}};
  return session;
}

TEST(ReportParserTest, TimesFollowOneRuleFromReportToSavedSessionAndBack) {
  // Catches a parser that takes times the session reader refuses (1e9 s and more: the saved
  // session is lost) and a time beyond a double's range read as 0 and counted as passed.
  const std::string huge = "1" + std::string(400, '0') + ".000000";
  const struct {
    const char* name;
    std::string from, to;
    const char* failure;  // expected start; empty for a report that passes
  } cases[] = {
      {"serial just below 1e9 s", "SerialMulti =  0.060000", "SerialMulti =  999999999.999999", ""},
      {"serial of 1e9 s", "SerialMulti =  0.060000", "SerialMulti =  1000000000.000000",
       "line 1: malformed line: not a time"},
      {"serial beyond a double", "SerialMulti =  0.060000", "SerialMulti =  " + huge,
       "line 1: malformed line: not a time"},
      {"parallel of 1e11 s", "= 0.034000", "= 100000000000.000000",
       "line 6: malformed line: not a time"},
      {"parallel beyond a double", "= 0.034000", "= " + huge, "line 6: malformed line: not a time"},
      {"negative beyond a double", "= 0.034000", "= -" + huge,
       "line 6: malformed line: a negative time"},
  };
  for (const auto& c : cases) {
    const RunReport parsed = ParseOneReport(Replaced(ReportText(), c.from, c.to));
    EXPECT_EQ(parsed.failure.rfind(c.failure, 0), 0u) << c.name << ": " << parsed.failure;
    EXPECT_EQ(parsed.failure.empty(), std::string(c.failure).empty()) << c.name;
    EXPECT_TRUE(IsTime(parsed.serial_seconds)) << c.name;
    for (const double seconds : parsed.parallel_seconds) EXPECT_TRUE(IsTime(seconds)) << c.name;

    Session session = SavedSession();
    session.runs.push_back(::Run{parsed, std::nullopt, std::nullopt});
    const std::string json = FormatJson(session, SessionFigures(session));
    Session read;
    ASSERT_EQ(ReadSession(nlohmann::json::parse(json), read), "") << c.name;
    ASSERT_EQ(read.runs.size(), session.runs.size()) << c.name;
    EXPECT_EQ(read.runs.back().report.failure, parsed.failure) << c.name;
    EXPECT_EQ(read.runs.back().report.serial_seconds, parsed.serial_seconds) << c.name;
  }
}

TEST(SessionTest, SavedJsonReadsBackToIdenticalOutput) {
  const Session session = SavedSession();
  const Figures figures = ComputeFigures(PassedReports(session), session.context.processors);
  const std::string json = FormatJson(session, figures);
  EXPECT_EQ(json.find('\x1b'), std::string::npos) << "control byte written raw";

  Session read;
  ASSERT_EQ(ReadSession(nlohmann::json::parse(json), read), "");
  ASSERT_EQ(read.runs.size(), 8u);
  EXPECT_EQ(read.runs[5].report.failure, session.runs[5].report.failure);
  const Figures again = ComputeFigures(PassedReports(read), read.context.processors);
  EXPECT_EQ(FormatJson(read, again), json);
  EXPECT_EQ(FormatTable(read, again), FormatTable(session, figures));
  EXPECT_EQ(FormatCsv(again), FormatCsv(figures));
  EXPECT_EQ(FormatLongCsv(read), FormatLongCsv(session));
  EXPECT_EQ(SessionWarnings(read, again), SessionWarnings(session, figures));
}

TEST(SessionTest, RefusesJsonThatIsNotAWholeSessionOfThisVersion) {
  const Session session = SavedSession();
  const nlohmann::json whole =
      nlohmann::json::parse(FormatJson(session, ComputeFigures(PassedReports(session), 2)));
  struct Broken {
    const char* name;
    nlohmann::json json;
    const char* message;
  };
  std::vector<Broken> cases = {{"another format", whole, "not a matbench-speedup session"},
                               {"another version", whole, "format version 99"},
                               {"19 team sizes", whole, "run 2 has 19 team sizes"},
                               {"negative time", whole, "run 1's serial time is not a time"},
                               {"no runs", whole, "no runs"},
                               {"time as text", whole, "malformed session"},
                               {"requested runs 1e300", whole, "requested_runs 1e+300 is not"},
                               {"requested runs 2.5", whole, "requested_runs 2.5 is not"},
                               {"requested runs beyond int", whole, "requested_runs 2147483648"},
                               {"requested runs negative", whole, "requested_runs -3 is not"}};
  cases[0].json["format"] = "something else";
  cases[1].json["format_version"] = 99;
  cases[2].json["runs"][1]["parallel_s"].erase(0);
  cases[3].json["runs"][0]["serial_s"] = -0.5;
  cases[4].json["runs"] = nlohmann::json::array();
  cases[5].json["runs"][0]["serial_s"] = "0.06";
  // Converted to int as they stood, 1e300 was undefined and 2.5 became 2.
  cases[6].json["session"]["requested_runs"] = 1e300;
  cases[7].json["session"]["requested_runs"] = 2.5;
  cases[8].json["session"]["requested_runs"] = 2147483648u;
  cases[9].json["session"]["requested_runs"] = -3;
  for (const Broken& c : cases) {
    Session read;
    const std::string error = ReadSession(c.json, read);
    EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
    EXPECT_TRUE(read.runs.empty()) << c.name;
  }
}

TEST(SessionTest, WarnsOnlyAboutSettingsThatCanShrinkTeams) {
  const struct {
    const char* name;
    const char* value;
    bool warns;
  } cases[] = {{"OMP_DYNAMIC", "true", true},        {"OMP_DYNAMIC", "FALSE", false},
               {"OMP_THREAD_LIMIT", "4", true},      {"OMP_THREAD_LIMIT", "100", false},
               {"OMP_MAX_ACTIVE_LEVELS", "0", true}, {"OMP_PROC_BIND", "true", false}};
  for (const auto& c : cases) {
    Session session = SavedSession();
    session.context.omp_settings = std::map<std::string, std::string>{{c.name, c.value}};
    const auto warnings = SessionWarnings(session, ComputeFigures(PassedReports(session), 2));
    const bool warned = std::any_of(warnings.begin(), warnings.end(), [](const std::string& w) {
      return w.find("smaller teams") != std::string::npos;
    });
    EXPECT_EQ(warned, c.warns) << c.name << "=" << c.value;
  }
}

TEST(SessionTest, RunsOnOneProcessorAreNotCalledParallel) {
  Session session = SavedSession();
  EXPECT_FALSE(CheckParallelUse(session).one_processor);
  for (::Run& run : session.runs) run.cpu_seconds = 1.02;
  EXPECT_TRUE(CheckParallelUse(session).one_processor);
  session.context.processors = 1;
  EXPECT_FALSE(CheckParallelUse(session).one_processor) << "one processor is all there was";
}

TEST(MeasureTest, PlacementIsHonouredOnlyWhenEveryThreadIsBoundAsAsked) {
  const std::string bound = "level 1 thread 0x7f01 affinity 0\nlevel 1 thread 0x7f02 affinity 1\n";
  const std::string unbound = "level 1 thread 0x7f01 affinity 0-1\n";
  const std::string llvm_bound = "OMP: pid 7 tid 7 thread 0 bound to OS proc set {0}\n";
  const std::string llvm_unbound = "OMP: pid 7 tid 8 thread 1 bound to OS proc set {0,1}\n";
  EXPECT_EQ(PlacementHonoured(bound, "close", 2), true);
  EXPECT_EQ(PlacementHonoured(bound, "false", 2), false);
  EXPECT_EQ(PlacementHonoured(unbound, "spread", 2), false);
  EXPECT_EQ(PlacementHonoured(unbound, "false", 2), true);
  EXPECT_EQ(PlacementHonoured(bound + unbound, "close", 2), false) << "one unbound thread";
  EXPECT_EQ(PlacementHonoured(llvm_bound, "close", 2), true);
  EXPECT_EQ(PlacementHonoured(llvm_unbound, "false", 2), true);
  EXPECT_EQ(PlacementHonoured(llvm_bound + llvm_unbound, "spread", 2), false);
  EXPECT_EQ(PlacementHonoured("libgomp: Invalid value\n", "close", 2), std::nullopt);
}

TEST(MeasureTest, AffinityListsBeyondIntAreUnboundThreads) {
  // Catches counting "0-2147483647" in int (undefined: it wrapped negative, so an unbound thread
  // read as bound and "close" as honoured) and a number too long for any integer read as one.
  const struct {
    const char* line;
    bool honoured_close;  // whether "close" reads as honoured on 2 processors
  } cases[] = {{"level 1 thread 0x7f01 affinity 0-2147483647\n", false},
               {"level 1 thread 0x7f01 affinity 1-2147483647\n", false},
               {"level 1 thread 0x7f01 affinity 0-4294967297\n", false},
               {"level 1 thread 0x7f01 affinity 0,2147483646-2147483647\n", false},
               {"level 1 thread 0x7f01 affinity 0-99999999999999999999999\n", false},
               {"OMP: pid 7 tid 7 thread 0 bound to OS proc set {0-2147483647}\n", false},
               {"level 1 thread 0x7f01 affinity 2147483647\n", true}};
  for (const auto& c : cases) {
    EXPECT_EQ(PlacementHonoured(c.line, "close", 2), c.honoured_close) << c.line;
    EXPECT_EQ(PlacementHonoured(c.line, "false", 2), !c.honoured_close) << c.line;
  }
}

TEST(MeasureTest, LlvmAffinityLinesAreTakenOutOfTheReport) {
  const std::string report = ReportText();
  const std::string line = "OMP: pid 7 tid 7 thread 0 bound to OS proc set {0}\n";
  const std::size_t second_line = report.find('\n') + 1;
  std::string display;
  const std::string kept = WithoutAffinityLines(
      report.substr(0, second_line) + line + report.substr(second_line), display);
  EXPECT_EQ(kept, report);
  EXPECT_EQ(display, line);
  EXPECT_EQ(ParseOneReport(kept).failure, "");
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
      {{"--csv", "--json"}, "excludes"},
      {{"--runs", "3", "--runs", "4"}, "--runs given more than once"},
      {{"--input", "a", "--input", "b"}, "--input given more than once"},
      {{"--precision", "2%", "--max-runs=50", "--time-limit", "5m"}, ""},
      {{"--precision", "150%"}, "\"150%\""},
      {{"--precision", "2"}, "\"2\""},
      {{"--max-runs", "50"}, "--precision"},
      {{"--time-limit", "-3"}, "\"-3\""},
      {{"--run-timeout", "soon"}, "\"soon\""},
      {{"--bind", "close,spread"}, ""},
      {{"--bind", "close,nearby"}, "\"close,nearby\""},
      {{"--bind", "close,close"}, "twice"},
      {{"--processors", "4"}, "--input"},
      {{"--input", "x.txt", "--processors", "0"}, "\"0\""},
      {{"compare", "a.json", "b.json", "--json", "--fail-if-slower", "5%"}, ""},
      {{"compare", "a.json"}, "BASE_AND_NEW"},
      {{"compare", "a.json", "b.json", "--runs", "3"}, "does not apply"},
      {{"--runs", "\x1b[2J"}, "\\x1B[2J"},
      {{"--input", "saved.txt", "--runs", "2"}, "--input"},
      {{"--plot", "chart.pdf"}, ".svg or .png"},
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
