#pragma once

// The two ways of computing A x B over the active N x N corner. Both perform the same
// operations in the same order for every element, so their products agree bit for bit.

// SerialResult = A x B on the calling thread; clears SerialResult first.
void SerialMulti();

// ParallelResult = A x B with an OpenMP team of `threads` (at least 1) that claim rows one at a
// time; clears ParallelResult first, on the calling thread. Returns when every row is done.
// The OpenMP team size stays at `threads` afterwards.
void ParallelMulti(int threads);
