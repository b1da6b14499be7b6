#include "kernels/kernels.h"

#include <gtest/gtest.h>

#include "matrix/matrix.h"
#include "test_support.h"

namespace {

// Whole-number factors keep every sum exact, so integer arithmetic is an independent oracle.
long long ExactProductElement(int i, int j) {
  long long sum = 0;
  for (int k = 0; k < N; ++k) {
    sum += static_cast<long long>(A[i][k]) * static_cast<long long>(B[k][j]);
  }
  return sum;
}

void FillFactors(int size) {
  ResetWorkspace(size);
  FillMatrix(A, SEQUENCE_FILL);
  FillMatrix(B, SEQUENCE_FILL);
}

TEST(SerialMultiTest, TwoByTwoSequenceSquaredIs7_10_15_22) {
  FillFactors(2);
  SerialMulti();
  EXPECT_EQ(SerialResult[0][0], 7.0);
  EXPECT_EQ(SerialResult[0][1], 10.0);
  EXPECT_EQ(SerialResult[1][0], 15.0);
  EXPECT_EQ(SerialResult[1][1], 22.0);
}

TEST(SerialMultiTest, ProductIsExactAtSizesThatStressRowAndColumnIndexing) {
  for (int size : {1, 37, 64}) {
    FillFactors(size);
    SerialMulti();
    for (int i = 0; i < size; ++i) {
      for (int j = 0; j < size; ++j) {
        ASSERT_EQ(SerialResult[i][j], ExactProductElement(i, j))
            << "size " << size << " at " << i << "," << j;
      }
    }
  }
}

TEST(SerialMultiTest, SecondCallDoesNotAccumulate) {
  FillFactors(3);
  SerialMulti();
  SerialMulti();
  EXPECT_EQ(SerialResult[0][0], ExactProductElement(0, 0));
  EXPECT_EQ(SerialResult[2][2], ExactProductElement(2, 2));
}

TEST(SerialMultiTest, NonPositiveSizeWritesNothing) {
  for (int size : {0, -3}) {
    ResetWorkspace(size);
    SerialResult[0][0] = 9.0;
    SerialMulti();
    EXPECT_EQ(SerialResult[0][0], 9.0) << "size " << size;
  }
}

}  // namespace
