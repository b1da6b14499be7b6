#include "present/trace_spans.h"

#include <algorithm>

#include "stats/trace_split.h"

namespace speedup {
namespace {

Span MakeSpan(SpanKind kind, std::uint32_t slot, std::uint64_t begin_ns, std::uint64_t end_ns,
              const RegionTrace& region, const ThreadInRegion* thread) {
  Span span;
  span.kind = kind;
  span.slot = slot;
  span.begin_ns = begin_ns;
  span.end_ns = std::max(begin_ns, end_ns);
  span.region = &region;
  span.thread = thread;
  return span;
}

// Where the row claimed at `claims[i]` ends: the next claim, else the loop's end, else the
// implicit task's end, else at once.
std::uint64_t RowEnd(const ThreadInRegion& thread, std::size_t i) {
  if (i + 1 < thread.claims.size()) return thread.claims[i + 1].at_ns;
  if (thread.loop_end_ns) return *thread.loop_end_ns;
  if (thread.task_end_ns) return *thread.task_end_ns;
  return thread.claims[i].at_ns;
}

}  // namespace

std::vector<Span> SpansOf(const RunTrace& trace) {
  std::vector<Span> spans;
  for (const RegionTrace& region : trace.regions) {
    spans.push_back(
        MakeSpan(SpanKind::kRegion, 0, region.begin_ns, region.end_ns, region, nullptr));
    for (const ThreadInRegion& thread : region.threads) {
      if (thread.task_begin_ns && thread.task_end_ns) {
        spans.push_back(MakeSpan(SpanKind::kTask, thread.slot, *thread.task_begin_ns,
                                 *thread.task_end_ns, region, &thread));
      }
      if (thread.loop_begin_ns && thread.loop_end_ns) {
        spans.push_back(MakeSpan(SpanKind::kLoop, thread.slot, *thread.loop_begin_ns,
                                 *thread.loop_end_ns, region, &thread));
      }
      for (std::size_t i = 0; i < thread.claims.size(); ++i) {
        Span row = MakeSpan(SpanKind::kRow, thread.slot, thread.claims[i].at_ns, RowEnd(thread, i),
                            region, &thread);
        row.claim = &thread.claims[i];
        spans.push_back(row);
      }
      // A wait at the closing barrier lasts, for a worker, until the next region begins: only
      // its part within the region is a barrier wait, the rest is time between regions.
      const ClippedWaits waits = ClipWaits(region, thread);
      for (const BarrierWait& wait : waits.inside) {
        spans.push_back(
            MakeSpan(SpanKind::kWait, thread.slot, wait.begin_ns, wait.end_ns, region, &thread));
      }
      for (const BarrierWait& idle : waits.idle) {
        spans.push_back(
            MakeSpan(SpanKind::kIdle, thread.slot, idle.begin_ns, idle.end_ns, region, &thread));
      }
    }
  }
  return spans;
}

std::vector<std::uint32_t> SlotsOf(const RunTrace& trace) {
  std::vector<std::uint32_t> slots = {0};
  for (const RegionTrace& region : trace.regions) {
    for (const ThreadInRegion& thread : region.threads) slots.push_back(thread.slot);
  }
  std::sort(slots.begin(), slots.end());
  slots.erase(std::unique(slots.begin(), slots.end()), slots.end());
  return slots;
}

}  // namespace speedup
