#include "merge.h"

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <random>

namespace {

// A merged node of `runs` passed runs on 2 processors: serial `scale` x 0.060 s with a small
// wobble, teams of two and more twice as fast.
NodeRow Node(const std::string& host, int runs, double scale) {
  NodeRow node;
  node.node = host;
  node.file = host + ".json";
  node.session.context.host = host;
  node.session.context.processors = 2;
  for (int run = 0; run < runs; ++run) {
    RunReport report;
    const double wobble = 1.0 + 0.01 * ((run * 7 + host.size()) % 5);
    report.serial_seconds = 0.060 * scale * wobble;
    for (int t = 1; t <= MAX_THREADS; ++t) {
      report.parallel_seconds[t - 1] = report.serial_seconds / std::min(t, 2);
    }
    node.session.runs.push_back({report, {}, {}});
  }
  node.merged = true;
  node.figures = SessionFigures(node.session);
  node.team = 2;
  return node;
}

// A node of `runs` runs with times drawn from `engine` around `scale`, on a millisecond clock
// when `ticks` (so that runs tie), some teams' times 0 (no speedup), judged at team size `team`.
NodeRow DrawnNode(std::mt19937_64& engine, const std::string& host, int runs, double scale,
                  bool ticks, int team) {
  NodeRow node = Node(host, runs, scale);
  std::lognormal_distribution<double> spread(0.0, 0.05);
  const auto time = [&](double seconds) {
    const double drawn = seconds * spread(engine);
    return ticks ? std::round(drawn * 1000.0) / 1000.0 : drawn;
  };
  for (::Run& run : node.session.runs) {
    run.report.serial_seconds = time(0.060 * scale);
    for (int t = 1; t <= MAX_THREADS; ++t) {
      run.report.parallel_seconds[t - 1] = engine() % 9 == 0 ? 0.0 : time(0.060 * scale / t);
    }
  }
  node.figures = SessionFigures(node.session);
  node.team = team;
  return node;
}

// Each node judged as merge first did it: against a pool of the other nodes' runs built afresh.
void JudgeByPoolingTheOthers(Fleet& fleet) {
  const auto log_speedups = [](const std::vector<RunReport>& reports, int team) {
    std::vector<double> logs;
    for (const RunReport& report : reports) {
      if (const auto s = Ratio(report.serial_seconds, report.parallel_seconds[team - 1]))
        logs.push_back(std::log(*s));
    }
    return logs;
  };
  for (NodeRow& node : fleet.nodes) {
    std::vector<RunReport> others;
    for (const NodeRow& other : fleet.nodes) {
      if (&other == &node) continue;
      const std::vector<RunReport> theirs = PassedReports(other.session);
      others.insert(others.end(), theirs.begin(), theirs.end());
    }
    const std::vector<RunReport> mine = PassedReports(node.session);
    node.serial = CompareLogs(LogTimes(others, 0), LogTimes(mine, 0));
    node.speedup = CompareLogs(log_speedups(others, node.team), log_speedups(mine, node.team));
  }
}

TEST(MergeTest, RankingTheFleetOnceJudgesEachNodeAsPoolingTheOthersDid) {
  // Catches a node's own runs counted among the others, ties ranked unlike a fresh pool of the
  // others, and one team size's pool used for a node judged at another.
  const struct {
    int nodes, runs;
    bool ticks;
  } cases[] = {{2, 5, false},   {3, 10, true}, {5, 10, false}, {8, 10, true},
               {30, 10, false}, {30, 7, true}, {120, 10, true}};
  std::mt19937_64 engine(2024);
  for (const auto& c : cases) {
    Fleet fleet;
    for (int n = 0; n < c.nodes; ++n) {
      const double scale = n % 7 == 3 ? 1.3 : 1.0;
      fleet.nodes.push_back(
          DrawnNode(engine, "n" + std::to_string(n), c.runs, scale, c.ticks, n % 3 == 0 ? 4 : 2));
    }
    Fleet expected = fleet;
    JudgeByPoolingTheOthers(expected);
    JudgeFleet(fleet);
    for (std::size_t i = 0; i < fleet.nodes.size(); ++i) {
      for (const auto& [row, reference] :
           {std::pair{&fleet.nodes[i].serial, &expected.nodes[i].serial},
            std::pair{&fleet.nodes[i].speedup, &expected.nodes[i].speedup}}) {
        const std::string where = std::to_string(c.nodes) + " nodes, node " + std::to_string(i);
        EXPECT_EQ(row->base_median, reference->base_median) << where;
        EXPECT_EQ(row->new_median, reference->new_median) << where;
        EXPECT_EQ(row->ratio, reference->ratio) << where;
        EXPECT_EQ(row->ratio_low, reference->ratio_low) << where;
        EXPECT_EQ(row->ratio_high, reference->ratio_high) << where;
        EXPECT_EQ(row->confidence, reference->confidence) << where;
        EXPECT_EQ(row->p_value, reference->p_value) << where;
      }
    }
  }
}

TEST(MergeTest, NamesTheOneSlowNodeAndOnlyIt) {
  Fleet fleet;
  fleet.nodes = {Node("n1", 10, 1.0), Node("n2", 10, 1.5), Node("n3", 10, 1.0)};
  JudgeFleet(fleet);
  EXPECT_EQ(fleet.nodes[0].verdict, "like the fleet");
  EXPECT_EQ(fleet.nodes[1].verdict.rfind("slower: serial ×1.5", 0), 0u) << fleet.nodes[1].verdict;
  EXPECT_LT(fleet.nodes[1].serial.p_holm, 0.05);
  EXPECT_EQ(fleet.nodes[2].verdict, "like the fleet");
  EXPECT_NEAR(*fleet.serial_median, 0.0606, 0.001);
  EXPECT_NEAR(*fleet.serial_max / *fleet.serial_min, 1.5, 0.05);
  EXPECT_TRUE(fleet.warnings.empty());
}

TEST(MergeTest, FailedNodesStayNamedAndOutOfTheFigures) {
  Fleet fleet;
  NodeRow failed;
  failed.node = failed.file = "n4.json";
  failed.problem = "not valid JSON: the session was cut off while writing";
  fleet.nodes = {Node("n1", 10, 1.0), failed, Node("n3", 10, 1.0)};
  JudgeFleet(fleet);
  EXPECT_EQ(fleet.nodes[0].verdict, "like the fleet");
  EXPECT_EQ(fleet.nodes[1].verdict, "");
  const std::string table = FormatFleetTable(fleet);
  EXPECT_NE(table.find("2 of 3 sessions merged"), std::string::npos);
  EXPECT_NE(table.find("failed: n4.json: not valid JSON"), std::string::npos) << table;
}

TEST(MergeTest, WarnsWhenTheFleetIsNotAlikeAndShowsHostileNamesEscaped) {
  Fleet fleet;
  fleet.nodes = {Node("n1", 10, 1.0), Node("n2\x1b[2J", 10, 1.0)};
  fleet.nodes[1].session.context.cpu_model = "AMD EPYC 9B14";
  fleet.nodes[0].session.context.cpu_model = "AMD EPYC 7B13";
  JudgeFleet(fleet);
  ASSERT_EQ(fleet.warnings.size(), 1u);
  EXPECT_NE(fleet.warnings[0].find("CPU model"), std::string::npos);
  for (const std::string& text : {FormatFleetTable(fleet), FormatFleetCsv(fleet),
                                  FormatFleetJson(fleet), fleet.warnings[0]}) {
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << "a control byte shown raw";
  }
}

// "n1", "n2", ...; appended, as GCC 12 warns wrongly about "n" + text in a loop.
std::string Numbered(int i) {
  std::string name = "n";
  name += std::to_string(i);
  return name;
}

// The session file `node` would have written, with Slurm's fields when `slurm_node` is given.
std::string SessionText(NodeRow node, const char* slurm_node = nullptr) {
  if (slurm_node) {
    node.session.context.slurm_node = slurm_node;
    node.session.context.slurm_job_id = "4242";
  }
  return SessionJson(node.session, node.figures).dump();
}

TEST(MergeTest, NodeFromTextMergesWhatItCanAndRefusesOnlyWhatIsNoSession) {
  const std::string whole = SessionText(Node("host-a", 4, 1.0), "n2");
  Session interrupted = Node("host-a", 3, 1.0).session;
  interrupted.interrupted = "SIGTERM";
  nlohmann::json v3 = nlohmann::json::parse(whole);
  v3["format_version"] = 3;
  const std::string cut_short = SessionJson(interrupted, SessionFigures(interrupted)).dump();
  Session lost = Node("host-a", 3, 1.0).session;
  lost.stopped = "the benchmark could not be started again: No such file or directory";
  const std::string lost_bench = SessionJson(lost, SessionFigures(lost)).dump();
  Session limited = lost;
  limited.stopped = "--time-limit 10 s reached";
  const std::string time_limit = SessionJson(limited, SessionFigures(limited)).dump();
  struct Case {
    std::optional<std::string> text;
    const char* problem;  // start of the node's problem; empty: none
    bool merged;
    const char* refusal;  // part of the refusal; empty: none
  };
  const Case cases[] = {
      {whole, "", true, ""},
      {cut_short, "interrupted by SIGTERM after 3 runs", true, ""},
      {lost_bench, "the benchmark could not be started again", true, ""},
      {time_limit, "", true, ""},
      {std::nullopt, "could not be read", false, ""},
      {"", "empty: the session ended", false, ""},
      {" \n\t", "empty: the session ended", false, ""},
      {whole.substr(0, whole.size() / 2), "not valid JSON", false, ""},
      {"Serial time = 0.1", "", false, "is not a session JSON"},
      {v3.dump(), "", false, "format version 3"},
      {R"({"x": 1})", "", false, "n.json"},
  };
  for (const Case& c : cases) {
    std::string refusal;
    const NodeRow node = NodeFromText("n.json", c.text, refusal);
    const std::string shown = c.text ? c.text->substr(0, 40) : "unreadable";
    if (*c.problem == '\0') {
      EXPECT_FALSE(node.problem) << shown << ": " << *node.problem;
    } else {
      EXPECT_EQ(node.problem.value_or("").rfind(c.problem, 0), 0u)
          << shown << ": " << node.problem.value_or("");
    }
    EXPECT_EQ(node.merged, c.merged) << shown;
    EXPECT_EQ(refusal.empty(), *c.refusal == '\0') << shown << ": " << refusal;
    EXPECT_NE(refusal.find(c.refusal), std::string::npos) << shown << ": " << refusal;
  }
}

TEST(MergeTest, NodesAreNamedBySlurmThenHostThenFile) {
  std::string refusal;
  const NodeRow slurm = NodeFromText("a.json", SessionText(Node("host-a", 4, 1.0), "n2"), refusal);
  EXPECT_EQ(slurm.node, "n2") << "nodes sharing a host must stay apart";
  EXPECT_EQ(slurm.job, "4242");
  const NodeRow plain = NodeFromText("b.json", SessionText(Node("host-b", 4, 1.0)), refusal);
  EXPECT_EQ(plain.node, "host-b");
  EXPECT_FALSE(plain.job);
  EXPECT_EQ(NodeFromText("c.json", "", refusal).node, "c.json");
  EXPECT_TRUE(refusal.empty()) << refusal;

  Fleet fleet;
  fleet.nodes = {slurm, plain};
  JudgeFleet(fleet);
  EXPECT_NE(FormatFleetTable(fleet).find("Slurm job 4242: "), std::string::npos);
  EXPECT_NE(FormatFleetCsv(fleet).find("\"n2\",\"4242\",\"a.json\""), std::string::npos);
}

TEST(MergeTest, ChartDrawsEachNodeUpToEightThenTheFleetBandAndTheNamedNodes) {
  Fleet fleet;
  for (int i = 1; i <= 8; ++i) fleet.nodes.push_back(Node(Numbered(i), 10, 1.0));
  JudgeFleet(fleet);
  const Figures band = FleetBand(fleet);
  std::vector<PlotCurve> curves = FleetCurves(fleet, band);
  ASSERT_EQ(curves.size(), 8u);
  EXPECT_FALSE(curves[0].band);

  fleet = Fleet{};
  for (int i = 1; i <= 12; ++i) {
    fleet.nodes.push_back(Node(Numbered(i), 10, i == 5 ? 1.5 : 1.0 + 0.001 * i));
  }
  JudgeFleet(fleet);
  const Figures wide = FleetBand(fleet);
  curves = FleetCurves(fleet, wide);
  ASSERT_EQ(curves.size(), 2u);
  EXPECT_TRUE(curves[0].band);
  EXPECT_EQ(curves[0].figures, &wide);
  EXPECT_EQ(curves[1].name, "n5, slower");
  EXPECT_EQ(curves[1].figures, &fleet.nodes[4].figures);
  // The node's speedup is like the others', so the band is a point at every team size.
  ASSERT_EQ(wide.teams.size(), static_cast<std::size_t>(MAX_THREADS));
  for (const TeamFigures& team : wide.teams) {
    ASSERT_TRUE(team.speedup_vs_serial.median && team.speedup_vs_serial.low);
    EXPECT_NEAR(*team.speedup_vs_serial.median, std::min(team.threads, 2), 1e-9);
    EXPECT_NEAR(*team.speedup_vs_serial.high - *team.speedup_vs_serial.low, 0.0, 1e-9);
  }
}

TEST(MergeTest, BandIsTheRangeOverTheNodesMedians) {
  Fleet fleet;
  fleet.nodes = {Node("n1", 10, 1.0), Node("n2", 10, 1.0), Node("n3", 10, 1.0)};
  const double factors[] = {1.0, 0.5, 0.8};
  for (int i = 0; i < 3; ++i) {
    for (::Run& run : fleet.nodes[i].session.runs) {
      for (double& t : run.report.parallel_seconds) t /= factors[i];
    }
    fleet.nodes[i].figures = SessionFigures(fleet.nodes[i].session);
  }
  fleet.nodes[2].merged = false;
  const Figures band = FleetBand(fleet);
  const TeamFigures& two = band.teams[1];
  EXPECT_NEAR(*two.speedup_vs_serial.median, 1.5, 1e-9);  // of 2 and 1, the third left out
  EXPECT_NEAR(*two.speedup_vs_serial.low, 1.0, 1e-9);
  EXPECT_NEAR(*two.speedup_vs_serial.high, 2.0, 1e-9);
}

}  // namespace
