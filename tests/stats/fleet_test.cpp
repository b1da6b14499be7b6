#include "stats/fleet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "present/reporter.h"
#include "present/words.h"
#include "speedup_support.h"

namespace speedup {
namespace {

// `prefix` and `number` as one name; appended, as GCC 12 warns falsely of a literal + string.
std::string Named(const char* prefix, int number) {
  std::string name = prefix;
  name += std::to_string(number);
  return name;
}

TEST(FleetTest, NamesTheOneSlowNodeAndOnlyIt) {
  const Fleet fleet = BuildFleet(
      {NodeOf("n1", SessionBuilder().Host("n1").Processors(2).TimedRuns(10, 1.0).Build()),
       NodeOf("n2", SessionBuilder().Host("n2").Processors(2).TimedRuns(10, 1.5).Build()),
       NodeOf("n3", SessionBuilder().Host("n3").Processors(2).TimedRuns(10, 1.0).Build())});
  ASSERT_EQ(fleet.nodes.size(), 3u);
  EXPECT_EQ(fleet.nodes[0].verdict.kind, NodeVerdict::Kind::kLikeFleet);
  EXPECT_EQ(fleet.nodes[1].verdict.kind, NodeVerdict::Kind::kSlower);
  EXPECT_EQ(fleet.nodes[1].verdict.basis, NodeVerdict::Basis::kSerial);
  EXPECT_EQ(NodeVerdictText(fleet.nodes[1]).rfind("slower: serial ×1.5", 0), 0u)
      << NodeVerdictText(fleet.nodes[1]);
  EXPECT_LT(fleet.nodes[1].serial.p_holm, 0.05);
  EXPECT_EQ(fleet.nodes[2].verdict.kind, NodeVerdict::Kind::kLikeFleet);
  EXPECT_EQ(NodeVerdictText(fleet.nodes[2]), "like the fleet");
  ASSERT_TRUE(fleet.serial_median && fleet.serial_min && fleet.serial_max);
  EXPECT_NEAR(*fleet.serial_median, 0.0606, 0.001);
  EXPECT_NEAR(*fleet.serial_max / *fleet.serial_min, 1.5, 0.05);
  EXPECT_TRUE(fleet.differences.empty());
  EXPECT_TRUE(FleetWarnings(fleet).empty());
}

TEST(FleetTest, NoVerdictIsPossibleWhereANodesRunsCannotReachTheThreshold) {
  // Catches nodes of 3 runs labelled "like the fleet" where no Holm p over the nodes could come
  // below 0.05 whatever their times (3 against 6 runs: 3 x 2/84 = 0.071), as compare says, and the
  // fleet's clock margin taken from a constant rather than from the coarsest of the nodes' clocks.
  const struct {
    int runs;
    NodeVerdict::Kind second;
  } cases[] = {{3, NodeVerdict::Kind::kNotPossible}, {10, NodeVerdict::Kind::kSlower}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.runs);
    const Fleet fleet = BuildFleet(
        {NodeOf("n1", SessionBuilder().Tick(MICROSECOND_TICK).TimedRuns(c.runs, 1.0).Build()),
         NodeOf("n2", SessionBuilder().Tick(MILLISECOND_TICK).TimedRuns(c.runs, 1.5).Build()),
         NodeOf("n3", SessionBuilder().Tick(MICROSECOND_TICK).TimedRuns(c.runs, 1.0).Build())});
    EXPECT_EQ(fleet.nodes[1].verdict.kind, c.second);
    EXPECT_EQ(fleet.tick.seconds, MILLISECOND_TICK);
    EXPECT_TRUE(fleet.ticks_differ);
    EXPECT_GT(fleet.smallest_change, NEGLIGIBLE_CHANGE);
    const std::vector<std::string> warnings = FleetWarnings(fleet);
    ASSERT_FALSE(warnings.empty());
    EXPECT_NE(warnings[0].find("different clocks"), std::string::npos) << warnings[0];
  }
  EXPECT_EQ(NodeVerdictKindText(NodeVerdict::Kind::kNotPossible), "no verdict possible");
}

TEST(FleetTest, FailedNodesStayNamedAndOutOfTheFigures) {
  // n4's session was cut off while writing its file.
  const Session written = SessionBuilder().Host("n4").Processors(2).TimedRuns(3, 1.0).Build();
  const std::string file =
      MakeReporter(OutputFormat::kJson)->SessionReport(written, Analyse(written));
  const NodeInput cut_off = *ReadNodeText("n4.json", file.substr(0, file.size() / 2));
  const Fleet fleet = BuildFleet(
      {NodeOf("n1", SessionBuilder().Host("n1").Processors(2).TimedRuns(10, 1.0).Build()), cut_off,
       NodeOf("n3", SessionBuilder().Host("n3").Processors(2).TimedRuns(10, 1.0).Build())});
  ASSERT_EQ(fleet.nodes.size(), 3u);
  EXPECT_EQ(fleet.nodes[0].verdict.kind, NodeVerdict::Kind::kLikeFleet);
  EXPECT_EQ(fleet.nodes[1].verdict.kind, NodeVerdict::Kind::kNotJudged);
  EXPECT_EQ(NodeVerdictText(fleet.nodes[1]), "");
  EXPECT_EQ(fleet.nodes[1].figures.runs, 0) << "a failed node's runs counted";
  const std::string table = MakeReporter(OutputFormat::kTable)->FleetReport(fleet);
  EXPECT_NE(table.find("2 of 3 sessions merged"), std::string::npos) << table;
  EXPECT_NE(table.find("failed: n4.json: not valid JSON"), std::string::npos) << table;
}

TEST(FleetTest, KeepingOnlyTheTablesFiguresReportsTheFleetAsTheWholeFiguresDo) {
  // Catches a node kept for the table without what its row, the verdicts or the band read: its
  // team size's figures taken before its team was set or from another team, a band median
  // missing or of the wrong team size, and a failed, cut-off or unreadable node among them.
  const Session written = SessionBuilder().Host("n4").Processors(4).TimedRuns(3, 1.0).Build();
  const std::string file =
      MakeReporter(OutputFormat::kJson)->SessionReport(written, Analyse(written));
  std::vector<NodeInput> inputs = {
      NodeOf("n1", SessionBuilder().Host("n1").Processors(4).TimedRuns(10, 1.0).Build()),
      NodeOf("n2", SessionBuilder().Host("n2").Processors(4).TimedRuns(10, 1.5).Build()),
      NodeOf("n3",
             SessionBuilder().Host("n3").Processors(4).TimedRuns(9, 1.0).FailedRun("x").Build()),
      *ReadNodeText("n4.json", file.substr(0, file.size() / 2)),
      *ReadNodeText("n5.json", std::nullopt),
      NodeOf("n6", SessionBuilder().Host("n6").Processors(2).TimedRuns(10, 0.9).Build())};
  const Fleet whole = BuildFleet(inputs);
  const Fleet table = BuildFleet(inputs, NodeDetail::kTable);
  for (const OutputFormat format :
       {OutputFormat::kTable, OutputFormat::kCsv, OutputFormat::kMarkdown}) {
    SCOPED_TRACE(static_cast<int>(format));
    EXPECT_EQ(MakeReporter(format)->FleetReport(table), MakeReporter(format)->FleetReport(whole));
  }
  ASSERT_EQ(table.nodes.size(), whole.nodes.size());
  EXPECT_EQ(whole.nodes[5].team, 2);
  for (std::size_t i = 0; i < table.nodes.size(); ++i) {
    SCOPED_TRACE(Named("node ", static_cast<int>(i)));
    const NodeRow& kept = table.nodes[i];
    EXPECT_TRUE(kept.figures.teams.empty()) << "every team's figures kept";
    EXPECT_EQ(kept.verdict, whole.nodes[i].verdict);
    if (whole.nodes[i].figures.teams.empty()) continue;
    const TeamFigures& at_team = whole.nodes[i].figures.teams[whole.nodes[i].team - 1];
    EXPECT_EQ(kept.at_team.threads, at_team.threads);
    EXPECT_EQ(kept.at_team.speedup_vs_serial.low, at_team.speedup_vs_serial.low);
    EXPECT_EQ(kept.at_team.efficiency.median, at_team.efficiency.median);
  }
  const Figures band = FleetBand(table), reference = FleetBand(whole);
  ASSERT_EQ(band.teams.size(), reference.teams.size());
  for (std::size_t t = 0; t < band.teams.size(); ++t) {
    SCOPED_TRACE(Named("team ", static_cast<int>(t + 1)));
    for (const auto& [mine, theirs] :
         {std::pair{&band.teams[t].speedup_vs_serial, &reference.teams[t].speedup_vs_serial},
          std::pair{&band.teams[t].efficiency, &reference.teams[t].efficiency}}) {
      EXPECT_EQ(mine->median, theirs->median);
      EXPECT_EQ(mine->low, theirs->low);
      EXPECT_EQ(mine->high, theirs->high);
    }
  }
}

TEST(FleetTest, WarnsWhenTheFleetIsNotAlikeAndShowsHostileNamesEscaped) {
  const Fleet fleet = BuildFleet(
      {NodeOf("n1",
              SessionBuilder().Processors(2).CpuModel("AMD EPYC 7B13").TimedRuns(10, 1.0).Build()),
       NodeOf(
           "n2\x1b[2J",
           SessionBuilder().Processors(2).CpuModel("AMD EPYC 9B14").TimedRuns(10, 1.0).Build())});
  ASSERT_EQ(fleet.differences.size(), 1u);
  EXPECT_EQ(fleet.differences[0].difference.rfind("CPU model", 0), 0u)
      << fleet.differences[0].difference;
  const std::vector<std::string> warnings = FleetWarnings(fleet);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("CPU model"), std::string::npos) << warnings[0];
  for (const OutputFormat format :
       {OutputFormat::kTable, OutputFormat::kCsv, OutputFormat::kJson}) {
    SCOPED_TRACE(static_cast<int>(format));
    EXPECT_EQ(MakeReporter(format)->FleetReport(fleet).find('\x1b'), std::string::npos)
        << "a control byte shown raw";
  }
  EXPECT_EQ(warnings[0].find('\x1b'), std::string::npos) << "a control byte shown raw";
}

