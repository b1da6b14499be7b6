#include "session/trace_session.h"

#include <algorithm>
#include <cstdio>

#include "base/policy.h"
#include "base/text.h"
#include "session/json_reader.h"

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

namespace {

constexpr FailureKind MALFORMED = FailureKind::kMalformed;

// The index's format and version, before anything else of it.
Status CheckHeader(const nlohmann::json& json) {
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
  return Success();
}

// One entry of the index's runs into `read`; throws nlohmann's exceptions on a mistyped value.
Status ReadEntry(const nlohmann::json& run, TraceSession& read) {
  if (read.trace_files.size() >= MAX_INPUT_RUNS) {
    return Fail(MALFORMED, "more than " + std::to_string(MAX_INPUT_RUNS) + " traced runs");
  }
  const nlohmann::json& trace = run.at("trace");
  const nlohmann::json& untraced = run.at("untraced");
  const std::string file = trace.is_null() ? "" : trace.get<std::string>();
  // A file name, never a path: the index cannot point outside its folder.
  if (file.find('/') != std::string::npos || file == "." || file == "..") {
    return Fail(MALFORMED,
                "a trace file name holds a path: " + Quoted(Excerpt(file, QUOTED_LINE_BYTES)));
  }
  if (file.empty() && untraced.is_null()) {
    return Fail(MALFORMED, "a run has neither a trace nor a reason for none");
  }
  read.trace_files.push_back(file);
  read.untraced_reasons.push_back(untraced.is_null() ? "" : untraced.get<std::string>());
  return Success();
}

// nlohmann's message without its "[json.exception...] " tag.
Failure MalformedIndex(const nlohmann::json::exception& error) {
  std::string what = error.what();
  if (what.starts_with("[json.exception.") && what.find("] ") != what.npos) {
    what.erase(0, what.find("] ") + 2);
  }
  return Fail(MALFORMED, "malformed trace index: " + Printable(Excerpt(what, QUOTED_LINE_BYTES)));
}

}  // namespace

Result<TraceSession> ReadTraceIndex(const nlohmann::json& json) {
  if (Status header = CheckHeader(json); !header) return header.failure();
  TraceSession read;
  try {
    read.runtime = json.at("runtime").get<std::string>();
    for (const nlohmann::json& run : json.at("runs")) {
      if (Status entry = ReadEntry(run, read); !entry) return entry.failure();
    }
  } catch (const nlohmann::json::exception& error) {
    return MalformedIndex(error);
  }
  read.traces.assign(read.trace_files.size(), nullptr);
  return read;
}

Result<TraceSession> ReadTraceIndexText(std::string_view text) {
  // The runs are read one by one as they are parsed; the figures beside them are skipped.
  static const std::vector<std::string> top = {"format", "format_version", "runtime", "runs"};
  TraceSession read;
  std::optional<Failure> entries_failure;
  JsonShape shape;
  shape.keep = [](const std::vector<std::string>& path) {
    if (path.size() == 1) return std::find(top.begin(), top.end(), path[0]) != top.end();
    return path[0] != "runs" || path.size() > 2 || path[1] == "trace" || path[1] == "untraced";
  };
  shape.streamed = "runs";
  shape.start = [&] {
    read.trace_files.clear();
    read.untraced_reasons.clear();
    entries_failure.reset();
  };
  shape.take = [&](nlohmann::json& entry) {
    try {
      if (Status done = ReadEntry(entry, read); !done) entries_failure = done.failure();
    } catch (const nlohmann::json::exception& error) {
      entries_failure = MalformedIndex(error);
    }
    return !entries_failure;
  };
  JsonFault fault = JsonFault::kNone;
  const Result<nlohmann::json> json = ReadJsonBounded(text, shape, &fault);
  if (!json) {
    if (fault == JsonFault::kStopped && entries_failure) return *entries_failure;
    return Fail(fault == JsonFault::kInterrupted ? FailureKind::kInterrupted
                : fault == JsonFault::kSyntax    ? FailureKind::kNotJson
                                                 : MALFORMED,
                json.failure().message);
  }
  if (Status header = CheckHeader(*json); !header) return header.failure();
  try {
    read.runtime = json->at("runtime").get<std::string>();
    if (!json->at("runs").is_array()) return Fail(MALFORMED, "\"runs\" is not a list");
  } catch (const nlohmann::json::exception& error) {
    return MalformedIndex(error);
  }
  read.traces.assign(read.trace_files.size(), nullptr);
  return read;
}

}  // namespace speedup
