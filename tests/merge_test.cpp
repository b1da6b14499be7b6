#include "merge.h"

#include <gtest/gtest.h>

#include <cmath>

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

}  // namespace
