#pragma once

#include <cstddef>
#include <string>

// How a child program's run failed, as data, and the words for it.
namespace speedup {

// How a run failed, first cause first, with the values its words need.
struct ProcessFailure {
  enum class Kind {
    kInterrupted,     // interrupt `number` ended the run or kept it from starting
    kTimedOut,        // the time limit, `seconds`, passed
    kOutputTooLarge,  // it wrote more than `bytes` of output
    kEndedEarly,      // `seen_enough` ended it
    kNotWatched,      // the tool could not go on watching it: `detail` says why
    kStatusLost,      // its exit status was lost
    kExitStatus,      // it exited with status `number`, not 0
    kKilled,          // signal `number` ended it
  };
  Kind kind = Kind::kExitStatus;
  int number = 0;
  double seconds = 0;
  std::size_t bytes = 0;
  std::string detail{};

  bool operator==(const ProcessFailure&) const = default;
};

// The failure in words: "exit status 3", "killed by signal 9 (Killed)", "timed out after 30 s",
// "wrote more than 1 MiB of output", "interrupted by SIGINT".
std::string ProcessFailureText(const ProcessFailure& failure);

}  // namespace speedup
