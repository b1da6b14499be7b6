// Chrome's trace-event JSON of a traced run, checked as JSON against the format's fields and the
// trace's counts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/process.h"
#include "base/text.h"
#include "present/trace_export.h"
#include "traced_runs.h"

namespace speedup {
namespace {

using Json = nlohmann::json;

Json ParsedChrome(const RunTrace& trace) {
  const std::string text = ChromeTraceJson(trace);
  Json parsed = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  EXPECT_FALSE(parsed.is_discarded()) << text;
  return parsed;
}

// The events of `parsed` with phase `ph`.
std::vector<Json> EventsOf(const Json& parsed, const std::string& ph) {
  std::vector<Json> events;
  for (const Json& event : parsed.at("traceEvents")) {
    if (event.value("ph", "") == ph) events.push_back(event);
  }
  return events;
}

TEST(ChromeTraceJsonTest, EveryEventHasTheFormatsFields) {
  for (const RunTrace& trace : {SmallTeam(), DamagedTeam(), Sampled(), RunTrace{}}) {
    SCOPED_TRACE(std::to_string(trace.regions.size()) + " regions");
    const Json parsed = ParsedChrome(trace);
    ASSERT_TRUE(parsed.is_object());
    EXPECT_EQ(parsed.value("displayTimeUnit", ""), "ns");
    ASSERT_TRUE(parsed.contains("traceEvents"));
    ASSERT_TRUE(parsed["traceEvents"].is_array());
    ASSERT_FALSE(parsed["traceEvents"].empty());
    for (const Json& event : parsed["traceEvents"]) {
      SCOPED_TRACE(event.dump());
      ASSERT_TRUE(event.is_object());
      EXPECT_TRUE(event.contains("name") && event["name"].is_string());
      ASSERT_TRUE(event.contains("ph") && event["ph"].is_string());
      EXPECT_TRUE(event["ph"] == "X" || event["ph"] == "M");
      EXPECT_TRUE(event.contains("ts") && event["ts"].is_number());
      EXPECT_TRUE(event.value("pid", -1) == 1 || event.value("pid", -1) == 2);
      EXPECT_TRUE(event.contains("tid") && event["tid"].is_number_unsigned());
      if (event["ph"] == "X") {
        ASSERT_TRUE(event.contains("dur") && event["dur"].is_number());
        EXPECT_GE(event["dur"].get<double>(), 0);
        EXPECT_TRUE(event.contains("cat") && event["cat"].is_string());
      }
    }
  }
}

TEST(ChromeTraceJsonTest, CountsByCategoryEqualThoseOfTheTrace) {
  struct Case {
    const char* name;
    RunTrace trace;
  };
  for (const Case& c : {Case{"small team", SmallTeam()}, Case{"damaged team", DamagedTeam()},
                        Case{"no region", RunTrace{}}}) {
    SCOPED_TRACE(c.name);
    std::map<std::string, int> counts = {{"region", 0}, {"task", 0}, {"loop", 0},
                                         {"row", 0},    {"wait", 0}, {"idle", 0}};
    for (const Json& event : EventsOf(ParsedChrome(c.trace), "X")) {
      ASSERT_TRUE(counts.count(event.value("cat", ""))) << event.dump();
      ++counts[event["cat"].get<std::string>()];
    }
    EXPECT_EQ(counts, ExpectedCounts(c.trace));
  }
}

TEST(ChromeTraceJsonTest, SpansAreMicrosecondsFromTheFirstRegionsBegin) {
  struct Case {
    const char* name;
    unsigned tid;
    double ts, dur;
    Json args;  // the row's, or empty for another span
  };
  const Case cases[] = {
      {"team of 1", 0, 0.0, 100.0, {}},
      {"team of 3", 0, 1000.0, 500.0, {}},
      {"implicit task", 1, 1010.0, 489.5, {}},
      {"loop", 2, 1020.1, 0.1, {}},
      // The lone thread's chunk of 4 rows lasts until its loop's end.
      {"row 0", 0, 1.234, 96.766, {{"row", 0}, {"rows", 4}}},
      // A row lasts until the thread's next claim, the last one until its loop's end.
      {"row 0", 0, 1000.3, 149.7, {{"row", 0}, {"rows", 1}}},
      {"row 2", 0, 1150.0, 250.0, {{"row", 2}, {"rows", 1}}},
      {"row 1", 1, 1010.2, 189.8, {{"row", 1}, {"rows", 1}}},
      {"row 3", 1, 1200.0, 290.0, {{"row", 3}, {"rows", 1}}},
      {"barrier wait", 0, 1400.1, 97.9, {}},
  };
  const std::vector<Json> events = EventsOf(ParsedChrome(SmallTeam()), "X");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(c.ts));
    int found = 0;
    for (const Json& event : events) {
      if (event["name"] != c.name || event["tid"] != c.tid) continue;
      if (std::abs(event["ts"].get<double>() - c.ts) > 1e-9) continue;
      ++found;
      EXPECT_DOUBLE_EQ(event["dur"].get<double>(), c.dur);
      if (!c.args.empty()) {
        EXPECT_EQ(event["args"], c.args);
      }
    }
    EXPECT_EQ(found, 1);
  }
}

