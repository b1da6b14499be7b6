#include "session/trace.h"

#include <algorithm>
#include <map>
#include <unordered_map>

#include "base/interrupts.h"
#include "trace_file.h"
#include "trace_format.h"

namespace speedup {
namespace {

namespace format = matbench::trace;

// The regions being read, and where each thread's record lies in its region, by region and
// slot: an event finds its thread at once however many threads its region has.
struct Regions {
  std::map<std::uint32_t, RegionTrace> by_number;
  std::unordered_map<std::uint64_t, std::size_t> positions;
};

// The thread's record in `region`, made on first sight.
ThreadInRegion& ThreadOf(Regions& regions, RegionTrace& region, std::uint32_t slot) {
  const std::uint64_t key = std::uint64_t{region.number} << 32 | slot;
  const auto [found, made] = regions.positions.try_emplace(key, region.threads.size());
  if (made) region.threads.emplace_back().slot = slot;
  return region.threads[found->second];
}

// What the events say beside the regions, gathered as they are read.
struct Beside {
  std::map<std::uint32_t, std::vector<ToolSpan>> tool;  // by slot
  std::map<std::uint32_t, ToolSpan> sampling;           // by region
  // Region, slot: that thread's CPU time as the region began.
  std::map<std::pair<std::uint32_t, std::uint32_t>, CpuSample> at_region_begin;
};

// Files the tool's own events and the CPU samples of a region's begin, which the initial thread
// reads for the others; false when the event is none of them.
bool FileToolEvent(const format::Event& event, std::uint32_t slot, RunTrace& run, Beside& beside) {
  using Kind = format::EventKind;
  const auto kind = static_cast<Kind>(event.kind);
  if (kind == Kind::kToolSetup) {
    if (event.detail == format::kSetupPrepared) {
      run.buffers_prepared += event.count;
      run.prepared_ns += event.value;
      return true;
    }
    if (event.detail == format::kSetupSampling) {
      // No thread of the team starts before the initial thread has read the clocks: the
      // reading holds up the whole team, and is each thread's tool time.
      run.sampling_ns += event.value;
      beside.sampling[event.region] = {event.time_ns, event.time_ns + event.value};
      return true;
    }
    run.buffers_made_on_begin += event.count;
    if (event.count > 0) run.made_on_begin_ns += event.value;
    beside.tool[slot].push_back({event.time_ns, event.time_ns + event.value});
    return true;
  }
  if (kind != Kind::kCpuSample || event.detail != format::kAtRegionBegin) return false;
  beside.at_region_begin[{event.region, event.flags}] = {event.time_ns, event.value, {}};
  return true;
}

// Files one event of a thread inside `region`; false when it is of no kind a thread has there.
bool FileThreadEvent(const format::Event& event, ThreadInRegion& thread, RegionTrace& region) {
  using Kind = format::EventKind;
  const auto kind = static_cast<Kind>(event.kind);
  switch (kind) {
    case Kind::kImplicitTaskBegin:
      thread.task_begin_ns = event.time_ns;
      thread.index = static_cast<std::uint32_t>(event.value);
      region.granted_team = std::max(region.granted_team, event.count);
      return true;
    case Kind::kImplicitTaskEnd:
      thread.task_end_ns = event.time_ns;
      return true;
    case Kind::kWorkBegin:
      thread.loop_begin_ns = event.time_ns;
      thread.loop_iterations = event.value;
      return true;
    case Kind::kWorkEnd:
      thread.loop_end_ns = event.time_ns;
      return true;
    case Kind::kDispatch:
      thread.claims.push_back(
          {event.value, std::max<std::uint32_t>(event.count, 1), event.time_ns});
      return true;
    case Kind::kSyncWaitBegin:
      thread.waits.push_back({event.time_ns, event.time_ns});
      return true;
    case Kind::kSyncWaitEnd:
      if (thread.waits.empty()) return false;
      thread.waits.back().end_ns = event.time_ns;
      return true;
    case Kind::kCpuSample: {
      const CpuSample sample{
          event.time_ns, event.value,
          event.count == format::kUnknownCpu ? std::nullopt : std::optional(event.count)};
      (event.detail == format::kAtTaskEnd ? thread.cpu_at_task_end : thread.cpu_at_task_begin) =
          sample;
      return true;
    }
    default:
      return false;
  }
}

// Files one event of thread `slot`; false when it names no region that has begun.
bool File(const format::Event& event, std::uint32_t slot, Regions& regions) {
  using Kind = format::EventKind;
  const auto kind = static_cast<Kind>(event.kind);
  if (kind == Kind::kThreadBegin || kind == Kind::kThreadEnd) return true;
  if (event.region == 0) {
    // The initial thread's own implicit task, outside every parallel region.
    return kind == Kind::kImplicitTaskBegin || kind == Kind::kImplicitTaskEnd;
  }
  RegionTrace& region = regions.by_number[event.region];
  region.number = event.region;
  switch (kind) {
    case Kind::kParallelBegin:
      region.begin_ns = event.time_ns;
      region.requested_team = static_cast<std::uint32_t>(event.value);
      return true;
    case Kind::kParallelEnd:
      region.end_ns = event.time_ns;
      return true;
    default:
      break;
  }
  return FileThreadEvent(event, ThreadOf(regions, region, slot), region);
}

// "" when each event of `thread` is at or after the one before it, else which is not.
std::string OutOfOrder(const format::ThreadTrace& thread) {
  for (std::size_t i = 1; i < thread.events.size(); ++i) {
    if (thread.events[i].time_ns < thread.events[i - 1].time_ns) {
      return "the events of thread " + std::to_string(thread.header.slot) +
             " are out of time order: event " + std::to_string(i) + " at " +
             std::to_string(thread.events[i].time_ns) + " ns comes after one at " +
             std::to_string(thread.events[i - 1].time_ns) + " ns";
    }
  }
  return "";
}

// Where events were lost in full buffers, said after a region found incomplete.
std::string LostWords(const format::Trace& trace) {
  std::string words;
  std::uint64_t lost = 0;
  for (const format::ThreadTrace& thread : trace.threads) {
    if (thread.header.lost_events == 0) continue;
    lost += thread.header.lost_events;
    if (!words.empty()) words += ", ";
    words += "thread " + std::to_string(thread.header.slot) + " lost " +
             std::to_string(thread.header.lost_events);
  }
  if (trace.header.lost_events > 0) {
    if (!words.empty()) words += ", ";
    words += std::to_string(trace.header.lost_events) + " of threads without a buffer";
    lost += trace.header.lost_events;
  }
  if (lost == 0) return "";
  return ": " + std::to_string(lost) + " events did not fit the buffers of " +
         std::to_string(trace.header.events_per_thread) + " events (" + words +
         "; MATBENCH_TRACE_EVENTS_PER_THREAD sets a larger bound)";
}

// Gives each thread of `region` its CPU time at the region's begin and the tool's work within
// the region.
void Attach(RegionTrace& region, const Beside& beside) {
  for (ThreadInRegion& thread : region.threads) {
    const auto sample = beside.at_region_begin.find({region.number, thread.slot});
    if (sample != beside.at_region_begin.end()) thread.cpu_at_region_begin = sample->second;
    const auto sampling = beside.sampling.find(region.number);
    if (sampling != beside.sampling.end()) thread.tool.push_back(sampling->second);
    const auto spans = beside.tool.find(thread.slot);
    if (spans == beside.tool.end()) continue;
    for (const ToolSpan& span : spans->second) {
      if (span.end_ns > region.begin_ns && span.begin_ns < region.end_ns) {
        thread.tool.push_back(span);
      }
    }
  }
}

}  // namespace

Result<RunTrace> ReadRunTrace(std::string_view bytes) {
  RunTrace run;
  format::Trace trace;
  if (std::string error = format::ParseTrace(bytes, &trace); !error.empty()) {
    return Fail(FailureKind::kMalformed, std::move(error));
  }
  const format::FileHeader& header = trace.header;
  run.runtime = format::RuntimeName(header);
  run.runtime_library = format::RuntimeLibrary(header);
  run.omp_version = header.omp_version;
  run.rows_seen = (header.optional_events & format::DISPATCH_EVENTS) != 0;
  run.waits_seen = (header.optional_events & format::SYNC_WAIT_EVENTS) != 0;
  run.lost_events = header.lost_events;
  run.lost_threads = header.lost_threads;
  run.threads = header.thread_count;
  Regions regions;
  Beside beside;
  std::uint64_t filed = 0;
  for (const format::ThreadTrace& thread : trace.threads) {
    run.lost_events += thread.header.lost_events;
    run.events += thread.events.size();
    if (std::string order = OutOfOrder(thread); !order.empty()) {
      return Fail(FailureKind::kMalformed, std::move(order));
    }
    for (const format::Event& event : thread.events) {
      if ((++filed & 0xFFFF) == 0 && PendingInterrupt() != 0) {
        return Fail(FailureKind::kInterrupted, "interrupted by " + SignalName(PendingInterrupt()));
      }
      if (FileToolEvent(event, thread.header.slot, run, beside)) continue;
      if (!File(event, thread.header.slot, regions)) {
        return Fail(FailureKind::kMalformed,
                    "an event of thread " + std::to_string(thread.header.slot) + " (kind " +
                        std::to_string(event.kind) + ") lies outside the regions it belongs to");
      }
    }
  }
  regions.positions.clear();
  for (auto& [number, region] : regions.by_number) {
    if (region.begin_ns == 0 || region.end_ns < region.begin_ns) {
      return Fail(FailureKind::kMalformed, "region " + std::to_string(number) +
                                               " has no whole begin and end" + LostWords(trace));
    }
    Attach(region, beside);
    std::sort(region.threads.begin(), region.threads.end(),
              [](const ThreadInRegion& a, const ThreadInRegion& b) { return a.index < b.index; });
    run.regions.push_back(std::move(region));
  }
  return run;
}

std::string RuntimeText(const RunTrace& trace) {
  std::string text = trace.runtime.empty() ? "an unnamed OpenMP runtime" : trace.runtime;
  if (!trace.runtime_library.empty()) text += " (" + trace.runtime_library + ")";
  return text;
}

}  // namespace speedup
