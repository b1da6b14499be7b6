#include "bench/run.h"

#include <csignal>
#include <cstdio>

#include "bench/clock.h"
#include "bench/report_texts.h"
#include "bench/sweep.h"
#include "kernels/kernels.h"

void PrepareConsole() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::signal(SIGPIPE, SIG_IGN);
}

bool RunBenchmark(int size) {
  if (size > MAX_N) {
    return false;
  }
  N = size;
  StartParallelRuntime();
  FillMatrix(B, SEQUENCE_FILL);
  FillMatrix(A, SEQUENCE_FILL);
  // The products' pages are untouched until now; touching them here keeps the page faults of
  // first use out of the timed windows, where they would fall on the first two runs alone.
  FillMatrix(SerialResult, 0.0);
  FillMatrix(ParallelResult, 0.0);
  if (N < PRINT_LIMIT) {
    std::fputs(FACTORS_HEADING.bytes, stdout);
    PrintMatrix(A);
    PrintMatrix(B);
  }

  const ClockTicks t0 = ReadClock();
  SerialMulti();
  const ClockTicks t1 = ReadClock();

  if (N < PRINT_LIMIT) {
    std::fputs(SERIAL_PRODUCT_HEADING.bytes, stdout);
    PrintMatrix(SerialResult);
  }
  std::printf(SERIAL_LINE.bytes, ElapsedSeconds(t0, t1));
  ThreadSweep();
  std::fputs(CLOSING_TEXT.bytes, stdout);
  return true;
}

void WaitForKey() { std::getchar(); }
