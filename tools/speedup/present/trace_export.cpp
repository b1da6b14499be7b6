#include "present/trace_export.h"

#include <otf2/otf2.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "base/text.h"
#include "present/json_reporter.h"
#include "stats/trace_split.h"

namespace speedup {
namespace {

using Json = nlohmann::ordered_json;

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

// Every span of the run: per region, the region, then per thread its task, loop, rows and waits.
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

// The thread slots that appear in the run, the initial thread's always among them.
std::vector<std::uint32_t> SlotsOf(const RunTrace& trace) {
  std::vector<std::uint32_t> slots = {0};
  for (const RegionTrace& region : trace.regions) {
    for (const ThreadInRegion& thread : region.threads) slots.push_back(thread.slot);
  }
  std::sort(slots.begin(), slots.end());
  slots.erase(std::unique(slots.begin(), slots.end()), slots.end());
  return slots;
}

// ---- Chrome trace-event JSON ----

// Nanoseconds from `origin_ns` as microseconds, negative before it.
double Microseconds(std::uint64_t time_ns, std::uint64_t origin_ns) {
  return static_cast<double>(static_cast<std::int64_t>(time_ns - origin_ns)) / 1000.0;
}

Json Metadata(const char* name, std::uint32_t tid, Json args) {
  return {{"name", name}, {"ph", "M"},  {"ts", 0.0},
          {"pid", 1},     {"tid", tid}, {"args", std::move(args)}};
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

// ---- OTF2 ----

// The regions of the archive, numbered as their span kinds.
struct Otf2Region {
  const char* name;
  OTF2_RegionRole role;
};
constexpr Otf2Region OTF2_REGIONS[] = {
    {"parallel region", OTF2_REGION_ROLE_PARALLEL},
    {"implicit task", OTF2_REGION_ROLE_TASK},
    {"loop", OTF2_REGION_ROLE_LOOP},
    {"row", OTF2_REGION_ROLE_CODE},
    {"barrier wait", OTF2_REGION_ROLE_BARRIER},
    {"idle between regions", OTF2_REGION_ROLE_ARTIFICIAL},
};

// One record of a location: an Enter or a Leave.
struct Step {
  std::uint64_t time_ns;
  bool enter;
  OTF2_RegionRef region;
  std::optional<std::uint64_t> row = std::nullopt;  // a row's Enter carries its index
};

// The one attribute of the archive: a row's index, on each row's Enter.
constexpr OTF2_AttributeRef kRowAttribute = 0;

// `spans` of one location as Enters and Leaves in time order, nested: at one time an outer span
// opens first, and a span that outlasts the one around it is cut at that one's end.
std::vector<Step> NestedSteps(std::vector<Span> unordered) {
  // Sorted through their indices, ties in input order, as a stable sort would keep them.
  std::vector<std::size_t> order(unordered.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&unordered](std::size_t i, std::size_t j) {
    const Span& a = unordered[i];
    const Span& b = unordered[j];
    if (a.begin_ns != b.begin_ns) return a.begin_ns < b.begin_ns;
    if (a.kind != b.kind) return a.kind < b.kind;
    if (a.end_ns != b.end_ns) return a.end_ns > b.end_ns;
    return i < j;
  });
  std::vector<Span> spans;
  spans.reserve(unordered.size());
  for (const std::size_t i : order) spans.push_back(unordered[i]);
  std::vector<Step> steps;
  steps.reserve(spans.size() * 2);
  std::vector<Step> open;  // the Leaves still due, the innermost last
  for (const Span& span : spans) {
    while (!open.empty() && open.back().time_ns <= span.begin_ns) {
      steps.push_back(open.back());
      open.pop_back();
    }
    std::uint64_t end_ns = span.end_ns;
    if (!open.empty()) end_ns = std::min(end_ns, open.back().time_ns);
    const auto region = static_cast<OTF2_RegionRef>(span.kind);
    std::optional<std::uint64_t> row;
    if (span.kind == SpanKind::kRow) row = span.claim->first;
    steps.push_back({span.begin_ns, true, region, row});
    open.push_back({end_ns, false, region});
  }
  steps.insert(steps.end(), open.rbegin(), open.rend());
  return steps;
}

OTF2_FlushType PreFlush(void*, OTF2_FileType, OTF2_LocationRef, void*, bool) { return OTF2_FLUSH; }

OTF2_FlushCallbacks flush_callbacks = {PreFlush, nullptr};

// Keeps what OTF2's first error was, in its own words, in the string its user data points to,
// instead of printing it.
OTF2_ErrorCode KeepError(void* user_data, const char*, std::uint64_t, const char*,
                         OTF2_ErrorCode code, const char*, va_list) {
  auto* kept = static_cast<std::string*>(user_data);
  if (kept->empty()) {
    const char* description = OTF2_Error_GetDescription(code);
    *kept = description != nullptr && description[0] != '\0' ? description : "an OTF2 error";
  }
  return code;
}

// OTF2's errors go to `kept` while this lives; the former handler comes back after.
class ErrorsKept {
 public:
  explicit ErrorsKept(std::string& kept) : former_(OTF2_Error_RegisterCallback(KeepError, &kept)) {}
  ~ErrorsKept() { OTF2_Error_RegisterCallback(former_, nullptr); }
  ErrorsKept(const ErrorsKept&) = delete;
  ErrorsKept& operator=(const ErrorsKept&) = delete;

