#include "stats/trace_figures.h"

#include <gtest/gtest.h>

#include <memory>

#include "speedup_support.h"

namespace speedup {
namespace {

// A trace holding one region of `team` threads that took `ms` milliseconds, nothing else seen.
RunTrace OneRegion(std::uint32_t team, double ms) {
  RegionTrace region;
  region.number = 1;
  region.requested_team = region.granted_team = team;
  region.begin_ns = 1'000'000;
  region.end_ns = region.begin_ns + static_cast<std::uint64_t>(ms * 1e6);
  RunTrace trace;
  trace.regions = {region};
  return trace;
}

TEST(MedianRunTest, PicksTheRunWhoseRegionTookTheMedianTime) {
  const struct {
    const char* fault;
    std::vector<std::optional<double>> ms;  // each run's region of two threads; empty: no trace
    std::optional<std::size_t> chosen;
  } cases[] = {
      {"the first or the fastest run chosen", {3.0, 1.0, 2.0}, 2},
      {"the upper middle of an even count, or a run past the end", {4.0, 1.0, 3.0, 2.0}, 3},
      {"a run without a trace counted", {std::nullopt, 5.0, std::nullopt}, 1},
      {"a run chosen where no trace holds the team", {std::nullopt}, std::nullopt},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.fault);
    TraceSession session;
    for (const std::optional<double>& ms : test.ms) {
      session.traces.push_back(ms ? std::make_shared<const RunTrace>(OneRegion(2, *ms)) : nullptr);
    }
    EXPECT_EQ(MedianRun(session, 2), test.chosen);
  }
  TraceSession other;
  other.traces = {std::make_shared<const RunTrace>(OneRegion(3, 1.0))};
  EXPECT_EQ(MedianRun(other, 2), std::nullopt) << "a region of another team size taken";
}

TEST(TraceWarningsTest, EachFailedOrUntracedRunIsNamedOnceInOrder) {
  using Kind = TraceWarning::Kind;
  TraceSession session;
  session.traced =
      SessionBuilder().TimedRuns(1, 1.0).FailedRun("crashed").TimedRuns(1, 1.0).Build();
  session.untraced = SessionBuilder().FailedRun("lost").TimedRuns(2, 1.0).Build();
  // The failed run has a reason too: it must be named as failed, not also as untraced.
  session.untraced_reasons = {"", "no trace file", "the tool was not loaded"};
  TraceFigures figures;
  figures.lost_events = 12;
  const std::vector<TraceWarning> warnings = TraceWarnings(session, figures);
  ASSERT_EQ(warnings.size(), 4u);
  EXPECT_EQ(warnings[0].kind, Kind::kLostEvents);
  EXPECT_EQ(warnings[0].count, 12u);
  EXPECT_EQ(warnings[1].kind, Kind::kTracedRunFailed);
  EXPECT_EQ(warnings[1].run, 2) << "runs are numbered from 1";
  EXPECT_EQ(warnings[1].detail, "crashed");
  EXPECT_EQ(warnings[2].kind, Kind::kRunUntraced);
  EXPECT_EQ(warnings[2].run, 3);
  EXPECT_EQ(warnings[2].detail, "the tool was not loaded");
  EXPECT_EQ(warnings[3].kind, Kind::kUntracedRunFailed);
  EXPECT_EQ(warnings[3].run, 1);
  figures.lost_events = 0;
  EXPECT_EQ(TraceWarnings(session, figures).front().kind, Kind::kTracedRunFailed)
      << "no lost events named as lost";
}

}  // namespace
}  // namespace speedup
