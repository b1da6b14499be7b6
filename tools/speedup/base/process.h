#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/process_failure.h"

// Running one child program, bounded in output and time, in a process group of its own.
namespace speedup {

enum class StderrHandling {
  kInherit,  // the child writes to the tool's own standard error
  kMerge,    // into `ProcessResult::output`, under the same cap as standard output
  kCapture,  // into `ProcessResult::error_output`, under its own cap
};

struct ProcessOptions {
  // Past this many bytes of captured output the child is killed and the run fails.
  std::size_t max_output_bytes = std::size_t{1} << 20;
  // Past this many bytes separately captured standard error is dropped; the child runs on.
  std::size_t max_error_bytes = std::size_t{1} << 20;
  // Wall seconds from the start until the child's process group is ended; <= 0: no limit.
  double time_limit_seconds = 0;
  // Seconds between SIGTERM and SIGKILL when the tool ends the child's process group.
  double grace_seconds = 1;
  StderrHandling stderr_handling = StderrHandling::kInherit;
  // "NAME=value" adds or replaces NAME in the child's environment; a bare "NAME" removes it.
  std::vector<std::string> extra_environment;
  // The child's working directory; empty: the tool's own.
  std::string working_directory;
  // Once the child has exited, captured output for which this is true is whole: capture ends
  // without waiting for a descendant that keeps the output open. Empty: capture ends when every
  // writer has closed it (or at the time limit).
  std::function<bool(std::string_view output)> output_whole;
  // Once this is true for the output captured so far, the child's group is ended (given its
  // grace) and the run marked `ended_early`: the caller has seen all it needs. Empty: never.
  std::function<bool(std::string_view output)> seen_enough;
};

struct ProcessResult {
  bool started = false;
  std::string start_error;   // why it was not started
  pid_t pid = 0;             // the child's, which is also its process group's; reaped on return
  std::string output;        // captured standard output, at most `max_output_bytes`
  std::string error_output;  // standard error when captured apart, at most `max_error_bytes`
  bool error_output_truncated = false;
  // How the run failed; none after exit status 0.
  std::optional<ProcessFailure> failure;
  int exit_status = -1;  // -1 unless it exited
  int term_signal = 0;   // the signal that ended it, 0 if none
  bool timed_out = false;
  bool output_too_large = false;
  bool ended_early = false;  // `seen_enough` ended it
  int interrupted = 0;       // the interrupt that ended the run or kept it from starting, or 0
  double wall_seconds = 0;   // from just before the start until the child was reaped
  double cpu_seconds = 0;    // user + system time of the child and the descendants it reaped
};

// Whether `program` is an executable file in one of PATH's folders, as RunProcess would find it;
// PATH unset means the system's default path.
bool OnPath(const std::string& program);

// Runs `argv` (non-empty; the program is looked up in PATH unless it contains '/') in a process
// group of its own with standard input on /dev/null and standard output captured. When the child
// has ended, by itself or not, what is left of its group (background processes it started) is
// killed, while the unreaped child still holds the group's id. `on_output`,
// if set, sees each piece of captured output as it arrives and must not throw (the child would be
// left running). Returns once the child is reaped; a pending interrupt ends the child's group, and
// one pending at the call keeps it from starting.
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options,
                         const std::function<void(std::string_view)>& on_output);

}  // namespace speedup