TEST(FleetTest, BandIsTheRangeOverTheNodesMedians) {
  // Unjudged nodes whose speedup at two threads is 2, 1 and 1.6; the third is not merged.
  Fleet fleet;
  const struct {
    const char* name;
    double factor;
  } nodes[] = {{"n1", 1.0}, {"n2", 0.5}, {"n3", 0.8}};
  for (const auto& [name, factor] : nodes) {
    const Session session = SessionBuilder()
                                .Processors(2)
                                .Runs(10,
                                      [factor](int) {
                                        return ReportWith(0.060, [factor](int t) {
                                          return 0.060 / std::min(t, 2) / factor;
                                        });
                                      })
                                .Build();
    NodeRow& node = fleet.nodes.emplace_back();
    node.input = NodeOf(name, session);
    SetNodeFigures(node, SessionFigures(session));
  }
  fleet.nodes[2].input.merged = false;
  const Figures band = FleetBand(fleet);
  EXPECT_EQ(FleetBandNodes(fleet), 2u);
  ASSERT_EQ(band.teams.size(), 20u);
  const TeamFigures& two = band.teams[1];
  ASSERT_TRUE(two.speedup_vs_serial.median && two.speedup_vs_serial.low &&
              two.speedup_vs_serial.high);
  EXPECT_NEAR(*two.speedup_vs_serial.median, 1.5, 1e-9);  // of 2 and 1, the third left out
  // The 10% and 90% quantiles, not the range: one outlying node of 10,000 cannot shade the plot.
  EXPECT_NEAR(*two.speedup_vs_serial.low, 1.1, 1e-9);
  EXPECT_NEAR(*two.speedup_vs_serial.high, 1.9, 1e-9);
}

