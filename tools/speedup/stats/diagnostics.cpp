#include "stats/diagnostics.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iterator>
#include <set>
#include <sstream>

#include "base/text.h"
#include "bench/sweep.h"
#include "stats/quantiles.h"

namespace speedup {
namespace {

// The OMP_* settings under which the runtime may run smaller teams than were asked for.
std::vector<Warning> TeamShrinkingSettings(const Context& context) {
  std::vector<Warning> warnings;
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
  const auto shrinks = [&](const std::string& setting) {
    warnings.push_back(TeamsMayShrink{setting});
  };
  if (said("OMP_DYNAMIC") == "true" || said("OMP_DYNAMIC") == "1") shrinks("OMP_DYNAMIC=true");
  if (const auto limit = said("OMP_THREAD_LIMIT")) {
    int value = 0;
    const auto [end, error] = std::from_chars(limit->data(), limit->data() + limit->size(), value);
    if (error == std::errc() && end == limit->data() + limit->size() && value < MAX_THREADS) {
      shrinks("OMP_THREAD_LIMIT=" + *limit);
    }
  }
  if (said("OMP_MAX_ACTIVE_LEVELS") == "0") shrinks("OMP_MAX_ACTIVE_LEVELS=0");
  return warnings;
}

// The words of `flags` that `other` lacks, in order.
std::vector<std::string> WordsMissingFrom(const std::string& flags, const std::string& other) {
  std::istringstream stream{other};
  const std::set<std::string> others{std::istream_iterator<std::string>(stream),
                                     std::istream_iterator<std::string>()};
  std::istringstream words{flags};
  std::vector<std::string> missing;
  for (std::string word; words >> word;) {
    if (!others.count(word)) missing.push_back(word);
  }
  return missing;
}

std::string FlagsDifference(const std::string& a, const std::string& b) {
  const std::string only_a = Joined(WordsMissingFrom(a, b), " ");
  const std::string only_b = Joined(WordsMissingFrom(b, a), " ");
  // The same words in another order can still differ in effect, as the last -O wins.
  if (only_a.empty() && only_b.empty()) {
    return FitLine({"build flags: " + Shown(a), Shown(b)}, " vs ");
  }
  if (only_a.empty()) return FitLine({"build flags: " + Shown(only_b), "in the second only"}, " ");
  if (only_b.empty()) return FitLine({"build flags: " + Shown(only_a), "in the first only"}, " ");
  return FitLine({"build flags: " + Shown(only_a), Shown(only_b)}, " vs ");
}

template <typename T, typename Show>
void AddDifference(std::vector<std::string>& differences, const char* what,
                   const std::optional<T>& a, const std::optional<T>& b, Show show) {
  if (a && b && *a != *b) {
    differences.push_back(FitLine({what + (": " + show(*a)), show(*b)}, " vs "));
  }
}

std::string IntText(int value) { return std::to_string(value); }

}  // namespace

std::string CachesText(const Caches& caches) {
  if (caches.empty()) return "no caches";
  std::vector<std::string> parts;
  for (const auto& cache : caches) {
    parts.push_back(Shown(cache.name) + " " + ByteCountText(cache.size_bytes));
    if (cache.count != 1) parts.back() += " x" + std::to_string(cache.count);
  }
  return Joined(parts, ", ");
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

std::optional<BusyMachine> LoadWarning(const Context& context) {
  if (!context.load_before || !(*context.load_before >= BUSY_LOAD)) return std::nullopt;
  return BusyMachine{*context.load_before};
}

std::optional<PartialAllocation> AllocationWarning(const Context& context) {
  if (!context.slurm_job_id || !context.processors) return std::nullopt;
  PartialAllocation warning{.received = *context.processors};
  if (context.hardware_threads && warning.received < *context.hardware_threads) {
    warning.whole = *context.hardware_threads;
    warning.whole_is_node = true;
  } else if (context.slurm_cpus_on_node && warning.received < *context.slurm_cpus_on_node) {
    warning.whole = *context.slurm_cpus_on_node;
  } else {
    return std::nullopt;
  }
  return warning;
}

std::optional<AboveProcessors> AboveProcessorsWarning(const Context& context,
                                                      const Figures& figures) {
  std::optional<AboveProcessors> above;
  for (const TeamFigures& team : figures.teams) {
    const int reach = context.processors && *context.processors >= 1
                          ? std::min(team.threads, *context.processors)
                          : team.threads;
    const Estimate& speedup = team.speedup_vs_serial;
    if (!speedup.median || !speedup.low || !speedup.high || !(*speedup.low > reach)) continue;
    if (!above) {
      above =
          AboveProcessors{.threads = team.threads, .speedup = *speedup.median, .processors = reach};
    }
    ++above->teams;
  }
  return above;
}

std::vector<Warning> SessionWarnings(const Session& session, const Figures& figures) {
  std::vector<Warning> warnings = TeamShrinkingSettings(session.context);
  if (const std::optional<BusyMachine> load = LoadWarning(session.context))
    warnings.push_back(*load);
  if (const std::optional<PartialAllocation> allocation = AllocationWarning(session.context)) {
    warnings.push_back(*allocation);
  }
  if (figures.drift.warn) {
    warnings.push_back(SerialDrift{*figures.drift.rho, *figures.drift.p_value});
  }
  // A single run has no order to judge; from two, too few runs are said to be too few.
  if (!figures.drift.judged && figures.runs >= 2) {
    warnings.push_back(DriftNotJudged{figures.runs, figures.drift.runs_to_judge});
  }
  if (session.placement && !session.placement_honoured) {
    warnings.push_back(PlacementUnchecked{*session.placement});
  } else if (session.placement && !*session.placement_honoured) {
    warnings.push_back(PlacementNotHonoured{*session.placement});
  }
  if (const ParallelUse use = CheckParallelUse(session); use.one_processor) {
    warnings.push_back(OneProcessor{*use.cpu_per_wall});
  }
  if (figures.tick.found && figures.runs > 0) {
    warnings.push_back(TickFound{figures.tick.seconds});
  }
  if (const std::optional<AboveProcessors> above =
          AboveProcessorsWarning(session.context, figures)) {
    warnings.push_back(*above);
  }
  return warnings;
}

std::vector<std::string> ContextDifferences(const Context& a, const Context& b) {
  std::vector<std::string> differences;
  const auto text = [](const std::string& value) { return Shown(value); };
  AddDifference(differences, "CPU model", a.cpu_model, b.cpu_model, text);
  AddDifference(differences, "packages", a.packages, b.packages, IntText);
  AddDifference(differences, "cores", a.cores, b.cores, IntText);
  AddDifference(differences, "hardware threads", a.hardware_threads, b.hardware_threads, IntText);
  AddDifference(differences, "caches", a.caches, b.caches, CachesText);
  AddDifference(differences, "processors", a.processors, b.processors, IntText);
  AddDifference(differences, "processor list", a.affinity, b.affinity, text);
  AddDifference(differences, "governor", a.governor, b.governor, text);
  AddDifference(differences, "THP", a.transparent_hugepages, b.transparent_hugepages, text);
  AddDifference(differences, "kernel", a.kernel, b.kernel, text);
  AddDifference(differences, "compiler", a.compiler, b.compiler, text);
  AddDifference(differences, "build type", a.build_type, b.build_type, text);
  if (a.build_flags && b.build_flags && *a.build_flags != *b.build_flags) {
    differences.push_back(FlagsDifference(*a.build_flags, *b.build_flags));
  }
  AddDifference(differences, "OpenMP runtime", a.openmp_runtime, b.openmp_runtime, text);
  AddDifference(differences, "matbench version", a.version, b.version, text);
  if (a.omp_settings && b.omp_settings) {
    std::set<std::string> names;
    for (const auto* settings : {&*a.omp_settings, &*b.omp_settings}) {
      for (const auto& setting : *settings) names.insert(setting.first);
    }
    const auto value = [](const Settings& settings,
                          const std::string& name) -> std::optional<std::string> {
      const auto found = settings.find(name);
      if (found == settings.end()) return std::nullopt;
      return found->second;
    };
    for (const auto& name : names) {
      const auto in_a = value(*a.omp_settings, name);
      const auto in_b = value(*b.omp_settings, name);
      if (in_a == in_b) continue;
      differences.push_back(FitLine(
          {Shown(name) + ": " + (in_a ? Shown(*in_a) : "not set"), in_b ? Shown(*in_b) : "not set"},
          " vs "));
    }
  }
  return differences;
}

SessionAnalysis Analyse(const Session& session) {
  SessionAnalysis analysis;
  analysis.figures = SessionFigures(session);
  analysis.use = CheckParallelUse(session);
  if (session.precision) analysis.unsettled = UnsettledTeams(analysis.figures, *session.precision);
  analysis.warnings = SessionWarnings(session, analysis.figures);
  return analysis;
}

}  // namespace speedup
