#include "base/interrupts.h"

#include <signal.h>

#include <csignal>
#include <cstring>

namespace speedup {
namespace {

volatile std::sig_atomic_t pending_interrupt = 0;

void RecordInterrupt(int signal_number) { pending_interrupt = signal_number; }

}  // namespace

bool InstallInterruptHandlers() {
  struct sigaction action = {};
  // No SA_RESTART: a blocking call returns EINTR, so the interrupt is looked at without delay.
  action.sa_flags = 0;
  action.sa_handler = RecordInterrupt;
  if (sigemptyset(&action.sa_mask) != 0) return false;
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    if (sigaction(signal_number, &action, nullptr) != 0) return false;
  }
  action.sa_handler = SIG_IGN;
  return sigaction(SIGPIPE, &action, nullptr) == 0;
}

int PendingInterrupt() { return pending_interrupt; }

void ResetInterruptForTesting() { pending_interrupt = 0; }

std::string SignalName(int signal_number) {
  const char* abbreviation = sigabbrev_np(signal_number);
  return abbreviation != nullptr ? std::string("SIG") + abbreviation
                                 : "signal " + std::to_string(signal_number);
}

}  // namespace speedup
