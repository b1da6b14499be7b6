// The trace file that libmatbench-trace.so writes once, when the OpenMP runtime finalises it.
//
// Layout, every integer in the writer's byte order (byte_order tells a reader which), no padding
// between the parts:
//   FileHeader
//   thread_count times: ThreadHeader, then event_count Events of that thread, in time order
//   Trailer
// A reader checks the magic, the version, byte_order and the three record sizes before anything
// else, then that every count fits the file and that the trailer closes it: a file cut short
// has no trailer where one is due.
//
// Times are nanoseconds of the clock named by clock_id (CLOCK_MONOTONIC), read on each event by
// the thread the event belongs to. Regions are numbered 1, 2, ... in the order their parallel
// begin was seen; region 0 is "outside every parallel region".
#pragma once

#include <cstdint>

namespace matbench::trace {

inline constexpr char MAGIC[8] = {'M', 'B', 'T', 'R', 'A', 'C', 'E', '\0'};
inline constexpr char TRAILER_MAGIC[8] = {'M', 'B', 'T', 'R', 'E', 'N', 'D', '\0'};
// Version 2 added the tool's set-up and the threads' CPU samples; version 1 files still read.
inline constexpr std::uint32_t FORMAT_VERSION = 2;
// Written as a native integer: a reader of the other byte order sees 0x04030201.
inline constexpr std::uint32_t BYTE_ORDER_MARK = 0x01020304;

// Buffers made and touched in ompt_start_tool, before the runtime's first region, for the
// first threads that begin; a thread beyond them makes its own on its begin, and that set-up is
// recorded as the tool's own time (kToolSetup).
inline constexpr std::uint32_t PREPARED_THREADS = 24;
// Bounds of the tool's memory: a thread keeps at most DEFAULT_EVENTS_PER_THREAD events unless
// MATBENCH_TRACE_EVENTS_PER_THREAD names another number in [MIN_EVENTS_PER_THREAD,
// MAX_EVENTS_PER_THREAD]; at most MAX_TRACED_THREADS threads get a buffer. The benchmark's master
// thread records about 12,200 events over the 20 regions, the others fewer. Memory is therefore at
// most MAX_TRACED_THREADS * events per thread * sizeof(Event): 256 * 16,384 * 32 bytes = 128 MiB,
// and max(PREPARED_THREADS, threads that ran) * 512 KiB in practice (12 MiB for the benchmark).
// Events beyond a full buffer, and every event of a thread beyond MAX_TRACED_THREADS, are counted
// in the file's lost counters.
inline constexpr std::uint32_t DEFAULT_EVENTS_PER_THREAD = 16384;
inline constexpr std::uint32_t MIN_EVENTS_PER_THREAD = 16;
inline constexpr std::uint32_t MAX_EVENTS_PER_THREAD = 1u << 20;
inline constexpr std::uint32_t MAX_TRACED_THREADS = 256;
inline constexpr std::uint32_t RUNTIME_NAME_SIZE = 128;
inline constexpr std::uint32_t RUNTIME_LIBRARY_SIZE = 256;

enum class EventKind : std::uint16_t {
  kThreadBegin = 1,        // detail: ompt_thread_t (1 initial, 2 worker, 3 other)
  kThreadEnd = 2,          //
  kParallelBegin = 3,      // region: the new region; value: requested team size; flags: the
                           // runtime's ompt_parallel_flag_t bits
  kParallelEnd = 4,        // region; flags as above
  kImplicitTaskBegin = 5,  // region; value: the thread's index in the team; count: team size
                           // actually granted; flags: ompt_task_flag_t bits (1 initial task)
  kImplicitTaskEnd = 6,    // region; value, count, flags: as the runtime gave them at the end
  kWorkBegin = 7,          // detail: ompt_work_t; value: the iteration count the runtime gave
  kWorkEnd = 8,            // detail: ompt_work_t
  kDispatch = 9,           // detail: ompt_dispatch_t; value: first iteration of the chunk;
                           // count: its iterations (1 for a single iteration)
  kSyncWaitBegin = 10,     // detail: ompt_sync_region_t (9: the region's closing barrier,
                           // 8: a loop's closing barrier)
  kSyncWaitEnd = 11,       // detail: ompt_sync_region_t
  kToolSetup = 12,         // the tool's own work: time_ns its begin; value its nanoseconds;
                           // detail kSetupPrepared (the buffers made before the first region),
                           // kSetupOnBegin (this thread's buffer taken or made on its begin) or
                           // kSetupSampling (the CPU clocks read at a region's begin)
  kCpuSample = 13,         // time_ns the wall clock; value the thread's CPU time in ns
                           // (CLOCK_THREAD_CPUTIME_ID); count the CPU it ran on (sched_getcpu,
                           // kUnknownCpu when not known); detail a CpuSampleAt; flags the slot of
                           // the thread sampled (the initial thread samples the others at a
                           // region's begin)
};
inline constexpr std::uint16_t LAST_EVENT_KIND = 13;

inline constexpr std::uint16_t kSetupOnBegin = 0;   // count 1 when the buffer was made then
inline constexpr std::uint16_t kSetupPrepared = 1;  // count: the buffers made
inline constexpr std::uint16_t kSetupSampling = 2;  // region: the region whose begin sampled
                                                    // the threads' CPU clocks
enum CpuSampleAt : std::uint16_t {
  kAtTaskBegin = 0,    // the thread's implicit task has begun
  kAtTaskEnd = 1,      // it is about to end
  kAtRegionBegin = 2,  // the region began: read by the initial thread, region set
};
inline constexpr std::uint32_t kUnknownCpu = 0xffffffffu;

// The optional callbacks of the OpenMP tools interface that the tool asks for.
enum OptionalEvents : std::uint32_t {
  WORK_EVENTS = 1,       // kWorkBegin, kWorkEnd
  DISPATCH_EVENTS = 2,   // kDispatch
  SYNC_WAIT_EVENTS = 4,  // kSyncWaitBegin, kSyncWaitEnd
};

// 32 bytes. Fields that a kind does not use are zero.
struct Event {
  std::uint64_t time_ns;
  std::uint64_t value;
  std::uint32_t region;
  std::uint32_t count;
  std::uint32_t flags;
  std::uint16_t kind;  // an EventKind
  std::uint16_t detail;
};
static_assert(sizeof(Event) == 32);

struct FileHeader {
  char magic[8];                     // MAGIC
  std::uint32_t version;             // FORMAT_VERSION; a reader refuses a later one
  std::uint32_t byte_order;          // BYTE_ORDER_MARK
  std::uint32_t header_size;         // sizeof(FileHeader)
  std::uint32_t thread_header_size;  // sizeof(ThreadHeader)
  std::uint32_t event_size;          // sizeof(Event)
  std::uint32_t omp_version;  // the OpenMP version the runtime gave ompt_start_tool, e.g. 201611
  std::uint32_t clock_id;     // the clock_gettime clock of every time (CLOCK_MONOTONIC)
  std::uint32_t clock_resolution_ns;  // that clock's resolution, as clock_getres gave it
  std::uint32_t thread_count;         // ThreadHeaders that follow
  std::uint32_t max_threads;          // threads that could get a buffer (MAX_TRACED_THREADS)
  std::uint32_t events_per_thread;    // each buffer's capacity
  std::uint32_t lost_threads;         // threads that got no buffer: beyond max_threads, or the
                                      // allocation failed
  std::uint32_t optional_events;      // OptionalEvents bits: which optional callbacks the
                                      // runtime granted; an absent kind was never recorded
  std::uint32_t reserved;             // 0
  std::uint64_t lost_events;          // events of those threads, none of them in the file
  std::uint64_t region_count;         // parallel regions begun
  char runtime[RUNTIME_NAME_SIZE];    // ompt_start_tool's runtime_version, NUL-terminated,
                                      // cut to fit
  char runtime_library[RUNTIME_LIBRARY_SIZE];  // the file the runtime was loaded from, links
                                               // resolved (it names LLVM's release where the
                                               // version above does not); "" when unknown
};
static_assert(sizeof(FileHeader) == 464);

struct ThreadHeader {
  std::uint32_t slot;         // 0, 1, ... in the order threads began
  std::uint32_t thread_type;  // ompt_thread_t
  std::uint64_t event_count;  // Events that follow
  std::uint64_t lost_events;  // this thread's events that did not fit its buffer
};
static_assert(sizeof(ThreadHeader) == 24);

struct Trailer {
  char magic[8];               // TRAILER_MAGIC
  std::uint64_t total_events;  // the sum of every thread's event_count
};
static_assert(sizeof(Trailer) == 16);

}  // namespace matbench::trace
