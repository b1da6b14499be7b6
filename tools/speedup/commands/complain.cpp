#include "commands/complain.h"

#include <cstdio>

#include "base/interrupts.h"

namespace speedup {

void Complain(const std::string& message) {
  std::fprintf(stderr, "matbench-speedup: %s\n", message.c_str());
}

int ExitStatus(FailureKind kind) {
  switch (kind) {
    case FailureKind::kUsage:
    case FailureKind::kInput:
    case FailureKind::kNotJson:
    case FailureKind::kMalformed:
    case FailureKind::kBenchmark:
      return 2;
    case FailureKind::kOutput:
      return 1;
    case FailureKind::kInterrupted:
      break;
  }
  const int signal_number = PendingInterrupt();
  return signal_number != 0 ? 128 + signal_number : 1;
}

int Refuse(const Failure& failure) {
  const int signal_number = PendingInterrupt();
  if (failure.kind == FailureKind::kInterrupted && signal_number != 0) {
    // In main's words, once: main leaves an exit status of 128 + the signal unsaid.
    Complain("interrupted by " + SignalName(signal_number));
  } else {
    Complain(failure.message);
  }
  return ExitStatus(failure.kind);
}

}  // namespace speedup
