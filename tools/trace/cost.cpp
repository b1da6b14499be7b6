// The trace tool's cost per event, measured as EPCC's microbenchmarks measure a construct: the
// same fixed work per iteration (a delay loop) is run as a reference, one static share a thread
// with no hand-out per iteration, and as the test, handed out by schedule(dynamic, 1), one
// dispatch (one traced event) per iteration; the two alternate REPEATS times. The difference,
// per iteration a thread runs, is what the hand-out costs; scripts/trace_cost.sh runs this with
// and without the tool and takes the difference of the two, with an interval.
//   trace-cost ITERATIONS REPEATS THREADS DELAY
// Prints one line per repeat: the reference's and the test's seconds.
#include <omp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

// About DELAY dependent additions: work that neither the compiler nor the cache can remove.
[[gnu::noinline]] void Delay(int length) {
  volatile double sum = 0.0;
  for (int i = 0; i < length; ++i) sum = sum + 1.0;
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: trace-cost ITERATIONS REPEATS THREADS DELAY\n");
    return 2;
  }
  const long iterations = std::atol(argv[1]);
  const int repeats = std::atoi(argv[2]);
  const int threads = std::atoi(argv[3]);
  const int delay = std::atoi(argv[4]);
  if (iterations < 1 || repeats < 1 || threads < 1 || delay < 1) {
    std::fprintf(stderr, "trace-cost: every argument must be a positive count\n");
    return 2;
  }
  omp_set_num_threads(threads);
  // The runtime and its team start here, outside every timed loop.
#pragma omp parallel
  Delay(delay);
  for (int repeat = 0; repeat < repeats; ++repeat) {
    auto start = std::chrono::steady_clock::now();
#pragma omp parallel for schedule(static)
    for (long i = 0; i < iterations; ++i) Delay(delay);
    const double reference = Seconds(start);
    start = std::chrono::steady_clock::now();
#pragma omp parallel for schedule(dynamic, 1)
    for (long i = 0; i < iterations; ++i) Delay(delay);
    const double test = Seconds(start);
    std::printf("%.9f %.9f\n", reference, test);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
