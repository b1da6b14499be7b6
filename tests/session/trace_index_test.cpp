#include <gtest/gtest.h>

#include <csignal>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "base/interrupts.h"
#include "base/policy.h"
#include "session/trace_session.h"

namespace speedup {
namespace {

// An index of `runs` runs naming run-001.trace, with `extra` added as its last member.
std::string Index(std::size_t runs, const std::string& extra = "") {
  std::string text = R"({"format": "matbench-speedup trace", "format_version": 1, "runtime": "rt",
    "traced_session": "traced.json", "untraced_session": "untraced.json", "runs": [)";
  for (std::size_t i = 0; i < runs; ++i) {
    if (i > 0) text += ',';
    text += R"({"trace": "run-001.trace", "untraced": null})";
  }
  return text + "]" + extra + "}";
}

TEST(TraceIndexTextTest, ReadsRunsOneByOneAndRefusesWhatNoSessionWrites) {
  // The index was parsed whole into a document, figures and any bulk beside the runs too, and
  // nothing bounded its runs; a hostile name reached the terminal raw in the refusal.
  std::string bulk = R"(, "figures": [)";
  for (int i = 0; i < 200000; ++i) bulk += i == 0 ? "[]" : ",[]";
  bulk += "]";
  using Kind = FailureKind;
  const struct {
    const char* name;
    std::string text;
    std::optional<Kind> kind;  // none: read
    const char* message;       // part of it
    std::size_t runs;
  } cases[] = {
      {"an index with its figures", Index(3, bulk), std::nullopt, "", 3},
      {"more runs than any session makes", Index(MAX_INPUT_RUNS + 1), Kind::kMalformed,
       "more than 100000 traced runs", 0},
      {"a name that holds a path and an escape",
       R"({"format": "matbench-speedup trace", "format_version": 1, "runtime": "rt", "runs": [
          {"trace": "\u001b]0;PWNED\u0007\u001b[2J/x", "untraced": null}]})",
       Kind::kMalformed, R"("\x1B]0;PWNED\x07\x1B[2J/x")", 0},
      {"cut off", Index(3).substr(0, 100), Kind::kNotJson, "not valid JSON", 0},
      {"another format", R"({"format": "x", "runs": []})", Kind::kInput, "not a", 0},
      {"a run without its keys", R"({"format": "matbench-speedup trace", "format_version": 1,
          "runtime": "rt", "runs": [{}]})",
       Kind::kMalformed, "malformed trace index: key 'trace' not found", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Result<TraceSession> read = ReadTraceIndexText(c.text);
    if (!c.kind) {
      ASSERT_TRUE(read) << read.failure().message;
      EXPECT_EQ(read->trace_files.size(), c.runs);
      EXPECT_EQ(read->traces.size(), c.runs);
      continue;
    }
    ASSERT_FALSE(read) << "read " << read->trace_files.size() << " runs";
    EXPECT_EQ(read.failure().kind, *c.kind) << read.failure().message;
    EXPECT_NE(read.failure().message.find(c.message), std::string::npos) << read.failure().message;
    EXPECT_EQ(read.failure().message.find('\x1b'), std::string::npos) << read.failure().message;
  }
}

TEST(TraceIndexTextTest, ReadsWhatTheDocumentReaderReads) {
  TraceSession session;
  session.runtime = "LLVM";
  session.trace_files = {"run-001.trace", ""};
  session.untraced_reasons = {"", "the tool said no"};
  const std::string text = TraceIndexRecord(session).dump();
  const Result<TraceSession> from_text = ReadTraceIndexText(text);
  const Result<TraceSession> from_document = ReadTraceIndex(nlohmann::json::parse(text));
  ASSERT_TRUE(from_text) << from_text.failure().message;
  ASSERT_TRUE(from_document) << from_document.failure().message;
  for (const TraceSession* read : {&*from_text, &*from_document}) {
    EXPECT_EQ(read->runtime, session.runtime);
    EXPECT_EQ(read->trace_files, session.trace_files);
    EXPECT_EQ(read->untraced_reasons, session.untraced_reasons);
  }
}

TEST(TraceIndexTextTest, AnInterruptEndsTheReading) {
  const std::string text = Index(200000);
  ASSERT_TRUE(InstallInterruptHandlers());
  raise(SIGTERM);
  const Result<TraceSession> read = ReadTraceIndexText(text);
  ResetInterruptForTesting();
  ASSERT_FALSE(read) << "read " << read->trace_files.size() << " runs";
  EXPECT_EQ(read.failure().kind, FailureKind::kInterrupted) << read.failure().message;
}

}  // namespace
}  // namespace speedup
