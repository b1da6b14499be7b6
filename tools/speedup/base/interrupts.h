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

// Whether ObeyInterruptsAtOnce was called: only then are outputs put back on an interrupt.
bool InterruptsObeyedAtOnce();

// Registers a temporary file or folder (`folder`: removed with its files, two levels deep) that
// an interrupt obeyed at once removes. Returns its slot for ForgetTemporary, or -1 when the table
// of 16 is full (then only its owner removes it).
int RegisterTemporary(const std::string& path, bool folder);

// Forgets slot `slot` (-1: nothing), once its temporary is renamed or removed by its owner.
void ForgetTemporary(int slot);

// Registers an output just put in place at `target`, so that an interrupt obeyed at once puts
// the path back as it was: `backup`, a second name of the file it replaced, is renamed onto it,
// or, where `backup` is empty (the path was new), the new file removed. Not registered when the
// table of 16 is full. Call with interrupts held (HeldInterrupts), between the rename and the
// next system call that may be interrupted.
void RegisterPlaced(const std::string& target, const std::string& backup);

// The outputs placed so far are final: their backups are removed, and an interrupt from now on
// leaves them in place. Call once the command's work is done, before the tool exits.
void KeepPlacedOutputs();

// SIGINT, SIGTERM and SIGHUP held back for the scope's life and delivered after it, so that a
// step of several system calls is done whole or not begun.
class HeldInterrupts {
 public:
  HeldInterrupts();
  ~HeldInterrupts();
  HeldInterrupts(const HeldInterrupts&) = delete;
  HeldInterrupts& operator=(const HeldInterrupts&) = delete;

 private:
  unsigned long long old_mask_[16];  // the caller's sigset_t, kept without <signal.h>
};

// The signal's name, e.g. "SIGINT", or "signal 64" where the system has none.
std::string SignalName(int signal_number);

}  // namespace speedup
