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

Result<SessionFile> ReadSessionFile(const std::string& path, const std::optional<int>& processors) {
  Result<std::string> text = ReadInput(path);
  if (!text) return text.failure();
  const std::string name = path == "-" ? "standard input" : Printable(path);
  SessionFile file;
  file.is_json = LooksLikeJson(*text).value_or(false);
  if (file.is_json) {
    if (processors) {
      return Fail(FailureKind::kUsage,
                  "--processors is for saved raw reports; " + name + " records its own");
    }
    Result<Session> session = ReadSessionText(*text);
    if (!session) {
      const Failure& failure = session.failure();
      return Fail(failure.kind,
                  name + (failure.kind == FailureKind::kNotJson ? " is " : ": ") + failure.message);
    }
    file.session = std::move(session).value();
    return file;
  }
  std::vector<RunReport> reports = ParseReports(*text, MAX_INPUT_RUNS);
  text = std::string();  // what is left of it lies in the reports
  if (const int signal_number = PendingInterrupt(); signal_number != 0) {
    return Fail(FailureKind::kInterrupted, "interrupted by " + SignalName(signal_number));
  }
  if (reports.empty()) return Fail(FailureKind::kInput, "no report found in " + name);
  if (reports.size() > MAX_INPUT_RUNS) {
    return Fail(FailureKind::kInput, name + " holds more than " + std::to_string(MAX_INPUT_RUNS) +
                                         " reports, more than any session makes");
  }
  file.session.runs.reserve(reports.size());
  for (RunReport& report : reports) file.session.runs.push_back({std::move(report), {}, {}});
  file.session.context.processors = processors;
  return file;
}

namespace {

using Kind = NodeProblem::Kind;

// The first problem that makes the node's session less than it was asked to be.
std::optional<NodeProblem> ProblemOf(const Session& session, bool merged) {
  std::optional<NodeProblem> problem;
  if (session.interrupted) {
    problem = {Kind::kInterrupted, InterruptName(*session.interrupted),
               static_cast<int>(session.runs.size())};
  } else if (session.stopped && !SetByUser(*session.stopped)) {
    // A limit the user set is no fault; a benchmark that would not start again is.
    problem = {Kind::kStopped, StopText(*session.stopped), 0};
  }
  if (!merged && !problem) problem = {Kind::kNoRunPassed, "", 0};
  for (const Run& run : session.runs) {
    if (run.report.failure && !problem) {
      problem = {Kind::kRunFailed, RunFailureText(*run.report.failure), 0};
    }
  }
  return problem;
}

}  // namespace

Result<NodeInput> ReadNode(const std::string& file, const Result<std::string>& text) {
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
  if (!*json_text) return Fail(FailureKind::kInput, Printable(file) + " is not a session JSON");
  Result<Session> session = ReadSessionText(*text);
  if (!session) {
    const Failure& failure = session.failure();
    if (failure.kind == FailureKind::kNotJson) {
      node.problem = {Kind::kCutOff, "", 0};
    } else if (failure.kind == FailureKind::kMalformed) {
      node.problem = {Kind::kMalformed, failure.message, 0};
    } else {
      return Fail(failure.kind, Printable(file) + ": " + failure.message);
    }
    return node;
  }
  node.session = std::move(session).value();
  const Context& context = node.session.context;
  if (context.slurm_node) {
    node.node = *context.slurm_node;
  } else if (context.host) {
    node.node = *context.host;
  }
  node.job = context.slurm_job_id;
  node.merged = HasPassedRun(node.session);
  node.problem = ProblemOf(node.session, node.merged);
  // A node with no passed run is named by its problem alone: its runs are let go at once, so a
  // fleet of failed sessions holds none of them.
  if (!node.merged) node.session.runs = std::vector<Run>();
  return node;
}

}  // namespace speedup
