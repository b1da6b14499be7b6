#include "matrix/matrix.h"

#include <cstdio>

int N = 0;

Matrix A;
Matrix B;
Matrix SerialResult;
Matrix ParallelResult;

void FillMatrix(Matrix& matrix, double value) {
  int counter = 1;
  for (int i = 0; i < N; ++i) {
    for (int j = 0; j < N; ++j) {
      if (value == SEQUENCE_FILL) {
        matrix[i][j] = counter;
        ++counter;
      } else {
        matrix[i][j] = value;
      }
    }
  }
}

void PrintMatrix(const Matrix& matrix) {
  for (int i = 0; i < N; ++i) {
    for (int j = 0; j < N; ++j) {
      std::printf(" %f", matrix[i][j]);
    }
    std::printf("\n");
  }
}

bool CheckResult() {
  for (int i = 0; i < N; ++i) {
    for (int j = 0; j < N; ++j) {
      if (SerialResult[i][j] != ParallelResult[i][j]) {
        return false;
      }
    }
  }
  return true;
}
