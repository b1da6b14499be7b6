#pragma once

#include <optional>
#include <string>
#include <string_view>

// Reading the OpenMP runtime's displayed thread affinity, to check a placement was honoured.
namespace speedup {

// Whether the thread affinity lines in `display` show threads bound as `placement` asks, on a
// process that may run on `processors` processors: close and spread bind every thread to fewer,
// false binds none. libgomp writes "level 1 thread 0x7f01 affinity 0-1", LLVM's runtime "OMP: pid
// 7 tid 7 thread 0 bound to OS proc set {0,1}". Empty when no such line shows.
std::optional<bool> PlacementHonoured(std::string_view display, const std::string& placement,
                                      int processors);

// `output` without LLVM's runtime's affinity lines, which it writes to standard output, between
// the report's own lines; those lines are appended to `display`.
std::string WithoutAffinityLines(std::string_view output, std::string& display);

}  // namespace speedup
