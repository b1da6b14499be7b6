#pragma once

#include <cstdint>
#include <vector>

#include "session/trace.h"

// The spans that both exports draw (trace_export.h), one lane per thread slot; shared by the two
// exports' files and by nothing else.
namespace speedup {

// What a span shows, from the outermost to the innermost.
enum class SpanKind { kRegion, kTask, kLoop, kRow, kWait, kIdle };

// One interval of one thread slot, as the viewers draw it.
struct Span {
  SpanKind kind = SpanKind::kRegion;
  std::uint32_t slot = 0;
  std::uint64_t begin_ns = 0, end_ns = 0;  // end_ns >= begin_ns
  const RegionTrace* region = nullptr;
  const ThreadInRegion* thread = nullptr;  // null for a region
  const RowClaim* claim = nullptr;         // for a row
};

// Every span of the run: per region, the region, then per thread its task, loop, rows, waits at
// the barrier cut to the region, and the rest of those waits as idle time between regions.
std::vector<Span> SpansOf(const RunTrace& trace);

// The thread slots that appear in the run, the initial thread's always among them, in order.
std::vector<std::uint32_t> SlotsOf(const RunTrace& trace);

}  // namespace speedup
