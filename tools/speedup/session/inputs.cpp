#include "session/inputs.h"

#include <nlohmann/json.hpp>

#include "base/io.h"
#include "base/text.h"
#include "session/session_json.h"

namespace speedup {

bool ReadSessionFile(const std::string& path, const std::optional<int>& processors,
                     Session& session, bool* is_json) {
  std::string text;
  if (!ReadInput(path, text)) return false;
  const std::string name = path == "-" ? "standard input" : Printable(path);
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  const bool json_text = first != text.npos && text[first] == '{';
  if (is_json != nullptr) *is_json = json_text;
  if (json_text) {
    if (processors) {
      Complain("--processors is for saved raw reports; " + name + " records its own");
      return false;
    }
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded()) {
      Complain(name + " is not valid JSON (truncated?)");
      return false;
    }
    if (const ReadError error = ReadSession(json, session)) {
      Complain(name + ": " + error.message);
      return false;
    }
    return true;
  }
  const std::vector<RunReport> reports = ParseReports(text);
  if (reports.empty()) {
    Complain("no report found in " + name);
    return false;
  }
  for (const RunReport& report : reports) session.runs.push_back({report, {}, {}});
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
  const std::size_t first = text->find_first_not_of(" \t\r\n");
  if (first == text->npos) {
    // What a session killed before its end leaves behind, e.g. under Slurm's own output file.
    node.problem = {Kind::kEmpty, "", 0};
    return node;
  }
  if ((*text)[first] != '{') {
    refusal = Printable(file) + " is not a session JSON";
    return node;
  }
  const nlohmann::json json = nlohmann::json::parse(*text, nullptr, false);
  if (json.is_discarded()) {
    node.problem = {Kind::kCutOff, "", 0};
    return node;
  }
  if (const ReadError error = ReadSession(json, node.session)) {
    if (error.kind == ReadError::Kind::kMalformed) {
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
  return node;
}

}  // namespace speedup
