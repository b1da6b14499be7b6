#include "matrix/matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "test_support.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

class MatrixTest : public testing::Test {
 protected:
  void SetUp() override { ResetWorkspace(3); }
};

TEST_F(MatrixTest, SequenceFillRestartsAtOneOnEveryCall) {
  for (int call = 0; call < 2; ++call) {
    FillMatrix(A, SEQUENCE_FILL);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(A[i][j], i * 3 + j + 1) << "call " << call << " at " << i << "," << j;
      }
    }
  }
}

TEST_F(MatrixTest, FillWritesOnlyTheCorner) {
  for (double value : {0.0, SEQUENCE_FILL}) {
    for (int i = 0; i < 5; ++i) {
      for (int j = 0; j < 5; ++j) {
        B[i][j] = 7.0;
      }
    }
    FillMatrix(B, value);
    for (int i = 0; i < 5; ++i) {
      for (int j = 0; j < 5; ++j) {
        if (i >= 3 || j >= 3) {
          EXPECT_EQ(B[i][j], 7.0) << "fill " << value << " wrote outside at " << i << "," << j;
        }
      }
    }
  }
}

TEST_F(MatrixTest, OnlyExactlyMinusOneStartsTheSequence) {
  for (double value : {-1.0000001, -0.9999999, NaN, 0.0, 2.5}) {
    FillMatrix(A, value);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        if (std::isnan(value)) {
          EXPECT_TRUE(std::isnan(A[i][j]));
        } else {
          EXPECT_EQ(A[i][j], value) << "at " << i << "," << j;
        }
      }
    }
  }
}

TEST_F(MatrixTest, PrintWritesEachRowWithLeadingSpacesAndNoTrailingOne) {
  N = 2;
  FillMatrix(A, SEQUENCE_FILL);
  EXPECT_EQ(CapturedOutput([] { PrintMatrix(A); }), " 1.000000 2.000000\n 3.000000 4.000000\n");
  N = 0;
  EXPECT_EQ(CapturedOutput([] { PrintMatrix(A); }), "");
}

struct CheckCase {
  const char* name;
  int size;
  int row, column;          // the element that differs
  double serial, parallel;  // its two values
  bool expected;
};

TEST_F(MatrixTest, CheckResultComparesExactlyTheCorner) {
  const CheckCase cases[] = {
      {"equal products", 3, 0, 0, 5.0, 5.0, true},
      {"first element differs", 3, 0, 0, 5.0, 6.0, false},
      {"last element differs", 3, 2, 2, 5.0, 5.0000000000000009, false},
      {"NaN on the serial side", 3, 1, 1, NaN, 0.0, false},
      {"NaN on both sides", 3, 1, 1, NaN, NaN, false},
      {"plus and minus zero", 3, 1, 2, 0.0, -0.0, true},
      {"difference outside the corner", 3, 3, 0, 1.0, 2.0, true},
      {"difference beyond the last column", 3, 0, 3, 1.0, 2.0, true},
      {"empty corner", 0, 0, 0, 1.0, 2.0, true},
      {"negative size", -4, 0, 0, 1.0, 2.0, true},
  };
  for (const CheckCase& c : cases) {
    ResetWorkspace(c.size);
    FillMatrix(SerialResult, 1.0);
    FillMatrix(ParallelResult, 1.0);
    SerialResult[c.row][c.column] = c.serial;
    ParallelResult[c.row][c.column] = c.parallel;
    EXPECT_EQ(CheckResult(), c.expected) << c.name;
  }
}

}  // namespace
