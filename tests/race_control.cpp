// Deliberately racy: every team thread adds into one shared total with no synchronisation.
// The race detector must report this, or its silence about the kernels proves nothing.
// Every thread of every team writes, so the race is there however the threads are scheduled.
#include <omp.h>

#include <cstdio>

namespace {
double total = 0.0;
}

int main() {
  for (int threads = 2; threads <= 20; ++threads) {
#pragma omp parallel num_threads(threads)
    total += omp_get_thread_num();
  }
  std::printf("%f\n", total);
  return 0;
}
