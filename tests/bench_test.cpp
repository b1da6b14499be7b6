#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <thread>
#include <utility>
#include <vector>

#include "bench/clock.h"
#include "bench/run.h"
#include "bench/sweep.h"
#include "kernels/kernels.h"
#include "matrix/matrix.h"
#include "test_support.h"

namespace {

struct ElapsedCase {
  ClockTicks t0, t1;
  const char* printed;
};

TEST(ElapsedSecondsTest, TicksBecomeMillisecondsPrintedWithThreeTrailingZeros) {
  const ElapsedCase cases[] = {
      {0, 125, "0.125000"},
      {1000, 1000, "0.000000"},
      {5, 2005, "2.000000"},
      // Readings past the 32-bit range must not wrap.
      {2147483000LL, 2147484125LL, "1.125000"},
      {4294967290LL, 4294967300LL, "0.010000"},
  };
  for (const ElapsedCase& c : cases) {
    char printed[64];
    std::snprintf(printed, sizeof printed, "%f", ElapsedSeconds(c.t0, c.t1));
    EXPECT_STREQ(printed, c.printed) << c.t0 << " to " << c.t1;
  }
}

TEST(ReadClockTest, CountsMillisecondsForward) {
  const ClockTicks before = ReadClock();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const ClockTicks elapsed = ReadClock() - before;
  EXPECT_GE(elapsed, 30);     // a coarser unit would show nothing
  EXPECT_LT(elapsed, 10000);  // a finer one would show thousands
}

TEST(RunBenchmarkTest, SmallSizeReportHasHeadingsDumpsAndSerialLineExactly) {
  const std::string report = CapturedOutput([] { EXPECT_TRUE(RunBenchmark(2)); });
  const std::string expected = Cp1251(
      " Матрицы A и B: \n \n"
      " 1.000000 2.000000\n 3.000000 4.000000\n"
      " 1.000000 2.000000\n 3.000000 4.000000\n"
      "Матрица произведения, последовательный вариант: \n"
      " 7.000000 10.000000\n 15.000000 22.000000\n"
      "SerialMulti =  S \n \n");
  std::string parallel_runs;
  for (int threads = 1; threads <= 20; ++threads) {
    parallel_runs += Cp1251(
        "Матрица произведения, OpenMP вариант: \n"
        " 7.000000 10.000000\n 15.000000 22.000000\n"
        "ParallelMulti ( " +
        std::to_string(threads) + " потоков ) = S  Тест 1 \n");
  }
  EXPECT_EQ(WithoutSeconds(report), expected + parallel_runs + Cp1251("\n Завершено"));
}

TEST(RunBenchmarkTest, DumpsOnlyBelowEight) {
  const std::string at_seven = CapturedOutput([] { RunBenchmark(7); });
  const std::string at_eight = CapturedOutput([] { RunBenchmark(8); });
  EXPECT_NE(at_seven.find(Cp1251(" Матрицы A и B: \n \n")), std::string::npos);
  EXPECT_EQ(at_eight.find(Cp1251("Матрица")), std::string::npos);
  EXPECT_EQ(at_eight.find(" 1.000000"), std::string::npos);
}

TEST(RunBenchmarkTest, SizeBeyondStorageIsRefusedWithoutOutput) {
  ResetWorkspace(5);
  std::string report;
  for (int size : {MAX_N + 1, 1 << 30}) {
    report += CapturedOutput([size] { EXPECT_FALSE(RunBenchmark(size)); });
  }
  EXPECT_EQ(report, "");
  EXPECT_EQ(N, 5);
}

// Team sizes and verification results of the sweep's lines, in the order written.
std::vector<std::pair<int, int>> SweepLines(const std::string& report) {
  static const std::regex line("ParallelMulti \\( ([0-9]+) [^)]* \\) = [0-9.]+  [^ ]+ ([01]) \n");
  std::vector<std::pair<int, int>> lines;
  for (std::sregex_iterator it(report.begin(), report.end(), line), end; it != end; ++it) {
    lines.emplace_back(std::stoi((*it)[1]), std::stoi((*it)[2]));
  }
  return lines;
}

TEST(ThreadSweepTest, CountsTeamSizesOneToTwentyAndVerifiesEach) {
  ResetWorkspace(9);
  FillMatrix(A, SEQUENCE_FILL);
  FillMatrix(B, SEQUENCE_FILL);
  SerialMulti();
  const auto lines = SweepLines(CapturedOutput(ThreadSweep));
  ASSERT_EQ(lines.size(), 20u);
  for (int t = 1; t <= 20; ++t) {
    EXPECT_EQ(lines[t - 1], std::make_pair(t, 1));
  }
}

TEST(ThreadSweepTest, MismatchShowsZeroOnEveryLineWithoutStoppingTheSweep) {
  ResetWorkspace(9);
  FillMatrix(A, SEQUENCE_FILL);
  FillMatrix(B, SEQUENCE_FILL);
  SerialMulti();
  SerialResult[8][8] += 1.0;
  const auto lines = SweepLines(CapturedOutput(ThreadSweep));
  ASSERT_EQ(lines.size(), 20u);
  for (int t = 1; t <= 20; ++t) {
    EXPECT_EQ(lines[t - 1], std::make_pair(t, 0));
  }
}

}  // namespace
