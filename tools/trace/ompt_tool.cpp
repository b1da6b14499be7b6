// libmatbench-trace.so: an OpenMP tool that the runtime loads through OMP_TOOL_LIBRARIES. It
// records every thread's events of every parallel region into that thread's own buffer and
// writes them once, when the runtime finalises the tool, to the file MATBENCH_TRACE_FILE names.
// Nothing is written to standard output; a trace that cannot be had costs one line on standard
// error and leaves the program's output and exit status alone.
#include <dlfcn.h>
#include <omp-tools.h>
#include <pthread.h>
#include <sched.h>
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

constexpr clockid_t CLOCK_ID = CLOCK_MONOTONIC;

struct Tool {
  std::string path;
  matbench::trace::TraceMeta meta;
  std::unique_ptr<ThreadRegistry> registry;
  std::atomic<std::uint32_t> regions{0};
  // The buffers made in ompt_start_tool: when, for how long, how many.
  std::uint64_t prepared_at_ns = 0, prepared_ns = 0;
  std::uint32_t prepared = 0;
  // Each living thread's CPU clock, by slot, so that a region's begin can read them all.
  clockid_t cpu_clocks[matbench::trace::MAX_TRACED_THREADS] = {};
  std::atomic<bool> alive[matbench::trace::MAX_TRACED_THREADS] = {};
};

Tool* tool = nullptr;

// The calling thread's buffer, set by its thread-begin callback; nullptr when it got none.
thread_local EventBuffer* own_buffer = nullptr;

