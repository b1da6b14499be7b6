#include "base/interrupts.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace speedup {
namespace {

volatile std::sig_atomic_t pending_interrupt = 0;
volatile std::sig_atomic_t at_once = 0;

// The temporaries an interrupt obeyed at once removes: fixed storage, as the handler may not
// allocate. A slot is filled before it is marked used, and unmarked before it is reused.
constexpr int kTemporaries = 16;
constexpr std::size_t kPathBytes = 4096;
char temporary_paths[kTemporaries][kPathBytes];
volatile std::sig_atomic_t temporary_kind[kTemporaries];  // 0 free, 1 file, 2 folder

// Removes the entries of the open folder `fd`, `depth` levels down, with system calls alone.
void EmptyFolder(int fd, int depth) {
  char buffer[4096];
  for (;;) {
    const long got = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
    if (got <= 0) return;
    for (long offset = 0; offset < got;) {
      const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + offset);
      offset += entry->d_reclen;
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      if (entry->d_type == DT_DIR && depth > 0) {
        const int inner = openat(fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
        if (inner >= 0) {
          EmptyFolder(inner, depth - 1);
          close(inner);
        }
        unlinkat(fd, name, AT_REMOVEDIR);
      } else {
        unlinkat(fd, name, 0);
      }
    }
  }
}

void RemoveTemporaries() {
  for (int slot = 0; slot < kTemporaries; ++slot) {
    if (temporary_kind[slot] == 1) {
      unlink(temporary_paths[slot]);
    } else if (temporary_kind[slot] == 2) {
      const int fd = open(temporary_paths[slot], O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
      if (fd >= 0) {
        EmptyFolder(fd, 2);
        close(fd);
      }
      rmdir(temporary_paths[slot]);
    }
  }
}

// The outputs placed, for the handler to put back: the path and the second name of what it
// held ("" where it held nothing), fixed storage as for the temporaries.
char placed_paths[kTemporaries][kPathBytes];
char placed_backups[kTemporaries][kPathBytes];
volatile std::sig_atomic_t placed_used[kTemporaries];

void PutBackPlaced() {
  for (int slot = 0; slot < kTemporaries; ++slot) {
    if (placed_used[slot] == 0) continue;
    if (placed_backups[slot][0] != '\0') {
      rename(placed_backups[slot], placed_paths[slot]);
    } else {
      unlink(placed_paths[slot]);
    }
  }
}

void SayInterrupted(int signal_number) {
  const char* name = signal_number == SIGINT    ? "SIGINT"
                     : signal_number == SIGTERM ? "SIGTERM"
                     : signal_number == SIGHUP  ? "SIGHUP"
                                                : "a signal";
  const char head[] = "matbench-speedup: interrupted by ";
  ssize_t ignored = write(STDERR_FILENO, head, sizeof head - 1);
  ignored = write(STDERR_FILENO, name, std::strlen(name));
  ignored = write(STDERR_FILENO, "\n", 1);
  (void)ignored;
}

void RecordInterrupt(int signal_number) {
  pending_interrupt = signal_number;
  if (at_once != 0) {
    RemoveTemporaries();
    PutBackPlaced();
    SayInterrupted(signal_number);
    _exit(128 + signal_number);
  }
}

}  // namespace

bool InstallInterruptHandlers() {
  struct sigaction action = {};
  // No SA_RESTART: a blocking call returns EINTR, so the interrupt is looked at without delay.
  action.sa_flags = 0;
  action.sa_handler = RecordInterrupt;
  if (sigemptyset(&action.sa_mask) != 0) return false;
  // One handler at a time: the temporaries are removed once.
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    if (sigaddset(&action.sa_mask, signal_number) != 0) return false;
  }
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    if (sigaction(signal_number, &action, nullptr) != 0) return false;
  }
  action.sa_handler = SIG_IGN;
  return sigaction(SIGPIPE, &action, nullptr) == 0;
}

int PendingInterrupt() { return pending_interrupt; }

void ResetInterruptForTesting() {
  pending_interrupt = 0;
  at_once = 0;
}

void ObeyInterruptsAtOnce() { at_once = 1; }

bool InterruptsObeyedAtOnce() { return at_once != 0; }

int RegisterTemporary(const std::string& path, bool folder) {
  if (path.size() >= kPathBytes) return -1;
  for (int slot = 0; slot < kTemporaries; ++slot) {
    if (temporary_kind[slot] != 0) continue;
    std::memcpy(temporary_paths[slot], path.c_str(), path.size() + 1);
    temporary_kind[slot] = folder ? 2 : 1;
    return slot;
  }
  return -1;
}

void ForgetTemporary(int slot) {
  if (slot >= 0 && slot < kTemporaries) temporary_kind[slot] = 0;
}

void RegisterPlaced(const std::string& target, const std::string& backup) {
  if (target.size() >= kPathBytes || backup.size() >= kPathBytes) return;
  for (int slot = 0; slot < kTemporaries; ++slot) {
    if (placed_used[slot] != 0) continue;
    std::memcpy(placed_paths[slot], target.c_str(), target.size() + 1);
    std::memcpy(placed_backups[slot], backup.c_str(), backup.size() + 1);
    placed_used[slot] = 1;
    return;
  }
}

void KeepPlacedOutputs() {
  const HeldInterrupts held;
  for (int slot = 0; slot < kTemporaries; ++slot) {
    if (placed_used[slot] == 0) continue;
    if (placed_backups[slot][0] != '\0') unlink(placed_backups[slot]);
    placed_used[slot] = 0;
  }
}

HeldInterrupts::HeldInterrupts() {
  static_assert(sizeof old_mask_ >= sizeof(sigset_t));
  sigset_t held;
  sigemptyset(&held);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, signal_number);
  pthread_sigmask(SIG_BLOCK, &held, reinterpret_cast<sigset_t*>(old_mask_));
}

HeldInterrupts::~HeldInterrupts() {
  pthread_sigmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(old_mask_), nullptr);
}

std::string SignalName(int signal_number) {
  const char* abbreviation = sigabbrev_np(signal_number);
  return abbreviation != nullptr ? std::string("SIG") + abbreviation
                                 : "signal " + std::to_string(signal_number);
}

}  // namespace speedup
