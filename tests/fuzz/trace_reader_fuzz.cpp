// Any bytes as a raw trace file, read as `trace --input` reads each one: no crash, no undefined
// behaviour, memory bounded by the format (256 threads), and a trace read back holds only what
// its reader promises: regions in order, their threads in team order, every wait closed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "session/trace.h"
#include "trace_file.h"
#include "trace_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace speedup;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  matbench::trace::Trace raw;
  if (matbench::trace::ParseTrace(bytes, &raw).empty() &&
      raw.threads.size() > matbench::trace::MAX_TRACED_THREADS) {
    std::abort();  // the format's bound, whatever the header claims
  }
  const Result<RunTrace> read = ReadRunTrace(bytes);
  if (!read) {
    if (read.failure().message.empty()) std::abort();  // a refusal says why
    return 0;
  }
  const RunTrace& trace = *read;
  if (trace.threads > matbench::trace::MAX_TRACED_THREADS) std::abort();
  std::uint32_t number = 0;
  for (const RegionTrace& region : trace.regions) {
    if (region.number <= number || region.end_ns < region.begin_ns) std::abort();
    number = region.number;
    for (std::size_t i = 1; i < region.threads.size(); ++i) {
      if (region.threads[i].index < region.threads[i - 1].index) std::abort();
    }
  }
  return 0;
}
