#pragma once

#include <string>

#include "base/result.h"

// The one place where a failure becomes words on standard error and an exit status.
namespace speedup {

// Writes "matbench-speedup: MESSAGE" as one line on standard error.
void Complain(const std::string& message);

// The exit status of a failure of `kind`: 2 when the tool could not begin (usage, input, a
// benchmark that cannot be started), 1 for an output that could not be written, 128 + the
// pending signal for an interrupt.
int ExitStatus(FailureKind kind);

// Says `failure` on one line (an interrupt as "interrupted by SIGNAL", which main then does not
// repeat) and returns its exit status.
int Refuse(const Failure& failure);

}  // namespace speedup
