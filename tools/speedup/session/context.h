#pragma once

#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

// What a session ran under, as recorded with it: the machine, the process, the system and the
// benchmark's build.
namespace speedup {

// Data and unified caches of one level and size, e.g. {"L1d", 32768, 2}.
struct CacheLevel {
  std::string name;
  long long size_bytes = 0;
  int count = 0;

  bool operator==(const CacheLevel&) const = default;
};

using Caches = std::vector<CacheLevel>;               // L1 to L5, smallest level first
using Settings = std::map<std::string, std::string>;  // NAME -> value

// Every field of the context, once: its type and its name, which is also its JSON key, in the
// order they are saved. The struct, the JSON writer and reader and the UTF-8 repair are made
// from this list.
//   host, cpu_model: uname's host name, the CPU's model name
//   packages, cores, hardware_threads: the machine's, as hwloc counts them
//   affinity, processors: the processors we may run on, "0-1,4", and how many that is
//   load_before, load_after: 1-minute load average
//   governor: scaling_governor of cpu0; transparent_hugepages: the selected "enabled" choice
//   kernel: uname release; compiler .. version: the benchmark's build
//   clock_tick_seconds: the benchmark's clock tick, 0.001 (matbench) or 0.000001 (matbench-fine)
//   omp_settings: the OMP_*, GOMP_* and KMP_* variables set; date_utc: "2026-12-09T10:40:00Z"
//   slurm_*: SLURM_JOB_ID, SLURMD_NODENAME, SLURM_JOB_NODELIST and SLURM_CPUS_ON_NODE
#define MATBENCH_CONTEXT_FIELDS(FIELD)      \
  FIELD(std::string, host)                  \
  FIELD(std::string, cpu_model)             \
  FIELD(int, packages)                      \
  FIELD(int, cores)                         \
  FIELD(int, hardware_threads)              \
  FIELD(Caches, caches)                     \
  FIELD(std::string, affinity)              \
  FIELD(int, processors)                    \
  FIELD(double, load_before)                \
  FIELD(double, load_after)                 \
  FIELD(std::string, governor)              \
  FIELD(std::string, transparent_hugepages) \
  FIELD(std::string, kernel)                \
  FIELD(std::string, compiler)              \
  FIELD(std::string, build_type)            \
  FIELD(std::string, build_flags)           \
  FIELD(std::string, openmp_runtime)        \
  FIELD(std::string, version)               \
  FIELD(double, clock_tick_seconds)         \
  FIELD(Settings, omp_settings)             \
  FIELD(std::string, date_utc)              \
  FIELD(std::string, slurm_job_id)          \
  FIELD(std::string, slurm_node)            \
  FIELD(std::string, slurm_nodelist)        \
  FIELD(int, slurm_cpus_on_node)

// Every field is optional: absent means not recorded.
struct Context {
#define MATBENCH_CONTEXT_MEMBER(type, name) std::optional<type> name;
  MATBENCH_CONTEXT_FIELDS(MATBENCH_CONTEXT_MEMBER)
#undef MATBENCH_CONTEXT_MEMBER

  bool operator==(const Context&) const = default;
};

// Every text field, names and values of the settings too, with its stray bytes written as \xHH,
// so the context can always be saved.
void MakeUtf8(Context& context);

// The present fields as a JSON object under their own names, in list order for ordered_json;
// absent fields are left out.
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

}  // namespace speedup