TEST(ChromeTraceJsonTest, DamagedSpansLastNoTimeRatherThanLessThanNone) {
  // Thread 1's last row was claimed after its loop's end.
  int found = 0;
  for (const Json& event : EventsOf(ParsedChrome(DamagedTeam()), "X")) {
    if (event["name"] != "row 3") continue;
    ++found;
    EXPECT_EQ(event["dur"].get<double>(), 0.0);
    EXPECT_DOUBLE_EQ(event["ts"].get<double>(), 1200.0);
  }
  EXPECT_EQ(found, 1);
}

// A worker's wait at the closing barrier lasts until the next region begins; exported whole,
// the time between regions read as barrier wait.
TEST(ChromeTraceJsonTest, WaitsEndWithTheirRegionAndTheRestIsIdle) {
  const RunTrace trace = DamagedTeam();  // thread 1 waits from 1499 to 1600 us; region ends 1500
  int waits = 0, idle = 0;
  for (const Json& event : EventsOf(ParsedChrome(trace), "X")) {
    const double end = event["ts"].get<double>() + event["dur"].get<double>();
    if (event["cat"] == "wait") {
      ++waits;
      EXPECT_LE(end, 1500.0 + 1e-9) << event.dump();
    }
    if (event["cat"] == "idle") {
      ++idle;
      EXPECT_EQ(event["name"], "idle between regions");
      EXPECT_DOUBLE_EQ(event["ts"].get<double>(), 1500.0);
      EXPECT_DOUBLE_EQ(end, 1600.0);
    }
  }
  EXPECT_EQ(waits, 2);
  EXPECT_EQ(idle, 1);
}

TEST(ChromeTraceJsonTest, MetadataNamesTheProcessEachThreadAndTheRuntime) {
  const Json parsed = ParsedChrome(SmallTeam());
  std::map<unsigned, std::string> thread_names;
  std::string process_name, labels;
  for (const Json& event : EventsOf(parsed, "M")) {
    SCOPED_TRACE(event.dump());
    const std::string name = event["name"].get<std::string>();
    if (name == "process_name") process_name = event["args"]["name"].get<std::string>();
    if (name == "process_labels") labels = event["args"]["labels"].get<std::string>();
    if (name == "thread_name") {
      thread_names[event["tid"].get<unsigned>()] = event["args"]["name"].get<std::string>();
    }
  }
  EXPECT_EQ(process_name, "matbench");
  EXPECT_EQ(labels, RuntimeText(SmallTeam()));
  EXPECT_EQ(thread_names,
            (std::map<unsigned, std::string>{{0, "thread 0"}, {1, "thread 1"}, {2, "thread 2"}}));
  EXPECT_EQ(parsed["otherData"]["runtime"], SmallTeam().runtime);
  EXPECT_EQ(parsed["otherData"]["omp_version"], 201611);
}

