// matbench-trace-dump FILE: checks a trace file and prints it as text, one line per event:
//   event SLOT TIME_NS KIND REGION VALUE COUNT FLAGS DETAIL
// after the header's lines (runtime, clock, counts) and one "thread" line per thread. A file
// that is not a whole trace of this version gets one line naming it and what is wrong, exit 1.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "trace_file.h"
#include "trace_format.h"

namespace {

using matbench::trace::EventKind;

const char* KindName(std::uint16_t kind) {
  switch (static_cast<EventKind>(kind)) {
    case EventKind::kThreadBegin:
      return "thread_begin";
    case EventKind::kThreadEnd:
      return "thread_end";
    case EventKind::kParallelBegin:
      return "parallel_begin";
    case EventKind::kParallelEnd:
      return "parallel_end";
    case EventKind::kImplicitTaskBegin:
      return "implicit_task_begin";
    case EventKind::kImplicitTaskEnd:
      return "implicit_task_end";
    case EventKind::kWorkBegin:
      return "work_begin";
    case EventKind::kWorkEnd:
      return "work_end";
    case EventKind::kDispatch:
      return "dispatch";
    case EventKind::kSyncWaitBegin:
      return "sync_wait_begin";
    case EventKind::kSyncWaitEnd:
      return "sync_wait_end";
    case EventKind::kToolSetup:
      return "tool_setup";
    case EventKind::kCpuSample:
      return "cpu_sample";
  }
  return "unknown";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: matbench-trace-dump FILE\n");
    return 2;
  }
  const char* path = argv[1];
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "matbench-trace-dump: %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) {
    std::fprintf(stderr, "matbench-trace-dump: %s: read error\n", path);
    return 1;
  }
  matbench::trace::Trace trace;
  const std::string problem = matbench::trace::ParseTrace(bytes.str(), &trace);
  if (!problem.empty()) {
    std::fprintf(stderr, "matbench-trace-dump: %s: %s\n", path, problem.c_str());
    return 1;
  }
  const auto& h = trace.header;
  std::printf("version %u\nruntime %s\nruntime_library %s\nomp_version %u\n", h.version,
              matbench::trace::RuntimeName(h).c_str(), matbench::trace::RuntimeLibrary(h).c_str(),
              h.omp_version);
  std::printf("clock %u resolution_ns %u\n", h.clock_id, h.clock_resolution_ns);
  std::printf("optional_events %u\nthreads %u max_threads %u events_per_thread %u\n",
              h.optional_events, h.thread_count, h.max_threads, h.events_per_thread);
  std::printf("lost_threads %u lost_events %" PRIu64 "\nregions %" PRIu64 "\n", h.lost_threads,
              h.lost_events, h.region_count);
  for (const auto& thread : trace.threads) {
    std::printf("thread %u type %u events %" PRIu64 " lost %" PRIu64 "\n", thread.header.slot,
                thread.header.thread_type, thread.header.event_count, thread.header.lost_events);
  }
  for (const auto& thread : trace.threads) {
    for (const auto& e : thread.events) {
      std::printf("event %u %" PRIu64 " %s %u %" PRIu64 " %u %u %u\n", thread.header.slot,
                  e.time_ns, KindName(e.kind), e.region, e.value, e.count, e.flags, e.detail);
    }
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "matbench-trace-dump: cannot write the dump: %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}
