#pragma once

#include <optional>
#include <string>

#include "base/result.h"
#include "session/session.h"

// Sessions read from files: a session JSON or saved raw reports, and a fleet's node files.
namespace speedup {

// A session read from a file, and whether the file was a session JSON or saved raw reports.
struct SessionFile {
  Session session;
  bool is_json = false;
};

// A session from `path` ("-": standard input): a session JSON, or saved raw reports whose
// processor count is `processors` (empty: not recorded). A failure naming the file: kUsage when
// `processors` is given for a session JSON, else as ReadInput and ReadSessionText fail, or kInput
// when no report is found.
Result<SessionFile> ReadSessionFile(const std::string& path,
                                    const std::optional<int>& processors = std::nullopt);

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

// The node read from `file`, whose `text` failed when it could not be read. A session that
// failed, was cut short or left nothing is a node with its problem, which is data, not a
// failure; the read fails (kInput, naming the file) when the file is not a session JSON of this
// format version at all, or kInterrupted.
Result<NodeInput> ReadNode(const std::string& file, const Result<std::string>& text);

}  // namespace speedup
