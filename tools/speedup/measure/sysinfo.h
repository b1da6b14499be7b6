#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/context.h"

// The machine and this process as they are now: hwloc's topology, /proc and /sys, the
// environment, and the facts of the benchmark's build. Gathering only; the words are made in
// the presentation.
namespace speedup {

// This machine and process now: everything readable, except the build fields and load_after.
// Text that is not UTF-8 has its stray bytes written as \xHH, so the context can always be saved.
Context ReadMachineContext();

// The 1-minute load average now; empty where it cannot be read.
std::optional<double> ReadLoadAverage();

// Sets compiler, build type, build flags, OpenMP runtime and version of the benchmark build.
void AddBuildInfo(Context& context);

// The tick of the benchmark file at `path`, from the mark it carries (TickOfMark), before it
// runs; empty where `path` is no regular file of at most MAX_INPUT_BYTES or carries no mark.
std::optional<double> BenchClockTick(const std::string& path);

// The benchmark beside this tool: the microsecond build where it stands there, as its clock can
// tell changes that whole milliseconds hide; else the millisecond one. The run and trace
// commands run it when --bench does not say.
std::string BenchBesideTool();

// This tool's version: the project's version and what git described at the build, e.g.
// "0.5.0 (b54b747-dirty)".
std::string ToolVersion();

// `cpus` as ranges in increasing order, e.g. "0-3,6,8-9"; repeats are ignored, none gives "".
std::string CpuList(std::vector<int> cpus);

// The word in brackets in a sysfs choice such as "always [madvise] never"; empty when none.
std::optional<std::string> SelectedChoice(std::string_view text);

// The first "model name" value of /proc/cpuinfo text, trimmed; empty when there is none.
std::optional<std::string> CpuinfoModelName(std::string_view cpuinfo);

// Sets the Slurm fields from a null-terminated "NAME=value" array like environ; a field whose
// variable is unset, or not a positive count for SLURM_CPUS_ON_NODE, is left absent.
void AddSlurmContext(Context& context, const char* const* environment);

// The OMP_*, GOMP_* and KMP_* entries of a null-terminated "NAME=value" array like environ.
Settings OmpSettings(const char* const* environment);

// `time` in ISO 8601 UTC to the second, e.g. "2026-12-09T10:40:00Z"; empty when out of range.
std::optional<std::string> UtcDate(std::time_t time);

}  // namespace speedup
