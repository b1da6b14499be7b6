#pragma once

#include <ctime>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Data and unified caches of one level and size, e.g. {"L1d", 32768, 2}.
struct CacheLevel {
  std::string name;
  long long size_bytes = 0;
  int count = 0;

  bool operator==(const CacheLevel&) const = default;
};

// What a session ran under. Every field is optional: absent means not recorded.
struct Context {
  std::optional<std::string> host, cpu_model;
  std::optional<int> packages, cores, hardware_threads;  // the machine's, as hwloc counts them
  std::optional<std::vector<CacheLevel>> caches;         // L1 to L5, smallest level first
  std::optional<std::string> affinity;                   // processors we may run on, "0-1,4"
  std::optional<int> processors;                         // how many processors that is
  std::optional<double> load_before, load_after;         // 1-minute load average
  std::optional<std::string> governor;                   // scaling_governor of cpu0
  std::optional<std::string> transparent_hugepages;      // the selected "enabled" choice
  std::optional<std::string> kernel;                     // uname release
  std::optional<std::string> compiler, build_type, build_flags, openmp_runtime, version;
  std::optional<std::map<std::string, std::string>> omp_settings;  // OMP_*, GOMP_*, KMP_* set
  std::optional<std::string> date_utc;                             // "2026-12-09T10:40:00Z"
  // Under Slurm: SLURM_JOB_ID, SLURMD_NODENAME, SLURM_JOB_NODELIST and SLURM_CPUS_ON_NODE.
  std::optional<std::string> slurm_job_id, slurm_node, slurm_nodelist;
  std::optional<int> slurm_cpus_on_node;

  bool operator==(const Context&) const = default;
};

// This machine and process now: everything readable, except the build fields and load_after.
// Text that is not UTF-8 has its stray bytes written as \xHH, so the context can always be saved.
Context ReadMachineContext();

// The 1-minute load average now; empty where it cannot be read.
std::optional<double> ReadLoadAverage();

// Sets compiler, build type, build flags, OpenMP runtime and version of the benchmark build.
void AddBuildInfo(Context& context);

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
std::map<std::string, std::string> OmpSettings(const char* const* environment);

// `time` in ISO 8601 UTC to the second, e.g. "2026-12-09T10:40:00Z"; empty when out of range.
std::optional<std::string> UtcDate(std::time_t time);

// Four lines of at most 100 columns (code points): machine; caches, processors and load;
// system settings; build; and a fifth for the Slurm job where one was recorded. Absent fields are
// named as not recorded, long values cut with "…", control characters shown as \xHH.
std::vector<std::string> ContextLines(const Context& context);

// One line when load_before is at least 0.5, i.e. other work kept half a processor busy over the
// last minute; empty when it is lower or not recorded.
std::optional<std::string> LoadWarning(const Context& context);

// One line when a Slurm task received fewer processors than the node has or than the job was
// allocated on it, as speedups beyond that count then describe the allocation, not the node;
// empty outside Slurm or when it received them all.
std::optional<std::string> AllocationWarning(const Context& context);

// One line per difference that can change the figures, e.g. "CPU model: A vs B", one per OMP_*
// variable; host, loads, date and the Slurm fields are not compared, nor fields absent on either
// side.
std::vector<std::string> ContextDifferences(const Context& a, const Context& b);

// The present fields as a JSON object under their own names, in declaration order for
// ordered_json; absent fields are left out.
void to_json(nlohmann::json& json, const CacheLevel& cache);
void to_json(nlohmann::ordered_json& json, const CacheLevel& cache);
void to_json(nlohmann::json& json, const Context& context);
void to_json(nlohmann::ordered_json& json, const Context& context);

// Reads what to_json wrote; missing or null keys are absent and unknown keys are ignored. A
// non-object or a value of the wrong type or range throws nlohmann's type_error naming the key.
void from_json(const nlohmann::json& json, CacheLevel& cache);
void from_json(const nlohmann::ordered_json& json, CacheLevel& cache);
void from_json(const nlohmann::json& json, Context& context);
void from_json(const nlohmann::ordered_json& json, Context& context);
