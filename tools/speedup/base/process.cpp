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
constexpr int POLL_MILLISECONDS = 50;

// Far beyond any run, and small enough that converting it to clock ticks cannot overflow.
constexpr double LONGEST_LIMIT_SECONDS = 1e9;

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

std::string_view VariableOf(std::string_view entry) { return entry.substr(0, entry.find('=')); }

std::vector<std::string> ChildEnvironment(const std::vector<std::string>& changes) {
  std::vector<std::string> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    environment.emplace_back(*entry);
  }
  for (const std::string& change : changes) {
    std::erase_if(environment, [&](const std::string& entry) {
      return VariableOf(entry) == VariableOf(change);
    });
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
  bool exited = false;  // the child has ended; unreaped, it holds its group's id
  int exit_signal = 0;  // the signal that ended it, as waitid saw it
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

// Notes whether the child has ended, leaving it unreaped: as a zombie it keeps its process id, and
// so its group's, from being given to another process until the group has been signalled.
void LookForExit(pid_t child, Reaping* reaping) {
  if (reaping->exited) return;
  siginfo_t info = {};
  while (waitid(P_PID, child, &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    if (errno == ECHILD) reaping->exited = reaping->reaped = reaping->status_lost = true;
    if (errno != EINTR) return;
  }
  if (info.si_pid != child) return;  // still running
  reaping->exited = true;
  if (info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED)
    reaping->exit_signal = info.si_status;
}

// Leaves the child time to act on SIGTERM, then kills what is left of its group, the grandchildren
// of a shell script included, and reaps the child. Waiting for the whole group instead could take
// the full grace: a killed orphan answers kill() as a zombie until init gets round to reaping it.
// A child that has exited already is given no grace: its group is killed at once.
void EndGroup(pid_t child, double grace_seconds, Reaping* reaping) {
  SignalGroup(child, SIGTERM);
  // A stopped process acts on SIGTERM only once it runs again.
  SignalGroup(child, SIGCONT);
  const auto give_up =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                         std::clamp(grace_seconds, 0.0, LONGEST_LIMIT_SECONDS)));
  int pause_milliseconds = 1;
  LookForExit(child, reaping);
  while (!reaping->exited && Clock::now() < give_up) {
    if (poll(nullptr, 0, pause_milliseconds) < 0 && errno != EINTR) break;
    pause_milliseconds = std::min(2 * pause_milliseconds, 20);
    LookForExit(child, reaping);
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

namespace {

// Why the child cannot be started at all, before anything is made for it; empty when it can.
std::string StartRefusal(const std::vector<std::string>& argv, const ProcessOptions& options,
                         int* interrupted) {
  if (const int signal_number = PendingInterrupt()) {
    *interrupted = signal_number;
    return ProcessFailureText({ProcessFailure::Kind::kInterrupted, signal_number});
  }
  if (argv.empty()) return "no program given";
  if (!options.working_directory.empty()) {
    struct stat info;
    const int error = stat(options.working_directory.c_str(), &info) != 0 ? errno
                      : S_ISDIR(info.st_mode)                             ? 0
                                                                          : ENOTDIR;
    if (error != 0)
      return "working directory " + options.working_directory + ": " + std::strerror(error);
  }
  return "";
}

// The output pipe, and the error pipe when standard error is captured apart; 0 or the error.
int OpenPipes(bool separate_errors, int output_pipe[2], int error_pipe[2]) {
  int error = OpenPipe(output_pipe);
  if (error == 0 && separate_errors) {
    error = OpenPipe(error_pipe);
    if (error != 0) {
      Close(output_pipe[0]);
      Close(output_pipe[1]);
    }
  }
  return error;
}

// Reads what is ready on `stream` into the result under its cap, passing standard output on;
// a closed stream is let go. Returns the tool's own error, or an empty string.
std::string ReadReady(Stream& stream, const ProcessOptions& options,
                      const std::function<void(std::string_view)>& on_output,
                      ProcessResult& result) {
  char buffer[65536];
  const ssize_t got = read(stream.fd, buffer, sizeof buffer);
  if (got < 0) {
    if (errno != EINTR && errno != EAGAIN) {
      return std::string("reading its output: ") + std::strerror(errno);
    }
    return "";
  }
  if (got == 0) {
    Close(stream.fd);
    stream.fd = -1;
    return "";
  }
  const std::size_t cap = stream.is_output ? options.max_output_bytes : options.max_error_bytes;
  std::string& text = stream.is_output ? result.output : result.error_output;
  const std::string_view piece(buffer, std::min<std::size_t>(got, cap - text.size()));
  AppendCapped(&text, piece, cap);
  if (stream.is_output && !piece.empty() && on_output) on_output(piece);
  if (piece.size() < static_cast<std::size_t>(got)) {
    (stream.is_output ? result.output_too_large : result.error_output_truncated) = true;
  }
  return "";
}

// Whether `fd` has something to read (or its end) right now.
bool Readable(int fd) {
  pollfd polled = {fd, POLLIN, 0};
  return poll(&polled, 1, 0) > 0 && polled.revents != 0;
}

// Captures the child's streams until it has exited with both closed (or with its output whole
// as `options.output_whole` judges it, all it wrote read), an interrupt comes, the deadline
// passes, its output grows too large or the tool itself fails (returned).
std::string Capture(pid_t child, Stream (&streams)[2], const ProcessOptions& options,
                    const std::function<void(std::string_view)>& on_output, Clock::time_point start,
                    Reaping& reaping, ProcessResult& result) {
  const bool limited = options.time_limit_seconds > 0;
  const auto deadline =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                  std::min(options.time_limit_seconds, LONGEST_LIMIT_SECONDS)));
  int pause_milliseconds = 1;
  for (;;) {
    LookForExit(child, &reaping);
    if (reaping.exited && streams[0].fd < 0 && streams[1].fd < 0) return "";
    // A descendant may keep the output open long after the child is gone: a report that is
    // whole is the run's, however long they live.
    if (reaping.exited && options.output_whole && streams[0].fd >= 0 && !Readable(streams[0].fd) &&
        options.output_whole(result.output)) {
      return "";
    }
    if ((result.interrupted = PendingInterrupt()) != 0) return "";
    const auto now = Clock::now();
    if (limited && now >= deadline) {
      result.timed_out = true;
      return "";
    }
    pollfd polled[2];
    Stream* polled_streams[2];
    nfds_t count = 0;
    for (Stream& stream : streams) {
      if (stream.fd < 0) continue;
      polled[count] = {stream.fd, POLLIN, 0};
      polled_streams[count++] = &stream;
    }
    int timeout = POLL_MILLISECONDS;
    if (count == 0) {
      // Output ended before the child: it is exiting or has let go of its output, so look often
      // at first and then less.
      timeout = pause_milliseconds;
      pause_milliseconds = std::min(2 * pause_milliseconds, POLL_MILLISECONDS);
    }
    if (limited) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
      timeout = static_cast<int>(std::min<decltype(left)>(timeout, left));
    }
    if (poll(polled, count, timeout) < 0) {
      if (errno == EINTR) continue;
      return std::string("waiting for its output: ") + std::strerror(errno);
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (polled[i].revents == 0) continue;
      if (std::string error = ReadReady(*polled_streams[i], options, on_output, result);
          !error.empty()) {
        return error;
      }
      if (result.output_too_large) return "";
      if (options.seen_enough && options.seen_enough(result.output)) {
        result.ended_early = true;
        return "";
      }
    }
  }
}

