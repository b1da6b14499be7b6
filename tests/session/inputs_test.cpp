#include "session/inputs.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "present/reporter.h"
#include "present/words.h"
#include "speedup_support.h"
#include "stats/diagnostics.h"

namespace speedup {
namespace {

// The session file the tool writes for `session`.
std::string SessionFile(const Session& session) {
  return MakeReporter(OutputFormat::kJson)->SessionReport(session, Analyse(session));
}

TEST(InputsTest, ReadNodeMergesWhatItCanAndRefusesOnlyWhatIsNoSession) {
  const std::string whole = SessionFile(
      SessionBuilder().Host("host-a").Processors(2).TimedRuns(4, 1.0).Slurm("4242", "n2").Build());
  nlohmann::json v3 = nlohmann::json::parse(whole);
  v3["format_version"] = 3;
  const std::string cut_short = SessionFile(SessionBuilder()
                                                .Host("host-a")
                                                .Processors(2)
                                                .TimedRuns(3, 1.0)
                                                .Interrupted("SIGTERM")
                                                .Build());
  const std::string lost_bench = SessionFile(
      SessionBuilder()
          .Host("host-a")
          .Processors(2)
          .TimedRuns(3, 1.0)
          .Stopped({StopReason::Kind::kBenchmarkLost, 0, 0, "No such file or directory"})
          .Build());
  const std::string time_limit = SessionFile(SessionBuilder()
                                                 .Host("host-a")
                                                 .Processors(2)
                                                 .TimedRuns(3, 1.0)
                                                 .Stopped({StopReason::Kind::kTimeLimit, 10, 0, ""})
                                                 .Build());
  using Kind = NodeProblem::Kind;
  struct Case {
    const char* name;
    std::optional<std::string> text;
    std::optional<Kind> problem;  // empty: none
    const char* words;            // start of the problem in words
    bool merged;
    const char* refusal;  // part of the refusal; empty: none
  };
  const Case cases[] = {
      {"whole", whole, std::nullopt, "", true, ""},
      // Refused as "not a session JSON": the mark hid the opening brace.
      {"byte-order mark", "\xEF\xBB\xBF" + whole, std::nullopt, "", true, ""},
      // Named "not valid JSON", as if the file were cut off.
      {"number beyond a double", whole.substr(0, whole.rfind('}')) + R"(, "x": 1e400})",
       Kind::kMalformed, "a number out of range: 1e400", false, ""},
      {"interrupted", cut_short, Kind::kInterrupted, "interrupted by SIGTERM after 3 runs", true,
       ""},
      {"benchmark lost", lost_bench, Kind::kStopped, "the benchmark could not be started again",
       true, ""},
      {"time limit reached", time_limit, std::nullopt, "", true, ""},
      {"unreadable", std::nullopt, Kind::kUnreadable, "could not be read", false, ""},
      {"empty", "", Kind::kEmpty, "empty: the session ended", false, ""},
      {"white space", " \n\t", Kind::kEmpty, "empty: the session ended", false, ""},
      {"cut off", whole.substr(0, whole.size() / 2), Kind::kCutOff, "not valid JSON", false, ""},
      {"raw reports", "Serial time = 0.1", std::nullopt, "", false, "is not a session JSON"},
      {"version 3", v3.dump(), std::nullopt, "", false, "format version 3"},
      {"foreign JSON", R"({"x": 1})", std::nullopt, "", false, "n.json"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Result<NodeInput> read = ReadNodeText("n.json", c.text);
    const std::string refusal = MessageOf(read);
    const NodeInput node = read ? *read : NodeInput{};
    EXPECT_EQ(node.problem.has_value(), c.problem.has_value())
        << (node.problem ? ProblemText(*node.problem) : "");
    if (node.problem && c.problem) {
      EXPECT_EQ(node.problem->kind, *c.problem) << ProblemText(*node.problem);
      EXPECT_EQ(ProblemText(*node.problem).rfind(c.words, 0), 0u) << ProblemText(*node.problem);
    }
    EXPECT_EQ(node.merged, c.merged);
    EXPECT_EQ(refusal.empty(), *c.refusal == '\0') << refusal;
    EXPECT_NE(refusal.find(c.refusal), std::string::npos) << refusal;
  }
}

TEST(InputsTest, NodesAreNamedBySlurmThenHostThenFile) {
  const NodeInput slurm = *ReadNodeText("a.json", SessionFile(SessionBuilder()
                                                                  .Host("host-a")
                                                                  .Processors(2)
                                                                  .TimedRuns(4, 1.0)
                                                                  .Slurm("4242", "n2")
                                                                  .Build()));
  EXPECT_EQ(slurm.node, "n2") << "nodes sharing a host must stay apart";
  EXPECT_EQ(slurm.job, "4242");
  const NodeInput plain = *ReadNodeText(
      "b.json",
      SessionFile(SessionBuilder().Host("host-b").Processors(2).TimedRuns(4, 1.0).Build()));
  EXPECT_EQ(plain.node, "host-b");
  EXPECT_FALSE(plain.job);
  EXPECT_EQ(ReadNodeText("c.json", "")->node, "c.json");
}

}  // namespace
}  // namespace speedup
