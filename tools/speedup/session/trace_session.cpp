#include "session/trace_session.h"

#include <cstdio>

namespace speedup {
namespace {

const char* const TRACE_FORMAT_NAME = "matbench-speedup trace";

}  // namespace

std::string TraceFileName(int run) {
  char name[32];
  std::snprintf(name, sizeof name, "run-%03d.trace", run);
  return name;
}

nlohmann::ordered_json TraceIndexRecord(const TraceSession& session) {
  nlohmann::ordered_json runs = nlohmann::ordered_json::array();
  for (std::size_t i = 0; i < session.trace_files.size(); ++i) {
    const bool traced = !session.trace_files[i].empty();
    runs.push_back({{"trace", traced ? nlohmann::ordered_json(session.trace_files[i])
                                     : nlohmann::ordered_json(nullptr)},
                    {"untraced", traced ? nlohmann::ordered_json(nullptr)
                                        : nlohmann::ordered_json(session.untraced_reasons[i])}});
  }
  return {{"format", TRACE_FORMAT_NAME},
          {"format_version", TRACE_FORMAT_VERSION},
          {"runtime", session.runtime},
          {"traced_session", TRACED_SESSION_FILE},
          {"untraced_session", UNTRACED_SESSION_FILE},
          {"runs", runs}};
}

Result<TraceSession> ReadTraceIndex(const nlohmann::json& json) {
  const auto format = json.is_object() ? json.find("format") : json.end();
  if (format == json.end() || *format != TRACE_FORMAT_NAME) {
    return Fail(FailureKind::kInput, "not a matbench-speedup trace index");
  }
  const auto version = json.find("format_version");
  if (version == json.end() || !version->is_number_integer()) {
    return Fail(FailureKind::kInput, "no format version");
  }
  if (*version != TRACE_FORMAT_VERSION) {
    return Fail(FailureKind::kInput, "format version " + version->dump() +
                                         ", but this tool reads version " +
                                         std::to_string(TRACE_FORMAT_VERSION));
  }
  TraceSession read;
  try {
    read.runtime = json.at("runtime").get<std::string>();
    for (const nlohmann::json& run : json.at("runs")) {
      const nlohmann::json& trace = run.at("trace");
      const nlohmann::json& untraced = run.at("untraced");
      const std::string file = trace.is_null() ? "" : trace.get<std::string>();
      // A file name, never a path: the index cannot point outside its folder.
      if (file.find('/') != std::string::npos || file == "." || file == "..") {
        return Fail(FailureKind::kMalformed, "a trace file name holds a path: " + file);
      }
      if (file.empty() && untraced.is_null()) {
        return Fail(FailureKind::kMalformed, "a run has neither a trace nor a reason for none");
      }
      read.trace_files.push_back(file);
      read.untraced_reasons.push_back(untraced.is_null() ? "" : untraced.get<std::string>());
    }
  } catch (const nlohmann::json::exception& error) {
    return Fail(FailureKind::kMalformed, std::string("malformed trace index: ") + error.what());
  }
  read.traces.resize(read.trace_files.size());
  return read;
}

}  // namespace speedup
