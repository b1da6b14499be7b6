#include "session/trace.h"

#include <algorithm>
#include <map>

#include "trace_file.h"
#include "trace_format.h"

namespace speedup {
namespace {

namespace format = matbench::trace;

// The thread's record in `region`, made on first sight.
ThreadInRegion& ThreadOf(RegionTrace& region, std::uint32_t slot) {
  for (ThreadInRegion& thread : region.threads) {
    if (thread.slot == slot) return thread;
  }
  ThreadInRegion& thread = region.threads.emplace_back();
  thread.slot = slot;
  return thread;
}

// Files one event of thread `slot`; false when it names no region that has begun.
bool File(const format::Event& event, std::uint32_t slot,
          std::map<std::uint32_t, RegionTrace>& regions) {
  using Kind = format::EventKind;
  const auto kind = static_cast<Kind>(event.kind);
  if (kind == Kind::kThreadBegin || kind == Kind::kThreadEnd) return true;
  if (event.region == 0) {
    // The initial thread's own implicit task, outside every parallel region.
    return kind == Kind::kImplicitTaskBegin || kind == Kind::kImplicitTaskEnd;
  }
  RegionTrace& region = regions[event.region];
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
  ThreadInRegion& thread = ThreadOf(region, slot);
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
    default:
      return false;
  }
}

}  // namespace

RunTrace ReadRunTrace(std::string_view bytes, std::string& error) {
  RunTrace run;
  format::Trace trace;
  error = format::ParseTrace(bytes, &trace);
  if (!error.empty()) return run;
  const format::FileHeader& header = trace.header;
  run.runtime = format::RuntimeName(header);
  run.runtime_library = format::RuntimeLibrary(header);
  run.omp_version = header.omp_version;
  run.rows_seen = (header.optional_events & format::kDispatchEvents) != 0;
  run.waits_seen = (header.optional_events & format::kSyncWaitEvents) != 0;
  run.lost_events = header.lost_events;
  run.lost_threads = header.lost_threads;
  run.threads = header.thread_count;
  std::map<std::uint32_t, RegionTrace> regions;
  for (const format::ThreadTrace& thread : trace.threads) {
    run.lost_events += thread.header.lost_events;
    run.events += thread.events.size();
    for (const format::Event& event : thread.events) {
      if (!File(event, thread.header.slot, regions)) {
        error = "an event of thread " + std::to_string(thread.header.slot) + " (kind " +
                std::to_string(event.kind) + ") lies outside the regions it belongs to";
        return {};
      }
    }
  }
  for (auto& [number, region] : regions) {
    if (region.begin_ns == 0 || region.end_ns < region.begin_ns) {
      error = "region " + std::to_string(number) + " has no whole begin and end";
      return {};
    }
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
