#include "base/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "base/interrupts.h"

namespace speedup {
namespace {

using namespace std::chrono_literals;

ProcessOptions Limited(double seconds, double grace_seconds = 1) {
  ProcessOptions options;
  options.time_limit_seconds = seconds;
  options.grace_seconds = grace_seconds;
  return options;
}

ProcessResult Sh(const std::string& script, const ProcessOptions& options = {}) {
  return RunProcess({"/bin/sh", "-c", script}, options, nullptr);
}

// How the run failed in words; "" when it passed.
std::string Said(const ProcessResult& result) {
  return result.failure ? ProcessFailureText(*result.failure) : "";
}

TEST(ProcessTest, EachWayToFailIsItsOwnKindWithTheValuesItsWordsNeed) {
  // Catches a failure typed as another kind (a caller that decides by kind would be misled) and
  // a value its words need lost on the way.
  using Kind = ProcessFailure::Kind;
  ProcessOptions small;
  small.max_output_bytes = 1000;
  const struct {
    const char* script;
    ProcessOptions options;
    ProcessFailure failure;
  } cases[] = {
      {"exit 3", {}, {Kind::kExitStatus, 3}},
      {"kill -KILL $$", {}, {Kind::kKilled, SIGKILL}},
      {"yes", small, {.kind = Kind::kOutputTooLarge, .bytes = 1000}},
      {"sleep 5", Limited(0.2), {.kind = Kind::kTimedOut, .seconds = 0.2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    const ProcessResult result = Sh(c.script, c.options);
    ASSERT_TRUE(result.failure.has_value());
    EXPECT_EQ(*result.failure, c.failure) << ProcessFailureText(*result.failure);
  }
  EXPECT_FALSE(Sh("exit 0").failure.has_value());
}

// A zombie counts: an orphan is reaped by init, which may take its time.
bool GoneSoon(pid_t pid) {
  for (int tries = 0; tries < 200; ++tries) {
    if (kill(pid, 0) != 0 && errno == ESRCH) return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field, state;
    stat >> field >> field >> state;
    if (state == "Z") return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

TEST(RunProcess, SleeperPastItsTimeLimitIsKilledAndNamedPromptly) {
  const ProcessResult result = Sh("sleep 10", Limited(0.3));
  EXPECT_TRUE(result.started);
  EXPECT_TRUE(result.timed_out);
  EXPECT_EQ(Said(result), "timed out after 0.3 s");
  EXPECT_LT(result.wall_seconds, 3);
  EXPECT_TRUE(GoneSoon(result.pid));
}

TEST(RunProcess, TimeLimitKillsAScriptsBackgroundGrandchildToo) {
  const ProcessResult result = Sh("sleep 10 & echo $!; wait", Limited(0.3));
  EXPECT_EQ(Said(result), "timed out after 0.3 s");
  ASSERT_FALSE(result.output.empty());
  EXPECT_TRUE(GoneSoon(std::stoi(result.output)));
}

TEST(RunProcess, BackgroundProcessesEndWithARunThatExitedNormally) {
  // Only a run cut short ended its group: a benchmark's background processes outlived every run
  // and the session.
  const ProcessResult result = Sh("sleep 30 >/dev/null 2>&1 & echo $!; exit 0", Limited(20));
  EXPECT_EQ(Said(result), "");
  ASSERT_FALSE(result.output.empty());
  EXPECT_TRUE(GoneSoon(std::stoi(result.output)));
}

TEST(RunProcess, GrandchildHoldingTheOutputOpenDoesNotHoldAWholeRun) {
  // Capture waited for every writer to close the output, so a complete, exit-0 run failed as
  // "timed out" when a grandchild kept it open.
  ProcessOptions options = Limited(20);
  options.output_whole = [](std::string_view output) { return output.ends_with("whole"); };
  const struct {
    const char* name;
    const char* script;
    const char* failure;
  } cases[] = {
      {"whole, exit 0", "sleep 30 & printf whole; exit 0", ""},
      {"whole, exit 3", "sleep 30 & printf whole; exit 3", "exit status 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ProcessResult result = Sh(c.script, options);
    EXPECT_EQ(Said(result), c.failure);
    EXPECT_EQ(result.output, "whole");
    EXPECT_LT(result.wall_seconds, 5);
  }
  // An output that is not whole still waits for its writers, up to the time limit.
  const ProcessResult unfinished = Sh("sleep 30 & printf half; exit 0", Limited(0.5));
  EXPECT_EQ(Said(unfinished), "timed out after 0.5 s");
}

TEST(RunProcess, ChildIgnoringSigtermIsKilledAfterTheGrace) {
  const ProcessResult result = Sh("trap '' TERM; sleep 10", Limited(0.2, 0.2));
  EXPECT_EQ(Said(result), "timed out after 0.2 s");
  EXPECT_EQ(result.term_signal, SIGKILL);
  EXPECT_LT(result.wall_seconds, 3);
}

TEST(RunProcess, ChildActsOnSigtermThoughTheCallingThreadBlocksIt) {
  sigset_t term, old;
  ASSERT_EQ(sigemptyset(&term), 0);
  ASSERT_EQ(sigaddset(&term, SIGTERM), 0);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &term, &old), 0);
  // Not through a shell, which would unblock it itself.
  const ProcessResult result = RunProcess({"sleep", "10"}, Limited(0.2, 5), nullptr);
  ASSERT_EQ(pthread_sigmask(SIG_SETMASK, &old, nullptr), 0);
  EXPECT_EQ(result.term_signal, SIGTERM);
  EXPECT_LT(result.wall_seconds, 3);
}

TEST(RunProcess, FlooderIsStoppedAtTheCapWithoutTheToolsMemoryGrowingPastIt) {
  ProcessOptions options = Limited(10);
  options.max_output_bytes = 1 << 20;
  std::size_t seen = 0;
  struct rusage before, after;
  ASSERT_EQ(getrusage(RUSAGE_SELF, &before), 0);
  const ProcessResult result = RunProcess({"/bin/sh", "-c", "head -c 64M /dev/zero"}, options,
                                          [&](std::string_view piece) { seen += piece.size(); });
  ASSERT_EQ(getrusage(RUSAGE_SELF, &after), 0);
  EXPECT_TRUE(result.output_too_large);
  EXPECT_EQ(Said(result), "wrote more than 1 MiB of output");
  EXPECT_EQ(result.output.size(), std::size_t{1} << 20);
  EXPECT_EQ(seen, std::size_t{1} << 20);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 16 * 1024);  // KiB
  EXPECT_TRUE(GoneSoon(result.pid));
}

TEST(RunProcess, OutputExactlyAtTheCapIsNotTooLarge) {
  ProcessOptions options;
  options.max_output_bytes = 1000;
  const ProcessResult at_cap = Sh("head -c 1000 /dev/zero", options);
  EXPECT_EQ(Said(at_cap), "");
  EXPECT_EQ(at_cap.output.size(), 1000u);
  EXPECT_EQ(Said(Sh("yes", options)), "wrote more than 1000 bytes of output");
}

TEST(RunProcess, ExitStatusAndSignalDeathAreNamed) {
  EXPECT_EQ(Said(Sh("exit 0")), "");
  const ProcessResult exited = Sh("exit 3");
  EXPECT_EQ(Said(exited), "exit status 3");
  EXPECT_EQ(exited.exit_status, 3);
  EXPECT_EQ(Said(Sh("kill -KILL $$")), "killed by signal 9 (Killed)");
}

TEST(RunProcess, ChildDiesOfSigpipeThoughTheToolIgnoresIt) {
  ASSERT_TRUE(InstallInterruptHandlers());
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  EXPECT_EQ(write(ends[1], "x", 1), -1);
  EXPECT_EQ(errno, EPIPE);
  close(ends[1]);
  EXPECT_EQ(Sh("kill -PIPE $$").term_signal, SIGPIPE);
}

TEST(RunProcess, DirectoryAsProgramIsNamedADirectoryNotAPermissionProblem) {
  const ProcessResult result = RunProcess({"/tmp"}, {}, nullptr);
  EXPECT_FALSE(result.started);
  EXPECT_EQ(result.start_error, "Is a directory");
}

TEST(RunProcess, FileWithoutExecutePermissionIsRefusedAsSuch) {
  char path[] = "/tmp/matbench-process-test-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  const ProcessResult result = RunProcess({path}, {}, nullptr);
  unlink(path);
  EXPECT_FALSE(result.started);
  EXPECT_EQ(result.start_error, std::strerror(EACCES));
}

TEST(RunProcess, MissingProgramIsNotStarted) {
  const ProcessResult result = RunProcess({"matbench-no-such-program"}, {}, nullptr);
  EXPECT_FALSE(result.started);
  EXPECT_EQ(result.start_error, std::strerror(ENOENT));
}

TEST(RunProcess, CpuTimeCountsABusyChildButNotASleepingOne) {
  // A fixed amount of work, not a time, so a loaded machine cannot starve it below the mark.
  const ProcessResult busy = Sh("i=0; while [ $i -lt 300000 ]; do i=$((i + 1)); done", Limited(30));
  const ProcessResult idle = Sh("sleep 0.3");
  EXPECT_GT(busy.cpu_seconds, 0.1);
  EXPECT_LT(idle.cpu_seconds, 0.1);
  EXPECT_GT(idle.wall_seconds, 0.25);
  EXPECT_LT(idle.wall_seconds, 3);
}

TEST(RunProcess, ExtraEnvironmentReplacesAddsAndRemovesEntries) {
  ASSERT_EQ(setenv("MATBENCH_PROCESS_TEST_KEPT", "tool", 1), 0);
  ASSERT_EQ(setenv("MATBENCH_PROCESS_TEST_GONE", "tool", 1), 0);
  ProcessOptions options;
  options.extra_environment = {"MATBENCH_PROCESS_TEST_KEPT=child", "MATBENCH_PROCESS_TEST_NEW=1",
                               "MATBENCH_PROCESS_TEST_GONE"};
  EXPECT_EQ(Sh("env | grep '^MATBENCH_PROCESS_TEST_' | sort", options).output,
            "MATBENCH_PROCESS_TEST_KEPT=child\nMATBENCH_PROCESS_TEST_NEW=1\n");
}

TEST(RunProcess, ChildRunsInTheGivenWorkingDirectory) {
  ProcessOptions options;
  options.working_directory = "/";
  EXPECT_EQ(Sh("pwd", options).output, "/\n");
  options.working_directory = "/matbench-no-such-directory";
  const ProcessResult missing = Sh("pwd", options);
  EXPECT_FALSE(missing.started);
  EXPECT_NE(missing.start_error.find("/matbench-no-such-directory"), std::string::npos);
}

TEST(RunProcess, CapturedStderrIsKeptApartFromOutputAndCappedWithoutFailing) {
  ProcessOptions options;
  options.stderr_handling = StderrHandling::kCapture;
  options.max_error_bytes = 10;
  const ProcessResult result = Sh("echo out; echo 'error line, long' >&2; echo out", options);
  EXPECT_EQ(result.output, "out\nout\n");
  EXPECT_EQ(result.error_output, "error line");
  EXPECT_TRUE(result.error_output_truncated);
  EXPECT_EQ(Said(result), "");
}

TEST(RunProcess, MergedStderrJoinsTheOutput) {
  ProcessOptions options;
  options.stderr_handling = StderrHandling::kMerge;
  EXPECT_EQ(Sh("echo out; echo err >&2", options).output, "out\nerr\n");
}

TEST(RunProcess, OutputReachesTheCallbackWhileTheChildStillRuns) {
  const auto start = std::chrono::steady_clock::now();
  double first_piece_seconds = -1;
  const ProcessResult result = RunProcess(
      {"/bin/sh", "-c", "echo first; sleep 0.5; echo second"}, {}, [&](std::string_view) {
        if (first_piece_seconds >= 0) return;
        first_piece_seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      });
  EXPECT_EQ(result.output, "first\nsecond\n");
  EXPECT_GE(first_piece_seconds, 0);
  EXPECT_LT(first_piece_seconds, result.wall_seconds - 0.3);
}

TEST(RunProcess, OutputSeenEnoughEndsTheChildAndItsGroupAtOnce) {
  // Catches a caller that has what it needs but must wait for the rest of a long run: the child
  // sleeps 10 s after its first line, and the group's background sleeper must go with it.
  ProcessOptions options = Limited(20);
  options.seen_enough = [](std::string_view output) {
    return output.find("first\n") != output.npos;
  };
  const ProcessResult result = Sh("sleep 10 & echo $!; echo first; sleep 10; echo second", options);
  EXPECT_TRUE(result.ended_early);
  EXPECT_EQ(Said(result), "ended by the tool once its output was enough");
  EXPECT_EQ(result.output.find("second"), std::string::npos);
  EXPECT_LT(result.wall_seconds, 5);
  EXPECT_TRUE(GoneSoon(result.pid));
  EXPECT_TRUE(GoneSoon(std::atoi(result.output.c_str())));
}

TEST(RunProcess, InterruptEndsTheChildsWholeGroupPromptly) {
  ASSERT_TRUE(InstallInterruptHandlers());
  std::thread interrupter([] {
    std::this_thread::sleep_for(200ms);
    raise(SIGTERM);
  });
  const ProcessResult result = Sh("sleep 10 & echo $!; wait");
  interrupter.join();
  ResetInterruptForTesting();
  EXPECT_EQ(result.interrupted, SIGTERM);
  EXPECT_EQ(Said(result), "interrupted by SIGTERM");
  EXPECT_LT(result.wall_seconds, 3);
  EXPECT_EQ(kill(result.pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  ASSERT_FALSE(result.output.empty());
  EXPECT_TRUE(GoneSoon(std::stoi(result.output)));
}

TEST(RunProcess, ChildEndedByTheSignalThatInterruptsUsIsPartOfTheInterrupt) {
  ASSERT_TRUE(InstallInterruptHandlers());
  // As under a scheduler that signals the whole job: the child first, us a moment later.
  std::thread interrupter([] {
    std::this_thread::sleep_for(100ms);
    raise(SIGTERM);
  });
  const ProcessResult result = Sh("kill -TERM $$");
  interrupter.join();
  ResetInterruptForTesting();
  EXPECT_EQ(result.interrupted, SIGTERM) << Said(result);

  const ProcessResult alone = Sh("kill -TERM $$");
  EXPECT_EQ(alone.interrupted, 0);
  EXPECT_NE(Said(alone).find("signal 15"), std::string::npos) << Said(alone);
}

TEST(RunProcess, PendingInterruptKeepsTheChildFromStarting) {
  ASSERT_TRUE(InstallInterruptHandlers());
  ASSERT_EQ(raise(SIGINT), 0);
  const ProcessResult result = Sh("exit 0");
  ResetInterruptForTesting();
  EXPECT_FALSE(result.started);
  EXPECT_EQ(result.interrupted, SIGINT);
  EXPECT_EQ(Said(result), "interrupted by SIGINT");
}

}  // namespace
}  // namespace speedup
