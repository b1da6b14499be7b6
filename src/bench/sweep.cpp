#include "bench/sweep.h"

#include <cstdio>

#include "bench/clock.h"
#include "bench/report_texts.h"
#include "kernels/kernels.h"
#include "matrix/matrix.h"

void ThreadSweep() {
  for (int threads = 1; threads <= MAX_THREADS; ++threads) {
    const ClockTicks t0 = ReadClock();
    ParallelMulti(threads);
    const ClockTicks t1 = ReadClock();

    if (N < PRINT_LIMIT) {
      std::fputs(PARALLEL_PRODUCT_HEADING.bytes, stdout);
      PrintMatrix(ParallelResult);
    }
    const int verified = CheckResult() ? 1 : 0;
    std::printf(PARALLEL_LINE.bytes, threads, ElapsedSeconds(t0, t1), verified);
  }
}