// The vDSO serves CLOCK_MONOTONIC without entering the kernel.
inline std::uint64_t Now() {
  timespec now;
  clock_gettime(CLOCK_ID, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(now.tv_nsec);
}

inline std::uint64_t Nanoseconds(const timespec& time) {
  return static_cast<std::uint64_t>(time.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(time.tv_nsec);
}

inline void RecordAt(std::uint64_t time_ns, EventKind kind, std::uint32_t region,
                     std::uint64_t value = 0, std::uint32_t count = 0, std::uint32_t flags = 0,
                     std::uint16_t detail = 0) {
  Event event;
  event.time_ns = time_ns;
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

inline void Record(EventKind kind, std::uint32_t region, std::uint64_t value = 0,
                   std::uint32_t count = 0, std::uint32_t flags = 0, std::uint16_t detail = 0) {
  RecordAt(Now(), kind, region, value, count, flags, detail);
}

// The calling thread's CPU time and CPU, at one end of its implicit task.
void RecordCpu(std::uint32_t region, std::uint16_t at) {
  timespec cpu{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
  const int where = sched_getcpu();
  Record(EventKind::kCpuSample, region, Nanoseconds(cpu),
         where < 0 ? matbench::trace::kUnknownCpu : static_cast<std::uint32_t>(where),
         own_buffer != nullptr ? own_buffer->slot() : 0, at);
}

// Implicit tasks carry their region's number; a task outside every region carries 0.
inline std::uint32_t RegionOf(const ompt_data_t* task_data) {
  return task_data != nullptr ? static_cast<std::uint32_t>(task_data->value) : 0;
}

void OnThreadBegin(ompt_thread_t type, ompt_data_t* /*thread_data*/) {
  const std::uint64_t begin = Now();
  bool made = false;
  own_buffer = tool->registry->Register(static_cast<std::uint32_t>(type), &made);
  const std::uint64_t end = Now();
  if (own_buffer != nullptr) {
    // The initial thread begins first and carries the set-up done before it.
    if (type == ompt_thread_initial && tool->prepared > 0) {
      RecordAt(tool->prepared_at_ns, EventKind::kToolSetup, 0, tool->prepared_ns, tool->prepared, 0,
               matbench::trace::kSetupPrepared);
    }
    RecordAt(begin, EventKind::kToolSetup, 0, end - begin, made ? 1 : 0, 0,
             matbench::trace::kSetupOnBegin);
    const std::uint32_t slot = own_buffer->slot();
    if (pthread_getcpuclockid(pthread_self(), &tool->cpu_clocks[slot]) == 0) {
      tool->alive[slot].store(true, std::memory_order_release);
    }
  }
  Record(EventKind::kThreadBegin, 0, 0, 0, 0, static_cast<std::uint16_t>(type));
}

void OnThreadEnd(ompt_data_t* /*thread_data*/) {
  if (own_buffer != nullptr)
    tool->alive[own_buffer->slot()].store(false, std::memory_order_release);
  Record(EventKind::kThreadEnd, 0);
}

// Every living thread's CPU time as the region begins, read by the thread that begins it: with
// each thread's CPU time at its task's begin, it tells the wait for a core from the fork. The
// reading is the tool's own time, recorded as such.
void SampleThreads(std::uint32_t region, std::uint64_t at) {
  const std::uint32_t threads = tool->registry->registered();
  for (std::uint32_t slot = 0; slot < threads; ++slot) {
    if (!tool->alive[slot].load(std::memory_order_acquire)) continue;
    timespec cpu{};
    if (clock_gettime(tool->cpu_clocks[slot], &cpu) != 0) continue;  // it ended meanwhile
    RecordAt(at, EventKind::kCpuSample, region, Nanoseconds(cpu), matbench::trace::kUnknownCpu,
             slot, matbench::trace::kAtRegionBegin);
  }
  RecordAt(at, EventKind::kToolSetup, region, Now() - at, 0, 0, matbench::trace::kSetupSampling);
}

void OnParallelBegin(ompt_data_t* /*encountering_task_data*/,
                     const ompt_frame_t* /*encountering_task_frame*/, ompt_data_t* parallel_data,
                     unsigned int requested_parallelism, int flags, const void* /*codeptr_ra*/) {
  const std::uint32_t region = tool->regions.fetch_add(1, std::memory_order_relaxed) + 1;
  parallel_data->value = region;
  const std::uint64_t begin = Now();
  RecordAt(begin, EventKind::kParallelBegin, region, requested_parallelism, 0,
           static_cast<std::uint32_t>(flags));
  SampleThreads(region, begin);
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
  const std::uint32_t region = RegionOf(task_data);
  if (endpoint == ompt_scope_end && region != 0) RecordCpu(region, matbench::trace::kAtTaskEnd);
  Record(endpoint == ompt_scope_begin ? EventKind::kImplicitTaskBegin : EventKind::kImplicitTaskEnd,
         region, index, actual_parallelism, static_cast<std::uint32_t>(flags));
  if (endpoint == ompt_scope_begin && region != 0) RecordCpu(region, matbench::trace::kAtTaskBegin);
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
  if (Register(set_callback, ompt_callback_work, OnWork)) optional |= matbench::trace::WORK_EVENTS;
  if (Register(set_callback, ompt_callback_dispatch, OnDispatch)) {
    optional |= matbench::trace::DISPATCH_EVENTS;
  }
  if (Register(set_callback, ompt_callback_sync_region_wait, OnSyncRegionWait)) {
    optional |= matbench::trace::SYNC_WAIT_EVENTS;
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
  *events = matbench::trace::DEFAULT_EVENTS_PER_THREAD;
  const char* text = std::getenv("MATBENCH_TRACE_EVENTS_PER_THREAD");
  if (text == nullptr || *text == '\0') return true;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || *text == '-' ||
      value < matbench::trace::MIN_EVENTS_PER_THREAD ||
      value > matbench::trace::MAX_EVENTS_PER_THREAD) {
    std::fprintf(stderr,
                 "matbench-trace: MATBENCH_TRACE_EVENTS_PER_THREAD=%s is not a number from %u to "
                 "%u; not tracing\n",
                 text, matbench::trace::MIN_EVENTS_PER_THREAD,
                 matbench::trace::MAX_EVENTS_PER_THREAD);
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
    tool->registry.reset(
        new (std::nothrow) ThreadRegistry(matbench::trace::MAX_TRACED_THREADS, events_per_thread));
  }
  if (tool == nullptr || !tool->registry) {
    std::fprintf(stderr, "matbench-trace: out of memory; not tracing\n");
    delete tool;
    tool = nullptr;
    return nullptr;
  }
  tool->path = path;
  // Every page of the first threads' buffers is written here, before the runtime's first
  // region, so that no thread's begin inside a region pays for it.
  tool->prepared_at_ns = Now();
  tool->prepared = tool->registry->Prepare(matbench::trace::PREPARED_THREADS);
  tool->prepared_ns = Now() - tool->prepared_at_ns;
  tool->meta.omp_version = omp_version;
  tool->meta.runtime = runtime_version != nullptr ? runtime_version : "";
  tool->meta.clock_id = static_cast<std::uint32_t>(CLOCK_ID);
  timespec resolution{};
  clock_getres(CLOCK_ID, &resolution);
  tool->meta.clock_resolution_ns = static_cast<std::uint32_t>(resolution.tv_nsec);
  static ompt_start_tool_result_t result = {Initialize, Finalize, {0}};
  return &result;
}
