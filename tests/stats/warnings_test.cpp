// The warnings of a session, checked by kind and values; their words through WarningText.
#include <gtest/gtest.h>

#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "present/words.h"
#include "speedup_support.h"
#include "stats/diagnostics.h"

namespace speedup {
namespace {

// The warnings of `session` of kind `Kind`, in order.
template <typename Kind>
std::vector<Kind> WarningsOf(const Session& session) {
  std::vector<Kind> found;
  for (const Warning& warning : Analyse(session).warnings) {
    if (const Kind* kind = std::get_if<Kind>(&warning)) found.push_back(*kind);
  }
  return found;
}

TEST(WarningsTest, WarnsOnlyAboutSettingsThatCanShrinkTeams) {
  const struct {
    const char* name;
    const char* value;
    const char* shrinks;  // the setting named in the warning; empty: no warning
  } cases[] = {{"OMP_DYNAMIC", "true", "OMP_DYNAMIC=true"},
               {"OMP_DYNAMIC", "FALSE", ""},
               {"OMP_THREAD_LIMIT", "4", "OMP_THREAD_LIMIT=4"},
               {"OMP_THREAD_LIMIT", "100", ""},
               {"OMP_MAX_ACTIVE_LEVELS", "0", "OMP_MAX_ACTIVE_LEVELS=0"},
               {"OMP_PROC_BIND", "true", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.value);
    const Session session =
        SessionBuilder().Processors(2).Setting(c.name, c.value).TimedRuns(8, 1.0).Build();
    const std::vector<TeamsMayShrink> shrinking = WarningsOf<TeamsMayShrink>(session);
    std::vector<TeamsMayShrink> expected;
    if (*c.shrinks != '\0') expected.push_back({c.shrinks});
    EXPECT_EQ(shrinking, expected);
    for (const TeamsMayShrink& warning : shrinking) {
      EXPECT_NE(WarningText(warning).find("smaller teams"), std::string::npos)
          << WarningText(warning);
      EXPECT_EQ(WarningText(warning).rfind(c.shrinks, 0), 0u) << WarningText(warning);
    }
  }
}

TEST(WarningsTest, RunsOnOneProcessorAreNotCalledParallel) {
  // Eight runs on `processors` processors, each taking `cpu_seconds` of CPU a wall second.
  const auto session = [](int processors, double cpu_seconds) {
    SessionBuilder builder;
    builder.Processors(processors);
    for (int run = 0; run < 8; ++run) builder.Run(ReportWith(0.060, 0.031), cpu_seconds, 1.0);
    return builder.Build();
  };
  const Session parallel = session(2, 1.8);
  EXPECT_FALSE(CheckParallelUse(parallel).one_processor);
  EXPECT_TRUE(WarningsOf<OneProcessor>(parallel).empty());

  const Session serial = session(2, 1.02);
  EXPECT_TRUE(CheckParallelUse(serial).one_processor);
  const std::vector<OneProcessor> one = WarningsOf<OneProcessor>(serial);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_DOUBLE_EQ(one[0].cpu_per_wall, 1.02);
  EXPECT_NE(WarningText(one[0]).find("about one processor (1.02 s of CPU"), std::string::npos)
      << WarningText(one[0]);

  const Session alone = session(1, 1.02);
  EXPECT_FALSE(CheckParallelUse(alone).one_processor) << "one processor is all there was";
  EXPECT_TRUE(WarningsOf<OneProcessor>(alone).empty());
}

TEST(WarningsTest, LoadWarningFromHalfAProcessorBusy) {
  Context context;
  EXPECT_EQ(LoadWarning(context), std::nullopt);
  context.load_before = 0.49;
  EXPECT_EQ(LoadWarning(context), std::nullopt);
  context.load_before = 0.5;
  const std::optional<BusyMachine> busy = LoadWarning(context);
  ASSERT_NE(busy, std::nullopt);
  EXPECT_EQ(busy->load, 0.5);
  EXPECT_NE(WarningText(*busy).find("0.50"), std::string::npos) << WarningText(*busy);
}

TEST(WarningsTest, AllocationWarningWhenTheTaskGotLessThanTheNodeOrItsAllocation) {
  struct Case {
    std::optional<int> processors, hardware_threads, cpus_on_node;
    bool slurm;
    std::optional<int> received, whole;  // of the warning; empty: none
    bool whole_is_node;
    const char* words;  // part of the warning's words
  };
  const Case cases[] = {
      {2, 2, 2, true, std::nullopt, std::nullopt, false, ""},
      {1, 2, 2, true, 1, 2, true, "received 1 processor of the node's 2"},
      {2, 4, 2, true, 2, 4, true, "received 2 processors of the node's 4"},
      {2, std::nullopt, 4, true, 2, 4, false,
       "received 2 processors of the 4 allocated on the node"},
      {1, 2, 1, false, std::nullopt, std::nullopt, false, ""},  // outside Slurm the
                                                                // one-processor check speaks
      {std::nullopt, 2, 2, true, std::nullopt, std::nullopt, false, ""},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const Case& c = cases[i];
    Context context;
    context.processors = c.processors;
    context.hardware_threads = c.hardware_threads;
    context.slurm_cpus_on_node = c.cpus_on_node;
    if (c.slurm) context.slurm_job_id = "7";
    const std::optional<PartialAllocation> warning = AllocationWarning(context);
    EXPECT_EQ(warning.has_value(), c.received.has_value())
        << (warning ? WarningText(*warning) : "");
    if (!warning || !c.received) continue;
    EXPECT_EQ(warning->received, *c.received);
    EXPECT_EQ(warning->whole, *c.whole);
    EXPECT_EQ(warning->whole_is_node, c.whole_is_node);
    EXPECT_NE(WarningText(*warning).find(c.words), std::string::npos) << WarningText(*warning);
  }
}

TEST(WarningsTest, SpeedupAboveTheProcessorsIsNotCalledParallel) {
  // Teams of 1..3 threads whose speedup intervals are [low, low + 0.4]; `processors` 0: not
  // recorded, so each team's own size is all it could reach.
  const struct {
    const char* name;
    int processors;
    std::vector<double> lows;  // per team size 1, 2, 3
    int threads;               // the first team size named; 0: no warning
    int reach;
    int teams;
  } cases[] = {
      {"within the processors", 2, {0.8, 1.7, 1.9}, 0, 0, 0},
      {"an interval that reaches the processors is not above them", 2, {0.8, 2.0, 1.9}, 0, 0, 0},
      {"above 2 processors at 2 and 3 threads", 2, {0.9, 2.1, 2.8}, 2, 2, 2},
      {"above the team's own size with processors to spare", 8, {0.9, 1.5, 3.2}, 3, 3, 1},
      {"above the team's size, processors not recorded", 0, {1.2, 1.5, 2.0}, 1, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Context context;
    if (c.processors > 0) context.processors = c.processors;
    Figures figures;
    for (int threads = 1; threads <= 3; ++threads) {
      TeamFigures team;
      team.threads = threads;
      const double low = c.lows[threads - 1];
      team.speedup_vs_serial = {low + 0.2, low, low + 0.4};
      figures.teams.push_back(team);
    }
    const std::optional<AboveProcessors> above = AboveProcessorsWarning(context, figures);
    if (c.threads == 0) {
      EXPECT_FALSE(above.has_value()) << (above ? WarningText(*above) : "");
      continue;
    }
    ASSERT_TRUE(above.has_value());
    EXPECT_EQ(above->threads, c.threads);
    EXPECT_EQ(above->processors, c.reach);
    EXPECT_EQ(above->teams, c.teams);
    EXPECT_DOUBLE_EQ(above->speedup, c.lows[c.threads - 1] + 0.2);
    const std::string text = WarningText(*above);
    EXPECT_NE(text.find("baseline was slowed"), std::string::npos) << text;
    EXPECT_NE(text.find("not a parallel result"), std::string::npos) << text;
  }
  // No interval, no claim: a median alone above the processors is not enough.
  Context two;
  two.processors = 2;
  Figures bare;
  TeamFigures team;
  team.threads = 2;
  team.speedup_vs_serial.median = 3.0;
  bare.teams.push_back(team);
  EXPECT_FALSE(AboveProcessorsWarning(two, bare).has_value());
}

}  // namespace
}  // namespace speedup
