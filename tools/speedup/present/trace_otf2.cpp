#include <otf2/otf2.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "present/trace_export.h"
#include "present/trace_spans.h"

// The OTF2 export (trace_export.h).
namespace speedup {
namespace {

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

// What a record of a location is. At one time a fork and a team's begin come before the Enters
// and Leaves, a join and a team's end after them.
enum class StepKind { kFork, kTeamBegin, kEnter, kLeave, kJoin, kTeamEnd };

// One record of a location.
struct Step {
  std::uint64_t time_ns;
  StepKind kind;
  OTF2_RegionRef region = 0;                        // an Enter's or a Leave's
  std::optional<std::uint64_t> row = std::nullopt;  // a row's Enter carries its index
  std::uint32_t value = 0;  // a fork's team size asked for; a team's communicator
};

int Rank(StepKind kind) {
  switch (kind) {
    case StepKind::kFork:
      return 0;
    case StepKind::kTeamBegin:
      return 1;
    case StepKind::kEnter:
    case StepKind::kLeave:
      return 2;
    case StepKind::kTeamEnd:
      return 3;
    case StepKind::kJoin:
      return 4;
  }
  return 2;
}

// Steps in time order, at one time in the order of their kinds' ranks.
bool StepBefore(const Step& a, const Step& b) {
  if (a.time_ns != b.time_ns) return a.time_ns < b.time_ns;
  return Rank(a.kind) < Rank(b.kind);
}

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
    steps.push_back({span.begin_ns, StepKind::kEnter, region, row});
    open.push_back({end_ns, StepKind::kLeave, region});
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
    origin_ns_ = Origin();
    last_ns_ = origin_ns_;
    for (auto& [slot, spans] : by_slot) {
      OTF2_EvtWriter* writer = OTF2_Archive_GetEvtWriter(archive_.get(), slot);
      if (writer == nullptr) {
        Failure("cannot write the events", OTF2_ERROR_INVALID);
        return false;
      }
      std::vector<Step> steps = NestedSteps(std::move(spans));
      AddTeamSteps(slot, steps);
      for (const Step& step : steps) {
        const OTF2_TimeStamp time = step.time_ns;
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
        if (!Check("cannot write the events", {WriteStep(writer, attributes, step)})) return false;
      }
      events_[slot] = steps.size();
      if (!Check("cannot write the events",
                 {OTF2_Archive_CloseEvtWriter(archive_.get(), writer)})) {
        return false;
      }
    }
    return Check("cannot close the event files", {OTF2_Archive_CloseEvtFiles(archive_.get())});
  }

  OTF2_ErrorCode WriteStep(OTF2_EvtWriter* writer, OTF2_AttributeList* attributes,
                           const Step& step) {
    switch (step.kind) {
      case StepKind::kEnter:
        return OTF2_EvtWriter_Enter(writer, attributes, step.time_ns, step.region);
      case StepKind::kLeave:
        return OTF2_EvtWriter_Leave(writer, attributes, step.time_ns, step.region);
      case StepKind::kFork:
        return OTF2_EvtWriter_ThreadFork(writer, nullptr, step.time_ns, OTF2_PARADIGM_OPENMP,
                                         step.value);
      case StepKind::kJoin:
        return OTF2_EvtWriter_ThreadJoin(writer, nullptr, step.time_ns, OTF2_PARADIGM_OPENMP);
      case StepKind::kTeamBegin:
        return OTF2_EvtWriter_ThreadTeamBegin(writer, nullptr, step.time_ns, step.value);
      case StepKind::kTeamEnd:
        return OTF2_EvtWriter_ThreadTeamEnd(writer, nullptr, step.time_ns, step.value);
    }
    return OTF2_ERROR_INVALID;
  }

  // The thread model's records of `slot` put among its Enters and Leaves: the initial thread
  // forks each team at its region's begin and joins it at the end; each thread begins and ends
  // its team with its implicit task (where both ends were seen). A team is the slots of the
  // region's threads, one communicator per distinct team.
  void AddTeamSteps(std::uint32_t slot, std::vector<Step>& steps) {
    std::vector<Step> team_steps;
    for (const RegionTrace& region : trace_.regions) {
      std::vector<std::uint32_t> members;
      for (const ThreadInRegion& thread : region.threads) members.push_back(thread.slot);
      std::sort(members.begin(), members.end());
      members.erase(std::unique(members.begin(), members.end()), members.end());
      const auto team =
          static_cast<std::uint32_t>(teams_.emplace(members, teams_.size()).first->second);
      if (slot == 0) {
        team_steps.push_back(
            {region.begin_ns, StepKind::kFork, 0, std::nullopt, region.requested_team});
        team_steps.push_back({region.end_ns, StepKind::kJoin});
      }
      for (const ThreadInRegion& thread : region.threads) {
        if (thread.slot != slot || !thread.task_begin_ns || !thread.task_end_ns) continue;
        team_steps.push_back({*thread.task_begin_ns, StepKind::kTeamBegin, 0, std::nullopt, team});
        team_steps.push_back({*thread.task_end_ns, StepKind::kTeamEnd, 0, std::nullopt, team});
      }
    }
    // The Enters and Leaves are in order already; merging keeps them so.
    std::sort(team_steps.begin(), team_steps.end(), StepBefore);
    std::vector<Step> merged;
    merged.reserve(steps.size() + team_steps.size());
    std::merge(steps.begin(), steps.end(), team_steps.begin(), team_steps.end(),
               std::back_inserter(merged), StepBefore);
    steps = std::move(merged);
  }

