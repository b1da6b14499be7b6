#include "session.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <limits>

#include "bench/sweep.h"
#include "stats.h"

namespace {

const char* const FORMAT_NAME = "matbench-speedup session";

// JSON has no "missing number": an undefined figure is null.
nlohmann::ordered_json Number(const std::optional<double>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json EstimateJson(const Estimate& estimate) {
  return {{"median", Number(estimate.median)},
          {"low", Number(estimate.low)},
          {"high", Number(estimate.high)},
          {"confidence", estimate.confidence},
          {"iqr", estimate.iqr},
          {"outliers", estimate.outliers}};
}

nlohmann::ordered_json FiguresJson(const Figures& figures) {
  nlohmann::ordered_json teams = nlohmann::ordered_json::array();
  for (const TeamFigures& team : figures.teams) {
    teams.push_back({{"threads", team.threads},
                     {"seconds", EstimateJson(team.seconds)},
                     {"speedup_vs_serial", EstimateJson(team.speedup_vs_serial)},
                     {"speedup_vs_one_thread", EstimateJson(team.speedup_vs_one_thread)},
                     {"efficiency", EstimateJson(team.efficiency)},
                     {"median_serial_over_median_time", Number(team.ratio_of_medians)},
                     {"karp_flatt",
                      {{"median", Number(team.karp_flatt)},
                       {"low", Number(team.karp_flatt_low)},
                       {"high", Number(team.karp_flatt_high)}}},
                     {"oversubscribed", team.oversubscribed},
                     {"too_short", team.too_short},
                     {"noisy", team.noisy}});
  }
  return {{"runs", figures.runs},
          {"serial_seconds", EstimateJson(figures.serial)},
          {"serial_too_short", figures.serial_too_short},
          {"drift",
           {{"rho", Number(figures.drift.rho)},
            {"p_value", Number(figures.drift.p_value)},
            {"warn", figures.drift.warn}}},
          {"amdahl_fit",
           {{"team_sizes", figures.amdahl.team_sizes},
            {"a_s", Number(figures.amdahl.a)},
            {"b_s", Number(figures.amdahl.b)},
            {"serial_fraction", Number(figures.amdahl.serial_fraction)},
            {"low", Number(figures.amdahl.low)},
            {"high", Number(figures.amdahl.high)},
            {"speedup_limit", Number(figures.amdahl.limit)},
            {"seed", figures.amdahl.seed},
            {"resamples", figures.amdahl.resamples}}},
          {"team_sizes", teams}};
}

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

// The OMP_* settings under which the runtime may run smaller teams than were asked for.
std::vector<std::string> TeamShrinkingSettings(const Context& context) {
  std::vector<std::string> warnings;
  if (!context.omp_settings) return warnings;
  const auto said = [&](const char* name) -> std::optional<std::string> {
    const auto found = context.omp_settings->find(name);
    if (found == context.omp_settings->end()) return std::nullopt;
    std::string value;
    for (const char c : found->second) {
      if (c != ' ' && c != '\t')
        value += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return value;
  };
  const auto shrinks = [&](const char* setting) {
    warnings.push_back(std::string(setting) +
                       " lets the runtime run smaller teams than the report's team sizes say");
  };
  if (said("OMP_DYNAMIC") == "true" || said("OMP_DYNAMIC") == "1") shrinks("OMP_DYNAMIC=true");
  if (const auto limit = said("OMP_THREAD_LIMIT")) {
    int value = 0;
    const auto [end, error] = std::from_chars(limit->data(), limit->data() + limit->size(), value);
    if (error == std::errc() && end == limit->data() + limit->size() && value < MAX_THREADS) {
      shrinks(("OMP_THREAD_LIMIT=" + *limit).c_str());
    }
  }
  if (said("OMP_MAX_ACTIVE_LEVELS") == "0") shrinks("OMP_MAX_ACTIVE_LEVELS=0");
  return warnings;
}

}  // namespace

std::vector<RunReport> PassedReports(const Session& session) {
  std::vector<RunReport> passed;
  for (const Run& run : session.runs) {
    if (run.report.failure.empty()) passed.push_back(run.report);
  }
  return passed;
}

nlohmann::ordered_json SessionJson(const Session& session, const Figures& figures) {
  nlohmann::ordered_json json;
  json["format"] = FORMAT_NAME;
  json["format_version"] = SESSION_FORMAT_VERSION;
  nlohmann::ordered_json how = nlohmann::ordered_json::object();
  Optional(how, "requested_runs", session.requested_runs);
  Optional(how, "precision", session.precision);
  Optional(how, "placement", session.placement);
  Optional(how, "placement_honoured", session.placement_honoured);
  Optional(how, "interrupted", session.interrupted);
  Optional(how, "stopped", session.stopped);
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
  json["warnings"] = SessionWarnings(session, figures);
  json["figures"] = FiguresJson(figures);
  return json;
}

std::string ReadSession(const nlohmann::json& json, Session& session) {
  const auto format = json.is_object() ? json.find("format") : json.end();
  if (format == json.end() || *format != FORMAT_NAME) return "not a matbench-speedup session JSON";
  const auto version = json.find("format_version");
  if (version == json.end() || !version->is_number_integer()) return "no format version";
  if (*version != SESSION_FORMAT_VERSION) {
    return "format version " + version->dump() + ", but this tool reads version " +
           std::to_string(SESSION_FORMAT_VERSION);
  }
  Session read;
  try {
    const nlohmann::json& how = json.at("session");
    read.requested_runs = RunCount(how, "requested_runs");
    ReadOptional(how, "precision", read.precision);
    ReadOptional(how, "placement", read.placement);
    ReadOptional(how, "placement_honoured", read.placement_honoured);
    ReadOptional(how, "interrupted", read.interrupted);
    ReadOptional(how, "stopped", read.stopped);
    read.context = json.at("context").get<Context>();
    const nlohmann::json& runs = json.at("runs");
    if (!runs.is_array()) return "\"runs\" is not a list";
    for (std::size_t i = 0; i < runs.size(); ++i) {
      const std::string where = "run " + std::to_string(i + 1);
      const nlohmann::json& entry = runs[i];
      Run run;
      run.report.serial_seconds = Seconds(entry.at("serial_s"), where + "'s serial time");
      const nlohmann::json& parallel = entry.at("parallel_s");
      if (!parallel.is_array() || parallel.size() != MAX_THREADS) {
        return where + " has " + std::to_string(parallel.is_array() ? parallel.size() : 0) +
               " team sizes, not " + std::to_string(MAX_THREADS);
      }
      for (int t = 0; t < MAX_THREADS; ++t) {
        run.report.parallel_seconds[t] =
            Seconds(parallel[t], where + "'s time for " + std::to_string(t + 1) + " threads");
      }
      const nlohmann::json& failure = entry.at("failure");
      if (!failure.is_null()) {
        run.report.failure = failure.get<std::string>();
        if (run.report.failure.empty()) return where + " has an empty failure";
      }
      ReadOptional(entry, "cpu_s", run.cpu_seconds);
      ReadOptional(entry, "wall_s", run.wall_seconds);
      read.runs.push_back(run);
    }
  } catch (const nlohmann::json::exception& error) {
    return std::string("malformed session: ") + error.what();
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  if (read.runs.empty()) return "the session holds no runs";
  session = read;
  return "";
}

Figures SessionFigures(const Session& session) {
  return ComputeFigures(PassedReports(session), session.context.processors, session.context.cores);
}

ParallelUse CheckParallelUse(const Session& session) {
  ParallelUse use;
  std::vector<double> ratios;
  for (const Run& run : session.runs) {
    if (run.cpu_seconds && run.wall_seconds && *run.wall_seconds > 0.0) {
      ratios.push_back(*run.cpu_seconds / *run.wall_seconds);
    }
  }
  if (ratios.empty()) return use;
  use.cpu_per_wall = stats::Median(ratios);
  use.one_processor = session.context.processors && *session.context.processors >= 2 &&
                      *use.cpu_per_wall < PARALLEL_CPU_PER_WALL;
  return use;
}

std::vector<std::string> SessionWarnings(const Session& session, const Figures& figures) {
  std::vector<std::string> warnings = TeamShrinkingSettings(session.context);
  if (const std::optional<std::string> load = LoadWarning(session.context)) {
    warnings.push_back(*load);
  }
  if (const std::optional<std::string> allocation = AllocationWarning(session.context)) {
    warnings.push_back(*allocation);
  }
  if (figures.drift.warn) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "the serial time drifted during the session (Spearman rho %.2f against the run "
                  "number, p %.3f): the machine got %s",
                  *figures.drift.rho, *figures.drift.p_value,
                  *figures.drift.rho > 0 ? "slower" : "faster");
    warnings.push_back(text);
  }
  if (session.placement && !session.placement_honoured) {
    warnings.push_back("could not check OMP_PROC_BIND=" + *session.placement +
                       ": the runtime showed no thread affinity");
  } else if (session.placement && !*session.placement_honoured) {
    warnings.push_back("the runtime did not honour OMP_PROC_BIND=" + *session.placement +
                       " with OMP_PLACES=cores: its threads were not bound as asked");
  }
  const ParallelUse use = CheckParallelUse(session);
  if (use.one_processor) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "the runs used about one processor (%.2f s of CPU per second of wall time) "
                  "although teams of several threads were asked for: no speedup here is a "
                  "parallel result",
                  *use.cpu_per_wall);
    warnings.push_back(text);
  }
  return warnings;
}
