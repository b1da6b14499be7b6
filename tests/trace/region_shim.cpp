// A second, minimal recorder of parallel regions, on a code path of its own: preloaded before
// the OpenMP runtime, it stands in for GOMP_parallel, reads the monotonic clock around the
// runtime's own, and writes "BEGIN_NS END_NS" per region to MATBENCH_REGION_SHIM_FILE at exit.
// The tests hold the trace tool's region times against it.
#include <dlfcn.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kMaxRegions = 1024;
std::uint64_t begins[kMaxRegions], ends[kMaxRegions];
int regions = 0;

std::uint64_t Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(now.tv_nsec);
}

using Parallel = void (*)(void (*)(void*), void*, unsigned, unsigned);

[[gnu::destructor]] void Write() {
  const char* path = std::getenv("MATBENCH_REGION_SHIM_FILE");
  if (path == nullptr) return;
  std::FILE* file = std::fopen(path, "w");
  if (file == nullptr) return;
  for (int i = 0; i < regions; ++i) {
    std::fprintf(file, "%llu %llu\n", static_cast<unsigned long long>(begins[i]),
                 static_cast<unsigned long long>(ends[i]));
  }
  std::fclose(file);
}

}  // namespace

extern "C" void GOMP_parallel(void (*fn)(void*), void* data, unsigned threads, unsigned flags) {
  static const auto next = reinterpret_cast<Parallel>(dlsym(RTLD_NEXT, "GOMP_parallel"));
  if (next == nullptr) std::abort();
  // Only the serial thread begins regions in the benchmark: no lock is needed.
  const std::uint64_t begin = Now();
  next(fn, data, threads, flags);
  const std::uint64_t end = Now();
  if (regions < kMaxRegions) {
    begins[regions] = begin;
    ends[regions++] = end;
  }
}
