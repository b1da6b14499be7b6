#include "session/session_json.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "present/reporter.h"
#include "speedup_support.h"
#include "stats/diagnostics.h"

namespace speedup {
namespace {

// The session file as the tool writes it: the record, the warnings and the figures.
std::string SessionFile(const Session& session, const SessionAnalysis& analysis) {
  return MakeReporter(OutputFormat::kJson)->SessionReport(session, analysis);
}

TEST(SessionJsonTest, SavedJsonReadsBackToIdenticalOutput) {
  // Eight runs whose times differ from run to run, a zero time, one failed run quoting control
  // bytes, and a context with a control byte and a warning of its own.
  SessionBuilder builder;
  builder.Processors(2).Host("node\x07one").Setting("OMP_DYNAMIC", "true").Requested(8);
  for (int run = 0; run < 8; ++run) {
    RunReport report = ReportWith(
        0.060 + run * 0.001, [run](int t) { return t == 5 ? 0.0 : 0.031 + (run * 7 % 5) * 0.001; });
    if (run == 5) report.failure = "line 9: parallel product differs: \"\x1b[2J\"";
    builder.Run(report, 1.8, 1.0);
  }
  const Session session = builder.Build();
  const SessionAnalysis analysis = Analyse(session);
  const std::string json = SessionFile(session, analysis);
  EXPECT_EQ(json.find('\x1b'), std::string::npos) << "control byte written raw";

  Session read;
  const ReadError error = ReadSession(nlohmann::json::parse(json), read);
  ASSERT_FALSE(error) << error.message;
  ASSERT_EQ(read.runs.size(), 8u);
  EXPECT_EQ(read.runs[5].report.failure, session.runs[5].report.failure);
  EXPECT_EQ(read.requested_runs, 8);
  const SessionAnalysis again = Analyse(read);
  EXPECT_EQ(SessionFile(read, again), json);
  for (const OutputFormat format :
       {OutputFormat::kTable, OutputFormat::kCsv, OutputFormat::kLongCsv, OutputFormat::kJson}) {
    SCOPED_TRACE(static_cast<int>(format));
    const auto reporter = MakeReporter(format);
    EXPECT_EQ(reporter->SessionReport(read, again), reporter->SessionReport(session, analysis));
  }
  EXPECT_FALSE(analysis.warnings.empty()) << "OMP_DYNAMIC=true lost before the comparison";
  EXPECT_EQ(again.warnings, analysis.warnings);
}

TEST(SessionJsonTest, RefusesJsonThatIsNotAWholeSessionOfThisVersion) {
  const Session session = SessionBuilder().Processors(2).TimedRuns(3, 1.0).Build();
  const nlohmann::json whole = nlohmann::json::parse(SessionFile(session, Analyse(session)));
  using Kind = ReadError::Kind;
  struct Broken {
    const char* name;
    nlohmann::json json;
    Kind kind;
    const char* message;
  };
  std::vector<Broken> cases = {
      {"another format", whole, Kind::kNotASession, "not a matbench-speedup session"},
      {"another version", whole, Kind::kVersion, "format version 99"},
      {"19 team sizes", whole, Kind::kMalformed, "run 2 has 19 team sizes"},
      {"negative time", whole, Kind::kMalformed, "run 1's serial time is not a time"},
      {"no runs", whole, Kind::kMalformed, "no runs"},
      {"time as text", whole, Kind::kMalformed, "malformed session"}};
  cases[0].json["format"] = "something else";
  cases[1].json["format_version"] = 99;
  cases[2].json["runs"][1]["parallel_s"].erase(0);
  cases[3].json["runs"][0]["serial_s"] = -0.5;
  cases[4].json["runs"] = nlohmann::json::array();
  cases[5].json["runs"][0]["serial_s"] = "0.06";
  for (const Broken& c : cases) {
    SCOPED_TRACE(c.name);
    Session read;
    const ReadError error = ReadSession(c.json, read);
    EXPECT_EQ(error.kind, c.kind) << error.message;
    EXPECT_NE(error.message.find(c.message), std::string::npos) << error.message;
    EXPECT_TRUE(read.runs.empty()) << "a refused session was read in part";
  }
  Session read;
  EXPECT_FALSE(ReadSession(whole, read)) << "the unbroken session is refused as well";
}

}  // namespace
}  // namespace speedup
