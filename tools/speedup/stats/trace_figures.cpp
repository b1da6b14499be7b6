#include "stats/trace_figures.h"

#include <algorithm>

#include "bench/sweep.h"
#include "stats/quantiles.h"

namespace speedup {
namespace {

// One team size's values over the runs, gathered before they are summarised.
struct Gathered {
  std::vector<std::optional<double>> region_ms, report_ms, fork, tool, core_wait, work, scheduling,
      imbalance, join, traced_speedup, report_speedup;
  std::vector<double> rows_min, rows_median, rows_max;
  std::vector<RegionSplit> splits;
};

void Gather(Gathered& team, const RegionSplit& split, const RunReport& report,
            const std::optional<RegionSplit>& one_thread, int threads, TeamTrace& figures) {
  const double report_seconds = report.parallel_seconds[threads - 1];
  team.region_ms.push_back(split.seconds * 1e3);
  team.splits.push_back(split);
  team.report_ms.push_back(report_seconds * 1e3);
  const auto share = [&split](double seconds) { return StateShare(split, seconds); };
  team.fork.push_back(share(split.fork));
  team.tool.push_back(share(split.tool));
  team.core_wait.push_back(share(split.core_wait));
  team.work.push_back(share(split.work));
  team.scheduling.push_back(share(split.scheduling));
  team.imbalance.push_back(share(split.imbalance));
  team.join.push_back(share(split.join));
  team.traced_speedup.push_back(one_thread ? Ratio(one_thread->seconds, split.seconds)
                                           : std::nullopt);
  team.report_speedup.push_back(Ratio(report.parallel_seconds[0], report_seconds));
  if (!split.rows.empty()) {
    std::vector<double> rows(split.rows.begin(), split.rows.end());
    team.rows_min.push_back(*std::min_element(rows.begin(), rows.end()));
    team.rows_median.push_back(stats::Median(rows));
    team.rows_max.push_back(*std::max_element(rows.begin(), rows.end()));
  }
  figures.idle_threads = std::max(figures.idle_threads, split.idle_threads);
  figures.threads_seen = std::max(figures.threads_seen, split.threads);
  if (split.granted > 0) {
    figures.granted_least =
        figures.granted_least == 0 ? split.granted : std::min(figures.granted_least, split.granted);
  }
  figures.migrations = std::max(figures.migrations, split.migrations);
  figures.claims_seen = figures.claims_seen || split.claims_seen;
  ++figures.runs;
}

std::optional<double> MedianOf(const std::vector<double>& values) {
  if (values.empty()) return std::nullopt;
  return stats::Median(values);
}

// The tool's set-up of each run in milliseconds, gathered before their medians are taken.
struct SetUps {
  std::vector<double> prepared, made, sampling;
};

void GatherSetUp(const RunTrace& trace, SetUps& setups, TraceFigures& figures) {
  if (trace.buffers_prepared == 0 && trace.buffers_made_on_begin == 0) return;  // first version
  setups.prepared.push_back(trace.prepared_ns * 1e-6);
  setups.made.push_back(trace.made_on_begin_ns * 1e-6);
  setups.sampling.push_back(trace.sampling_ns * 1e-6);
  figures.buffers_prepared = trace.buffers_prepared;
  figures.buffers_made_on_begin = trace.buffers_made_on_begin;
}

}  // namespace

std::vector<std::optional<RegionSplit>> SplitsByTeam(const RunTrace& run) {
  std::vector<std::optional<RegionSplit>> splits(MAX_THREADS);
  const std::optional<double> row_seconds = RowSeconds(run);
  for (const RegionTrace& region : run.regions) {
    const std::uint32_t team = region.requested_team;
    if (team >= 1 && team <= MAX_THREADS && !splits[team - 1]) {
      splits[team - 1] = SplitRegion(region, row_seconds);
    }
  }
  return splits;
}

TraceFigures ComputeTraceFigures(const TraceSession& session) {
  TraceFigures figures;
  std::vector<Gathered> gathered(MAX_THREADS);
  std::vector<TeamTrace> teams(MAX_THREADS);
  SetUps setups;
  for (std::size_t i = 0; i < session.traced.runs.size() && i < session.traces.size(); ++i) {
    const Run& run = session.traced.runs[i];
    if (!run.report.Passed() || !session.traces[i]) continue;
    ++figures.traced_runs;
    const RunTrace& trace = *session.traces[i];
    figures.lost_events += trace.lost_events;
    GatherSetUp(trace, setups, figures);
    const std::vector<std::optional<RegionSplit>> splits = SplitsByTeam(*session.traces[i]);
    for (int threads = 1; threads <= MAX_THREADS; ++threads) {
      if (!splits[threads - 1]) continue;
      Gather(gathered[threads - 1], *splits[threads - 1], run.report, splits[0], threads,
             teams[threads - 1]);
    }
  }
  for (int threads = 1; threads <= MAX_THREADS; ++threads) {
    TeamTrace& team = teams[threads - 1];
    const Gathered& values = gathered[threads - 1];
    if (team.runs == 0) continue;
    team.threads = threads;
    team.region_ms = Estimated(values.region_ms);
    team.report_ms = Estimated(values.report_ms);
    team.fork = Estimated(values.fork);
    team.tool = Estimated(values.tool);
    team.core_wait = Estimated(values.core_wait);
    team.work = Estimated(values.work);
    team.scheduling = Estimated(values.scheduling);
    team.imbalance = Estimated(values.imbalance);
    team.join = Estimated(values.join);
    team.traced_speedup = Estimated(values.traced_speedup);
    team.report_speedup = Estimated(values.report_speedup);
    team.rows_min = MedianOf(values.rows_min);
    team.rows_median = MedianOf(values.rows_median);
    team.rows_max = MedianOf(values.rows_max);
    std::vector<RegionSplit> by_time = values.splits;
    std::sort(by_time.begin(), by_time.end(),
              [](const RegionSplit& a, const RegionSplit& b) { return a.seconds < b.seconds; });
    team.typical = by_time[(by_time.size() - 1) / 2];
    team.efficiencies = EfficienciesOf(team.typical);
    team.dominant = DominantLossOf(team.typical);
    const std::optional<int> processors = session.traced.context.processors;
    team.oversubscribed = processors && *processors > 0 && threads > *processors;
    figures.teams.push_back(team);
  }
  figures.prepared_ms = MedianOf(setups.prepared);
  figures.made_on_begin_ms = MedianOf(setups.made);
  figures.sampling_ms = MedianOf(setups.sampling);
  if (HasPassedRun(session.traced) && HasPassedRun(session.untraced)) {
    figures.overhead = CompareSessions(session.untraced, session.traced);
  }
  return figures;
}

std::optional<std::size_t> MedianRun(const TraceSession& session, int team) {
  std::vector<std::pair<double, std::size_t>> times;
  for (std::size_t i = 0; i < session.traces.size(); ++i) {
    if (!session.traces[i]) continue;
    const std::vector<std::optional<RegionSplit>> splits = SplitsByTeam(*session.traces[i]);
    if (splits[team - 1]) times.push_back({splits[team - 1]->seconds, i});
  }
  if (times.empty()) return std::nullopt;
  std::sort(times.begin(), times.end());
  return times[(times.size() - 1) / 2].second;
}

std::vector<TraceWarning> TraceWarnings(const TraceSession& session, const TraceFigures& figures) {
  using Kind = TraceWarning::Kind;
  std::vector<TraceWarning> warnings;
  if (figures.lost_events > 0) warnings.push_back({Kind::kLostEvents, 0, figures.lost_events, ""});
  for (std::size_t i = 0; i < session.traced.runs.size(); ++i) {
    const int run = static_cast<int>(i) + 1;
    if (const std::optional<RunFailure>& failure = session.traced.runs[i].report.failure) {
      warnings.push_back({Kind::kTracedRunFailed, run, 0, RunFailureText(*failure)});
    } else if (i < session.untraced_reasons.size() && !session.untraced_reasons[i].empty()) {
      warnings.push_back({Kind::kRunUntraced, run, 0, session.untraced_reasons[i]});
    }
  }
  for (std::size_t i = 0; i < session.untraced.runs.size(); ++i) {
    if (const std::optional<RunFailure>& failure = session.untraced.runs[i].report.failure) {
      warnings.push_back(
          {Kind::kUntracedRunFailed, static_cast<int>(i) + 1, 0, RunFailureText(*failure)});
    }
  }
  return warnings;
}

}  // namespace speedup
