#pragma once

// The two ways of computing A x B over the active N x N corner. Both perform the same
// operations in the same order for every element, so their products agree bit for bit.

// SerialResult = A x B on the calling thread; clears SerialResult first.
void SerialMulti();
