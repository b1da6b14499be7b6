// Deliberately racy: every team thread adds into one shared total with no synchronisation.
// The race detector must report this, or its silence about the kernels proves nothing.
#include <omp.h>

#include <cstdio>

namespace {
double total = 0.0;
}

int main() {
  for (int threads = 1; threads <= 20; ++threads) {
    omp_set_num_threads(threads);
#pragma omp parallel for schedule(dynamic, 1)
    for (int i = 0; i < 64; ++i) {
      total += i;
    }
  }
  std::printf("%f\n", total);
  return 0;
}
