// The exports of a traced run: Chrome's trace-event JSON, checked as JSON against the format's
// fields and the trace's counts, and OTF2, read back by OTF2's own reader, otf2-print.
#include "present/trace_export.h"

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

namespace speedup {
namespace {

using Json = nlohmann::json;

// A run of two regions, all times in ns from 1,000,000:
//   region 1, a team of 1: the initial thread claims rows 0-3 as one chunk;
//   region 2, a team of 3: thread 0 claims rows 0 and 2, then waits at the barrier; thread 1
//   claims rows 1 and 3; thread 2 claims nothing.
RunTrace SmallTeam() {
  RunTrace trace;
  trace.runtime = "LLVM OMP version: 5.0.20140926";
  trace.runtime_library = "/usr/lib/llvm-19/lib/libomp.so.5";
  trace.omp_version = 201611;
  trace.rows_seen = trace.waits_seen = true;
  trace.threads = 3;

  RegionTrace alone;
  alone.number = 1;
  alone.requested_team = alone.granted_team = 1;
  alone.begin_ns = 1'000'000;
  alone.end_ns = 1'100'000;
  ThreadInRegion initial;
  initial.task_begin_ns = 1'000'500;
  initial.task_end_ns = 1'099'000;
  initial.loop_begin_ns = 1'001'000;
  initial.loop_end_ns = 1'098'000;
  initial.claims = {{0, 4, 1'001'234}};
  alone.threads = {initial};

  RegionTrace team;
  team.number = 2;
  team.requested_team = team.granted_team = 3;
  team.begin_ns = 2'000'000;
  team.end_ns = 2'500'000;
  ThreadInRegion first;
  first.task_begin_ns = 2'000'100;
  first.task_end_ns = 2'499'000;
  first.loop_begin_ns = 2'000'200;
  first.loop_end_ns = 2'400'000;
  first.claims = {{0, 1, 2'000'300}, {2, 1, 2'150'000}};
  first.waits = {{2'400'100, 2'498'000}};
  ThreadInRegion second;
  second.slot = second.index = 1;
  second.task_begin_ns = 2'010'000;
  second.task_end_ns = 2'499'500;
  second.loop_begin_ns = 2'010'100;
  second.loop_end_ns = 2'490'000;
  second.claims = {{1, 1, 2'010'200}, {3, 1, 2'200'000}};
  ThreadInRegion third;
  third.slot = third.index = 2;
  third.task_begin_ns = 2'020'000;
  third.task_end_ns = 2'499'700;
  third.loop_begin_ns = 2'020'100;
  third.loop_end_ns = 2'020'200;
  team.threads = {first, second, third};

  trace.regions = {alone, team};
  return trace;
}

// The small team with damage that real traces can carry: thread 1's loop ends before its last
// claim and its wait outlasts its implicit task; thread 2's implicit task has no end.
RunTrace DamagedTeam() {
  RunTrace trace = SmallTeam();
  ThreadInRegion& second = trace.regions[1].threads[1];
  second.loop_end_ns = 2'150'000;
  second.waits = {{2'499'000, 2'600'000}};
  trace.regions[1].threads[2].task_end_ns.reset();
  return trace;
}

// The small team's second region with each thread's CPU clock read: thread 0 at the region's
// begin, its task's begin (CPU 1) and end (CPU 0); thread 1 without the region's reading, and
// more CPU time than wall time over its task; thread 2's clock read back in time over its task.
RunTrace Sampled() {
  RunTrace trace = SmallTeam();
  std::vector<ThreadInRegion>& threads = trace.regions[1].threads;
  threads[0].cpu_at_region_begin = CpuSample{2'000'000, 5'000, std::nullopt};
  threads[0].cpu_at_task_begin = CpuSample{2'000'100, 5'040, 1};
  threads[0].cpu_at_task_end = CpuSample{2'499'000, 400'000, 0};
  threads[1].cpu_at_task_begin = CpuSample{2'010'000, 1'000, 1};
  threads[1].cpu_at_task_end = CpuSample{2'499'500, 500'000, 1};
  threads[2].cpu_at_region_begin = CpuSample{2'000'000, 9'000, std::nullopt};
  threads[2].cpu_at_task_begin = CpuSample{2'020'000, 10'000, 0};
  threads[2].cpu_at_task_end = CpuSample{2'499'700, 8'000, 0};
  return trace;
}

// What each export must show of `trace`, counted from it directly: a task or loop only where both
// its ends were seen.
std::map<std::string, int> ExpectedCounts(const RunTrace& trace) {
  std::map<std::string, int> counts = {{"region", 0}, {"task", 0}, {"loop", 0},
                                       {"row", 0},    {"wait", 0}, {"idle", 0}};
  for (const RegionTrace& region : trace.regions) {
    ++counts["region"];
    for (const ThreadInRegion& thread : region.threads) {
      counts["task"] += thread.task_begin_ns && thread.task_end_ns;
      counts["loop"] += thread.loop_begin_ns && thread.loop_end_ns;
      counts["row"] += static_cast<int>(thread.claims.size());
      counts["wait"] += static_cast<int>(thread.waits.size());
      // The part of a wait past its region's end is idle time between regions.
      for (const BarrierWait& wait : thread.waits) counts["idle"] += wait.end_ns > region.end_ns;
    }
  }
  return counts;
}

// ---- Chrome trace-event JSON ----

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
  for (const Json& event : ParsedChrome(SmallTeam())["traceEvents"]) EXPECT_EQ(event["pid"], 1);
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

// ---- OTF2 ----

// A fresh folder, removed with what is in it.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "matbench-otf2-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// OTF2's own reader, where it is installed.
std::string Otf2Print() {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::string candidate = (folder.empty() ? "." : folder) + "/otf2-print";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// One Enter or Leave as otf2-print shows it.
struct Record {
  bool enter;
  unsigned location;
  unsigned long long time;
  std::string region;
  std::optional<unsigned long long> row = std::nullopt;  // the row attribute, where one came

  bool operator==(const Record& other) const {
    return enter == other.enter && location == other.location && time == other.time &&
           region == other.region;
  }
};

std::ostream& operator<<(std::ostream& out, const Record& record) {
  return out << (record.enter ? "ENTER " : "LEAVE ") << record.location << " " << record.time << " "
             << record.region;
}

// One record of the thread model (a fork, a join, a team's begin or end) as otf2-print shows it:
// its kind, location, time and the rest of its line.
struct ThreadRecord {
  std::string kind;
  unsigned location;
  unsigned long long time;
  std::string detail;
};

// The Enters and Leaves of the archive at `anchor`, in otf2-print's words, times from the
// archive's global offset; the thread model's records go to `threads` where given; every other
// line of its output must be one of its headings. otf2-print's warnings fail the reading.
std::vector<Record> ReadBack(const std::string& reader, const std::string& anchor,
                             std::vector<ThreadRecord>* threads = nullptr) {
  ProcessOptions options;
  options.max_output_bytes = std::size_t{64} << 20;
  options.stderr_handling = StderrHandling::kCapture;
  options.time_limit_seconds = 60;
  const ProcessResult result =
      RunProcess({reader, "-Werror", "--timestamps=offset", anchor}, options, nullptr);
  EXPECT_TRUE(result.started) << result.start_error;
  EXPECT_EQ(result.failure, "") << result.error_output;
  EXPECT_EQ(result.error_output, "");
  static const std::regex kEvent(R"re(^(ENTER|LEAVE) +(\d+) +(\d+) +Region: "([^"]*)" <\d+>$)re");
  static const std::regex kRow(R"re(^ +ADDITIONAL ATTRIBUTES: \("row" <\d+>; UINT64; (\d+)\)$)re");
  static const std::regex kThread(
      R"re(^(THREAD_FORK|THREAD_JOIN|THREAD_TEAM_BEGIN|THREAD_TEAM_END) +(\d+) +(\d+) +(.*)$)re");
  std::vector<Record> records;
  for (const std::string_view line : SplitLines(result.output)) {
    std::cmatch match;
    if (std::regex_match(line.begin(), line.end(), match, kThread)) {
      if (threads != nullptr) {
        threads->push_back({match[1], static_cast<unsigned>(std::stoul(match[2])),
                            std::stoull(match[3]), match[4]});
      }
      continue;
    }
    if (!records.empty() && std::regex_match(line.begin(), line.end(), match, kRow)) {
      records.back().row = std::stoull(match[1]);
      continue;
    }
    if (std::regex_match(line.begin(), line.end(), match, kEvent)) {
      records.push_back({match[1] == "ENTER", static_cast<unsigned>(std::stoul(match[2])),
                         std::stoull(match[3]), match[4]});
      continue;
    }
    EXPECT_TRUE(line.empty() || line.starts_with("===") || line.starts_with("---") ||
                line.starts_with("Event "))
        << "unexpected line: " << line;
  }
  return records;
}

// The archive of `trace` read back; skips the test where otf2-print is not installed.
#define READ_BACK(trace, records)                                                        \
  const std::string reader = Otf2Print();                                                \
  if (reader.empty()) GTEST_SKIP() << "otf2-print is not installed (Debian otf2-tools)"; \
  TempFolder folder;                                                                     \
  ASSERT_FALSE(folder.path().empty());                                                   \
  ASSERT_EQ(WriteOtf2(trace, folder.path(), "run"), "");                                 \
  const std::vector<Record> records = ReadBack(reader, folder.path() + "/run.otf2");

const std::map<std::string, std::string> kRegionOfCategory = {{"region", "parallel region"},
                                                              {"task", "implicit task"},
                                                              {"loop", "loop"},
                                                              {"row", "row"},
                                                              {"wait", "barrier wait"},
                                                              {"idle", "idle between regions"}};

TEST(WriteOtf2Test, EntersAndLeavesPerRegionEqualTheTrace) {
  struct Case {
    const char* name;
    RunTrace trace;
  };
  for (const Case& c : {Case{"small team", SmallTeam()}, Case{"damaged team", DamagedTeam()}}) {
    SCOPED_TRACE(c.name);
    READ_BACK(c.trace, records);
    std::map<std::string, int> enters, leaves;
    for (const Record& record : records) ++(record.enter ? enters : leaves)[record.region];
    const std::size_t seen_enters = enters.size(), seen_leaves = leaves.size();
    std::size_t kinds = 0;
    for (const auto& [category, count] : ExpectedCounts(c.trace)) {
      SCOPED_TRACE(category);
      const std::string& region = kRegionOfCategory.at(category);
      EXPECT_EQ(enters[region], count);
      EXPECT_EQ(leaves[region], count);
      kinds += count > 0;
    }
    EXPECT_EQ(seen_enters, kinds);
    EXPECT_EQ(seen_leaves, kinds);
  }
}

// Vampir shows a row's index only where the archive carries it: each row's Enter does.
TEST(WriteOtf2Test, EachRowCarriesItsIndex) {
  READ_BACK(SmallTeam(), records);
  std::multiset<unsigned long long> rows, expected;
  for (const Record& record : records) {
    if (record.region == "row" && record.enter) {
      ASSERT_TRUE(record.row.has_value()) << record;
      rows.insert(*record.row);
    } else {
      EXPECT_FALSE(record.row.has_value()) << record;
    }
  }
  for (const RegionTrace& region : SmallTeam().regions) {
    for (const ThreadInRegion& thread : region.threads) {
      for (const RowClaim& claim : thread.claims) expected.insert(claim.first);
    }
  }
  EXPECT_EQ(rows, expected);
}

TEST(WriteOtf2Test, EachLocationIsInTimeOrderAndNested) {
  struct Case {
    const char* name;
    RunTrace trace;
  };
  for (const Case& c : {Case{"small team", SmallTeam()}, Case{"damaged team", DamagedTeam()}}) {
    SCOPED_TRACE(c.name);
    READ_BACK(c.trace, records);
    ASSERT_FALSE(records.empty());
    std::map<unsigned, unsigned long long> last_time;
    std::map<unsigned, std::vector<std::string>> open;
    for (const Record& record : records) {
      SCOPED_TRACE(::testing::PrintToString(record));
      EXPECT_GE(record.time, last_time[record.location]);
      last_time[record.location] = record.time;
      std::vector<std::string>& stack = open[record.location];
      if (record.enter) {
        stack.push_back(record.region);
      } else {
        ASSERT_FALSE(stack.empty());
        EXPECT_EQ(stack.back(), record.region);
        stack.pop_back();
      }
    }
    for (const auto& [location, stack] : open) {
      SCOPED_TRACE(location);
      EXPECT_TRUE(stack.empty());
    }
    EXPECT_EQ(open.size(), 3u);  // one location per thread slot
  }
}

TEST(WriteOtf2Test, TimesAreNanosecondsFromTheEarliest) {
  READ_BACK(SmallTeam(), records);
  struct Case {
    unsigned location;
    std::vector<Record> expected;
  };
  const Case cases[] = {
      {1,
       {{true, 1, 1'010'000, "implicit task"},
        {true, 1, 1'010'100, "loop"},
        {true, 1, 1'010'200, "row"},
        {false, 1, 1'200'000, "row"},
        {true, 1, 1'200'000, "row"},
        {false, 1, 1'490'000, "row"},
        {false, 1, 1'490'000, "loop"},
        {false, 1, 1'499'500, "implicit task"}}},
      {2,
       {{true, 2, 1'020'000, "implicit task"},
        {true, 2, 1'020'100, "loop"},
        {false, 2, 1'020'200, "loop"},
        {false, 2, 1'499'700, "implicit task"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.location);
    std::vector<Record> seen;
    for (const Record& record : records) {
      if (record.location == c.location) seen.push_back(record);
    }
    EXPECT_EQ(seen, c.expected);
  }
  // The initial thread: the first region opens the trace at 0; its wait sits in its task.
  std::vector<Record> initial;
  for (const Record& record : records) {
    if (record.location == 0) initial.push_back(record);
  }
  ASSERT_EQ(initial.size(), 2u * (2 + 2 + 2 + 3 + 1));
  EXPECT_EQ(initial.front(), (Record{true, 0, 0, "parallel region"}));
  const Record tail[] = {{true, 0, 1'400'100, "barrier wait"},
                         {false, 0, 1'498'000, "barrier wait"},
                         {false, 0, 1'499'000, "implicit task"},
                         {false, 0, 1'500'000, "parallel region"}};
  EXPECT_TRUE(std::equal(std::begin(tail), std::end(tail), initial.end() - 4));
}

// Catches an archive without OpenMP's thread model (Vampir then shows no fork, join or team), and
// a team begun on a thread whose task was not seen to end. Times from the global offset.
TEST(WriteOtf2Test, EachTeamIsForkedJoinedAndBegunByItsThreads) {
  struct Case {
    const char* name;
    RunTrace trace;
    std::vector<std::string> expected;  // "KIND LOCATION TIME DETAIL"
  };
  const std::vector<std::string> small = {
      "THREAD_FORK 0 0 Model: OPENMP, # Requested Threads: 1",
      "THREAD_TEAM_BEGIN 0 500 Thread Team: \"team of 1\" <0>",
      "THREAD_TEAM_END 0 99000 Thread Team: \"team of 1\" <0>",
      "THREAD_JOIN 0 100000 Model: OPENMP",
      "THREAD_FORK 0 1000000 Model: OPENMP, # Requested Threads: 3",
      "THREAD_TEAM_BEGIN 0 1000100 Thread Team: \"team of 3\" <1>",
      "THREAD_TEAM_END 0 1499000 Thread Team: \"team of 3\" <1>",
      "THREAD_JOIN 0 1500000 Model: OPENMP",
      "THREAD_TEAM_BEGIN 1 1010000 Thread Team: \"team of 3\" <1>",
      "THREAD_TEAM_END 1 1499500 Thread Team: \"team of 3\" <1>",
      "THREAD_TEAM_BEGIN 2 1020000 Thread Team: \"team of 3\" <1>",
      "THREAD_TEAM_END 2 1499700 Thread Team: \"team of 3\" <1>"};
  std::vector<std::string> damaged(small.begin(), small.end() - 2);  // thread 2's task unended
  for (const Case& c :
       {Case{"small team", SmallTeam(), small}, Case{"damaged team", DamagedTeam(), damaged}}) {
    SCOPED_TRACE(c.name);
    const std::string reader = Otf2Print();
    if (reader.empty()) GTEST_SKIP() << "otf2-print is not installed (Debian otf2-tools)";
    TempFolder folder;
    ASSERT_EQ(WriteOtf2(c.trace, folder.path(), "run"), "");
    std::vector<ThreadRecord> threads;
    ReadBack(reader, folder.path() + "/run.otf2", &threads);
    // otf2-print merges the locations; each one's own order is what is written.
    std::vector<std::string> seen;
    for (const unsigned location : {0u, 1u, 2u}) {
      for (const ThreadRecord& record : threads) {
        if (record.location != location) continue;
        seen.push_back(record.kind + " " + std::to_string(record.location) + " " +
                       std::to_string(record.time) + " " + record.detail);
      }
    }
    EXPECT_EQ(seen, c.expected);
  }
}

// Catches an archive whose times cannot be set beside others of the same machine: its times are
// the trace's monotonic clock, the global offset its earliest, each thread's clock offset 0.
TEST(WriteOtf2Test, TimesAreTheMonotonicClockFromTheGlobalOffset) {
  const std::string reader = Otf2Print();
  if (reader.empty()) GTEST_SKIP() << "otf2-print is not installed (Debian otf2-tools)";
  TempFolder folder;
  ASSERT_EQ(WriteOtf2(SmallTeam(), folder.path(), "run"), "");
  ProcessOptions options;
  options.time_limit_seconds = 60;
  const std::string anchor = folder.path() + "/run.otf2";
  const ProcessResult plain = RunProcess({reader, anchor}, options, nullptr);
  EXPECT_NE(plain.output.find("ENTER                                          0              "
                              "1000000  Region: \"parallel region\""),
            std::string::npos)
      << plain.output;
  const ProcessResult defs = RunProcess({reader, "-G", anchor}, options, nullptr);
  static const std::regex kClock(
      R"re(CLOCK_PROPERTIES +Ticks per Seconds: 1000000000, Global Offset: 1000000, Length: 1500000,)re");
  EXPECT_TRUE(std::regex_search(defs.output, kClock)) << defs.output;
  const ProcessResult offsets = RunProcess({reader, "-C", anchor}, options, nullptr);
  for (const char* location : {"0", "1", "2"}) {
    SCOPED_TRACE(location);
    const std::regex offset(std::string(R"re(CLOCK_OFFSET +)re") + location +
                            R"re( +Time: (1000000|2500000), Offset: \+0, StdDev: 0)re");
    std::ptrdiff_t count =
        std::distance(std::sregex_iterator(offsets.output.begin(), offsets.output.end(), offset),
                      std::sregex_iterator());
    EXPECT_EQ(count, 2) << offsets.output;
  }
}

TEST(WriteOtf2Test, AnUnwritablePlaceIsAnErrorNotACrash) {
  TempFolder folder;
  ASSERT_FALSE(folder.path().empty());
  const std::string file = folder.path() + "/a-file";
  std::ofstream(file) << "not a folder\n";
  ASSERT_EQ(WriteOtf2(SmallTeam(), folder.path(), "already"), "");
  struct Case {
    std::string path, name;
  };
  const Case cases[] = {
      {file, "run"},                    // a file where the folder should be
      {file + "/below", "run"},         // below a file
      {"/proc/no-such-folder", "run"},  // where nobody may write
      {folder.path(), "already"},       // an archive already there
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " " + c.name);
    ::testing::internal::CaptureStderr();
    const std::string error = WriteOtf2(SmallTeam(), c.path, c.name);
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(error, "");
    EXPECT_NE(error.find(c.path), std::string::npos) << error;
    EXPECT_LT(error.size(), 200u) << error;
    EXPECT_EQ(printed, "");  // OTF2's own messages are the answer, not noise
  }
  // The archive already there is left as it was, and a later write elsewhere still succeeds.
  EXPECT_TRUE(std::filesystem::exists(folder.path() + "/already.otf2"));
  EXPECT_EQ(WriteOtf2(SmallTeam(), folder.path(), "again"), "");
}

}  // namespace
}  // namespace speedup
