#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

// One traced run of the benchmark, as the OpenMP trace tool saw it, grouped by parallel region
// and thread. Times are nanoseconds of the monotonic clock, as the tool read them.
namespace speedup {

// One row handed to a thread: the dispatch of a chunk of `rows` rows starting at `first`.
struct RowClaim {
  std::uint64_t first = 0;
  std::uint32_t rows = 1;
  std::uint64_t at_ns = 0;

  bool operator==(const RowClaim&) const = default;
};

// A wait at a barrier.
struct BarrierWait {
  std::uint64_t begin_ns = 0, end_ns = 0;
  bool operator==(const BarrierWait&) const = default;
};

// A thread's CPU time read at one moment of the wall clock, and the CPU it ran on then.
struct CpuSample {
  std::uint64_t wall_ns = 0, cpu_ns = 0;
  std::optional<std::uint32_t> cpu;  // absent when not read (another thread read the time)
  bool operator==(const CpuSample&) const = default;
};

// An interval of the tool's own work on one thread: taking or making its buffer, reading the
// team's CPU clocks as a region begins.
struct ToolSpan {
  std::uint64_t begin_ns = 0, end_ns = 0;
  bool operator==(const ToolSpan&) const = default;
};

// What one thread did in one region; absent parts were not seen.
struct ThreadInRegion {
  std::uint32_t slot = 0;   // the tool's thread number: 0 the initial thread, then in order begun
  std::uint32_t index = 0;  // the thread's number in the team
  std::optional<std::uint64_t> task_begin_ns, task_end_ns;  // its implicit task
  std::optional<std::uint64_t> loop_begin_ns, loop_end_ns;  // its share of the loop
  std::uint64_t loop_iterations = 0;  // the loop's iterations, as the runtime gave them
  std::vector<RowClaim> claims;       // in time order
  std::vector<BarrierWait> waits;     // in time order
  // Its CPU time as the region began (read by the initial thread), and at its task's ends;
  // absent in traces of the tool's first version.
  std::optional<CpuSample> cpu_at_region_begin, cpu_at_task_begin, cpu_at_task_end;
  std::vector<ToolSpan> tool;  // the tool's own work on this thread within the region

  bool operator==(const ThreadInRegion&) const = default;
};

// One parallel region: one team size of the sweep.
struct RegionTrace {
  std::uint32_t number = 0;                // 1, 2, ... in the order begun
  std::uint32_t requested_team = 0;        // the team size asked for
  std::uint32_t granted_team = 0;          // the team size the runtime gave, 0 when not seen
  std::uint64_t begin_ns = 0, end_ns = 0;  // parallel begin and end, on the initial thread
  std::vector<ThreadInRegion> threads;     // in team order

  bool operator==(const RegionTrace&) const = default;
};

// A whole traced run.
struct RunTrace {
  std::string runtime;          // the runtime's own version text, e.g. "LLVM OMP version: 5.0…"
  std::string runtime_library;  // the file it was loaded from, which names the LLVM release
  std::uint32_t omp_version = 0;
  bool rows_seen = false;         // the runtime granted the dispatch events
  bool waits_seen = false;        // and the barrier waits
  std::uint64_t lost_events = 0;  // events that did not fit, and those of threads without buffer
  std::uint32_t lost_threads = 0;
  std::uint32_t threads = 0;  // threads that got a buffer
  std::uint64_t events = 0;   // events in the file
  // The tool's set-up: the buffers made before the first region and how long that took; the
  // buffers made on a thread's begin (those inside a region count as the tool's own state).
  std::uint32_t buffers_prepared = 0, buffers_made_on_begin = 0;
  std::uint64_t prepared_ns = 0, made_on_begin_ns = 0;
  std::uint64_t sampling_ns = 0;     // reading the team's CPU clocks at the regions' begins
  std::vector<RegionTrace> regions;  // in order begun

  bool operator==(const RunTrace&) const = default;
};

// The trace in `bytes`, a whole file of the trace tool's format; a kMalformed failure saying
// what is wrong (truncated, foreign, a later version, events out of place).
Result<RunTrace> ReadRunTrace(std::string_view bytes);

// The runtime in words for a figure's caption: its library's file name when known (it names the
// release, e.g. "libomp.so.5 of /usr/lib/llvm-19"), and the version it reported.
std::string RuntimeText(const RunTrace& trace);

}  // namespace speedup
