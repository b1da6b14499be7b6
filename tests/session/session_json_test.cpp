#include "session/session_json.h"

#include <gtest/gtest.h>

#include <csignal>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "base/interrupts.h"
#include "base/policy.h"
#include "present/reporter.h"
#include "speedup_support.h"
#include "stats/diagnostics.h"
#include "test_support.h"

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
    if (run == 5)
      report.failure = RunFailureFromText("line 9: parallel product differs: \"\x1b[2J\"");
    builder.Run(report, 1.8, 1.0);
  }
  const Session session = builder.Build();
  const SessionAnalysis analysis = Analyse(session);
  const std::string json = SessionFile(session, analysis);
  EXPECT_EQ(json.find('\x1b'), std::string::npos) << "control byte written raw";

  const Result<Session> read_back = ReadSessionText(json);
  ASSERT_TRUE(read_back) << MessageOf(read_back);
  const Session& read = *read_back;
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

// Warm-up runs are kept in the file apart from the runs, so that no reader, this tool's older
// versions included, counts them; a file without them reads as a session without a warm-up.
TEST(SessionJsonTest, WarmUpRunsAreSavedApartAndOldFilesReadWithoutThem) {
  Session session = SessionBuilder().Processors(2).TimedRuns(3, 1.0).Build();
  speedup::Run warmup = session.runs.front();
  warmup.report.serial_seconds = 9.0;
  session.warmup_runs = {warmup};
  const std::string json = SessionFile(session, Analyse(session));
  const nlohmann::json document = nlohmann::json::parse(json);
  ASSERT_TRUE(document.contains("warmup_runs"));
  EXPECT_EQ(document.at("warmup_runs").size(), 1u);
  EXPECT_EQ(document.at("runs").size(), 3u);
  const Result<Session> read_back = ReadSessionText(document.dump());
  ASSERT_TRUE(read_back) << read_back.failure().message;
  const Session& read = *read_back;
  ASSERT_EQ(read.warmup_runs.size(), 1u);
  EXPECT_EQ(read.warmup_runs[0].report.serial_seconds, 9.0);
  EXPECT_EQ(read.runs.size(), 3u);
  // The figures are those of the measured runs alone.
  Session without = session;
  without.warmup_runs.clear();
  EXPECT_EQ(MakeReporter(OutputFormat::kTable)->SessionReport(read, Analyse(read)),
            MakeReporter(OutputFormat::kTable)->SessionReport(without, Analyse(without)));

  nlohmann::json old = document;
  old.erase("warmup_runs");
  const Result<Session> old_read = ReadSessionText(old.dump());
  ASSERT_TRUE(old_read) << old_read.failure().message;
  EXPECT_TRUE(old_read->warmup_runs.empty());
  // A session without a warm-up writes no key for it: the files of old sessions stay as they were.
  EXPECT_EQ(SessionFile(without, Analyse(without)).find("warmup"), std::string::npos);

  nlohmann::json broken = document;
  broken["warmup_runs"][0]["parallel_s"] = {1.0};
  const Result<Session> refused = ReadSessionText(broken.dump());
  ASSERT_FALSE(refused);
  EXPECT_NE(refused.failure().message.find("warm-up run 1"), std::string::npos)
      << refused.failure().message;
}

