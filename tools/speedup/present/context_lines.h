#pragma once

#include <string>
#include <vector>

#include "session/context.h"

// The context in words, for the head of every report.
namespace speedup {

// Four lines of at most 100 columns (code points): machine; caches, processors and load;
// system settings; build; and a fifth for the Slurm job where one was recorded. Absent fields are
// named as not recorded, long values cut with "…", control characters shown as \xHH.
std::vector<std::string> ContextLines(const Context& context);

// A load average as the context lines show it: two decimals, or three digits when huge.
std::string LoadText(double load);

}  // namespace speedup
