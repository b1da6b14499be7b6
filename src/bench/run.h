#pragma once

#include "bench/problem.h"
#include "matrix/matrix.h"

static_assert(PROBLEM_SIZE <= MAX_N, "the problem must fit the matrix storage");

// Makes each report text visible the moment it is written, pipes included, and turns a write
// to a vanished reader into an ignored output error instead of death by SIGPIPE.
void PrepareConsole();

// Writes the whole report for a size x size problem: set-up, serial product, thread sweep
// and closing text.
// Returns false, writing nothing and leaving N alone, when size exceeds MAX_N.
bool RunBenchmark(int size);

// Blocks until one character or end of input arrives on standard input.
void WaitForKey();