TEST(SessionJsonTest, RefusesJsonThatIsNotAWholeSessionOfThisVersion) {
  const Session session = SessionBuilder().Processors(2).TimedRuns(3, 1.0).Build();
  const nlohmann::json whole = nlohmann::json::parse(SessionFile(session, Analyse(session)));
  using Kind = FailureKind;
  struct Broken {
    const char* name;
    nlohmann::json json;
    Kind kind;
    const char* message;
  };
  std::vector<Broken> cases = {
      {"another format", whole, Kind::kInput, "not a matbench-speedup session"},
      {"another version", whole, Kind::kInput, "format version 99"},
      {"19 team sizes", whole, Kind::kMalformed, "run 2 has 19 team sizes"},
      {"negative time", whole, Kind::kMalformed, "run 1's serial time is not a time"},
      {"no runs", whole, Kind::kMalformed, "no runs"},
      {"time as text", whole, Kind::kMalformed, "run 1's serial time is not a time: \"0.06\""},
      {"requested runs 1e300", whole, Kind::kMalformed, "requested_runs 1e+300 is not"},
      {"requested runs 2.5", whole, Kind::kMalformed, "requested_runs 2.5 is not"},
      {"requested runs beyond int", whole, Kind::kMalformed, "requested_runs 2147483648"},
      {"requested runs negative", whole, Kind::kMalformed, "requested_runs -3 is not"},
      // Printed as they stood before: "-4 processors", a precision of -5%.
      {"negative processors", whole, Kind::kMalformed, "\"processors\" must be an integer from 1"},
      {"no cores", whole, Kind::kMalformed, "\"cores\" must be an integer from 1"},
      {"negative load", whole, Kind::kMalformed, "\"load_before\" must be a number from 0 up"},
      {"negative precision", whole, Kind::kMalformed, "precision -0.05 is not a fraction"},
      {"precision of 150%", whole, Kind::kMalformed, "precision 1.5 is not a fraction"},
      {"negative zero time", whole, Kind::kMalformed, "run 1's serial time is not a time"},
      // A null time was named by nlohmann's own tag, "[json.exception.type_error.302]".
      {"null time", whole, Kind::kMalformed, "run 1's serial time is not a time: null"},
      {"failure as a number", whole, Kind::kMalformed, "malformed session: type must be string"}};
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
  cases[10].json["context"]["processors"] = -4;
  cases[11].json["context"]["cores"] = 0;
  cases[12].json["context"]["load_before"] = -1.5;
  cases[13].json["session"]["precision"] = -0.05;
  cases[14].json["session"]["precision"] = 1.5;
  cases[15].json["runs"][0]["serial_s"] = -0.0;
  cases[16].json["runs"][0]["serial_s"] = nullptr;
  cases[17].json["runs"][0]["failure"] = 7;
  for (const Broken& c : cases) {
    SCOPED_TRACE(c.name);
    const Result<Session> read = ReadSessionText(c.json.dump());
    ASSERT_FALSE(read) << "read " << read->runs.size() << " runs";
    EXPECT_EQ(read.failure().kind, c.kind) << read.failure().message;
    EXPECT_NE(read.failure().message.find(c.message), std::string::npos) << read.failure().message;
    EXPECT_EQ(read.failure().message.find("json.exception"), std::string::npos)
        << read.failure().message;
  }
  const Result<Session> read = ReadSessionText(whole.dump());
  EXPECT_TRUE(read) << "the unbroken session is refused as well: " << MessageOf(read);
}

TEST(SessionJsonTest, ReadingTheFileTextNamesWhatIsWrongWithIt) {
  const Session session = SessionBuilder().Processors(2).TimedRuns(3, 1.0).Build();
  const std::string whole = SessionFile(session, Analyse(session));
  std::string many_runs;
  {
    // The runs' text repeated, not 100,001 JSON values built: a minute under the sanitizers.
    nlohmann::json json = nlohmann::json::parse(whole);
    const std::string run = json["runs"][0].dump();
    json["runs"] = "RUNS";
    const std::string rest = json.dump();
    std::string runs = "[" + run;
    for (std::size_t i = 0; i < MAX_INPUT_RUNS; ++i) runs += "," + run;
    many_runs = rest;
    many_runs.replace(many_runs.find("\"RUNS\""), 6, runs + "]");
  }
  std::string huge_number = whole;
  huge_number.replace(huge_number.find("\"serial_s\": ") + 12, 0, "1e400, \"x\": ");
  using Kind = FailureKind;
  const struct {
    const char* name;
    std::string text;
    std::optional<Kind> kind;  // empty: read
    const char* message;       // part of it; empty: read
    std::size_t runs;
  } cases[] = {
      {"whole", whole, std::nullopt, "", 3},
      // Taken for raw reports, and nlohmann's own reading of it not tried.
      {"a byte-order mark first", "\xEF\xBB\xBF" + whole, std::nullopt, "", 3},
      // Called "not valid JSON (truncated?)", sending the user looking for a cut file.
      {"a number beyond a double", huge_number, Kind::kMalformed, "a number out of range: 1e400",
       0},
      {"cut off", whole.substr(0, whole.size() / 2), Kind::kNotJson, "not valid JSON", 0},
      {"more runs than any session makes", many_runs, Kind::kMalformed, "more than 100000 runs", 0},
      {"runs listed twice: the last counts",
       whole.substr(0, whole.rfind('}')) + R"(, "runs": [])" + "}", Kind::kMalformed, "no runs", 0},
      {"a run that is no object", R"({"format": "matbench-speedup session", "format_version": 1,
          "session": {}, "context": {}, "runs": [3]})",
       Kind::kMalformed, "run 1 is not an object", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Result<Session> read = ReadSessionText(c.text);
    EXPECT_EQ(read ? std::nullopt : std::optional(read.failure().kind), c.kind) << MessageOf(read);
    EXPECT_NE(MessageOf(read).find(c.message), std::string::npos) << MessageOf(read);
    EXPECT_EQ(read ? read->runs.size() : 0u, c.runs);
  }
}