 private:
  OTF2_ErrorCallback former_;
};

struct ListDeleter {
  void operator()(OTF2_AttributeList* list) const { OTF2_AttributeList_Delete(list); }
};

struct ArchiveCloser {
  void operator()(OTF2_Archive* archive) const { OTF2_Archive_Close(archive); }
};

// Writes the whole archive; the first failure ends it, named by `what` and OTF2's message.
class Otf2Writer {
 public:
  Otf2Writer(const RunTrace& trace, std::string& otf2_error)
      : trace_(trace), otf2_error_(otf2_error) {}

  std::string Write(const std::string& archive_path, const std::string& archive_name) {
    where_ = archive_path + "/" + archive_name;
    archive_.reset(OTF2_Archive_Open(archive_path.c_str(), archive_name.c_str(),
                                     OTF2_FILEMODE_WRITE, 1 << 20, 4 << 20, OTF2_SUBSTRATE_POSIX,
                                     OTF2_COMPRESSION_NONE));
    if (!archive_) return Failure("cannot open the archive", OTF2_ERROR_INVALID);
    // Setting the collectives makes the archive's folders.
    const std::string description = Printable(RuntimeText(trace_));
    if (!Check("cannot create the archive",
               {OTF2_Archive_SetFlushCallbacks(archive_.get(), &flush_callbacks, nullptr),
                OTF2_Archive_SetSerialCollectiveCallbacks(archive_.get()),
                OTF2_Archive_SetCreator(archive_.get(), "matbench-speedup"),
                OTF2_Archive_SetDescription(archive_.get(), description.c_str())})) {
      return error_;
    }
    if (!WriteEvents() || !WriteLocalDefinitions() || !WriteGlobalDefinitions()) return error_;
    // Closing writes the anchor file, and may fail without saying so in its answer.
    const OTF2_ErrorCode closed = OTF2_Archive_Close(archive_.release());
    if (!Check("cannot finish the archive", {closed})) return error_;
    return "";
  }

 private:
  // "`what` at PATH/NAME: why", why in OTF2's words.
  std::string Failure(const char* what, OTF2_ErrorCode code) {
    const std::string why = !otf2_error_.empty() ? otf2_error_ : OTF2_Error_GetDescription(code);
    error_ = std::string(what) + " " + Quoted(where_) + ": " + Printable(why);
    return error_;
  }

  // False, and the failure kept, when a code or a message from OTF2 says that a step failed.
  bool Check(const char* what, std::initializer_list<OTF2_ErrorCode> codes) {
    for (const OTF2_ErrorCode code : codes) {
      if (code != OTF2_SUCCESS || !otf2_error_.empty()) {
        Failure(what, code);
        return false;
      }
    }
    return true;
  }

  bool WriteEvents() {
    if (!Check("cannot open the event files", {OTF2_Archive_OpenEvtFiles(archive_.get())})) {
      return false;
    }
    std::map<std::uint32_t, std::vector<Span>> by_slot;
    for (const std::uint32_t slot : SlotsOf(trace_)) by_slot[slot];
    for (const Span& span : SpansOf(trace_)) by_slot[span.slot].push_back(span);
    const std::uint64_t origin_ns = Origin();
    for (auto& [slot, spans] : by_slot) {
      OTF2_EvtWriter* writer = OTF2_Archive_GetEvtWriter(archive_.get(), slot);
      if (writer == nullptr) {
        Failure("cannot write the events", OTF2_ERROR_INVALID);
        return false;
      }
      const std::vector<Step> steps = NestedSteps(std::move(spans));
      for (const Step& step : steps) {
        const OTF2_TimeStamp time = step.time_ns - origin_ns;
        last_ns_ = std::max(last_ns_, time);
        OTF2_AttributeList* attributes = nullptr;
        if (step.row) {
          attributes = rows_.get();
          OTF2_AttributeValue value;
          value.uint64 = *step.row;
          if (!Check("cannot write the events",
                     {OTF2_AttributeList_AddAttribute(attributes, kRowAttribute, OTF2_TYPE_UINT64,
                                                      value)})) {
            return false;
          }
        }
        const OTF2_ErrorCode code =
            step.enter ? OTF2_EvtWriter_Enter(writer, attributes, time, step.region)
                       : OTF2_EvtWriter_Leave(writer, attributes, time, step.region);
        if (!Check("cannot write the events", {code})) return false;
      }
      events_[slot] = steps.size();
      if (!Check("cannot write the events",
                 {OTF2_Archive_CloseEvtWriter(archive_.get(), writer)})) {
        return false;
      }
    }
    return Check("cannot close the event files", {OTF2_Archive_CloseEvtFiles(archive_.get())});
  }

