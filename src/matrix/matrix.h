#pragma once

// Global matrix workspace: fixed-capacity storage and the element-wise operations on it.
// Every operation works on the top-left N x N corner; the rest of each matrix stays 0.

// Capacity of each matrix in each dimension.
inline constexpr int MAX_N = 1000;

// Fill value that selects the running sequence 1, 2, 3, ... instead of a constant.
inline constexpr double SEQUENCE_FILL = -1.0;

// Row-major storage; the row stride is MAX_N whatever the active size.
using Matrix = double[MAX_N][MAX_N];

// Active size. Callers keep it at most MAX_N; with N <= 0 every operation does nothing.
extern int N;

extern Matrix A;
extern Matrix B;
extern Matrix SerialResult;
extern Matrix ParallelResult;

// Writes the N x N corner of `matrix`: with SEQUENCE_FILL element (i, j) becomes i*N + j + 1,
// counting afresh from 1 on every call; with any other value (NaN included) every element
// becomes `value`.
void FillMatrix(Matrix& matrix, double value);

// Writes the N x N corner to standard output, one row a line, each element as " %f".
void PrintMatrix(const Matrix& matrix);

// True when SerialResult and ParallelResult are equal on every element of the corner
// (NaN never equal, +0 equal to -0); true for N <= 0.
bool CheckResult();