// Catches a thread's time off a core drawn as fork or work (no core lanes), a wait and a time on
// a core that do not add up to the interval between the CPU clock's readings, and a migration
// left unsaid. Microseconds from the first region's begin, 1,000,000 ns.
TEST(ChromeTraceJsonTest, EachThreadsCoreLaneSplitsItsIntervalsIntoWaitAndWork) {
  struct Slice {
    std::string name;
    unsigned tid;
    double ts, dur;
    bool migrated = false;  // for a slice on a core
  };
  const std::vector<Slice> expected = {
      // Thread 0 before its task: 100 ns of wall, 40 ns of CPU time.
      {"waiting for a core", 0, 1000.0, 0.06},
      {"on CPU 1", 0, 1000.06, 0.04},
      // Over its task: 498.9 us of wall, 394.96 us of CPU time, from CPU 1 to CPU 0.
      {"waiting for a core", 0, 1000.1, 103.94},
      {"on CPU 0", 0, 1104.04, 394.96, true},
      // Thread 1: no reading at the region's begin, and a CPU time longer than the wall's.
      {"on CPU 1", 1, 1010.0, 489.5},
      // Thread 2: 20 us, 1 us on a core; then a clock gone back, all waiting.
      {"waiting for a core", 2, 1000.0, 19.0},
      {"on CPU 0", 2, 1019.0, 1.0},
      {"waiting for a core", 2, 1020.0, 479.7},
  };
  const Json parsed = ParsedChrome(Sampled());
  std::vector<Json> seen;
  for (const Json& event : EventsOf(parsed, "X")) {
    if (event["pid"] == 2) seen.push_back(event);
  }
  ASSERT_EQ(seen.size(), expected.size()) << parsed.dump(1);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(seen[i].dump());
    EXPECT_EQ(seen[i]["name"], expected[i].name);
    EXPECT_EQ(seen[i]["tid"], expected[i].tid);
    EXPECT_NEAR(seen[i]["ts"].get<double>(), expected[i].ts, 1e-9);
    EXPECT_NEAR(seen[i]["dur"].get<double>(), expected[i].dur, 1e-9);
    EXPECT_EQ(seen[i]["cat"], expected[i].name == "waiting for a core" ? "core wait" : "cpu");
    if (seen[i]["cat"] == "cpu") {
      EXPECT_EQ(seen[i]["args"]["migrated"], expected[i].migrated);
    }
  }
  // The lanes are named, apart from the spans' process.
  std::set<std::string> names;
  for (const Json& event : EventsOf(parsed, "M")) {
    if (event["pid"] == 2) names.insert(event["args"]["name"].get<std::string>());
  }
  EXPECT_TRUE(names.count("matbench: on a core or waiting"));
  EXPECT_TRUE(names.count("thread 2"));
  // Without CPU readings there is no core lane at all.
  const Json without = ParsedChrome(SmallTeam());
  for (const Json& event : without["traceEvents"]) EXPECT_EQ(event["pid"], 1);
}

TEST(ChromeTraceJsonTest, HostileRuntimeTextStaysValidJson) {
  const std::string cases[] = {
      "quote \" and backslash \\ and a closing }]",
      "controls \x01\x1b[31m red\n\r\t\x7f",
      std::string("a NUL \0 inside", 14),
      "invalid UTF-8 \xff\xfe and cut \xe2\x82",
      "a lone continuation \x80 and an overlong \xc0\xaf",
      "\"}],\"traceEvents\":[{\"ph\":\"B\"",
  };
  for (const std::string& runtime : cases) {
    SCOPED_TRACE(Printable(runtime));
    RunTrace trace = SmallTeam();
    trace.runtime = runtime;
    trace.runtime_library = runtime;
    const Json parsed = ParsedChrome(trace);
    ASSERT_FALSE(parsed.is_discarded());
    // The text is the trace's own, made valid UTF-8 and nothing else.
    EXPECT_EQ(parsed["otherData"]["runtime"], ValidUtf8(runtime));
    EXPECT_EQ(parsed["otherData"]["runtime_library"], ValidUtf8(runtime));
    int labels = 0;
    for (const Json& event : EventsOf(parsed, "M")) {
      if (event["name"] != "process_labels") continue;
      ++labels;
      EXPECT_EQ(event["args"]["labels"], ValidUtf8(RuntimeText(trace)));
    }
    EXPECT_EQ(labels, 1);
    // Nothing leaked out of the string into the events.
    EXPECT_EQ(EventsOf(parsed, "B").size(), 0u);
    int spans = 0;
    for (const auto& [category, count] : ExpectedCounts(trace)) spans += count;
    EXPECT_EQ(EventsOf(parsed, "X").size(), static_cast<std::size_t>(spans));
  }
}

}  // namespace
}  // namespace speedup
