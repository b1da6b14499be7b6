// libmatbench-trace.so: an OpenMP tool that the runtime loads through OMP_TOOL_LIBRARIES. It
// records every thread's events of every parallel region into that thread's own buffer and
// writes them once, when the runtime finalises the tool, to the file MATBENCH_TRACE_FILE names.
// Nothing is written to standard output; a trace that cannot be had costs one line on standard
// error and leaves the program's output and exit status alone.
#include <dlfcn.h>
#include <omp-tools.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "trace_buffer.h"
#include "trace_file.h"
#include "trace_format.h"

namespace {

using matbench::trace::Event;
using matbench::trace::EventBuffer;
using matbench::trace::EventKind;
using matbench::trace::ThreadRegistry;

constexpr clockid_t kClock = CLOCK_MONOTONIC;

struct Tool {
  std::string path;
  matbench::trace::TraceMeta meta;
  std::unique_ptr<ThreadRegistry> registry;
  std::atomic<std::uint32_t> regions{0};
};

Tool* tool = nullptr;

// The calling thread's buffer, set by its thread-begin callback; nullptr when it got none.
thread_local EventBuffer* own_buffer = nullptr;

// The vDSO serves CLOCK_MONOTONIC without entering the kernel.
inline std::uint64_t Now() {
  timespec now;
  clock_gettime(kClock, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(now.tv_nsec);
}

inline void Record(EventKind kind, std::uint32_t region, std::uint64_t value = 0,
                   std::uint32_t count = 0, std::uint32_t flags = 0, std::uint16_t detail = 0) {
  Event event;
  event.time_ns = Now();
  event.value = value;
  event.region = region;
  event.count = count;
  event.flags = flags;
  event.kind = static_cast<std::uint16_t>(kind);
  event.detail = detail;
  if (own_buffer != nullptr) {
    own_buffer->Append(event);
  } else {
    tool->registry->CountLostEvent();
  }
}

// Implicit tasks carry their region's number; a task outside every region carries 0.
inline std::uint32_t RegionOf(const ompt_data_t* task_data) {
  return task_data != nullptr ? static_cast<std::uint32_t>(task_data->value) : 0;
}

void OnThreadBegin(ompt_thread_t type, ompt_data_t* /*thread_data*/) {
  own_buffer = tool->registry->Register(static_cast<std::uint32_t>(type));
  Record(EventKind::kThreadBegin, 0, 0, 0, 0, static_cast<std::uint16_t>(type));
}

void OnThreadEnd(ompt_data_t* /*thread_data*/) { Record(EventKind::kThreadEnd, 0); }

void OnParallelBegin(ompt_data_t* /*encountering_task_data*/,
                     const ompt_frame_t* /*encountering_task_frame*/, ompt_data_t* parallel_data,
                     unsigned int requested_parallelism, int flags, const void* /*codeptr_ra*/) {
  const std::uint32_t region = tool->regions.fetch_add(1, std::memory_order_relaxed) + 1;
  parallel_data->value = region;
  Record(EventKind::kParallelBegin, region, requested_parallelism, 0,
         static_cast<std::uint32_t>(flags));
}

void OnParallelEnd(ompt_data_t* parallel_data, ompt_data_t* /*encountering_task_data*/, int flags,
                   const void* /*codeptr_ra*/) {
  Record(EventKind::kParallelEnd, static_cast<std::uint32_t>(parallel_data->value), 0, 0,
         static_cast<std::uint32_t>(flags));
}

void OnImplicitTask(ompt_scope_endpoint_t endpoint, ompt_data_t* parallel_data,
                    ompt_data_t* task_data, unsigned int actual_parallelism, unsigned int index,
                    int flags) {
  // The end has no region data: the task's own data keeps the number from its begin.
  if (endpoint == ompt_scope_begin) {
    task_data->value =
        (flags & ompt_task_initial) || parallel_data == nullptr ? 0 : parallel_data->value;
  }
  Record(endpoint == ompt_scope_begin ? EventKind::kImplicitTaskBegin : EventKind::kImplicitTaskEnd,
         RegionOf(task_data), index, actual_parallelism, static_cast<std::uint32_t>(flags));
}

void OnWork(ompt_work_t work_type, ompt_scope_endpoint_t endpoint, ompt_data_t* /*parallel_data*/,
            ompt_data_t* task_data, uint64_t count, const void* /*codeptr_ra*/) {
  Record(endpoint == ompt_scope_begin ? EventKind::kWorkBegin : EventKind::kWorkEnd,
         RegionOf(task_data), count, 0, 0, static_cast<std::uint16_t>(work_type));
}

void OnDispatch(ompt_data_t* /*parallel_data*/, ompt_data_t* task_data, ompt_dispatch_t kind,
                ompt_data_t instance) {
  std::uint64_t first = instance.value;
  std::uint64_t iterations = 1;
  if (kind == ompt_dispatch_ws_loop_chunk || kind == ompt_dispatch_taskloop_chunk ||
      kind == ompt_dispatch_distribute_chunk) {
    const auto* chunk = static_cast<const ompt_dispatch_chunk_t*>(instance.ptr);
    first = chunk->start;
    iterations = chunk->iterations;
  }
  Record(EventKind::kDispatch, RegionOf(task_data), first,
         static_cast<std::uint32_t>(iterations > UINT32_MAX ? UINT32_MAX : iterations), 0,
         static_cast<std::uint16_t>(kind));
}

void OnSyncRegionWait(ompt_sync_region_t kind, ompt_scope_endpoint_t endpoint,
                      ompt_data_t* /*parallel_data*/, ompt_data_t* task_data,
                      const void* /*codeptr_ra*/) {
  Record(endpoint == ompt_scope_begin ? EventKind::kSyncWaitBegin : EventKind::kSyncWaitEnd,
         RegionOf(task_data), 0, 0, 0, static_cast<std::uint16_t>(kind));
}

template <typename Callback>
bool Register(ompt_set_callback_t set_callback, ompt_callbacks_t event, Callback callback) {
  const ompt_set_result_t result = set_callback(event, reinterpret_cast<ompt_callback_t>(callback));
  return result == ompt_set_always || result == ompt_set_sometimes;
}

// A runtime that declines the tool calls no finalisation, and no callback.
void Abandon() {
  delete tool;
  tool = nullptr;
}

// The file that holds `code`, links resolved; "" when the loader cannot say.
std::string LibraryOf(const void* code) {
  Dl_info info{};
  if (dladdr(code, &info) == 0 || info.dli_fname == nullptr) return "";
  char resolved[PATH_MAX];
  return realpath(info.dli_fname, resolved) != nullptr ? resolved : info.dli_fname;
}

int Initialize(ompt_function_lookup_t lookup, int /*initial_device_num*/,
               ompt_data_t* /*tool_data*/) {
  // The lookup function is the runtime's own code.
  tool->meta.runtime_library = LibraryOf(reinterpret_cast<const void*>(lookup));
  auto set_callback = reinterpret_cast<ompt_set_callback_t>(lookup("ompt_set_callback"));
  if (set_callback == nullptr) {
    std::fprintf(stderr, "matbench-trace: the runtime offers no ompt_set_callback; not tracing\n");
    Abandon();
    return 0;
  }
  // The mandatory events must all be had; dispatch and the waits are optional in the OpenMP
  // tools interface, and their absence shows in the trace as no such events.
  const bool mandatory = Register(set_callback, ompt_callback_thread_begin, OnThreadBegin) &&
                         Register(set_callback, ompt_callback_thread_end, OnThreadEnd) &&
                         Register(set_callback, ompt_callback_parallel_begin, OnParallelBegin) &&
                         Register(set_callback, ompt_callback_parallel_end, OnParallelEnd) &&
                         Register(set_callback, ompt_callback_implicit_task, OnImplicitTask);
  if (!mandatory) {
    std::fprintf(stderr, "matbench-trace: the runtime refused a mandatory callback; not tracing\n");
    Abandon();
    return 0;
  }
  std::uint32_t& optional = tool->meta.optional_events;
  if (Register(set_callback, ompt_callback_work, OnWork)) optional |= matbench::trace::kWorkEvents;
  if (Register(set_callback, ompt_callback_dispatch, OnDispatch)) {
    optional |= matbench::trace::kDispatchEvents;
  }
  if (Register(set_callback, ompt_callback_sync_region_wait, OnSyncRegionWait)) {
    optional |= matbench::trace::kSyncWaitEvents;
  }
  return 1;
}

void Finalize(ompt_data_t* /*tool_data*/) {
  tool->meta.region_count = tool->regions.load(std::memory_order_relaxed);
  const std::string error =
      matbench::trace::WriteTraceFile(tool->path.c_str(), tool->meta, *tool->registry);
  if (!error.empty()) {
    std::fprintf(stderr, "matbench-trace: cannot write the trace to %s: %s\n", tool->path.c_str(),
                 error.c_str());
  }
  // The runtime unloads the tool after this, and no callback comes any more.
  own_buffer = nullptr;
  Abandon();
}

// Reads the optional capacity override; false with a message when it is not a number in range.
bool EventsPerThread(std::uint32_t* events) {
  *events = matbench::trace::kDefaultEventsPerThread;
  const char* text = std::getenv("MATBENCH_TRACE_EVENTS_PER_THREAD");
  if (text == nullptr || *text == '\0') return true;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || *text == '-' || value < matbench::trace::kMinEventsPerThread ||
      value > matbench::trace::kMaxEventsPerThread) {
    std::fprintf(stderr,
                 "matbench-trace: MATBENCH_TRACE_EVENTS_PER_THREAD=%s is not a number from %u to "
                 "%u; not tracing\n",
                 text, matbench::trace::kMinEventsPerThread, matbench::trace::kMaxEventsPerThread);
    return false;
  }
  *events = static_cast<std::uint32_t>(value);
  return true;
}

}  // namespace

