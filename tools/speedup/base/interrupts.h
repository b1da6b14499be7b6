#pragma once

#include <string>

// SIGINT, SIGTERM and SIGHUP recorded rather than obeyed, so every long step can end cleanly.
namespace speedup {

// Makes SIGINT, SIGTERM and SIGHUP only record themselves for `PendingInterrupt` (interrupting
// blocking calls with EINTR) and makes writes to a closed pipe fail with EPIPE. Call once, early;
// false if the system refused one of them.
bool InstallInterruptHandlers();

// The last interrupt recorded since `InstallInterruptHandlers`, or 0; async-signal-safe.
int PendingInterrupt();

// Forgets a recorded interrupt, so one test's interrupt does not stop the next test's runs.
void ResetInterruptForTesting();

// The signal's name, e.g. "SIGINT", or "signal 64" where the system has none.
std::string SignalName(int signal_number);

}  // namespace speedup
