#include "measure/trace_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "speedup_support.h"

namespace speedup {
namespace {

bool Has(const std::vector<std::string>& environment, const std::string& entry) {
  return std::find(environment.begin(), environment.end(), entry) != environment.end();
}

// A benchmark that passes every run; under the tool it writes what `trace_bytes` holds to the
// trace file, or says on standard error what `tool_says`.
class TracingExecutor : public Executor {
 public:
  std::string trace_bytes;  // empty: no file written
  std::string tool_says;
  int interrupt_at = -1;     // the run (from 0) that an interrupt ends
  std::vector<bool> traced;  // each run, in order

  ProcessResult RunOnce(const ProcessOptions& options,
                        const std::function<void(std::string_view)>&) override {
    const bool under_tool = Has(options.extra_environment, "OMP_TOOL_LIBRARIES=tool.so");
    traced.push_back(under_tool);
    ProcessResult result;
    result.started = true;
    result.exit_status = 0;
    result.output = ReportBytes(ReportWith(0.06, 0.03));
    result.wall_seconds = 1.0;
    if (static_cast<int>(traced.size()) - 1 == interrupt_at) result.interrupted = SIGINT;
    if (!under_tool) return result;
    for (const std::string& entry : options.extra_environment) {
      if (entry.starts_with("MATBENCH_TRACE_FILE=") && !trace_bytes.empty()) {
        std::ofstream(entry.substr(20), std::ios::binary) << trace_bytes;
      }
    }
    if (!tool_says.empty()) result.error_output = "matbench-trace: " + tool_says + "\n";
    return result;
  }
  double Elapsed() override { return 0.0; }
  void ShowProgress(const std::string& text, bool overwrite) override {
    (overwrite ? rewritten : lines).push_back(text);
  }
  std::vector<std::string> rewritten;  // progress on a terminal's one line, in order
  std::vector<std::string> lines;      // progress as lines of their own
};

class TraceLoopTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        std::filesystem::temp_directory_path() / ("trace_loop_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    plan_.runs = 3;
    plan_.tool = "tool.so";
    plan_.preload = "libomp.so.5";
    plan_.folder = folder_.string();
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::filesystem::path folder_;
  TracePlan plan_;
};

TEST_F(TraceLoopTest, PairsAlternateWhichRunComesFirstOnOneRuntime) {
  TracingExecutor executor;
  executor.tool_says = "cannot write the trace to x: No space left on device";
  TraceSession session;
  EXPECT_EQ(MessageOf(MeasureTraceSession(plan_, executor, "bench", session)), "");
  // Untraced first in odd pairs, traced first in even ones: drift falls on both alike.
  EXPECT_EQ(executor.traced, (std::vector<bool>{false, true, true, false, false, true}));
  EXPECT_EQ(session.traced.runs.size(), 3u);
  EXPECT_EQ(session.untraced.runs.size(), 3u);
  EXPECT_EQ(session.traced.requested_runs, 3);
}

// trace once showed nothing off a terminal and no time left on one, as a session does.
TEST_F(TraceLoopTest, ProgressIsALinePerPairOffATerminalAndTheTimeLeftOnOne) {
  TracingExecutor lines;
  lines.tool_says = "cannot write the trace";
  TraceSession session;
  plan_.progress = Progress::kLines;
  EXPECT_TRUE(MeasureTraceSession(plan_, lines, "bench", session));
  ASSERT_EQ(lines.lines.size(), 3u);
  EXPECT_EQ(lines.lines[0], "pair 1 of 3: untraced passed, traced passed in 2.0 s; about 4 s left");
  EXPECT_EQ(lines.lines[2], "pair 3 of 3: untraced passed, traced passed in 2.0 s");
  EXPECT_TRUE(lines.rewritten.empty());

  TracingExecutor terminal;
  terminal.tool_says = "cannot write the trace";
  TraceSession again;
  plan_.progress = Progress::kTerminal;
  EXPECT_TRUE(MeasureTraceSession(plan_, terminal, "bench", again));
  EXPECT_TRUE(terminal.lines.empty());
  ASSERT_EQ(terminal.rewritten.size(), 7u);
  EXPECT_EQ(terminal.rewritten[0], "pair 1 of 3: untraced run");  // nothing finished to go by
  EXPECT_EQ(terminal.rewritten[2], "pair 2 of 3: traced run; about 4 s left");
  EXPECT_EQ(terminal.rewritten[6], "") << "the line is not cleared at the end";
}

TEST_F(TraceLoopTest, ARunTheToolCouldNotTraceIsNamedWithTheToolsOwnReason) {
  TracingExecutor executor;
  executor.tool_says = "cannot write the trace to x: No space left on device";
  TraceSession session;
  EXPECT_EQ(MessageOf(MeasureTraceSession(plan_, executor, "bench", session)), "");
  ASSERT_EQ(session.untraced_reasons.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(session.untraced_reasons[i],
              "the trace tool: cannot write the trace to x: No space left on device");
    EXPECT_EQ(session.trace_files[i], "");
    EXPECT_FALSE(session.traces[i]);
    // The benchmark's own report still counts: tracing failed, not the run.
    EXPECT_TRUE(session.traced.runs[i].report.Passed());
  }
}

TEST_F(TraceLoopTest, ARuntimeThatNeverLoadsTheToolEndsTheSessionBeforeAnythingIsKept) {
  TracingExecutor executor;  // writes no trace and says nothing: the tool never ran
  TraceSession session;
  const std::string error = MessageOf(MeasureTraceSession(plan_, executor, "bench", session));
  EXPECT_NE(error.find("did not load the trace tool"), std::string::npos) << error;
  EXPECT_TRUE(session.traced.runs.empty());
}

TEST_F(TraceLoopTest, ACorruptTraceIsNamedAndTheRunKeptUntraced) {
  TracingExecutor executor;
  executor.trace_bytes = "MBTRACE";  // the magic, cut short
  TraceSession session;
  EXPECT_EQ(MessageOf(MeasureTraceSession(plan_, executor, "bench", session)), "");
  ASSERT_EQ(session.untraced_reasons.size(), 3u);
  EXPECT_EQ(session.untraced_reasons[0].rfind("its trace is unusable: ", 0), 0u)
      << session.untraced_reasons[0];
}

TEST_F(TraceLoopTest, AnInterruptKeepsTheFinishedRuns) {
  TracingExecutor executor;
  executor.tool_says = "out of memory; not tracing";
  executor.interrupt_at = 3;  // the second pair's second run
  TraceSession session;
  EXPECT_EQ(MessageOf(MeasureTraceSession(plan_, executor, "bench", session)), "");
  EXPECT_EQ(session.traced.interrupted, (Interrupt{SIGINT, ""}));
  EXPECT_EQ(session.traced.runs.size() + session.untraced.runs.size(), 3u);
}

TEST(TraceIndexTest, AnIndexCannotPointOutsideItsFolder) {
  TraceSession session;
  session.runtime = "rt";
  session.trace_files = {"run-001.trace"};
  session.untraced_reasons = {""};
  nlohmann::json index = nlohmann::json::parse(TraceIndexRecord(session).dump());
  const Result<TraceSession> read = ReadTraceIndex(index);
  ASSERT_TRUE(read) << MessageOf(read);
  EXPECT_EQ(read->trace_files, session.trace_files);
  for (const char* hostile : {"../../etc/passwd", "/etc/passwd", "..", "a/b"}) {
    SCOPED_TRACE(hostile);
    index["runs"][0]["trace"] = hostile;
    const Result<TraceSession> refused = ReadTraceIndex(index);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.failure().kind, FailureKind::kMalformed);
  }
}

}  // namespace
}  // namespace speedup
