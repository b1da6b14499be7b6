#include "process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

ProcessResult RunProcess(const std::vector<std::string>& argv, bool capture_stderr,
                         const std::function<void(std::string_view)>& on_output) {
  ProcessResult result;
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
    result.start_error = std::strerror(errno);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
  if (capture_stderr) posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDERR_FILENO);

  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t child = 0;
  const int spawn_error = posix_spawnp(&child, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[1]);
  if (spawn_error != 0) {
    close(pipe_ends[0]);
    result.start_error = std::strerror(spawn_error);
    return result;
  }
  result.started = true;

  char buffer[4096];
  for (;;) {
    const ssize_t got = read(pipe_ends[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    result.output.append(buffer, got);
    on_output(std::string_view(buffer, got));
  }
  close(pipe_ends[0]);

  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    result.failure = "exit status " + std::to_string(WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    result.failure = "killed by signal " + std::to_string(WTERMSIG(status));
  }
  return result;
}
