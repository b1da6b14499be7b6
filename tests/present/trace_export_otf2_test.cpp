// The OTF2 archive of a traced run, read back by OTF2's own reader, otf2-print.
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
  EXPECT_FALSE(result.failure.has_value()) << result.error_output;
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
