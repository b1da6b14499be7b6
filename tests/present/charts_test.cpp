#include "present/charts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "present/chart.h"
#include "present/words.h"
#include "speedup_support.h"
#include "stats/comparison.h"
#include "stats/fleet.h"

namespace speedup {
namespace {

// "n1", "n2", ...; appended, as GCC 12 warns wrongly about "n" + text in a loop.
std::string Numbered(int i) {
  std::string name = "n";
  name += std::to_string(i);
  return name;
}

TEST(FleetChartTest, ChartDrawsEachNodeUpToEightThenTheFleetBandAndTheNamedNodes) {
  std::vector<NodeInput> eight;
  for (int i = 1; i <= 8; ++i) {
    eight.push_back(NodeOf(
        Numbered(i), SessionBuilder().Host(Numbered(i)).Processors(2).TimedRuns(10, 1.0).Build()));
  }
  const Fleet alike = BuildFleet(eight);
  const Figures band = FleetBand(alike);
  const PlotRequest few = FleetChart("fleet.svg", alike, band);
  ASSERT_EQ(few.curves.size(), 8u);
  EXPECT_GE(
      std::stoi(
          PlotScript(few, "fleet.svg").substr(PlotScript(few, "fleet.svg").find("maxrows ") + 8)),
      9)
      << "the key is not one column: gnuplot drops entries that do not fit its rows";
  EXPECT_FALSE(few.curves[0].band);
  EXPECT_EQ(few.curves[0].figures, &alike.nodes[0].figures);

  std::vector<NodeInput> twelve;
  for (int i = 1; i <= 12; ++i) {
    const double scale = i == 5 ? 1.5 : 1.0 + 0.001 * i;
    twelve.push_back(
        NodeOf(Numbered(i),
               SessionBuilder().Host(Numbered(i)).Processors(2).TimedRuns(10, scale).Build()));
  }
  const Fleet fleet = BuildFleet(twelve);
  const Figures wide = FleetBand(fleet);
  const PlotRequest many = FleetChart("fleet.svg", fleet, wide);
  ASSERT_EQ(many.curves.size(), 3u);
  EXPECT_TRUE(many.curves[0].band);
  EXPECT_EQ(many.curves[0].figures, &wide);
  EXPECT_EQ(many.curves[1].name, "n5, slower");
  EXPECT_EQ(many.curves[1].figures, &fleet.nodes[4].figures);
  // The nodes the key does not name are counted in it.
  EXPECT_TRUE(many.curves[2].key_only);
  EXPECT_EQ(many.curves[2].name, "and 11 more like the fleet, in the band");
  // The node's speedup is like the others', so the band is a point at every team size.
  ASSERT_EQ(wide.teams.size(), static_cast<std::size_t>(MAX_THREADS));
  for (const TeamFigures& team : wide.teams) {
    SCOPED_TRACE(team.threads);
    const Estimate& speedup = team.speedup_vs_serial;
    EXPECT_TRUE(speedup.median && speedup.low && speedup.high);
    if (!speedup.median || !speedup.low || !speedup.high) continue;
    EXPECT_NEAR(*speedup.median, std::min(team.threads, 2), 1e-9);
    EXPECT_NEAR(*speedup.high - *speedup.low, 0.0, 1e-9);
  }
}

// A session of `runs` runs, teams of two twice as fast; on one processor when `one_processor`.
Session ChartSession(int runs, bool one_processor, double scale = 1.0) {
  SessionBuilder builder;
  builder.Processors(2).Cores(2);
  for (int i = 0; i < runs; ++i) {
    const double wobble = 1.0 + 0.01 * (i % 3);
    builder.Run(ReportWith(0.100 * scale * wobble, 0.050 * scale * wobble),
                one_processor ? 1.0 : 1.9, 1.0);
  }
  return builder.Build();
}

TEST(ChartLabelsTest, TitlesNameTheConfidenceReachedAndFlaggedSessionsCarryTheirMark) {
  // Catches a chart titled "95% intervals" over 3 runs (75%) or 5 (93.8%), and a session flagged
  // "not a parallel result" drawn as if it were one.
  const struct {
    int runs;
    bool one_processor;
    const char* label;
  } cases[] = {
      {3, false, "75% intervals"}, {5, true, "93.8% intervals"}, {10, true, "95% intervals"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.runs);
    const Session session = ChartSession(c.runs, c.one_processor);
    const SessionAnalysis analysis = Analyse(session);
    const PlotRequest request =
        SessionsChart("chart.svg", {{"speedup vs serial", &session, &analysis}});
    const std::string script = PlotScript(request, "chart.svg");
    EXPECT_TRUE(Contains(script, c.label)) << script.substr(0, 2000);
    if (c.runs < 6) {
      EXPECT_FALSE(Contains(script, "95%"));
    }
    EXPECT_EQ(Contains(script, "# not a parallel result"), c.one_processor);

    const Comparison comparison = CompareSessions(session, session);
    const PlotRequest compared =
        ComparisonChart("compare.svg", comparison, "a", analysis.figures, "b", analysis.figures);
    EXPECT_TRUE(Contains(PlotScript(compared, "compare.svg"), c.label));
    EXPECT_EQ(Contains(PlotScript(compared, "compare.svg"), "# not a parallel result"),
              c.one_processor);
  }
}

TEST(ChartLabelsTest, ComparisonChartDrawsNewOverBaseWithItsIntervalAndVerdict) {
  // Catches a comparison chart of each side's speedup alone, on which an 8x slowdown showed as
  // two coinciding curves.
  const Session base = ChartSession(10, false);
  const Session slow = ChartSession(10, false, 8.0);
  const Comparison comparison = CompareSessions(base, slow);
  const Figures a = SessionFigures(base);
  const Figures b = SessionFigures(slow);
  const PlotRequest request = ComparisonChart("compare.svg", comparison, "base", a, "new", b);
  ASSERT_EQ(request.ratios.size(), comparison.rows.size());
  for (std::size_t i = 0; i < request.ratios.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(request.ratios[i].threads, comparison.rows[i].threads);
    EXPECT_EQ(request.ratios[i].ratio, comparison.rows[i].ratio);
    EXPECT_EQ(request.ratios[i].low, comparison.rows[i].ratio_low);
    EXPECT_EQ(request.ratios[i].high, comparison.rows[i].ratio_high);
    EXPECT_EQ(request.ratios[i].verdict, "slower");
  }
  const std::string script = PlotScript(request, "compare.svg");
  EXPECT_TRUE(Contains(script, "layout 1,3"));
  EXPECT_TRUE(Contains(script, "with yerrorbars")) << "each ratio with its interval";
  EXPECT_TRUE(Contains(script, "title 'slower' noenhanced")) << "the verdict in the key";
}

TEST(ChartLabelsTest, AFitOutsideAmdahlsLawDrawsNoCurve) {
  // Catches an "Amdahl fit, f = 1.19" curve drawn through runs the law does not describe.
  SessionBuilder builder;
  builder.Processors(2).Cores(2);
  for (int i = 0; i < 10; ++i) builder.Run(ReportWith(0.1, [](int t) { return 0.12 - 0.02 / t; }));
  const Session session = builder.Build();
  const SessionAnalysis analysis = Analyse(session);
  ASSERT_EQ(analysis.figures.amdahl.shape, AmdahlFit::Shape::kOutsideLaw);
  const std::string script = PlotScript(
      SessionsChart("chart.svg", {{"speedup vs serial", &session, &analysis}}), "chart.svg");
  EXPECT_FALSE(Contains(script, "Amdahl fit"));
}

TEST(FleetChartTest, EachNodesCurveIsNamedWithItsVerdict) {
  // Catches a merge chart that drew the nodes with no word of the verdicts its table gives.
  std::vector<NodeInput> three;
  for (int i = 1; i <= 3; ++i) {
    three.push_back(NodeOf(Numbered(i), SessionBuilder()
                                            .Host(Numbered(i))
                                            .Processors(2)
                                            .TimedRuns(10, i == 2 ? 1.5 : 1.0)
                                            .Build()));
  }
  const Fleet fleet = BuildFleet(three);
  const PlotRequest request = FleetChart("fleet.svg", fleet, FleetBand(fleet));
  ASSERT_EQ(request.curves.size(), 3u);
  // The slower node first, then the others in file order.
  const std::size_t order[] = {1, 0, 2};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const NodeRow& node = fleet.nodes[order[i]];
    const std::string words = NodeVerdictText(node);
    EXPECT_EQ(request.curves[i].name, node.input.node + ", " + words.substr(0, words.find(':')));
  }
  EXPECT_EQ(request.curves[0].name, "n2, slower");
}

}  // namespace
}  // namespace speedup
