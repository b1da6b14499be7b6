#include "base/process_failure.h"

#include <charconv>
#include <cstring>

#include "base/interrupts.h"
#include "base/text.h"

namespace speedup {
namespace {

// Seconds as the shortest fixed text that reads back the same: "0.3", "30".
std::string SecondsText(double seconds) {
  char text[64];
  const auto [end, error] =
      std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed);
  return error == std::errc() ? std::string(text, end) : std::to_string(seconds);
}

}  // namespace

std::string ProcessFailureText(const ProcessFailure& failure) {
  using Kind = ProcessFailure::Kind;
  switch (failure.kind) {
    case Kind::kInterrupted:
      return "interrupted by " + SignalName(failure.number);
    case Kind::kTimedOut:
      return "timed out after " + SecondsText(failure.seconds) + " s";
    case Kind::kOutputTooLarge:
      return "wrote more than " + ByteCountText(failure.bytes) + " of output";
    case Kind::kEndedEarly:
      return "ended by the tool once its output was enough";
    case Kind::kNotWatched:
      return failure.detail;
    case Kind::kStatusLost:
      return "its exit status was lost";
    case Kind::kExitStatus:
      return "exit status " + std::to_string(failure.number);
    case Kind::kKilled:
      break;
  }
  return "killed by signal " + std::to_string(failure.number) + " (" + strsignal(failure.number) +
         ")";
}

}  // namespace speedup
