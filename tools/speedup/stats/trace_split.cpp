#include "stats/trace_split.h"

#include <algorithm>
#include <iterator>

#include "stats/quantiles.h"

namespace speedup {
namespace {

constexpr double NS = 1e-9;

// The thread's boundaries between its states, each within the region and after the one before.
struct Marks {
  std::uint64_t loop_begin, loop_end;
};

Marks MarksOf(const ThreadInRegion& thread, const RegionTrace& region) {
  const auto within = [&](std::uint64_t time, std::uint64_t floor) {
    return std::clamp(time, floor, region.end_ns);
  };
  // Without a loop, the implicit task stands for it; without either, the thread never started.
  const std::uint64_t start = thread.loop_begin_ns   ? *thread.loop_begin_ns
                              : thread.task_begin_ns ? *thread.task_begin_ns
                                                     : region.end_ns;
  Marks marks;
  marks.loop_begin = within(start, region.begin_ns);
  std::uint64_t end = region.end_ns;
  if (thread.loop_end_ns) {
    end = *thread.loop_end_ns;
  } else if (!thread.waits.empty()) {
    end = thread.waits.front().begin_ns;
  } else if (thread.task_end_ns) {
    end = *thread.task_end_ns;
  }
  marks.loop_end = within(end, marks.loop_begin);
  return marks;
}

// Wall time less CPU time between two samples of one thread, at least 0; 0 without both.
double OffCore(const std::optional<CpuSample>& from, const std::optional<CpuSample>& to) {
  if (!from || !to || to->wall_ns < from->wall_ns) return 0.0;
  const double wall = (to->wall_ns - from->wall_ns) * NS;
  const double cpu = to->cpu_ns > from->cpu_ns ? (to->cpu_ns - from->cpu_ns) * NS : 0.0;
  return std::max(0.0, wall - cpu);
}

// The tool's own time on the thread within [begin, end].
double ToolWithin(const ThreadInRegion& thread, std::uint64_t begin, std::uint64_t end) {
  double seconds = 0.0;
  for (const ToolSpan& span : thread.tool) {
    const std::uint64_t from = std::max(span.begin_ns, begin), to = std::min(span.end_ns, end);
    if (to > from) seconds += (to - from) * NS;
  }
  return seconds;
}

// One thread's states in seconds, added into `split`.
void AddThread(const ThreadInRegion& thread, const Marks& m, std::uint64_t last_arrival,
               const RegionTrace& region, RegionSplit& split) {
  const double fork_wall = (m.loop_begin - region.begin_ns) * NS;
  const double tool = std::min(fork_wall, ToolWithin(thread, region.begin_ns, m.loop_begin));
  const double fork_off =
      std::min(fork_wall - tool, OffCore(thread.cpu_at_region_begin, thread.cpu_at_task_begin));
  const double loop = (m.loop_end - m.loop_begin) * NS;
  double imbalance = (last_arrival - m.loop_end) * NS;
  // Off a core over the task: shared between its loop and the rest of its task (its wait at
  // the barrier) in proportion to their wall times, as no sample says when within the task.
  const double task_off = OffCore(thread.cpu_at_task_begin, thread.cpu_at_task_end);
  double task_wall = 0.0;
  if (thread.cpu_at_task_begin && thread.cpu_at_task_end &&
      thread.cpu_at_task_end->wall_ns > thread.cpu_at_task_begin->wall_ns) {
    task_wall = (thread.cpu_at_task_end->wall_ns - thread.cpu_at_task_begin->wall_ns) * NS;
  }
  const double loop_share = task_wall > 0.0 ? std::min(1.0, loop / task_wall) : 1.0;
  const double loop_off = std::min(loop, task_off * loop_share);
  const double wait_off = std::min(imbalance, task_off - loop_off);
  imbalance -= wait_off;
  const double on_core = loop - loop_off;
  // Each claim, and the last one that finds no row left, costs one claim.
  const double scheduling =
      split.claims_seen && split.claim_seconds
          ? std::min(on_core, *split.claim_seconds * (thread.claims.size() + 1))
          : 0.0;
  split.fork += fork_wall - tool - fork_off;
  split.tool += tool;
  split.core_wait += fork_off + loop_off + wait_off;
  split.scheduling += scheduling;
  split.work += on_core - scheduling;
  split.max_work = std::max(split.max_work, on_core - scheduling);
  split.imbalance += imbalance;
  split.join += (region.end_ns - last_arrival) * NS;
  split.cpu_seen = split.cpu_seen || thread.cpu_at_task_end.has_value();
  if (thread.cpu_at_task_begin && thread.cpu_at_task_end && thread.cpu_at_task_begin->cpu &&
      thread.cpu_at_task_end->cpu &&
      *thread.cpu_at_task_begin->cpu != *thread.cpu_at_task_end->cpu) {
    ++split.migrations;
  }
}

}  // namespace

std::optional<double> RowSeconds(const RunTrace& run) {
  for (const RegionTrace& region : run.regions) {
    if (region.requested_team != 1 || region.threads.size() != 1) continue;
    const ThreadInRegion& thread = region.threads.front();
    if (!thread.loop_begin_ns || !thread.loop_end_ns || thread.loop_iterations == 0 ||
        *thread.loop_end_ns <= *thread.loop_begin_ns) {
      continue;
    }
    const double loop = (*thread.loop_end_ns - *thread.loop_begin_ns) * NS;
    const double off = std::min(loop, OffCore(thread.cpu_at_task_begin, thread.cpu_at_task_end));
    return (loop - off) / static_cast<double>(thread.loop_iterations);
  }
  return std::nullopt;
}

std::optional<double> ClaimCost(const RegionTrace& region, double row_seconds) {
  std::vector<double> costs;
  for (const ThreadInRegion& thread : region.threads) {
    for (std::size_t i = 1; i < thread.claims.size(); ++i) {
      const RowClaim& before = thread.claims[i - 1];
      const double gap = thread.claims[i].at_ns > before.at_ns
                             ? (thread.claims[i].at_ns - before.at_ns) * NS
                             : 0.0;
      costs.push_back(std::max(0.0, gap - before.rows * row_seconds));
    }
  }
  if (costs.empty()) return std::nullopt;
  return stats::Median(costs);
}

RegionSplit SplitRegion(const RegionTrace& region, std::optional<double> row_seconds) {
  RegionSplit split;
  split.team = region.requested_team;
  split.granted = region.granted_team;
  split.threads = static_cast<std::uint32_t>(region.threads.size());
  split.seconds = (region.end_ns - region.begin_ns) * NS;
  if (region.threads.empty()) {
    split.join = split.seconds;  // nothing seen but the region itself
    return split;
  }
  for (const ThreadInRegion& thread : region.threads) split.claims_seen |= !thread.claims.empty();
  if (split.claims_seen && row_seconds) split.claim_seconds = ClaimCost(region, *row_seconds);

  std::vector<Marks> marks;
  std::uint64_t last_arrival = region.begin_ns;
  for (const ThreadInRegion& thread : region.threads) {
    marks.push_back(MarksOf(thread, region));
    last_arrival = std::max(last_arrival, marks.back().loop_end);
  }
  for (std::size_t i = 0; i < region.threads.size(); ++i) {
    const ThreadInRegion& thread = region.threads[i];
    if (split.claims_seen) {
      std::uint64_t rows = 0;
      for (const RowClaim& claim : thread.claims) rows += claim.rows;
      split.rows.push_back(rows);
      if (rows == 0) ++split.idle_threads;
    }
    AddThread(thread, marks[i], last_arrival, region, split);
  }
  const double threads = static_cast<double>(region.threads.size());
  for (double* share : {&split.fork, &split.tool, &split.core_wait, &split.work, &split.scheduling,
                        &split.imbalance, &split.join}) {
    *share /= threads;
  }
  return split;
}

ClippedWaits ClipWaits(const RegionTrace& region, const ThreadInRegion& thread) {
  ClippedWaits clipped;
  for (const BarrierWait& wait : thread.waits) {
    const std::uint64_t begin = std::clamp(wait.begin_ns, region.begin_ns, region.end_ns);
    const std::uint64_t end = std::clamp(wait.end_ns, begin, region.end_ns);
    clipped.inside.push_back({begin, end});
    if (wait.end_ns > region.end_ns) {
      clipped.idle.push_back({std::max(wait.begin_ns, region.end_ns), wait.end_ns});
    }
  }
  return clipped;
}

std::vector<CoreInterval> CoreIntervals(const ThreadInRegion& thread) {
  const std::optional<CpuSample>* readings[] = {&thread.cpu_at_region_begin,
                                                &thread.cpu_at_task_begin, &thread.cpu_at_task_end};
  std::vector<CoreInterval> intervals;
  for (std::size_t i = 0; i + 1 < std::size(readings); ++i) {
    if (!*readings[i] || !*readings[i + 1]) continue;
    const CpuSample& from = **readings[i];
    const CpuSample& to = **readings[i + 1];
    if (to.wall_ns < from.wall_ns) continue;
    CoreInterval interval;
    interval.begin_ns = from.wall_ns;
    interval.end_ns = to.wall_ns;
    const std::uint64_t cpu = to.cpu_ns > from.cpu_ns ? to.cpu_ns - from.cpu_ns : 0;
    interval.on_core_ns = std::min(cpu, to.wall_ns - from.wall_ns);
    interval.cpu_at_begin = from.cpu;
    interval.cpu_at_end = to.cpu;
    interval.before_task = i == 0;
    intervals.push_back(interval);
  }
  return intervals;
}

Efficiencies EfficienciesOf(const RegionSplit& split) {
  Efficiencies e;
  if (split.seconds <= 0.0 || split.max_work <= 0.0) return e;
  e.load_balance = split.work / split.max_work;
  e.transfer = split.max_work / split.seconds;
  e.parallel = e.load_balance * e.transfer;
  return e;
}

DominantLoss DominantLossOf(const RegionSplit& split) {
  const std::pair<Loss, double> losses[] = {
      {Loss::kFork, split.fork},           {Loss::kTool, split.tool},
      {Loss::kCoreWait, split.core_wait},  {Loss::kScheduling, split.scheduling},
      {Loss::kImbalance, split.imbalance}, {Loss::kJoin, split.join}};
  double lost = 0.0;
  DominantLoss dominant;
  double most = 0.0;
  for (const auto& [state, seconds] : losses) {
    lost += seconds;
    if (seconds > most) {
      most = seconds;
      dominant.state = state;
    }
  }
  if (lost > 0.0) dominant.share = most / lost;
  return dominant;
}

std::optional<double> StateShare(const RegionSplit& split, double seconds) {
  if (!(split.seconds > 0.0)) return std::nullopt;
  return seconds / split.seconds;
}

}  // namespace speedup