// A merged node of `runs` runs with times drawn from `engine` around `scale`, on a millisecond
// clock when `ticks` (so that runs tie), some teams' times 0 (no speedup), judged at `team`.
NodeRow DrawnNode(std::mt19937_64& engine, const std::string& host, int runs, double scale,
                  bool ticks, int team) {
  std::lognormal_distribution<double> spread(0.0, 0.05);
  const auto time = [&](double seconds) {
    const double drawn = seconds * spread(engine);
    return ticks ? std::round(drawn * 1000.0) / 1000.0 : drawn;
  };
  SessionBuilder builder;
  builder.Host(host).Processors(2);
  for (int run = 0; run < runs; ++run) {
    const double serial = time(0.060 * scale);
    builder.Run(ReportWith(
        serial, [&](int t) { return engine() % 9 == 0 ? 0.0 : time(0.060 * scale / t); }));
  }
  NodeRow node;
  node.input = NodeOf(host, builder.Build());
  node.team = team;
  SetNodeFigures(node, SessionFigures(node.input.session));
  return node;
}

// Each node judged as merge first did it: against a pool of the other nodes' runs built afresh.
void JudgeByPoolingTheOthers(Fleet& fleet) {
  const auto log_speedups = [](const std::vector<RunReport>& reports, int team) {
    std::vector<double> logs;
    for (const RunReport& report : reports) {
      if (const auto s = Ratio(report.serial_seconds, report.parallel_seconds[team - 1])) {
        logs.push_back(std::log(*s));
      }
    }
    return logs;
  };
  std::vector<std::vector<RunReport>> passed;
  for (const NodeRow& node : fleet.nodes) passed.push_back(PassedReports(node.input.session));
  double tick = 0.0;  // the coarsest of the nodes' clocks
  for (const NodeRow& node : fleet.nodes)
    tick = std::max(tick, SessionTick(node.input.session).seconds);
  for (NodeRow& node : fleet.nodes) {
    std::vector<RunReport> others;
    for (const NodeRow& other : fleet.nodes) {
      if (&other == &node) continue;
      const std::vector<RunReport> theirs = PassedReports(other.input.session);
      others.insert(others.end(), theirs.begin(), theirs.end());
    }
    const std::vector<RunReport> mine = PassedReports(node.input.session);
    node.serial = CompareLogs(LogTimes(others, 0, tick), LogTimes(mine, 0, tick));
    node.speedup = CompareLogs(log_speedups(others, node.team), log_speedups(mine, node.team));
    const ClockMargin serial = FleetTimeMargin(passed, 0, tick);
    WidenForClock(node.serial, serial, serial);
    const ClockMargin speedup = FleetSpeedupMargin(passed, node.team, tick);
    WidenForClock(node.speedup, speedup, speedup);
  }
}

