#include "session/session_json.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "base/interrupts.h"
#include "base/policy.h"
#include "base/text.h"
#include "bench/sweep.h"
#include "session/json_reader.h"

namespace speedup {
namespace {

const char* const FORMAT_NAME = "matbench-speedup session";

template <typename Value>
void Optional(nlohmann::ordered_json& object, const char* key, const std::optional<Value>& value) {
  if (value) object[key] = *value;
}

template <typename Value>
void ReadOptional(const nlohmann::json& object, const char* key, std::optional<Value>& value) {
  const auto found = object.find(key);
  if (found != object.end() && !found->is_null()) value = found->get<Value>();
}

// How many runs were asked for: an integer from 1 up, within int. Read as int by nlohmann, 1e300
// would be converted as it stands (undefined) and 2.5 cut to 2.
std::optional<int> RunCount(const nlohmann::json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) return std::nullopt;
  constexpr auto most = static_cast<std::uint64_t>(std::numeric_limits<int>::max());
  if (found->is_number_unsigned()) {
    const auto count = found->get<std::uint64_t>();
    if (count >= 1 && count <= most) return static_cast<int>(count);
  } else if (found->is_number_integer()) {
    const auto count = found->get<std::int64_t>();
    if (count >= 1 && static_cast<std::uint64_t>(count) <= most) return static_cast<int>(count);
  }
  throw std::invalid_argument(std::string(key) + " " + found->dump() + " is not a number of runs");
}

// A time by the report parser's own rule, so that whatever it took reads back.
double Seconds(const nlohmann::json& value, const std::string& where) {
  if (!value.is_number())
    throw std::invalid_argument(where + " is not a time: " + Shown(value.dump()));
  const double seconds = value.get<double>();
  if (!IsTime(seconds)) throw std::invalid_argument(where + " is not a time");
  return seconds;
}

// nlohmann's message without its "[json.exception.type_error.302] " tag, which names nothing a
// user wrote.
std::string Malformed(const nlohmann::json::exception& error) {
  std::string what = error.what();
  if (what.starts_with("[json.exception.")) {
    const std::size_t end = what.find("] ");
    if (end != what.npos) what.erase(0, end + 2);
  }
  return "malformed session: " + Printable(Excerpt(what, QUOTED_LINE_BYTES));
}

}  // namespace

nlohmann::ordered_json SessionRecord(const Session& session) {
  nlohmann::ordered_json json;
  json["format"] = FORMAT_NAME;
  json["format_version"] = SESSION_FORMAT_VERSION;
  nlohmann::ordered_json how = nlohmann::ordered_json::object();
  Optional(how, "requested_runs", session.requested_runs);
  Optional(how, "precision", session.precision);
  Optional(how, "placement", session.placement);
  Optional(how, "placement_honoured", session.placement_honoured);
  if (session.interrupted) how["interrupted"] = InterruptName(*session.interrupted);
  if (session.stopped) how["stopped"] = StopText(*session.stopped);
  json["session"] = how;
  json["context"] = session.context;
  const auto listed = [](const std::vector<Run>& runs) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Run& run : runs) {
      nlohmann::ordered_json entry;
      entry["serial_s"] = run.report.serial_seconds;
      entry["parallel_s"] = run.report.parallel_seconds;
      entry["failure"] = run.report.failure
                             ? nlohmann::ordered_json(RunFailureText(*run.report.failure))
                             : nlohmann::ordered_json(nullptr);
      Optional(entry, "cpu_s", run.cpu_seconds);
      Optional(entry, "wall_s", run.wall_seconds);
      list.push_back(entry);
    }
    return list;
  };
  // Apart from "runs", so that no reader counts them among the figures; written only when made.
  if (!session.warmup_runs.empty()) json["warmup_runs"] = listed(session.warmup_runs);
  json["runs"] = listed(session.runs);
  return json;
}