extern "C" ompt_start_tool_result_t* ompt_start_tool(unsigned int omp_version,
                                                     const char* runtime_version) {
  const char* path = std::getenv("MATBENCH_TRACE_FILE");
  if (path == nullptr || *path == '\0') {
    std::fprintf(stderr, "matbench-trace: MATBENCH_TRACE_FILE is not set; not tracing\n");
    return nullptr;
  }
  std::uint32_t events_per_thread = 0;
  if (!EventsPerThread(&events_per_thread)) return nullptr;
  tool = new (std::nothrow) Tool;
  if (tool != nullptr) {
    tool->registry.reset(new (std::nothrow)
                             ThreadRegistry(matbench::trace::kMaxThreads, events_per_thread));
  }
  if (tool == nullptr || !tool->registry) {
    std::fprintf(stderr, "matbench-trace: out of memory; not tracing\n");
    delete tool;
    tool = nullptr;
    return nullptr;
  }
  tool->path = path;
  tool->meta.omp_version = omp_version;
  tool->meta.runtime = runtime_version != nullptr ? runtime_version : "";
  tool->meta.clock_id = static_cast<std::uint32_t>(kClock);
  timespec resolution{};
  clock_getres(kClock, &resolution);
  tool->meta.clock_resolution_ns = static_cast<std::uint32_t>(resolution.tv_nsec);
  static ompt_start_tool_result_t result = {Initialize, Finalize, {0}};
  return &result;
}
