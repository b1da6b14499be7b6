#pragma once

// Size of the benchmark's problem: its matrices are PROBLEM_SIZE x PROBLEM_SIZE.
inline constexpr int PROBLEM_SIZE = 600;
