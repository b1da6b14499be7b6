#include "session/inputs.h"

#include "base/interrupts.h"
#include "base/io.h"
#include "base/text.h"
#include "session/session_json.h"

namespace speedup {

namespace {

// Whether `text` is a JSON object rather than raw reports: its first byte past white space, and
// past a UTF-8 byte-order mark that an editor may have put first, is an opening brace. Empty when
// it holds nothing but white space.
std::optional<bool> LooksLikeJson(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == text.npos) return std::nullopt;
  return text[first] == '{';
}

}  // namespace

bool ReadSessionFile(const std::string& path, const std::optional<int>& processors,
                     Session& session, bool* is_json) {
  std::string text;
  if (!ReadInput(path, text)) return false;
  const std::string name = path == "-" ? "standard input" : Printable(path);
  const bool json_text = LooksLikeJson(text).value_or(false);
  if (is_json != nullptr) *is_json = json_text;
  if (json_text) {
    if (processors) {
      Complain("--processors is for saved raw reports; " + name + " records its own");
      return false;
    }
    if (const ReadError error = ReadSessionText(text, session)) {
      if (error.kind == ReadError::Kind::kInterrupted) return false;  // main names it
      Complain(name + (error.kind == ReadError::Kind::kNotJson ? " is " : ": ") + error.message);
      return false;
    }
    return true;
  }
  std::vector<RunReport> reports = ParseReports(text, MAX_INPUT_RUNS);
  text = std::string();                       // what is left of it lies in the reports
  if (PendingInterrupt() != 0) return false;  // main names it
  if (reports.empty()) {
    Complain("no report found in " + name);
    return false;
  }
  if (reports.size() > MAX_INPUT_RUNS) {
    Complain(name + " holds more than " + std::to_string(MAX_INPUT_RUNS) +
             " reports, more than any session makes");
    return false;
  }
  session.runs.reserve(reports.size());
  for (RunReport& report : reports) session.runs.push_back({std::move(report), {}, {}});
  session.context.processors = processors;
  return true;
}

namespace {

using Kind = NodeProblem::Kind;

// The first problem that makes the node's session less than it was asked to be.
std::optional<NodeProblem> ProblemOf(const Session& session, bool merged) {
  std::optional<NodeProblem> problem;
  if (session.interrupted) {
    problem = {Kind::kInterrupted, *session.interrupted, static_cast<int>(session.runs.size())};
  } else if (session.stopped && !SetByUser(*session.stopped)) {
    // A limit the user set is no fault; a benchmark that would not start again is.
    problem = {Kind::kStopped, StopText(*session.stopped), 0};
  }
  if (!merged && !problem) problem = {Kind::kNoRunPassed, "", 0};
  for (const Run& run : session.runs) {
    if (!run.report.failure.empty() && !problem) {
      problem = {Kind::kRunFailed, run.report.failure, 0};
    }
  }
  return problem;
}

}  // namespace

NodeInput ReadNode(const std::string& file, const std::optional<std::string>& text,
                   std::string& refusal) {
  NodeInput node;
  node.file = file;
  node.node = file;
  if (!text) {
    node.problem = {Kind::kUnreadable, "", 0};
    return node;
  }
  const std::optional<bool> json_text = LooksLikeJson(*text);
  if (!json_text) {
    // What a session killed before its end leaves behind, e.g. under Slurm's own output file.
    node.problem = {Kind::kEmpty, "", 0};
    return node;
  }
  if (!*json_text) {
    refusal = Printable(file) + " is not a session JSON";
    return node;
  }
  if (const ReadError error = ReadSessionText(*text, node.session)) {
    if (error.kind == ReadError::Kind::kNotJson) {
      node.problem = {Kind::kCutOff, "", 0};
    } else if (error.kind == ReadError::Kind::kMalformed) {
      node.problem = {Kind::kMalformed, error.message, 0};
    } else {
      refusal = Printable(file) + ": " + error.message;
    }
    return node;
  }
  const Context& context = node.session.context;
  if (context.slurm_node) {
    node.node = *context.slurm_node;
  } else if (context.host) {
    node.node = *context.host;
  }
  node.job = context.slurm_job_id;
  node.merged = !PassedReports(node.session).empty();
  node.problem = ProblemOf(node.session, node.merged);
  // A node with no passed run is named by its problem alone: its runs are let go at once, so a
  // fleet of failed sessions holds none of them.
  if (!node.merged) node.session.runs = std::vector<Run>();
  return node;
}

}  // namespace speedup
