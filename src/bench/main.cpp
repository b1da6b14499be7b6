#include "bench/run.h"

int main() {
  PrepareConsole();
  RunBenchmark(PROBLEM_SIZE);
  WaitForKey();
  return 0;
}