  // The earliest time of any span, so that every timestamp is at or after 0.
  std::uint64_t Origin() const {
    std::uint64_t origin = UINT64_MAX;
    for (const Span& span : SpansOf(trace_)) origin = std::min(origin, span.begin_ns);
    return origin == UINT64_MAX ? 0 : origin;
  }

  bool WriteLocalDefinitions() {
    if (!Check("cannot open the definition files", {OTF2_Archive_OpenDefFiles(archive_.get())})) {
      return false;
    }
    for (const auto& [slot, count] : events_) {
      OTF2_DefWriter* writer = OTF2_Archive_GetDefWriter(archive_.get(), slot);
      if (writer == nullptr) {
        Failure("cannot write the definitions", OTF2_ERROR_INVALID);
        return false;
      }
      if (!Check("cannot write the definitions",
                 {OTF2_Archive_CloseDefWriter(archive_.get(), writer)})) {
        return false;
      }
    }
    return Check("cannot close the definition files", {OTF2_Archive_CloseDefFiles(archive_.get())});
  }

  bool WriteGlobalDefinitions() {
    OTF2_GlobalDefWriter* writer = OTF2_Archive_GetGlobalDefWriter(archive_.get());
    if (writer == nullptr) {
      Failure("cannot write the global definitions", OTF2_ERROR_INVALID);
      return false;
    }
    OTF2_StringRef next_string = 0;
    std::vector<OTF2_ErrorCode> codes;
    const auto string_ref = [&](const std::string& text) {
      codes.push_back(OTF2_GlobalDefWriter_WriteString(writer, next_string, text.c_str()));
      return next_string++;
    };
    codes.push_back(OTF2_GlobalDefWriter_WriteClockProperties(writer, 1000000000, 0, last_ns_,
                                                              OTF2_UNDEFINED_TIMESTAMP));
    const OTF2_StringRef empty = string_ref("");
    codes.push_back(OTF2_GlobalDefWriter_WriteAttribute(
        writer, kRowAttribute, string_ref("row"), string_ref("the row's index"), OTF2_TYPE_UINT64));
    for (std::size_t i = 0; i < std::size(OTF2_REGIONS); ++i) {
      const OTF2_StringRef name = string_ref(OTF2_REGIONS[i].name);
      codes.push_back(OTF2_GlobalDefWriter_WriteRegion(
          writer, static_cast<OTF2_RegionRef>(i), name, name, empty, OTF2_REGIONS[i].role,
          OTF2_PARADIGM_OPENMP, OTF2_REGION_FLAG_NONE, empty, 0, 0));
    }
    codes.push_back(OTF2_GlobalDefWriter_WriteSystemTreeNode(
        writer, 0, string_ref("machine"), string_ref("node"), OTF2_UNDEFINED_SYSTEM_TREE_NODE));
    codes.push_back(OTF2_GlobalDefWriter_WriteLocationGroup(writer, 0, string_ref("matbench"),
                                                            OTF2_LOCATION_GROUP_TYPE_PROCESS, 0,
                                                            OTF2_UNDEFINED_LOCATION_GROUP));
    for (const auto& [slot, count] : events_) {
      codes.push_back(OTF2_GlobalDefWriter_WriteLocation(
          writer, slot, string_ref("thread " + std::to_string(slot)), OTF2_LOCATION_TYPE_CPU_THREAD,
          count, 0));
    }
    codes.push_back(OTF2_Archive_CloseGlobalDefWriter(archive_.get(), writer));
    for (const OTF2_ErrorCode code : codes) {
      if (!Check("cannot write the global definitions", {code})) return false;
    }
    return true;
  }

  const RunTrace& trace_;
  std::string& otf2_error_;
  std::unique_ptr<OTF2_Archive, ArchiveCloser> archive_;
  // Emptied by each write that takes it.
  std::unique_ptr<OTF2_AttributeList, ListDeleter> rows_{OTF2_AttributeList_New()};
  std::map<std::uint32_t, std::uint64_t> events_;  // records written, by location
  std::uint64_t last_ns_ = 0;
  std::string where_;  // the archive, for the messages
  std::string error_;
};

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

std::string WriteOtf2(const RunTrace& trace, const std::string& archive_path,
                      const std::string& archive_name) {
  std::string otf2_error;
  const ErrorsKept kept(otf2_error);
  return Otf2Writer(trace, otf2_error).Write(archive_path, archive_name);
}

}  // namespace speedup
