#include <gtest/gtest.h>

#include "measure/session_loop.h"
#include "scripted_executor.h"
#include "stats/comparison.h"

namespace speedup {
namespace {

class DriftingExecutor : public ScriptedExecutor {
 public:
  std::vector<std::string> bindings;

  DriftingExecutor() {
    script = [](int index) {
      const double slower = 1.0 + 0.01 * index;
      return Passing(0.100 * slower, 0.050 * slower);
    };
  }
  ProcessResult RunOnce(const ProcessOptions& options,
                        const std::function<void(std::string_view)>& on_output) override {
    std::string binding;
    for (const std::string& setting : options.extra_environment) {
      if (setting.rfind("OMP_PROC_BIND=", 0) == 0) binding = setting.substr(14);
    }
    bindings.push_back(binding);
    return ScriptedExecutor::RunOnce(options, on_output);
  }
};

std::vector<Session> Placements(const std::vector<std::string>& names) {
  std::vector<Session> sessions;
  for (const std::string& name : names) {
    Session& session = sessions.emplace_back();
    session.context.processors = 2;
    session.placement = name;
  }
  return sessions;
}

TEST(SessionLoopTest, EachInterleavedPlacementWarmsUpBeforeTheStudy) {
  ScriptedExecutor executor;
  MeasurePlan plan;
  plan.runs = 2;
  plan.warmup = 1;
  std::vector<Session> sessions = Placements({"close", "spread"});
  EXPECT_TRUE(MeasureInterleaved(plan, executor, "bench", sessions));
  for (const Session& session : sessions) {
    EXPECT_EQ(session.warmup_runs.size(), 1u) << *session.placement;
    EXPECT_EQ(session.runs.size(), 2u) << *session.placement;
  }
}

TEST(SessionLoopTest, PlacementsRunInterleavedRoundByRoundInARotatedOrder) {
  // Catches placements measured one session after another (all of A, then all of B), or rounds
  // that always start with the same placement, so that drift falls on one more than another.
  const struct {
    std::vector<std::string> names;
    int runs;
  } cases[] = {{{"close", "spread", "false"}, 4}, {{"close", "spread"}, 3}, {{"true"}, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.names.size());
    DriftingExecutor executor;
    MeasurePlan plan;
    plan.runs = c.runs;
    std::vector<Session> sessions = Placements(c.names);
    EXPECT_EQ(MessageOf(MeasureInterleaved(plan, executor, "bench", sessions)), "");
    std::vector<std::string> expected;
    for (int round = 0; round < c.runs; ++round) {
      for (std::size_t i = 0; i < c.names.size(); ++i)
        expected.push_back(c.names[(round + i) % c.names.size()]);
    }
    EXPECT_EQ(executor.bindings, expected);
    for (const Session& session : sessions) {
      EXPECT_EQ(session.runs.size(), static_cast<std::size_t>(c.runs)) << *session.placement;
    }
  }
}

TEST(SessionLoopTest, InterleavedPlacementsOnADriftingMachineAreJudgedAlike) {
  // Catches a study in which the machine's slowing down is judged a placement's fault: run one
  // session after another, the last placement came out "slower" in every row, the serial one too.
  DriftingExecutor executor;
  MeasurePlan plan;
  plan.runs = 12;
  std::vector<Session> sessions = Placements({"close", "spread", "false"});
  ASSERT_EQ(MessageOf(MeasureInterleaved(plan, executor, "bench", sessions)), "");
  for (std::size_t i = 1; i < sessions.size(); ++i) {
    SCOPED_TRACE(*sessions[i].placement);
    const Comparison comparison = CompareSessions(sessions[0], sessions[i]);
    for (const RowComparison& row : comparison.rows) {
      EXPECT_EQ(row.verdict, Verdict::kNoClearDifference) << "row " << row.threads;
    }
  }
}

TEST(SessionLoopTest, InterleavedPlacementsUnderPrecisionStopTogether) {
  // Catches a study whose settled placement stopped while the others ran on ("close spread close
  // spread spread spread"), leaving the machine's later drift to the unsettled ones.
  DriftingExecutor executor;
  executor.script = [](int index) {
    // "close" (even calls while both run) settles at once; "spread" is noisy for 5 rounds.
    const bool noisy = index % 2 == 1 && index < 20;
    return ScriptedExecutor::Passing(0.100, noisy && index % 4 == 1 ? 0.070 : 0.050);
  };
  MeasurePlan plan;
  plan.precision = 0.04;
  plan.max_runs = 30;
  std::vector<Session> sessions = Placements({"close", "spread"});
  ASSERT_TRUE(MeasureInterleaved(plan, executor, "bench", sessions));
  EXPECT_EQ(sessions[0].runs.size(), sessions[1].runs.size()) << "the same rounds for each";
  EXPECT_GT(sessions[0].runs.size(), static_cast<std::size_t>(MIN_RUNS_FOR_95));
  EXPECT_LT(sessions[0].runs.size(), 30u) << "both settled, so the study ended";
}

TEST(SessionLoopTest, AnInterruptEndsEveryInterleavedPlacement) {
  // Catches the other placements running on after the user asked to stop.
  DriftingExecutor executor;
  executor.script = [](int index) {
    ProcessResult result = ScriptedExecutor::Passing(0.1, 0.05);
    if (index == 4) result.interrupted = SIGINT;
    return result;
  };
  MeasurePlan plan;
  plan.runs = 10;
  std::vector<Session> sessions = Placements({"close", "spread", "false"});
  ASSERT_EQ(MessageOf(MeasureInterleaved(plan, executor, "bench", sessions)), "");
  EXPECT_EQ(executor.bindings.size(), 5u);
  EXPECT_TRUE(sessions[2].interrupted.has_value()) << "run 5 is the third placement's second";
}

}  // namespace
}  // namespace speedup
