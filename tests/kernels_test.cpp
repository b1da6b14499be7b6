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

// 37 is prime, so no team size above 1 divides the rows evenly; 64 gives races room to show.
TEST(ParallelMultiTest, EveryTeamSizeMatchesTheSerialProductBitForBit) {
  for (int size : {1, 2, 37, 64}) {
    FillFactors(size);
    SerialMulti();
    for (int threads = 1; threads <= 20; ++threads) {
      ParallelMulti(threads);
      EXPECT_TRUE(CheckResult()) << "size " << size << ", " << threads << " threads";
    }
    EXPECT_EQ(ParallelResult[size - 1][size - 1], ExactProductElement(size - 1, size - 1));
  }
}

TEST(ParallelMultiTest, MoreThreadsThanRowsLeavesNoRowUndone) {
  FillFactors(2);
  ParallelMulti(20);
  EXPECT_EQ(ParallelResult[0][0], 7.0);
  EXPECT_EQ(ParallelResult[0][1], 10.0);
  EXPECT_EQ(ParallelResult[1][0], 15.0);
  EXPECT_EQ(ParallelResult[1][1], 22.0);
  EXPECT_EQ(ParallelResult[2][2], 0.0);
}

TEST(ParallelMultiTest, NonPositiveSizeWritesNothing) {
  for (int size : {0, -3}) {
    ResetWorkspace(size);
    ParallelResult[0][0] = 9.0;
    for (int threads : {1, 20}) {
      ParallelMulti(threads);
      EXPECT_EQ(ParallelResult[0][0], 9.0) << "size " << size << ", " << threads << " threads";
    }
  }
}

TEST(ParallelMultiTest, SecondCallDoesNotAccumulate) {
  FillFactors(5);
  SerialMulti();
  ParallelMulti(3);
  ParallelMulti(4);
  EXPECT_TRUE(CheckResult());
}

}  // namespace
