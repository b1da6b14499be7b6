// The trace tool's cost per event, as the runtime pays it: a loop of many one-iteration chunks
// under schedule(dynamic, 1), each handed out with one dispatch event, timed with and without
// the tool by scripts/trace_cost.sh. Prints the median seconds of `repeats` loops.
//   trace-cost ITERATIONS REPEATS THREADS
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: trace-cost ITERATIONS REPEATS THREADS\n");
    return 2;
  }
  const long iterations = std::atol(argv[1]);
  const int repeats = std::atoi(argv[2]);
  const int threads = std::atoi(argv[3]);
  if (iterations < 1 || repeats < 1 || threads < 1) {
    std::fprintf(stderr, "trace-cost: every argument must be a positive count\n");
    return 2;
  }
  std::vector<double> seconds;
  volatile long sink = 0;
  for (int repeat = 0; repeat < repeats; ++repeat) {
    const auto start = std::chrono::steady_clock::now();
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads)
    for (long i = 0; i < iterations; ++i) sink = sink + 1;
    seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("%.9f\n", seconds[seconds.size() / 2]);
  return 0;
}
