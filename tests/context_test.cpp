#include "context.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

namespace {

Context FullContext() {
  Context context;
  context.host = "runner-7";
  context.cpu_model = "AMD EPYC 9B14";
  context.packages = 1;
  context.cores = 2;
  context.hardware_threads = 2;
  context.caches =
      std::vector<CacheLevel>{{"L1d", 32768, 2}, {"L2", 1048576, 2}, {"L3", 1572864, 1}};
  context.affinity = "0-1";
  context.processors = 2;
  context.load_before = 0.1;
  context.load_after = 1.95;
  context.transparent_hugepages = "madvise";
  context.kernel = "6.1.0-18-amd64";
  context.compiler = "GCC 12.2.0";
  context.build_type = "Release";
  context.build_flags = "-O3 -DNDEBUG -Wall -Wextra -ffp-contract=off -fno-fast-math";
  context.openmp_runtime = "libgomp";
  context.version = "v0.3-2-gabc1234";
  context.omp_settings = std::map<std::string, std::string>{};
  context.date_utc = "2026-12-09T10:40:00Z";
  return context;
}

Context SlurmContext() {
  Context context = FullContext();
  context.slurm_job_id = "4242";
  context.slurm_node = "n2";
  context.slurm_nodelist = "n[1-3]";
  context.slurm_cpus_on_node = 2;
  return context;
}

std::size_t CodePoints(const std::string& text) {
  std::size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

// How many processors a list such as "0-3,6" names.
int ListedProcessors(const std::string& list) {
  int count = 0;
  for (std::size_t pos = 0; pos < list.size();) {
    std::size_t end = 0;
    const int first = std::stoi(list.substr(pos), &end);
    pos += end;
    int last = first;
    if (pos < list.size() && list[pos] == '-') {
      last = std::stoi(list.substr(pos + 1), &end);
      pos += end + 1;
    }
    count += last - first + 1;
    pos += pos < list.size();  // the comma
  }
  return count;
}

TEST(ContextTest, CpuListJoinsConsecutiveProcessorsIntoRanges) {
  EXPECT_EQ(CpuList({}), "");
  EXPECT_EQ(CpuList({3}), "3");
  EXPECT_EQ(CpuList({4, 6}), "4,6");
  EXPECT_EQ(CpuList({0, 1, 2, 3, 6, 8, 9}), "0-3,6,8-9");
  EXPECT_EQ(CpuList({9, 8, 0, 0, 1}), "0-1,8-9");
}

TEST(ContextTest, SelectedChoiceIsTheBracketedWord) {
  EXPECT_EQ(SelectedChoice("always [madvise] never\n"), "madvise");
  EXPECT_EQ(SelectedChoice("[always] madvise never"), "always");
  EXPECT_EQ(SelectedChoice("always madvise never"), std::nullopt);
  EXPECT_EQ(SelectedChoice("always [madvise"), std::nullopt);
  EXPECT_EQ(SelectedChoice("always [] never"), std::nullopt);
}

TEST(ContextTest, CpuinfoModelNameSkipsTheOtherModelLines) {
  EXPECT_EQ(CpuinfoModelName("processor\t: 0\nmodel\t\t: 17\nmodel name\t: AMD EPYC 9B14  \n"
                             "model name\t: other\n"),
            "AMD EPYC 9B14");
  EXPECT_EQ(CpuinfoModelName("processor\t: 0\nmodel\t\t: 17\nmodel names: x\n"), std::nullopt);
}

TEST(ContextTest, OmpSettingsTakeOnlyTheRuntimesVariablesAndTheFirstOfRepeats) {
  const char* const environment[] = {"OMP_NUM_THREADS=4",
                                     "GOMP_SPINCOUNT=0",
                                     "KMP_AFFINITY=compact",
                                     "OMPX=1",
                                     "MY_OMP_X=1",
                                     "PATH=/bin",
                                     "OMP_PLACES=a=b",
                                     "OMP_NUM_THREADS=8",
                                     "OMP_NO_VALUE",
                                     "OMP_EMPTY=",
                                     nullptr};
  const std::map<std::string, std::string> expected = {{"OMP_NUM_THREADS", "4"},
                                                       {"GOMP_SPINCOUNT", "0"},
                                                       {"KMP_AFFINITY", "compact"},
                                                       {"OMP_PLACES", "a=b"},
                                                       {"OMP_EMPTY", ""}};
  EXPECT_EQ(OmpSettings(environment), expected);
}

TEST(ContextTest, SlurmFieldsComeFromTheJobsVariablesAndABadCountIsLeftOut) {
  const char* const job[] = {"SLURM_JOB_ID=4242",    "SLURM_JOB_IDX=1",
                             "SLURMD_NODENAME=n2",   "SLURM_JOB_NODELIST=n[1-3]",
                             "SLURM_CPUS_ON_NODE=2", nullptr};
  Context context;
  AddSlurmContext(context, job);
  EXPECT_EQ(context.slurm_job_id, "4242");
  EXPECT_EQ(context.slurm_node, "n2");
  EXPECT_EQ(context.slurm_nodelist, "n[1-3]");
  EXPECT_EQ(context.slurm_cpus_on_node, 2);

  for (const char* count : {"SLURM_CPUS_ON_NODE=", "SLURM_CPUS_ON_NODE=0", "SLURM_CPUS_ON_NODE=-2",
                            "SLURM_CPUS_ON_NODE=2x", "SLURM_CPUS_ON_NODE=99999999999"}) {
    const char* const environment[] = {count, nullptr};
    AddSlurmContext(context, environment);
    EXPECT_FALSE(context.slurm_cpus_on_node) << count;
    EXPECT_FALSE(context.slurm_job_id || context.slurm_node || context.slurm_nodelist) << count;
  }
}

TEST(ContextTest, UtcDateIsIso8601) {
  EXPECT_EQ(UtcDate(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(UtcDate(1796812800), "2026-12-09T10:40:00Z");
}

TEST(ContextTest, JsonReadsBackExactlyWhatWasWritten) {
  for (const Context& context : {FullContext(), SlurmContext(), Context{}}) {
    const std::string text = nlohmann::json(context).dump();
    EXPECT_EQ(nlohmann::json::parse(text).get<Context>(), context) << text;
    EXPECT_EQ(nlohmann::ordered_json::parse(nlohmann::ordered_json(context).dump()).get<Context>(),
              context);
  }
  EXPECT_EQ(nlohmann::json(Context{}).dump(), "{}");
}

TEST(ContextTest, JsonMissingAndNullKeysAreNotRecorded) {
  const auto context =
      nlohmann::json::parse(R"({"host": null, "cores": 4, "later_key": [1]})").get<Context>();
  Context expected;
  expected.cores = 4;
  EXPECT_EQ(context, expected);
}

TEST(ContextTest, JsonOfTheWrongTypeOrRangeThrowsTypeErrorNamingTheKey) {
  for (const char* text :
       {R"({"host": 5})", R"({"cores": 1.5})", R"({"cores": true})", R"({"cores": 3000000000})",
        R"({"load_before": "high"})", R"({"caches": {}})",
        R"({"caches": [{"name": "L1d", "size_bytes": 1}]})", R"({"omp_settings": {"OMP_X": 1}})",
        R"({"omp_settings": ["OMP_X"]})", "[]"}) {
    EXPECT_THROW(nlohmann::json::parse(text).get<Context>(), nlohmann::json::type_error) << text;
  }
  try {
    nlohmann::json::parse(R"({"caches": [{"name": "L1d", "size_bytes": 1, "count": "2"}]})")
        .get<Context>();
    FAIL();
  } catch (const nlohmann::json::type_error& error) {
    EXPECT_NE(std::string(error.what()).find("\"caches[0].count\""), std::string::npos)
        << error.what();
  }
}

TEST(ContextTest, ContextLinesDescribeAFullContext) {
  const std::vector<std::string> expected = {
      "host runner-7, AMD EPYC 9B14, 1 package, 2 cores, 2 hardware threads",
      "L1d 32 KiB x2, L2 1 MiB x2, L3 1536 KiB; processors 0-1 (2); load 0.10 before, 1.95 after",
      "governor not recorded; THP madvise; kernel 6.1.0-18-amd64; OMP_* none; 2026-12-09T10:40:00Z",
      "GCC 12.2.0; Release; libgomp; matbench v0.3-2-gabc1234; -O3 -DNDEBUG -Wall -Wextra "
      "-ffp-contract=of…"};
  EXPECT_EQ(ContextLines(FullContext()), expected);
}

TEST(ContextTest, ContextLinesAddTheSlurmJobOnlyUnderSlurm) {
  const auto lines = ContextLines(SlurmContext());
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[4], "Slurm job 4242, node n2, nodes n[1-3], 2 processors allocated on the node");
  Context context;
  context.slurm_node = "n\x1b";
  EXPECT_EQ(ContextLines(context).back(),
            "job not recorded, node n\\x1B, node list, processors allocated on the node not "
            "recorded");
}

TEST(ContextTest, ContextLinesNameEveryFieldNotRecorded) {
  const std::vector<std::string> expected = {
      "host, CPU model, packages, cores, hardware threads not recorded",
      "caches, processors, load not recorded",
      "governor, THP, kernel, OMP_* settings, date not recorded",
      "compiler, build type, OpenMP runtime, version, build flags not recorded"};
  EXPECT_EQ(ContextLines(Context{}), expected);
}

TEST(ContextTest, ContextLinesCutLongValuesToOneHundredColumns) {
  Context context = FullContext();
  context.host = "";
  for (int i = 0; i < 60; ++i) *context.host += "ホ";
  std::vector<int> even;
  for (int cpu = 0; cpu < 200; cpu += 2) even.push_back(cpu);
  context.affinity = CpuList(even);
  context.omp_settings = std::map<std::string, std::string>{{"OMP_PLACES", std::string(200, 'p')}};
  context.build_flags = std::string(300, 'f');
  for (const std::string& line : ContextLines(context)) {
    EXPECT_LE(CodePoints(line), 100u) << line;
    EXPECT_NE(line.find("…"), std::string::npos) << line;
  }
}

TEST(ContextTest, ContextLinesShowControlCharactersAsHex) {
  Context context;
  context.host = "evil\x1b[2J\n";
  context.cpu_model =
      "A\xc2\x85"
      "B";                  // U+0085, a C1 control
  context.kernel = "\xff";  // not UTF-8 at all
  const auto lines = ContextLines(context);
  EXPECT_NE(lines[0].find("host evil\\x1B[2J\\x0A, A\\x85B"), std::string::npos) << lines[0];
  EXPECT_NE(lines[2].find("kernel \\xFF"), std::string::npos) << lines[2];
  for (const std::string& line : lines) {
    for (const char c : line) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << line;
  }
}

TEST(ContextTest, LoadWarningFromHalfAProcessorBusy) {
  Context context;
  EXPECT_EQ(LoadWarning(context), std::nullopt);
  context.load_before = 0.49;
  EXPECT_EQ(LoadWarning(context), std::nullopt);
  context.load_before = 0.5;
  ASSERT_NE(LoadWarning(context), std::nullopt);
  EXPECT_NE(LoadWarning(context)->find("0.50"), std::string::npos);
}

TEST(ContextTest, AllocationWarningWhenTheTaskGotLessThanTheNodeOrItsAllocation) {
  struct Case {
    std::optional<int> processors, hardware_threads, cpus_on_node;
    bool slurm;
    const char* expected;  // part of the warning; empty: none
  };
  const Case cases[] = {
      {2, 2, 2, true, ""},
      {1, 2, 2, true, "received 1 processor of the node's 2"},
      {2, 4, 2, true, "received 2 processors of the node's 4"},
      {2, std::nullopt, 4, true, "received 2 processors of the 4 allocated on the node"},
      {1, 2, 1, false, ""},  // outside Slurm the one-processor check speaks
      {std::nullopt, 2, 2, true, ""},
  };
  for (const Case& c : cases) {
    Context context;
    context.processors = c.processors;
    context.hardware_threads = c.hardware_threads;
    context.slurm_cpus_on_node = c.cpus_on_node;
    if (c.slurm) context.slurm_job_id = "7";
    const auto warning = AllocationWarning(context);
    if (*c.expected == '\0') {
      EXPECT_EQ(warning, std::nullopt) << *warning;
    } else {
      ASSERT_TRUE(warning) << c.expected;
      EXPECT_NE(warning->find(c.expected), std::string::npos) << *warning;
    }
  }
}

TEST(ContextTest, ContextDifferencesNameWhatCanChangeTheFigures) {
  const Context a = FullContext();
  EXPECT_TRUE(ContextDifferences(a, a).empty());

  Context b = a;
  b.host = "runner-8";
  b.load_before = 3.0;
  b.date_utc = "2026-12-10T10:40:00Z";
  b.governor = "performance";  // not recorded in a
  b.slurm_job_id = "4243";
  b.slurm_node = "n3";
  EXPECT_TRUE(ContextDifferences(a, b).empty());
  EXPECT_TRUE(ContextDifferences(a, Context{}).empty());

  b.cpu_model = "AMD EPYC 7B13";
  b.processors = 4;
  b.build_flags = "-O2 -DNDEBUG -Wall -Wextra -ffp-contract=off -fno-fast-math -march=native";
  b.omp_settings = std::map<std::string, std::string>{{"OMP_NUM_THREADS", "4"}};
  const std::vector<std::string> expected = {
      "CPU model: AMD EPYC 9B14 vs AMD EPYC 7B13", "processors: 2 vs 4",
      "build flags: -O3 vs -O2 -march=native", "OMP_NUM_THREADS: not set vs 4"};
  EXPECT_EQ(ContextDifferences(a, b), expected);
}

TEST(ContextTest, ReadMachineContextDescribesThisProcessNow) {
  ASSERT_EQ(setenv("OMP_CONTEXT_TEST", "yes", 1), 0);
  const Context context = ReadMachineContext();
  ASSERT_TRUE(context.omp_settings);
  EXPECT_EQ(context.omp_settings->at("OMP_CONTEXT_TEST"), "yes");
  ASSERT_TRUE(context.affinity && context.processors);
  EXPECT_EQ(ListedProcessors(*context.affinity), *context.processors);
  EXPECT_FALSE(context.load_after);
  EXPECT_FALSE(context.compiler || context.version);
  ASSERT_TRUE(context.date_utc);
  EXPECT_TRUE(
      std::regex_match(*context.date_utc, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
  EXPECT_NO_THROW(nlohmann::json(context).dump());
}

TEST(ContextTest, AddBuildInfoRecordsTheBuild) {
  Context context;
  AddBuildInfo(context);
  ASSERT_TRUE(context.compiler && context.build_type && context.build_flags &&
              context.openmp_runtime && context.version);
  EXPECT_NE(context.build_flags->find("-ffp-contract=off"), std::string::npos);
  EXPECT_FALSE(context.version->empty());
}

}  // namespace
