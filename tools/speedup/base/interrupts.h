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

// From now on an interrupt ends the tool at once, from the handler: the temporaries registered
// are removed, "matbench-speedup: interrupted by SIGINT" is said and the exit status is 128 + the
// signal. For the steps that run no program of their own and whose outputs are all still
// temporaries (reading, analysis, rendering, writing); a pending interrupt stays for the caller.
void ObeyInterruptsAtOnce();

// Registers a temporary file or folder (`folder`: removed with its files, two levels deep) that
// an interrupt obeyed at once removes. Returns its slot for ForgetTemporary, or -1 when the table
// of 16 is full (then only its owner removes it).
int RegisterTemporary(const std::string& path, bool folder);

// Forgets slot `slot` (-1: nothing), once its temporary is renamed or removed by its owner.
void ForgetTemporary(int slot);

// The signal's name, e.g. "SIGINT", or "signal 64" where the system has none.
std::string SignalName(int signal_number);

}  // namespace speedup
