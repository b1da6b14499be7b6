#include "session/session_json.h"

#include <cstdio>
#include <limits>

#include "bench/sweep.h"

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
  const double seconds = value.get<double>();
  if (!IsTime(seconds)) throw std::invalid_argument(where + " is not a time");
  return seconds;
}

}  // namespace

bool SetByUser(const StopReason& reason) {
  return reason.kind == StopReason::Kind::kTimeLimit || reason.kind == StopReason::Kind::kMaxRuns;
}

std::string StopText(const StopReason& reason) {
  switch (reason.kind) {
    case StopReason::Kind::kTimeLimit: {
      char text[64];
      std::snprintf(text, sizeof text, "--time-limit %g s reached", reason.seconds);
      return text;
    }
    case StopReason::Kind::kMaxRuns:
      return "--max-runs " + std::to_string(reason.runs) + " reached";
    case StopReason::Kind::kBenchmarkLost:
      return "the benchmark could not be started again: " + reason.detail;
    case StopReason::Kind::kOther:
      break;
  }
  return reason.detail;
}

StopReason StopFromText(const std::string& text) {
  StopReason reason;
  reason.detail = text;
  double seconds = 0;
  int runs = 0;
  int end = 0;
  const std::string lost = "the benchmark could not be started again: ";
  if (std::sscanf(text.c_str(), "--time-limit %lg s reached%n", &seconds, &end) == 1 &&
      end == static_cast<int>(text.size())) {
    reason = {StopReason::Kind::kTimeLimit, seconds, 0, ""};
  } else if (std::sscanf(text.c_str(), "--max-runs %d reached%n", &runs, &end) == 1 &&
             end == static_cast<int>(text.size())) {
    reason = {StopReason::Kind::kMaxRuns, 0, runs, ""};
  } else if (text.starts_with(lost)) {
    reason = {StopReason::Kind::kBenchmarkLost, 0, 0, text.substr(lost.size())};
  }
  // Only a reason that reads back as it was written is taken for one of the known kinds.
  if (StopText(reason) != text) reason = {StopReason::Kind::kOther, 0, 0, text};
  return reason;
}

std::vector<RunReport> PassedReports(const Session& session) {
  std::vector<RunReport> passed;
  for (const Run& run : session.runs) {
    if (run.report.failure.empty()) passed.push_back(run.report);
  }
  return passed;
}

nlohmann::ordered_json SessionRecord(const Session& session) {
  nlohmann::ordered_json json;
  json["format"] = FORMAT_NAME;
  json["format_version"] = SESSION_FORMAT_VERSION;
  nlohmann::ordered_json how = nlohmann::ordered_json::object();
  Optional(how, "requested_runs", session.requested_runs);
  Optional(how, "precision", session.precision);
  Optional(how, "placement", session.placement);
  Optional(how, "placement_honoured", session.placement_honoured);
  Optional(how, "interrupted", session.interrupted);
  if (session.stopped) how["stopped"] = StopText(*session.stopped);
  json["session"] = how;
  json["context"] = session.context;
  nlohmann::ordered_json runs = nlohmann::ordered_json::array();
  for (const Run& run : session.runs) {
    nlohmann::ordered_json entry;
    entry["serial_s"] = run.report.serial_seconds;
    entry["parallel_s"] = run.report.parallel_seconds;
    entry["failure"] = run.report.failure.empty() ? nlohmann::ordered_json(nullptr)
                                                  : nlohmann::ordered_json(run.report.failure);
    Optional(entry, "cpu_s", run.cpu_seconds);
    Optional(entry, "wall_s", run.wall_seconds);
    runs.push_back(entry);
  }
  json["runs"] = runs;
  return json;
}

ReadError ReadSession(const nlohmann::json& json, Session& session) {
  using Kind = ReadError::Kind;
  const auto format = json.is_object() ? json.find("format") : json.end();
  if (format == json.end() || *format != FORMAT_NAME)
    return {Kind::kNotASession, "not a matbench-speedup session JSON"};
  const auto version = json.find("format_version");
  if (version == json.end() || !version->is_number_integer())
    return {Kind::kNotASession, "no format version"};
  if (*version != SESSION_FORMAT_VERSION) {
    return {Kind::kVersion, "format version " + version->dump() + ", but this tool reads version " +
                                std::to_string(SESSION_FORMAT_VERSION)};
  }
  Session read;
  try {
    const nlohmann::json& how = json.at("session");
    read.requested_runs = RunCount(how, "requested_runs");
    ReadOptional(how, "precision", read.precision);
    ReadOptional(how, "placement", read.placement);
    ReadOptional(how, "placement_honoured", read.placement_honoured);
    ReadOptional(how, "interrupted", read.interrupted);
    std::optional<std::string> stopped;
    ReadOptional(how, "stopped", stopped);
    if (stopped) read.stopped = StopFromText(*stopped);
    read.context = json.at("context").get<Context>();
    const nlohmann::json& runs = json.at("runs");
    if (!runs.is_array()) return {Kind::kMalformed, "\"runs\" is not a list"};
    for (std::size_t i = 0; i < runs.size(); ++i) {
      const std::string where = "run " + std::to_string(i + 1);
      const nlohmann::json& entry = runs[i];
      Run run;
      run.report.serial_seconds = Seconds(entry.at("serial_s"), where + "'s serial time");
      const nlohmann::json& parallel = entry.at("parallel_s");
      if (!parallel.is_array() || parallel.size() != MAX_THREADS) {
        return {Kind::kMalformed, where + " has " +
                                      std::to_string(parallel.is_array() ? parallel.size() : 0) +
                                      " team sizes, not " + std::to_string(MAX_THREADS)};
      }
      for (int t = 0; t < MAX_THREADS; ++t) {
        run.report.parallel_seconds[t] =
            Seconds(parallel[t], where + "'s time for " + std::to_string(t + 1) + " threads");
      }
      const nlohmann::json& failure = entry.at("failure");
      if (!failure.is_null()) {
        run.report.failure = failure.get<std::string>();
        if (run.report.failure.empty()) return {Kind::kMalformed, where + " has an empty failure"};
      }
      ReadOptional(entry, "cpu_s", run.cpu_seconds);
      ReadOptional(entry, "wall_s", run.wall_seconds);
      read.runs.push_back(run);
    }
  } catch (const nlohmann::json::exception& error) {
    return {Kind::kMalformed, std::string("malformed session: ") + error.what()};
  } catch (const std::invalid_argument& error) {
    return {Kind::kMalformed, error.what()};
  }
  if (read.runs.empty()) return {Kind::kMalformed, "the session holds no runs"};
  session = read;
  return {};
}

}  // namespace speedup
