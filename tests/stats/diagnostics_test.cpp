#include "stats/diagnostics.h"

#include <gtest/gtest.h>

#include "speedup_support.h"

namespace speedup {
namespace {

// Each warning's kind, as its index among Warning's alternatives (made at run time: a kind
// holding a string is no constant to Clang with libstdc++).
template <typename Kind>
const std::size_t K = Warning(Kind{}).index();

std::vector<std::size_t> Kinds(const std::vector<Warning>& warnings) {
  std::vector<std::size_t> kinds;
  for (const Warning& warning : warnings) kinds.push_back(warning.index());
  return kinds;
}

TEST(DiagnosticsTest, BusyMachineIsWarnedFromHalfAProcessorOfLoad) {
  struct Case {
    std::optional<double> load;
    bool warned;
  };
  for (const Case& c :
       {Case{std::nullopt, false}, Case{0.49, false}, Case{BUSY_LOAD, true}, Case{6.5, true}}) {
    SCOPED_TRACE(c.load.value_or(-1));
    Context context;
    context.load_before = c.load;
    const std::optional<BusyMachine> warning = LoadWarning(context);
    EXPECT_EQ(warning.has_value(), c.warned);
    if (warning) {
      EXPECT_EQ(warning->load, *c.load);
    }
  }
}

TEST(DiagnosticsTest, PartialSlurmAllocationNamesWhatTheTaskReceivedOfWhat) {
  Context context;
  context.slurm_job_id = "7";
  context.processors = 1;
  context.hardware_threads = 4;
  std::optional<PartialAllocation> warning = AllocationWarning(context);
  ASSERT_TRUE(warning);
  EXPECT_EQ(warning->received, 1);
  EXPECT_EQ(warning->whole, 4);
  EXPECT_TRUE(warning->whole_is_node);

  context.hardware_threads = 1;  // the node is whole, but the job was allocated two on it
  context.slurm_cpus_on_node = 2;
  warning = AllocationWarning(context);
  ASSERT_TRUE(warning);
  EXPECT_EQ(warning->whole, 2);
  EXPECT_FALSE(warning->whole_is_node);

  context.processors = 2;
  EXPECT_FALSE(AllocationWarning(context));
  context.slurm_job_id.reset();  // outside Slurm nothing is said
  context.processors = 1;
  EXPECT_FALSE(AllocationWarning(context));
}

TEST(DiagnosticsTest, SessionWarningsComeInTheirFixedOrderEachOnce) {
  const Session session = SessionBuilder()
                              .Processors(2)
                              .Setting("OMP_DYNAMIC", " TRUE ")
                              .Setting("OMP_THREAD_LIMIT", "4")
                              .Runs(8,
                                    [](int run) {
                                      // The serial time rises run by run: drift.
                                      return ReportWith(0.060 + 0.002 * run, 0.030);
                                    })
                              .Build();
  Session busy = session;
  busy.context.load_before = 3.0;
  busy.placement = "spread";
  busy.placement_honoured = false;
  for (speedup::Run& run : busy.runs) {
    run.cpu_seconds = 1.0;
    run.wall_seconds = 1.0;
  }
  const std::vector<Warning> warnings = SessionWarnings(busy, SessionFigures(busy));
  EXPECT_EQ(Kinds(warnings),
            (std::vector<std::size_t>{K<TeamsMayShrink>, K<TeamsMayShrink>, K<BusyMachine>,
                                      K<SerialDrift>, K<PlacementNotHonoured>, K<OneProcessor>,
                                      K<TickFound>, K<AboveProcessors>}));
  ASSERT_EQ(warnings.size(), 8u);
  EXPECT_EQ(std::get<TeamsMayShrink>(warnings[0]).setting, "OMP_DYNAMIC=true");
  EXPECT_EQ(std::get<TeamsMayShrink>(warnings[1]).setting, "OMP_THREAD_LIMIT=4");
  EXPECT_GT(std::get<SerialDrift>(warnings[3]).rho, 0.9);  // the machine got slower
  EXPECT_LT(std::get<SerialDrift>(warnings[3]).p_value, SIGNIFICANCE);
  EXPECT_EQ(std::get<PlacementNotHonoured>(warnings[4]).placement, "spread");
  EXPECT_EQ(std::get<OneProcessor>(warnings[5]).cpu_per_wall, 1.0);
  // Every team takes half the serial time: 2 at one thread is above what one thread can give.
  EXPECT_EQ(std::get<AboveProcessors>(warnings[7]).threads, 1);

  Session unchecked = session;
  unchecked.placement = "close";
  EXPECT_EQ(Kinds(SessionWarnings(unchecked, SessionFigures(unchecked))),
            (std::vector<std::size_t>{K<TeamsMayShrink>, K<TeamsMayShrink>, K<SerialDrift>,
                                      K<PlacementUnchecked>, K<TickFound>, K<AboveProcessors>}));
}

TEST(DiagnosticsTest, AnalysisHoldsWhatTheReportsShowComputedOnce) {
  Session session = SessionBuilder()
                        .Processors(2)
                        .Runs(6, [](int run) { return ReportWith(0.060, run % 2 ? 0.030 : 0.060); })
                        .Build();
  session.precision = 0.02;
  const SessionAnalysis analysis = Analyse(session);
  EXPECT_EQ(analysis.figures.runs, 6);
  EXPECT_EQ(analysis.unsettled, UnsettledTeams(analysis.figures, 0.02));
  EXPECT_EQ(analysis.unsettled.size(), static_cast<std::size_t>(MAX_THREADS));
  EXPECT_FALSE(analysis.use.cpu_per_wall);  // no run recorded its times
}

}  // namespace
}  // namespace speedup