TEST(FleetTest, RankingTheFleetOnceJudgesEachNodeAsPoolingTheOthersDid) {
  // Catches a node's own runs counted among the others, ties ranked unlike a fresh pool of the
  // others, and one team size's pool used for a node judged at another.
  const struct {
    int nodes, runs;
    bool ticks;
  } cases[] = {{2, 5, false},   {3, 10, true}, {5, 10, false}, {8, 10, true},
               {30, 10, false}, {30, 7, true}, {120, 10, true}};
  std::mt19937_64 engine(2024);
  for (const auto& c : cases) {
    SCOPED_TRACE(Named("nodes: ", c.nodes));
    Fleet fleet;
    for (int n = 0; n < c.nodes; ++n) {
      const double scale = n % 7 == 3 ? 1.3 : 1.0;
      fleet.nodes.push_back(
          DrawnNode(engine, Named("n", n), c.runs, scale, c.ticks, n % 3 == 0 ? 4 : 2));
    }
    Fleet expected = fleet;
    JudgeByPoolingTheOthers(expected);
    JudgeFleet(fleet);
    for (std::size_t i = 0; i < fleet.nodes.size(); ++i) {
      for (const auto& [row, reference] :
           {std::pair{&fleet.nodes[i].serial, &expected.nodes[i].serial},
            std::pair{&fleet.nodes[i].speedup, &expected.nodes[i].speedup}}) {
        SCOPED_TRACE(Named("node ", static_cast<int>(i)));
        EXPECT_EQ(row->base_median, reference->base_median);
        EXPECT_EQ(row->new_median, reference->new_median);
        EXPECT_EQ(row->ratio, reference->ratio);
        EXPECT_EQ(row->ratio_low, reference->ratio_low);
        EXPECT_EQ(row->ratio_high, reference->ratio_high);
        EXPECT_EQ(row->confidence, reference->confidence);
        EXPECT_EQ(row->p_value, reference->p_value);
      }
    }
  }
}

}  // namespace
}  // namespace speedup
