#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/session.h"
#include "session/session_json.h"
#include "session/trace.h"

// A traced session: runs of the benchmark under the trace tool, and as many runs on the same
// OpenMP runtime without it, interleaved, so the tool's cost can be told from the machine's drift.
// Saved as a folder: the two sessions as ordinary session files (so `compare` reads them), every
// raw trace beside them, and an index that ties each traced run to its trace.
namespace speedup {

// The file names in a trace folder.
inline constexpr const char* TRACE_INDEX_FILE = "trace.json";
inline constexpr const char* TRACED_SESSION_FILE = "traced.json";
inline constexpr const char* UNTRACED_SESSION_FILE = "untraced.json";

// Version of the trace index this tool writes and reads.
inline constexpr int TRACE_FORMAT_VERSION = 1;

struct TraceSession {
  Session traced;       // runs under the tool, in order
  Session untraced;     // runs on the same runtime without it, interleaved with those
  std::string runtime;  // how the runtime was brought in, e.g. "LLVM's libomp.so.5, preloaded"
  // For each traced run: its raw trace's file name in the folder (empty when it has none), the
  // trace read from it, or why there is none. Runs that name one file share its trace.
  std::vector<std::string> trace_files;
  std::vector<std::shared_ptr<const RunTrace>> traces;
  std::vector<std::string> untraced_reasons;
};

// The raw trace's file name for traced run `run` (from 1): "run-001.trace".
std::string TraceFileName(int run);

// The index: format, version, runtime, the two session files and each run's trace or reason.
nlohmann::ordered_json TraceIndexRecord(const TraceSession& session);

// The index's runtime, trace file names and reasons, with room for each trace; the sessions and
// the traces themselves are read by the caller. Fails with kInput for another format or version,
// kMalformed for a missing or impossible value.
Result<TraceSession> ReadTraceIndex(const nlohmann::json& json);

// Reads the index from its file's bytes as ReadTraceIndex does, each run as it is parsed and the
// rest of the file (the figures) skipped unbuilt: memory as the runs', at most MAX_INPUT_RUNS of
// them. Not JSON: kNotJson; an interrupt: kInterrupted.
Result<TraceSession> ReadTraceIndexText(std::string_view text);

}  // namespace speedup