  // The earliest time of any span: the archive's global offset.
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
      // Every thread read the one monotonic clock: no offset to the archive's, at either end.
      if (!Check("cannot write the definitions",
                 {OTF2_DefWriter_WriteClockOffset(writer, origin_ns_, 0, 0.0),
                  OTF2_DefWriter_WriteClockOffset(writer, last_ns_, 0, 0.0),
                  OTF2_Archive_CloseDefWriter(archive_.get(), writer)})) {
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
    codes.push_back(OTF2_GlobalDefWriter_WriteClockProperties(
        writer, 1000000000, origin_ns_, last_ns_ - origin_ns_, OTF2_UNDEFINED_TIMESTAMP));
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
    WriteTeams(writer, string_ref, codes);
    codes.push_back(OTF2_Archive_CloseGlobalDefWriter(archive_.get(), writer));
    for (const OTF2_ErrorCode code : codes) {
      if (!Check("cannot write the global definitions", {code})) return false;
    }
    return true;
  }

  // The OpenMP threads as one group of locations, each team a group of their indices in it and
  // a communicator that the team's records name.
  template <typename StringRef>
  void WriteTeams(OTF2_GlobalDefWriter* writer, StringRef& string_ref,
                  std::vector<OTF2_ErrorCode>& codes) {
    std::vector<std::uint64_t> locations;
    for (const auto& [slot, count] : events_) locations.push_back(slot);
    codes.push_back(OTF2_GlobalDefWriter_WriteGroup(
        writer, 0, string_ref("OpenMP threads"), OTF2_GROUP_TYPE_COMM_LOCATIONS,
        OTF2_PARADIGM_OPENMP, OTF2_GROUP_FLAG_NONE, static_cast<std::uint32_t>(locations.size()),
        locations.data()));
    for (const auto& [members, team] : teams_) {
      std::vector<std::uint64_t> ranks;
      for (const std::uint32_t slot : members) {
        ranks.push_back(static_cast<std::uint64_t>(
            std::lower_bound(locations.begin(), locations.end(), slot) - locations.begin()));
      }
      const OTF2_StringRef name = string_ref("team of " + std::to_string(members.size()));
      codes.push_back(OTF2_GlobalDefWriter_WriteGroup(
          writer, static_cast<OTF2_GroupRef>(team + 1), name, OTF2_GROUP_TYPE_COMM_GROUP,
          OTF2_PARADIGM_OPENMP, OTF2_GROUP_FLAG_NONE, static_cast<std::uint32_t>(ranks.size()),
          ranks.data()));
      codes.push_back(OTF2_GlobalDefWriter_WriteComm(writer, team, name,
                                                     static_cast<OTF2_GroupRef>(team + 1),
                                                     OTF2_UNDEFINED_COMM, OTF2_COMM_FLAG_NONE));
    }
  }

  const RunTrace& trace_;
  std::string& otf2_error_;
  std::unique_ptr<OTF2_Archive, ArchiveCloser> archive_;
  // Emptied by each write that takes it.
  std::unique_ptr<OTF2_AttributeList, ListDeleter> rows_{OTF2_AttributeList_New()};
  std::map<std::uint32_t, std::uint64_t> events_;  // records written, by location
  std::uint64_t origin_ns_ = 0, last_ns_ = 0;
  std::map<std::vector<std::uint32_t>, std::size_t> teams_;  // slots -> communicator
  std::string where_;                                        // the archive, for the messages
  std::string error_;
};

}  // namespace

std::string WriteOtf2(const RunTrace& trace, const std::string& archive_path,
                      const std::string& archive_name) {
  std::string otf2_error;
  const ErrorsKept kept(otf2_error);
  return Otf2Writer(trace, otf2_error).Write(archive_path, archive_name);
}

}  // namespace speedup
