#include "measure/sysinfo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>

namespace speedup {
namespace {

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

TEST(SysinfoTest, CpuListJoinsConsecutiveProcessorsIntoRanges) {
  EXPECT_EQ(CpuList({}), "");
  EXPECT_EQ(CpuList({3}), "3");
  EXPECT_EQ(CpuList({4, 6}), "4,6");
  EXPECT_EQ(CpuList({0, 1, 2, 3, 6, 8, 9}), "0-3,6,8-9");
  EXPECT_EQ(CpuList({9, 8, 0, 0, 1}), "0-1,8-9");
}

TEST(SysinfoTest, SelectedChoiceIsTheBracketedWord) {
  EXPECT_EQ(SelectedChoice("always [madvise] never\n"), "madvise");
  EXPECT_EQ(SelectedChoice("[always] madvise never"), "always");
  EXPECT_EQ(SelectedChoice("always madvise never"), std::nullopt);
  EXPECT_EQ(SelectedChoice("always [madvise"), std::nullopt);
  EXPECT_EQ(SelectedChoice("always [] never"), std::nullopt);
}

TEST(SysinfoTest, CpuinfoModelNameSkipsTheOtherModelLines) {
  EXPECT_EQ(CpuinfoModelName("processor\t: 0\nmodel\t\t: 17\nmodel name\t: AMD EPYC 9B14  \n"
                             "model name\t: other\n"),
            "AMD EPYC 9B14");
  EXPECT_EQ(CpuinfoModelName("processor\t: 0\nmodel\t\t: 17\nmodel names: x\n"), std::nullopt);
}

TEST(SysinfoTest, OmpSettingsTakeOnlyTheRuntimesVariablesAndTheFirstOfRepeats) {
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
  const Settings expected = {{"OMP_NUM_THREADS", "4"},
                             {"GOMP_SPINCOUNT", "0"},
                             {"KMP_AFFINITY", "compact"},
                             {"OMP_PLACES", "a=b"},
                             {"OMP_EMPTY", ""}};
  EXPECT_EQ(OmpSettings(environment), expected);
}

TEST(SysinfoTest, SlurmFieldsComeFromTheJobsVariablesAndABadCountIsLeftOut) {
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
    SCOPED_TRACE(count);
    const char* const environment[] = {count, nullptr};
    AddSlurmContext(context, environment);
    EXPECT_FALSE(context.slurm_cpus_on_node);
    EXPECT_FALSE(context.slurm_job_id || context.slurm_node || context.slurm_nodelist);
  }
}

TEST(SysinfoTest, UtcDateIsIso8601) {
  EXPECT_EQ(UtcDate(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(UtcDate(1796812800), "2026-12-09T10:40:00Z");
}

TEST(SysinfoTest, ReadMachineContextDescribesThisProcessNow) {
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

TEST(SysinfoTest, AddBuildInfoRecordsTheBuild) {
  Context context;
  AddBuildInfo(context);
  ASSERT_TRUE(context.compiler && context.build_type && context.build_flags &&
              context.openmp_runtime && context.version);
  EXPECT_NE(context.build_flags->find("-ffp-contract=off"), std::string::npos);
  EXPECT_FALSE(context.version->empty());
}

}  // namespace
}  // namespace speedup