namespace {

constexpr FailureKind MALFORMED = FailureKind::kMalformed;

// Run `index` (from 0) of a session file, a warm-up run's where `warmup`; a kMalformed failure
// on a missing, mistyped or impossible value.
Status ReadRun(const nlohmann::json& entry, std::size_t index, Run& run, bool warmup = false) {
  const std::string where = (warmup ? "warm-up run " : "run ") + std::to_string(index + 1);
  try {
    if (!entry.is_object()) return Fail(MALFORMED, where + " is not an object");
    run.report.serial_seconds = Seconds(entry.at("serial_s"), where + "'s serial time");
    const nlohmann::json& parallel = entry.at("parallel_s");
    if (!parallel.is_array() || parallel.size() != MAX_THREADS) {
      return Fail(MALFORMED, where + " has " +
                                 std::to_string(parallel.is_array() ? parallel.size() : 0) +
                                 " team sizes, not " + std::to_string(MAX_THREADS));
    }
    for (int t = 0; t < MAX_THREADS; ++t) {
      run.report.parallel_seconds[t] =
          Seconds(parallel[t], where + "'s time for " + std::to_string(t + 1) + " threads");
    }
    const nlohmann::json& failure = entry.at("failure");
    if (!failure.is_null()) {
      const std::string text = failure.get<std::string>();
      if (text.empty()) return Fail(MALFORMED, where + " has an empty failure");
      run.report.failure = RunFailureFromText(text);
    }
    ReadOptional(entry, "cpu_s", run.cpu_seconds);
    ReadOptional(entry, "wall_s", run.wall_seconds);
  } catch (const nlohmann::json::exception& error) {
    return Fail(MALFORMED, Malformed(error));
  } catch (const std::invalid_argument& error) {
    return Fail(MALFORMED, error.what());
  }
  return Success();
}

std::string TooManyRuns() {
  return "more than " + std::to_string(MAX_INPUT_RUNS) + " runs, more than any session makes";
}

// Whether `json` is a session file of the version this tool reads.
Status CheckFormat(const nlohmann::json& json) {
  const auto format = json.is_object() ? json.find("format") : json.end();
  if (format == json.end() || *format != FORMAT_NAME)
    return Fail(FailureKind::kInput, "not a matbench-speedup session JSON");
  const auto version = json.find("format_version");
  if (version == json.end() || !version->is_number_integer())
    return Fail(FailureKind::kInput, "no format version");
  if (*version != SESSION_FORMAT_VERSION) {
    return Fail(FailureKind::kInput, "format version " + version->dump() +
                                         ", but this tool reads version " +
                                         std::to_string(SESSION_FORMAT_VERSION));
  }
  return Success();
}

// The session of `json`, whose runs are `runs` when given (read as they were parsed, the first
// failure among them `runs_failure`) and else its own "runs".
Result<Session> ReadSessionFrom(const nlohmann::json& json, std::vector<Run>* runs,
                                const std::optional<Failure>& runs_failure) {
  if (Status format = CheckFormat(json); !format) return format.failure();
  Session read;
  try {
    const nlohmann::json& how = json.at("session");
    read.requested_runs = RunCount(how, "requested_runs");
    ReadOptional(how, "precision", read.precision);
    // As --precision takes it: a fraction above 0 and below 1.
    if (read.precision && !(*read.precision > 0.0 && *read.precision < 1.0)) {
      return Fail(MALFORMED, "precision " + NumberText(*read.precision) +
                                 " is not a fraction above 0 and below 1");
    }
    ReadOptional(how, "placement", read.placement);
    ReadOptional(how, "placement_honoured", read.placement_honoured);
    std::optional<std::string> interrupted;
    ReadOptional(how, "interrupted", interrupted);
    if (interrupted) read.interrupted = InterruptFromName(*interrupted);
    std::optional<std::string> stopped;
    ReadOptional(how, "stopped", stopped);
    if (stopped) read.stopped = StopFromText(*stopped);
    read.context = json.at("context").get<Context>();
    const nlohmann::json& listed = json.at("runs");
    if (!listed.is_array()) return Fail(MALFORMED, "\"runs\" is not a list");
    if (runs == nullptr) {
      if (listed.size() > MAX_INPUT_RUNS) return Fail(MALFORMED, TooManyRuns());
      for (std::size_t i = 0; i < listed.size(); ++i) {
        Run run;
        if (Status done = ReadRun(listed[i], i, run); !done) return done.failure();
        read.runs.push_back(std::move(run));
      }
    } else if (runs_failure) {
      return *runs_failure;
    }
    // Files written before --warmup hold none.
    if (const auto warmups = json.find("warmup_runs"); warmups != json.end()) {
      if (!warmups->is_array()) return Fail(MALFORMED, "\"warmup_runs\" is not a list");
      if (warmups->size() > MAX_INPUT_RUNS) return Fail(MALFORMED, TooManyRuns());
      for (std::size_t i = 0; i < warmups->size(); ++i) {
        Run run;
        if (Status done = ReadRun((*warmups)[i], i, run, true); !done) return done.failure();
        read.warmup_runs.push_back(std::move(run));
      }
    }
  } catch (const nlohmann::json::exception& error) {
    return Fail(MALFORMED, Malformed(error));
  } catch (const std::invalid_argument& error) {
    return Fail(MALFORMED, error.what());
  }
  if (runs != nullptr) read.runs = std::move(*runs);
  if (read.runs.empty()) return Fail(MALFORMED, "the session holds no runs");
  // Grown one run at a time, the lists keep up to twice their size: a merge holds every node's.
  read.runs.shrink_to_fit();
  read.warmup_runs.shrink_to_fit();
  return read;
}

// The keys a session file's reader knows, by the object they belong to; the values of every
// other key (the figures and warnings written beside, a later version's additions) are skipped
// unread.
bool KnownKey(const std::vector<std::string>& path) {
  static const std::vector<std::string> top = {"format",  "format_version", "session",
                                               "context", "warmup_runs",    "runs"};
  static const std::vector<std::string> how = {"requested_runs",     "precision",   "placement",
                                               "placement_honoured", "interrupted", "stopped"};
  static const std::vector<std::string> run = {"serial_s", "parallel_s", "failure", "cpu_s",
                                               "wall_s"};
  static const std::vector<std::string> context = {
#define MATBENCH_CONTEXT_KEY(type, name) #name,
      MATBENCH_CONTEXT_FIELDS(MATBENCH_CONTEXT_KEY)
#undef MATBENCH_CONTEXT_KEY
  };
  const auto among = [&](const std::vector<std::string>& keys) {
    return std::find(keys.begin(), keys.end(), path.back()) != keys.end();
  };
  if (path.size() == 1) return among(top);
  if (path.size() > 2) return true;  // inside a known value: caches, settings
  if (path[0] == "session") return among(how);
  if (path[0] == "context") return among(context);
  if (path[0] == "runs" || path[0] == "warmup_runs") return among(run);
  return true;
}

}  // namespace

