#pragma once

// The two ways of computing A x B over the active N x N corner. Both perform the same
// operations in the same order for every element, so their products agree bit for bit.

// Starts the OpenMP runtime now, so that its start-up falls in no timed window: LLVM's libomp
// starts lazily, on the first OpenMP call (3-7 ms here: the machine's topology, and a trace
// tool's set-up), and an empty region does not serve, as Clang removes it. Call before the
// first clock reading; GCC's libgomp has started with the process already.
void StartParallelRuntime();

// SerialResult = A x B on the calling thread; clears SerialResult first.
void SerialMulti();

// ParallelResult = A x B with an OpenMP team of `threads` (at least 1) that claim rows one at a
// time; clears ParallelResult first, on the calling thread. Returns when every row is done.
// The OpenMP team size stays at `threads` afterwards.
void ParallelMulti(int threads);
