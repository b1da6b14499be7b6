#pragma once

// Small traced runs for the exports' tests, and what each export must show of them.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "session/trace.h"

namespace speedup {

// A run of two regions, all times in ns from 1,000,000:
//   region 1, a team of 1: the initial thread claims rows 0-3 as one chunk;
//   region 2, a team of 3: thread 0 claims rows 0 and 2, then waits at the barrier; thread 1
//   claims rows 1 and 3; thread 2 claims nothing.
inline RunTrace SmallTeam() {
  RunTrace trace;
  trace.runtime = "LLVM OMP version: 5.0.20140926";
  trace.runtime_library = "/usr/lib/llvm-19/lib/libomp.so.5";
  trace.omp_version = 201611;
  trace.rows_seen = trace.waits_seen = true;
  trace.threads = 3;

  RegionTrace alone;
  alone.number = 1;
  alone.requested_team = alone.granted_team = 1;
  alone.begin_ns = 1'000'000;
  alone.end_ns = 1'100'000;
  ThreadInRegion initial;
  initial.task_begin_ns = 1'000'500;
  initial.task_end_ns = 1'099'000;
  initial.loop_begin_ns = 1'001'000;
  initial.loop_end_ns = 1'098'000;
  initial.claims = {{0, 4, 1'001'234}};
  alone.threads = {initial};

  RegionTrace team;
  team.number = 2;
  team.requested_team = team.granted_team = 3;
  team.begin_ns = 2'000'000;
  team.end_ns = 2'500'000;
  ThreadInRegion first;
  first.task_begin_ns = 2'000'100;
  first.task_end_ns = 2'499'000;
  first.loop_begin_ns = 2'000'200;
  first.loop_end_ns = 2'400'000;
  first.claims = {{0, 1, 2'000'300}, {2, 1, 2'150'000}};
  first.waits = {{2'400'100, 2'498'000}};
  ThreadInRegion second;
  second.slot = second.index = 1;
  second.task_begin_ns = 2'010'000;
  second.task_end_ns = 2'499'500;
  second.loop_begin_ns = 2'010'100;
  second.loop_end_ns = 2'490'000;
  second.claims = {{1, 1, 2'010'200}, {3, 1, 2'200'000}};
  ThreadInRegion third;
  third.slot = third.index = 2;
  third.task_begin_ns = 2'020'000;
  third.task_end_ns = 2'499'700;
  third.loop_begin_ns = 2'020'100;
  third.loop_end_ns = 2'020'200;
  team.threads = {first, second, third};

  trace.regions = {alone, team};
  return trace;
}

// The small team with damage that real traces can carry: thread 1's loop ends before its last
// claim and its wait outlasts its implicit task; thread 2's implicit task has no end.
inline RunTrace DamagedTeam() {
  RunTrace trace = SmallTeam();
  ThreadInRegion& second = trace.regions[1].threads[1];
  second.loop_end_ns = 2'150'000;
  second.waits = {{2'499'000, 2'600'000}};
  trace.regions[1].threads[2].task_end_ns.reset();
  return trace;
}

// The small team's second region with each thread's CPU clock read: thread 0 at the region's
// begin, its task's begin (CPU 1) and end (CPU 0); thread 1 without the region's reading, and
// more CPU time than wall time over its task; thread 2's clock read back in time over its task.
inline RunTrace Sampled() {
  RunTrace trace = SmallTeam();
  std::vector<ThreadInRegion>& threads = trace.regions[1].threads;
  threads[0].cpu_at_region_begin = CpuSample{2'000'000, 5'000, std::nullopt};
  threads[0].cpu_at_task_begin = CpuSample{2'000'100, 5'040, 1};
  threads[0].cpu_at_task_end = CpuSample{2'499'000, 400'000, 0};
  threads[1].cpu_at_task_begin = CpuSample{2'010'000, 1'000, 1};
  threads[1].cpu_at_task_end = CpuSample{2'499'500, 500'000, 1};
  threads[2].cpu_at_region_begin = CpuSample{2'000'000, 9'000, std::nullopt};
  threads[2].cpu_at_task_begin = CpuSample{2'020'000, 10'000, 0};
  threads[2].cpu_at_task_end = CpuSample{2'499'700, 8'000, 0};
  return trace;
}

// What each export must show of `trace`, counted from it directly: a task or loop only where both
// its ends were seen.
inline std::map<std::string, int> ExpectedCounts(const RunTrace& trace) {
  std::map<std::string, int> counts = {{"region", 0}, {"task", 0}, {"loop", 0},
                                       {"row", 0},    {"wait", 0}, {"idle", 0}};
  for (const RegionTrace& region : trace.regions) {
    ++counts["region"];
    for (const ThreadInRegion& thread : region.threads) {
      counts["task"] += thread.task_begin_ns && thread.task_end_ns;
      counts["loop"] += thread.loop_begin_ns && thread.loop_end_ns;
      counts["row"] += static_cast<int>(thread.claims.size());
      counts["wait"] += static_cast<int>(thread.waits.size());
      // The part of a wait past its region's end is idle time between regions.
      for (const BarrierWait& wait : thread.waits) counts["idle"] += wait.end_ns > region.end_ns;
    }
  }
  return counts;
}

}  // namespace speedup