// How the run failed, first cause first; none after exit status 0.
std::optional<ProcessFailure> FailureOf(const ProcessResult& result, const Reaping& reaping,
                                        const ProcessOptions& options,
                                        const std::string& tool_error) {
  using Kind = ProcessFailure::Kind;
  if (result.interrupted != 0) return ProcessFailure{Kind::kInterrupted, result.interrupted};
  if (result.timed_out) {
    return ProcessFailure{.kind = Kind::kTimedOut, .seconds = options.time_limit_seconds};
  }
  if (result.output_too_large) {
    return ProcessFailure{.kind = Kind::kOutputTooLarge, .bytes = options.max_output_bytes};
  }
  if (result.ended_early) return ProcessFailure{Kind::kEndedEarly};
  if (!tool_error.empty()) return ProcessFailure{.kind = Kind::kNotWatched, .detail = tool_error};
  if (reaping.status_lost) return ProcessFailure{Kind::kStatusLost};
  if (result.exit_status > 0) return ProcessFailure{Kind::kExitStatus, result.exit_status};
  if (result.term_signal != 0) return ProcessFailure{Kind::kKilled, result.term_signal};
  return std::nullopt;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options,
                         const std::function<void(std::string_view)>& on_output) {
  ProcessResult result;
  result.start_error = StartRefusal(argv, options, &result.interrupted);
  if (!result.start_error.empty()) {
    if (result.interrupted != 0) {
      result.failure = ProcessFailure{ProcessFailure::Kind::kInterrupted, result.interrupted};
    }
    return result;
  }
  const bool separate_errors = options.stderr_handling == StderrHandling::kCapture;
  int output_pipe[2] = {-1, -1};
  int error_pipe[2] = {-1, -1};
  if (const int error = OpenPipes(separate_errors, output_pipe, error_pipe); error != 0) {
    result.start_error = std::strerror(error);
    return result;
  }
  const auto start = Clock::now();
  pid_t child = 0;
  const int error = Spawn(argv, options, output_pipe[1], error_pipe[1], &child);
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

  Reaping reaping;
  const std::string tool_error =
      Capture(child, streams, options, on_output, start, reaping, result);
  if (result.interrupted == 0 && reaping.exited && IsInterruptSignal(reaping.exit_signal)) {
    result.interrupted = AwaitedInterrupt();
  }
  // Ends what is left of the group however the run went: background processes the benchmark
  // started must not outlive its run. A child still running gets its grace.
  EndGroup(child, reaping.exited ? 0.0 : options.grace_seconds, &reaping);
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
  result.failure = FailureOf(result, reaping, options, tool_error);
  return result;
}

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  const std::string directories = path != nullptr ? path : "/bin:/usr/bin";
  for (std::size_t start = 0;;) {
    const std::size_t end = std::min(directories.find(':', start), directories.size());
    const std::string directory = directories.substr(start, end - start);
    const std::string candidate = (directory.empty() ? "." : directory) + "/" + program;
    struct stat status;
    if (stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return true;
    }
    if (end == directories.size()) return false;
    start = end + 1;
  }
}

}  // namespace speedup
