#pragma once

#include <optional>
#include <string>

#include "session/session.h"

// Sessions read from files: a session JSON or saved raw reports, and a fleet's node files.
namespace speedup {

// A session from `path` ("-": standard input): a session JSON, or saved raw reports whose
// processor count is `processors` (empty: not recorded); `is_json` tells which it was. False,
// with a message naming the file.
bool ReadSessionFile(const std::string& path, const std::optional<int>& processors,
                     Session& session, bool* is_json = nullptr);

// Why a node's session is missing or incomplete.
struct NodeProblem {
  enum class Kind {
    kUnreadable,   // the file could not be read
    kEmpty,        // the session ended before writing anything
    kCutOff,       // not valid JSON: cut off while writing
    kMalformed,    // a session of this version with a bad value: `detail`
    kInterrupted,  // ended by the signal `detail` after `runs` runs
    kStopped,      // ended by a fault before its runs: `detail`
    kNoRunPassed,  // no run passed
    kRunFailed,    // some run failed: `detail` is its failure
  };
  Kind kind = Kind::kUnreadable;
  std::string detail;
  int runs = 0;
};

// One machine's session file as a fleet reads it.
struct NodeInput {
  std::string node;  // the Slurm node name, else the host, else the file
  std::string file;
  std::optional<std::string> job;  // the Slurm job id
  std::optional<NodeProblem> problem;
  Session session;
  bool merged = false;  // its finished runs count in the fleet: some run passed
};

// The node read from `file`, whose `text` is empty when it could not be read. A session that
// failed, was cut short or left nothing is a node with its problem; `refusal` is set instead
// when the file is not a session JSON of this format version at all.
NodeInput ReadNode(const std::string& file, const std::optional<std::string>& text,
                   std::string& refusal);

}  // namespace speedup
