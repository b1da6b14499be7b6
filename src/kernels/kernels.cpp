#include "kernels/kernels.h"

#include <omp.h>

#include "matrix/matrix.h"

namespace {

// Row i of A x B into `product`, k ascending. The running sum lives in the element itself, and
// every product and sum is rounded on its own, so any thread computing a row gets the same bits.
void MultiplyRow(Matrix& product, int i) {
  for (int j = 0; j < N; ++j) {
    for (int k = 0; k < N; ++k) {
      product[i][j] = A[i][k] * B[k][j] + product[i][j];
    }
  }
}

}  // namespace

void SerialMulti() {
  FillMatrix(SerialResult, 0.0);
  for (int i = 0; i < N; ++i) {
    MultiplyRow(SerialResult, i);
  }
}

void ParallelMulti(int threads) {
  FillMatrix(ParallelResult, 0.0);
  omp_set_num_threads(threads);
  // Rows are disjoint and each is computed whole by the thread that claimed it, so no element
  // is shared between threads and the runtime's hand-out and join are the only synchronisation.
#pragma omp parallel for schedule(dynamic, 1)
  for (int i = 0; i < N; ++i) {
    MultiplyRow(ParallelResult, i);
  }
}
