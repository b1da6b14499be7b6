#include "kernels/kernels.h"

#include <omp.h>

#include "matrix/matrix.h"

namespace {

// Row i of A x B into `row`, k ascending, the running sum in the element, every product and sum
// rounded on its own: any thread computing a row gets the same bits. Out of line so that both
// kernels run this one copy; inlined copies sat differently across 64-byte blocks and ran at
// different speeds. Taking the row, not the matrix, leaves GCC no constant to clone it for;
// `__restrict` (the row is not in A or B) keeps the sum in a register, with the same roundings.
[[gnu::noinline]] void MultiplyRow(double* __restrict row, int i) {
  for (int j = 0; j < N; ++j) {
    for (int k = 0; k < N; ++k) {
      row[j] = A[i][k] * B[k][j] + row[j];
    }
  }
}

}  // namespace

void StartParallelRuntime() { static_cast<void>(omp_get_max_threads()); }

void SerialMulti() {
  FillMatrix(SerialResult, 0.0);
  for (int i = 0; i < N; ++i) {
    MultiplyRow(SerialResult[i], i);
  }
}

void ParallelMulti(int threads) {
  FillMatrix(ParallelResult, 0.0);
  omp_set_num_threads(threads);
  // Rows are disjoint and each is computed whole by the thread that claimed it, so no element
  // is shared between threads and the runtime's hand-out and join are the only synchronisation.
#pragma omp parallel for schedule(dynamic, 1)
  for (int i = 0; i < N; ++i) {
    MultiplyRow(ParallelResult[i], i);
  }
}