// `whole` with `key: value` added as its last top-level member.
std::string WithMember(const std::string& whole, const std::string& key, const std::string& value) {
  return whole.substr(0, whole.rfind('}')) + ", \"" + key + "\": " + value + "}";
}

// `count` times `item`, comma-separated, in `open` and `close`.
std::string Repeated(const std::string& open, const std::string& item, std::size_t count,
                     const std::string& close) {
  std::string text = open;
  for (std::size_t i = 0; i < count; ++i) text += (i == 0 ? "" : ",") + item;
  return text + close;
}

TEST(SessionJsonTest, ValuesUnderUnknownKeysAreSkippedUnbuiltAndTheRestIsBounded) {
  // The reader built every unknown value (1.5 GB for 64 MiB of "[[],[],...]") and removed each
  // discarded one by scanning its parent list (quadratic); nothing bounded depth or the values
  // kept under known keys.
  const Session session = SessionBuilder().Processors(2).TimedRuns(3, 1.0).Build();
  const std::string whole = SessionFile(session, Analyse(session));
  const std::size_t beyond = MAX_JSON_KEPT_VALUES + 1;
  std::string settings = Repeated("{", "\"V\":\"1\"", 1, "");
  for (std::size_t i = 1; i < beyond; ++i) settings += ",\"V" + std::to_string(i) + "\":\"1\"";
  settings += "}";
  std::string with_settings = whole;
  with_settings.replace(with_settings.find("\"context\": {") + 12, 0,
                        "\"omp_settings\": " + settings + ",");
  using Kind = FailureKind;
  const struct {
    const char* name;
    std::string text;
    std::optional<Kind> kind;  // none: read
    const char* message;       // part of it
  } cases[] = {
      {"unknown key: more lists than are ever kept",
       WithMember(whole, "bulk", Repeated("[", "[]", beyond, "]")), std::nullopt, ""},
      {"unknown key: objects in a list",
       WithMember(whole, "bulk", Repeated("[", "{\"a\":[1]}", beyond, "]")), std::nullopt, ""},
      {"unknown key in a run",
       whole.substr(0, whole.find("\"serial_s\"")) + "\"x\": " + Repeated("[", "0", beyond, "]") +
           ", " + whole.substr(whole.find("\"serial_s\"")),
       std::nullopt, ""},
      {"known key: more values than are kept", with_settings, Kind::kMalformed,
       "more than 100000 values"},
      {"nested deeper than any session",
       WithMember(whole, "bulk",
                  std::string(MAX_JSON_DEPTH, '[') + std::string(MAX_JSON_DEPTH, ']')),
       Kind::kMalformed, "nested deeper than 100 levels"},
      // Called "not valid JSON (truncated?)": a merge named such a node cut off while writing.
      {"a host name that is not UTF-8", WithMember(whole, "context", "{\"host\": \"n\xFF\"}"),
       Kind::kMalformed, "not UTF-8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Result<Session> read = ReadSessionText(c.text);
    if (!c.kind) {
      ASSERT_TRUE(read) << MessageOf(read);
      EXPECT_EQ(read->runs.size(), 3u);
      continue;
    }
    ASSERT_FALSE(read) << "read " << read->runs.size() << " runs";
    EXPECT_EQ(read.failure().kind, *c.kind) << read.failure().message;
    EXPECT_NE(read.failure().message.find(c.message), std::string::npos) << read.failure().message;
  }
}

TEST(SessionJsonTest, AnInterruptEndsTheReadingOfBulkAfterTheRuns) {
  // The interrupt was looked at only as each run was read: bulk after them was read to its end.
  const Session session = SessionBuilder().Processors(2).TimedRuns(3, 1.0).Build();
  const std::string text =
      WithMember(SessionFile(session, Analyse(session)), "bulk", Repeated("[", "[]", 200000, "]"));
  ASSERT_TRUE(InstallInterruptHandlers());
  raise(SIGINT);
  const Result<Session> read = ReadSessionText(text);
  ResetInterruptForTesting();
  ASSERT_FALSE(read) << "read " << read->runs.size() << " runs";
  EXPECT_EQ(read.failure().kind, FailureKind::kInterrupted) << read.failure().message;
}

TEST(SessionJsonTest, ReadingTheFileTextKeepsEveryRunAndField) {
  // The text is read run by run; every run and field must come back as it was written.
  const Session session = SessionBuilder()
                              .FullContext()
                              .Requested(6)
                              .TimedRuns(4, 1.0)
                              .FailedRun("line 3: malformed line")
                              .Interrupted("SIGINT")
                              .Build();
  const std::string text = SessionFile(session, Analyse(session));
  const Result<Session> from_text = ReadSessionText(text);
  ASSERT_TRUE(from_text) << MessageOf(from_text);
  EXPECT_EQ(from_text->runs.size(), 5u);
  EXPECT_EQ(SessionFile(*from_text, Analyse(*from_text)), text);
}

TEST(SessionJsonTest, AnInterruptingSignalReadsBackByNumberAndAnUnknownNameAsItWas) {
  // Catches a name taken for the wrong signal, and an old file's name that this system does not
  // know (another system's, or hand-edited) lost or refused instead of kept.
  const struct {
    const char* name;
    int signal_number;  // 0: kept by name alone
  } cases[] = {{"SIGINT", SIGINT},     {"SIGTERM", SIGTERM}, {"SIGHUP", SIGHUP},
               {"SIGBREAK", 0},        {"sigint", 0},        {"", 0},
               {"interrupted \x01", 0}};
  const Session written =
      SessionBuilder().Processors(2).TimedRuns(3, 1.0).Interrupted("SIGINT").Build();
  const std::string original = SessionFile(written, Analyse(written));
  ASSERT_NE(original.find("\"SIGINT\""), std::string::npos) << original;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = original;
    text.replace(text.find("\"SIGINT\""), 8, nlohmann::json(c.name).dump());
    const Result<Session> read = ReadSessionText(text);
    ASSERT_TRUE(read) << MessageOf(read);
    ASSERT_TRUE(read->interrupted.has_value());
    EXPECT_EQ(read->interrupted->signal_number, c.signal_number);
    EXPECT_EQ(InterruptName(*read->interrupted), c.name);
    EXPECT_EQ(SessionFile(*read, Analyse(*read)), text) << "not written back as it was read";
  }
}