Result<Session> ReadSessionText(std::string_view text) {
  // Each element of the top-level "runs" list becomes a Run as soon as it is parsed and is then
  // dropped; a later "runs" key starts the list afresh, as the document's own last value would.
  std::vector<Run> runs;
  std::optional<Failure> runs_failure;
  std::size_t index = 0;  // of the next run in it
  JsonShape shape;
  shape.keep = KnownKey;
  shape.streamed = "runs";
  shape.start = [&] {
    runs.clear();
    runs_failure.reset();
    index = 0;
  };
  shape.take = [&](nlohmann::json& entry) {
    if (!runs_failure) {
      Run run;
      Status done =
          index >= MAX_INPUT_RUNS ? Fail(MALFORMED, TooManyRuns()) : ReadRun(entry, index, run);
      if (done) {
        runs.push_back(std::move(run));
      } else {
        runs_failure = done.failure();
      }
    }
    ++index;
    // Past the most runs a file may hold, the rest need not be read.
    return index <= MAX_INPUT_RUNS;
  };
  JsonFault fault = JsonFault::kNone;
  const Result<nlohmann::json> read = ReadJsonBounded(text, shape, &fault);
  if (!read) {
    switch (fault) {
      case JsonFault::kInterrupted:
        return Fail(FailureKind::kInterrupted, read.failure().message);
      case JsonFault::kStopped:
        return runs_failure ? *runs_failure : Fail(MALFORMED, TooManyRuns());
      case JsonFault::kSyntax:
        return Fail(FailureKind::kNotJson, read.failure().message);
      default:
        return Fail(MALFORMED, read.failure().message);
    }
  }
  const nlohmann::json& json = *read;
  if (!json.is_object() || json.find("runs") == json.end() || !json.at("runs").is_array()) {
    return ReadSessionFrom(json, nullptr, std::nullopt);
  }
  return ReadSessionFrom(json, &runs, runs_failure);
}

}  // namespace speedup
