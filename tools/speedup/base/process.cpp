#include "base/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "base/interrupts.h"
#include "base/text.h"

extern char** environ;

namespace speedup {
namespace {

using Clock = std::chrono::steady_clock;

// An interrupt caught by another thread does not wake our poll, so it must return this often.
constexpr int kPollMilliseconds = 50;

// Far beyond any run, and small enough that converting it to clock ticks cannot overflow.
constexpr double kLongestLimitSeconds = 1e9;

// Linux releases the descriptor even when close reports EINTR or EIO, and a pipe end holds nothing
// of ours to lose, so there is nothing to retry or report.
void Close(int fd) { static_cast<void>(close(fd)); }

// ESRCH means the group is gone already, which is the goal; EPERM means a member changed its user
// and nothing we could do would end it.
void SignalGroup(pid_t group, int signal_number) { static_cast<void>(kill(-group, signal_number)); }

// With a standard stream closed in the tool, a pipe end could land on 0-2 and be replaced by the
// child's own redirections; so both ends are kept above them. Returns 0 or the error number.
int OpenPipe(int ends[2]) {
  if (pipe2(ends, O_CLOEXEC) != 0) return errno;
  for (int i = 0; i < 2; ++i) {
    if (ends[i] > STDERR_FILENO) continue;
    const int moved = fcntl(ends[i], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int error = errno;
    Close(ends[i]);
    if (moved < 0) {
      Close(ends[1 - i]);
      return error;
    }
    ends[i] = moved;
  }
  return 0;
}

std::string SecondsText(double seconds) {
  char text[64];
  const auto [end, error] =
      std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed);
  return error == std::errc() ? std::string(text, end) : std::to_string(seconds);
}

std::string InterruptText(int signal_number) {
  return "interrupted by " + SignalName(signal_number);
}

std::string_view NameOf(std::string_view entry) { return entry.substr(0, entry.find('=')); }

std::vector<std::string> ChildEnvironment(const std::vector<std::string>& changes) {
  std::vector<std::string> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    environment.emplace_back(*entry);
  }
  for (const std::string& change : changes) {
    std::erase_if(environment,
                  [&](const std::string& entry) { return NameOf(entry) == NameOf(change); });
    if (change.find('=') != std::string::npos) environment.push_back(change);
  }
  return environment;
}

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const std::string& text : strings) pointers.push_back(const_cast<char*>(text.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

int ConfigureSpawn(posix_spawn_file_actions_t* actions, posix_spawnattr_t* attributes,
                   int output_fd, int error_fd, const ProcessOptions& options) {
  int error = posix_spawn_file_actions_addopen(actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (error == 0) error = posix_spawn_file_actions_adddup2(actions, output_fd, STDOUT_FILENO);
  if (error == 0 && options.stderr_handling == StderrHandling::kMerge) {
    error = posix_spawn_file_actions_adddup2(actions, output_fd, STDERR_FILENO);
  }
  if (error == 0 && error_fd >= 0) {
    error = posix_spawn_file_actions_adddup2(actions, error_fd, STDERR_FILENO);
  }
  if (error == 0 && !options.working_directory.empty()) {
    error = posix_spawn_file_actions_addchdir_np(actions, options.working_directory.c_str());
  }
  // The tool ignores SIGPIPE and an ignored signal survives exec; the child must die of it as
  // usual, and must act on the SIGTERM that ends it, whatever mask the calling thread has.
  sigset_t defaults;
  sigset_t unblocked;
  if (sigemptyset(&defaults) != 0 || sigemptyset(&unblocked) != 0) return errno;
  for (const int signal_number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) {
    if (sigaddset(&defaults, signal_number) != 0) return errno;
  }
  if (error == 0) error = posix_spawnattr_setsigdefault(attributes, &defaults);
  if (error == 0) error = posix_spawnattr_setsigmask(attributes, &unblocked);
  if (error == 0) error = posix_spawnattr_setpgroup(attributes, 0);
  if (error == 0) {
    error = posix_spawnattr_setflags(
        attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  return error;
}

// Returns 0 or the error number that kept the child from starting.
int Spawn(const std::vector<std::string>& argv, const ProcessOptions& options, int output_fd,
          int error_fd, pid_t* child) {
  posix_spawn_file_actions_t actions;
  int error = posix_spawn_file_actions_init(&actions);
  if (error != 0) return error;
  posix_spawnattr_t attributes;
  error = posix_spawnattr_init(&attributes);
  if (error == 0) {
    error = ConfigureSpawn(&actions, &attributes, output_fd, error_fd, options);
    if (error == 0) {
      const std::vector<std::string> environment = ChildEnvironment(options.extra_environment);
      const std::vector<char*> arguments = Pointers(argv);
      const std::vector<char*> environment_pointers = Pointers(environment);
      error = posix_spawnp(child, arguments[0], &actions, &attributes, arguments.data(),
                           environment_pointers.data());
    }
    posix_spawnattr_destroy(&attributes);
  }
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

// execve reports a directory as EACCES, which would send the user looking at permissions.
std::string StartErrorText(const std::string& program, const std::string& directory, int error) {
  if (error == EACCES && program.find('/') != std::string::npos) {
    const std::string path =
        program.front() == '/' || directory.empty() ? program : directory + "/" + program;
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return std::strerror(EISDIR);
  }
  return std::strerror(error);
}

struct Reaping {
  bool reaped = false;
  bool status_lost = false;  // someone else reaped it, e.g. with SIGCHLD ignored
  int status = 0;
  struct rusage usage = {};
};

void Reap(pid_t child, int flags, Reaping* reaping) {
  for (;;) {
    const pid_t got = wait4(child, &reaping->status, flags, &reaping->usage);
    if (got == child) {
      reaping->reaped = true;
      return;
    }
    if (got == 0) return;
    if (errno == ECHILD) {
      reaping->reaped = reaping->status_lost = true;
      return;
    }
    if (errno != EINTR) return;
  }
}

// Leaves the child time to act on SIGTERM, then kills what is left of its group, the grandchildren
// of a shell script included. Waiting for the whole group instead could take the full grace: a
// killed orphan answers kill() as a zombie until init gets round to reaping it.
void EndGroup(pid_t child, double grace_seconds, Reaping* reaping) {
  SignalGroup(child, SIGTERM);
  // A stopped process acts on SIGTERM only once it runs again.
  SignalGroup(child, SIGCONT);
  const auto give_up =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                         std::clamp(grace_seconds, 0.0, kLongestLimitSeconds)));
  int pause_milliseconds = 1;
  while (!reaping->reaped && Clock::now() < give_up) {
    if (poll(nullptr, 0, pause_milliseconds) < 0 && errno != EINTR) break;
    pause_milliseconds = std::min(2 * pause_milliseconds, 20);
    Reap(child, WNOHANG, reaping);
  }
  SignalGroup(child, SIGKILL);
  if (!reaping->reaped) Reap(child, 0, reaping);
}

// Appends without letting the capacity run past `cap`, as doubling would.
void AppendCapped(std::string* text, std::string_view piece, std::size_t cap) {
  const std::size_t needed = text->size() + piece.size();
  if (needed > text->capacity()) {
    text->reserve(std::min(std::max(needed, 2 * text->capacity()), cap));
  }
  text->append(piece);
}

struct Stream {
  int fd = -1;
  bool is_output = false;
};

bool IsInterruptSignal(int signal_number) {
  return signal_number == SIGINT || signal_number == SIGTERM || signal_number == SIGHUP;
}

// A scheduler such as Slurm signals every process of a job at once, so a child ended by an
// interrupting signal is usually one with us, whose own delivery can lag a little. Waits up to
// 200 ms for it; 0 when none comes.
int AwaitedInterrupt() {
  for (int waited = 0; waited < 200 && PendingInterrupt() == 0; waited += 5) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return PendingInterrupt();
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options,
                         const std::function<void(std::string_view)>& on_output) {
  ProcessResult result;
  if (const int signal_number = PendingInterrupt()) {
    result.interrupted = signal_number;
    result.start_error = result.failure = InterruptText(signal_number);
    return result;
  }
  if (argv.empty()) {
    result.start_error = "no program given";
    return result;
  }
  if (!options.working_directory.empty()) {
    struct stat info;
    const int error = stat(options.working_directory.c_str(), &info) != 0 ? errno
                      : S_ISDIR(info.st_mode)                             ? 0
                                                                          : ENOTDIR;
    if (error != 0) {
      result.start_error =
          "working directory " + options.working_directory + ": " + std::strerror(error);
      return result;
    }
  }

  const bool separate_errors = options.stderr_handling == StderrHandling::kCapture;
  int output_pipe[2] = {-1, -1};
  int error_pipe[2] = {-1, -1};
  int error = OpenPipe(output_pipe);
  if (error == 0 && separate_errors) {
    error = OpenPipe(error_pipe);
    if (error != 0) {
      Close(output_pipe[0]);
      Close(output_pipe[1]);
    }
  }
  if (error != 0) {
    result.start_error = std::strerror(error);
    return result;
  }
  const auto start = Clock::now();
  pid_t child = 0;
  error = Spawn(argv, options, output_pipe[1], error_pipe[1], &child);
  Close(output_pipe[1]);
  if (separate_errors) Close(error_pipe[1]);
  Stream streams[2] = {{output_pipe[0], true}, {error_pipe[0], false}};
  if (error != 0) {
    for (const Stream& stream : streams) {
      if (stream.fd >= 0) Close(stream.fd);
    }
    result.start_error = StartErrorText(argv.front(), options.working_directory, error);
    return result;
  }
  result.started = true;
  result.pid = child;

  const bool limited = options.time_limit_seconds > 0;
  const auto deadline =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                  std::min(options.time_limit_seconds, kLongestLimitSeconds)));
  Reaping reaping;
  std::string tool_error;
  int pause_milliseconds = 1;
  char buffer[65536];
  for (;;) {
    if (!reaping.reaped) Reap(child, WNOHANG, &reaping);
    if (reaping.reaped && streams[0].fd < 0 && streams[1].fd < 0) break;
    if ((result.interrupted = PendingInterrupt()) != 0) break;
    const auto now = Clock::now();
    if (limited && now >= deadline) {
      result.timed_out = true;
      break;
    }
    pollfd polled[2];
    Stream* polled_streams[2];
    nfds_t count = 0;
    for (Stream& stream : streams) {
      if (stream.fd < 0) continue;
      polled[count] = {stream.fd, POLLIN, 0};
      polled_streams[count++] = &stream;
    }
    int timeout = kPollMilliseconds;
    if (count == 0) {
      // Output ended before the child: it is exiting or has let go of its output, so look often
      // at first and then less.
      timeout = pause_milliseconds;
      pause_milliseconds = std::min(2 * pause_milliseconds, kPollMilliseconds);
    }
    if (limited) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
      timeout = static_cast<int>(std::min<decltype(left)>(timeout, left));
    }
    if (poll(polled, count, timeout) < 0) {
      if (errno == EINTR) continue;
      tool_error = std::string("waiting for its output: ") + std::strerror(errno);
      break;
    }
    for (nfds_t i = 0; i < count && !result.output_too_large && tool_error.empty(); ++i) {
      if (polled[i].revents == 0) continue;
      Stream& stream = *polled_streams[i];
      const ssize_t got = read(stream.fd, buffer, sizeof buffer);
      if (got < 0) {
        if (errno != EINTR && errno != EAGAIN) {
          tool_error = std::string("reading its output: ") + std::strerror(errno);
        }
        continue;
      }
      if (got == 0) {
        Close(stream.fd);
        stream.fd = -1;
        continue;
      }
      const std::size_t cap = stream.is_output ? options.max_output_bytes : options.max_error_bytes;
      std::string& text = stream.is_output ? result.output : result.error_output;
      const std::string_view piece(buffer, std::min<std::size_t>(got, cap - text.size()));
      AppendCapped(&text, piece, cap);
      if (stream.is_output && !piece.empty() && on_output) on_output(piece);
      if (piece.size() < static_cast<std::size_t>(got)) {
        (stream.is_output ? result.output_too_large : result.error_output_truncated) = true;
      }
    }
    if (result.output_too_large || !tool_error.empty()) break;
  }
  if (result.interrupted == 0 && reaping.reaped && !reaping.status_lost &&
      WIFSIGNALED(reaping.status) && IsInterruptSignal(WTERMSIG(reaping.status))) {
    result.interrupted = AwaitedInterrupt();
  }
  if (result.interrupted != 0 || result.timed_out || result.output_too_large ||
      !tool_error.empty()) {
    EndGroup(child, options.grace_seconds, &reaping);
  }
  for (const Stream& stream : streams) {
    if (stream.fd >= 0) Close(stream.fd);
  }
  result.wall_seconds = std::chrono::duration<double>(Clock::now() - start).count();

  const struct rusage& usage = reaping.usage;
  result.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
  if (!reaping.status_lost && WIFEXITED(reaping.status)) {
    result.exit_status = WEXITSTATUS(reaping.status);
  } else if (!reaping.status_lost && WIFSIGNALED(reaping.status)) {
    result.term_signal = WTERMSIG(reaping.status);
  }
  if (result.interrupted != 0) {
    result.failure = InterruptText(result.interrupted);
  } else if (result.timed_out) {
    result.failure = "timed out after " + SecondsText(options.time_limit_seconds) + " s";
  } else if (result.output_too_large) {
    result.failure = "wrote more than " + ByteCountText(options.max_output_bytes) + " of output";
  } else if (!tool_error.empty()) {
    result.failure = tool_error;
  } else if (reaping.status_lost) {
    result.failure = "its exit status was lost";
  } else if (result.exit_status > 0) {
    result.failure = "exit status " + std::to_string(result.exit_status);
  } else if (result.term_signal != 0) {
    result.failure = "killed by signal " + std::to_string(result.term_signal) + " (" +
                     strsignal(result.term_signal) + ")";
  }
  return result;
}

}  // namespace speedup