TEST(SessionJsonTest, TimesFollowOneRuleFromReportToSavedSessionAndBack) {
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
    SCOPED_TRACE(c.name);
    std::string text = ReportText();
    const std::string from = Cp1251(c.from);
    text.replace(text.find(from), from.size(), Cp1251(c.to));
    const RunReport parsed = ParseOneReport(text);
    EXPECT_EQ(FailureWords(parsed.failure).rfind(c.failure, 0), 0u) << FailureWords(parsed.failure);
    EXPECT_EQ(FailureWords(parsed.failure).empty(), std::string(c.failure).empty());
    EXPECT_TRUE(IsTime(parsed.serial_seconds));
    for (const double seconds : parsed.parallel_seconds) EXPECT_TRUE(IsTime(seconds));

    const Session session = SessionBuilder().Processors(2).TimedRuns(3, 1.0).Run(parsed).Build();
    const Result<Session> read = ReadSessionText(SessionFile(session, Analyse(session)));
    EXPECT_TRUE(read) << MessageOf(read);
    if (!read || read->runs.size() != session.runs.size()) continue;
    EXPECT_EQ(read->runs.back().report.failure, parsed.failure) << "read back as another kind";
    EXPECT_EQ(read->runs.back().report.serial_seconds, parsed.serial_seconds);
  }
}

}  // namespace
}  // namespace speedup
