#include "present/trace_export.h"

#include <algorithm>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/text.h"
#include "present/json_reporter.h"
#include "present/trace_spans.h"
#include "stats/trace_split.h"

namespace speedup {
namespace {

using Json = nlohmann::ordered_json;

// Nanoseconds from `origin_ns` as microseconds, negative before it.
double Microseconds(std::uint64_t time_ns, std::uint64_t origin_ns) {
  return static_cast<double>(static_cast<std::int64_t>(time_ns - origin_ns)) / 1000.0;
}

// The spans' process, and the one of each thread's time on a core and waiting for one.
constexpr int SPANS_PID = 1, CORES_PID = 2;

Json Metadata(const char* name, std::uint32_t tid, Json args, int pid = SPANS_PID) {
  return {{"name", name}, {"ph", "M"},  {"ts", 0.0},
          {"pid", pid},   {"tid", tid}, {"args", std::move(args)}};
}

Json ChromeEvent(const Span& span, std::uint64_t origin_ns) {
  std::string name, category;
  Json args = {{"region", span.region->number}};
  switch (span.kind) {
    case SpanKind::kRegion:
      name = "team of " + std::to_string(span.region->requested_team);
      category = "region";
      args["requested_team"] = span.region->requested_team;
      args["granted_team"] = span.region->granted_team;
      break;
    case SpanKind::kTask:
      name = "implicit task";
      category = "task";
      if (span.thread->cpu_at_task_begin && span.thread->cpu_at_task_end) {
        const CpuSample& begin = *span.thread->cpu_at_task_begin;
        const CpuSample& end = *span.thread->cpu_at_task_end;
        args["cpu_ms"] = static_cast<double>(end.cpu_ns - std::min(end.cpu_ns, begin.cpu_ns)) / 1e6;
        if (begin.cpu) args["cpu_at_begin"] = *begin.cpu;
        if (end.cpu) args["cpu_at_end"] = *end.cpu;
      }
      break;
    case SpanKind::kLoop:
      name = "loop";
      category = "loop";
      break;
    case SpanKind::kRow:
      name = "row " + std::to_string(span.claim->first);
      category = "row";
      args = {{"row", span.claim->first}, {"rows", span.claim->rows}};
      break;
    case SpanKind::kWait:
      name = "barrier wait";
      category = "wait";
      break;
    case SpanKind::kIdle:
      name = "idle between regions";
      category = "idle";
      break;
  }
  if (span.thread != nullptr && span.kind != SpanKind::kRow) {
    args["thread_index"] = span.thread->index;
  }
  return {{"name", name},
          {"cat", category},
          {"ph", "X"},
          {"ts", Microseconds(span.begin_ns, origin_ns)},
          {"dur", static_cast<double>(span.end_ns - span.begin_ns) / 1000.0},
          {"pid", 1},
          {"tid", span.slot},
          {"args", std::move(args)}};
}

Json CoreSlice(const char* name, const char* category, std::uint32_t slot, std::uint64_t begin_ns,
               std::uint64_t end_ns, std::uint64_t origin_ns, Json args) {
  return {{"name", name},
          {"cat", category},
          {"ph", "X"},
          {"ts", Microseconds(begin_ns, origin_ns)},
          {"dur", static_cast<double>(end_ns - begin_ns) / 1000.0},
          {"pid", CORES_PID},
          {"tid", slot},
          {"args", std::move(args)}};
}

// Each thread's time between two readings of its CPU clock as two slices: waiting for a core,
// then on a core, their lengths the interval's totals (the order within it is not traced).
// Slices that last no time are left out.
void AddCoreSlices(const RunTrace& trace, std::uint64_t origin_ns, std::vector<Json>& events) {
  for (const RegionTrace& region : trace.regions) {
    for (const ThreadInRegion& thread : region.threads) {
      for (const CoreInterval& interval : CoreIntervals(thread)) {
        const std::uint64_t off_core = interval.end_ns - interval.begin_ns - interval.on_core_ns;
        const std::uint64_t split_ns = interval.begin_ns + off_core;
        Json args = {{"region", region.number},
                     {"thread_index", thread.index},
                     {"part", interval.before_task ? "before its task" : "its task"},
                     {"placed", "the interval's totals; the order within it is not traced"}};
        if (off_core > 0) {
          Json wait = args;
          wait["wait_ms"] = static_cast<double>(off_core) / 1e6;
          events.push_back(CoreSlice("waiting for a core", "core wait", thread.slot,
                                     interval.begin_ns, split_ns, origin_ns, std::move(wait)));
        }
        if (interval.on_core_ns == 0) continue;
        std::string name = "on a core";
        if (interval.cpu_at_end) name = "on CPU " + std::to_string(*interval.cpu_at_end);
        args["cpu_ms"] = static_cast<double>(interval.on_core_ns) / 1e6;
        if (interval.cpu_at_begin) args["cpu_at_begin"] = *interval.cpu_at_begin;
        if (interval.cpu_at_end) args["cpu_at_end"] = *interval.cpu_at_end;
        args["migrated"] = interval.cpu_at_begin && interval.cpu_at_end &&
                           *interval.cpu_at_begin != *interval.cpu_at_end;
        events.push_back(CoreSlice(name.c_str(), "cpu", thread.slot, split_ns, interval.end_ns,
                                   origin_ns, std::move(args)));
      }
    }
  }
}

}  // namespace

std::string ChromeTraceJson(const RunTrace& trace) {
  const std::uint64_t origin_ns = trace.regions.empty() ? 0 : trace.regions.front().begin_ns;
  const std::string runtime = ValidUtf8(RuntimeText(trace));
  std::vector<Json> events;
  events.push_back(Metadata("process_name", 0, {{"name", "matbench"}}));
  events.push_back(Metadata("process_labels", 0, {{"labels", runtime}}));
  for (const std::uint32_t slot : SlotsOf(trace)) {
    events.push_back(Metadata("thread_name", slot, {{"name", "thread " + std::to_string(slot)}}));
  }
  for (const Span& span : SpansOf(trace)) events.push_back(ChromeEvent(span, origin_ns));
  std::vector<Json> cores;
  AddCoreSlices(trace, origin_ns, cores);
  if (!cores.empty()) {
    events.push_back(
        Metadata("process_name", 0, {{"name", "matbench: on a core or waiting"}}, CORES_PID));
    for (const std::uint32_t slot : SlotsOf(trace)) {
      events.push_back(
          Metadata("thread_name", slot, {{"name", "thread " + std::to_string(slot)}}, CORES_PID));
    }
    events.insert(events.end(), cores.begin(), cores.end());
  }

  std::string text = "{\"traceEvents\":[\n";
  for (std::size_t i = 0; i < events.size(); ++i) {
    text += JsonText(events[i], -1, JsonEnd::kNone);
    text += i + 1 < events.size() ? ",\n" : "\n";
  }
  const Json other = {{"runtime", ValidUtf8(trace.runtime)},
                      {"runtime_library", ValidUtf8(trace.runtime_library)},
                      {"omp_version", trace.omp_version},
                      {"lost_events", trace.lost_events}};
  text += "],\n\"displayTimeUnit\":\"ns\",\n\"otherData\":" + JsonText(other, -1, JsonEnd::kNone) +
          "}\n";
  return text;
}

}  // namespace speedup
