#include "measure/sysinfo.h"

#include <hwloc.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <sstream>

#include "base/io.h"
#include "base/text.h"
#include "session/clock_tick.h"

// Written at build time from git describe, where the build provides it.
#if __has_include("matbench_version.h")
#include "matbench_version.h"
#endif

namespace speedup {
namespace {

std::optional<std::string> FirstLine(const char* path) {
  const Result<std::string> text = ReadWholeFile(path);
  if (!text || text->empty()) return std::nullopt;
  return Trimmed(std::string_view(*text).substr(0, text->find('\n')));
}

// The machine's packages, cores and hardware threads; -1 means objects of the type at several
// depths, 0 that hwloc found none: neither is a count.
void ReadCounts(hwloc_topology_t topology, Context& context) {
  const auto count = [topology](hwloc_obj_type_t type) -> std::optional<int> {
    const int objects = hwloc_get_nbobjs_by_type(topology, type);
    if (objects > 0) return objects;
    return std::nullopt;
  };
  context.packages = count(HWLOC_OBJ_PACKAGE);
  context.cores = count(HWLOC_OBJ_CORE);
  context.hardware_threads = count(HWLOC_OBJ_PU);
}

// The first package's CPU model, as hwloc names it.
std::optional<std::string> CpuModel(hwloc_topology_t topology) {
  hwloc_obj_t package = nullptr;
  while ((package = hwloc_get_next_obj_by_type(topology, HWLOC_OBJ_PACKAGE, package))) {
    const char* model = hwloc_obj_get_info_by_name(package, "CPUModel");
    if (model && !Trimmed(model).empty()) return Trimmed(model);
  }
  return std::nullopt;
}

// Data and unified caches of levels 1 to 5; hybrid processors have caches of one level in two
// sizes, and each size gets its own count.
Caches ReadCaches(hwloc_topology_t topology) {
  const hwloc_obj_type_t levels[] = {HWLOC_OBJ_L1CACHE, HWLOC_OBJ_L2CACHE, HWLOC_OBJ_L3CACHE,
                                     HWLOC_OBJ_L4CACHE, HWLOC_OBJ_L5CACHE};
  Caches caches;
  for (int level = 1; level <= 5; ++level) {
    hwloc_obj_t cache = nullptr;
    while ((cache = hwloc_get_next_obj_by_type(topology, levels[level - 1], cache))) {
      const auto& attributes = cache->attr->cache;
      if (attributes.type == HWLOC_OBJ_CACHE_INSTRUCTION || attributes.size == 0) continue;
      // Appended, not concatenated: GCC 12 warns falsely of overlapping copies otherwise.
      std::string name = "L";
      name += std::to_string(level);
      if (attributes.type == HWLOC_OBJ_CACHE_DATA) name += 'd';
      const auto size = static_cast<long long>(attributes.size);
      const auto same = std::find_if(caches.begin(), caches.end(), [&](const CacheLevel& c) {
        return c.name == name && c.size_bytes == size;
      });
      if (same != caches.end()) {
        ++same->count;
      } else {
        caches.push_back({name, size, 1});
      }
    }
  }
  return caches;
}

void ReadTopology(Context& context) {
  hwloc_topology_t topology;
  if (hwloc_topology_init(&topology) != 0) return;
  // The whole machine, also where a cgroup or a scheduler hands this process only part of it.
  if (hwloc_topology_set_flags(topology, HWLOC_TOPOLOGY_FLAG_INCLUDE_DISALLOWED) != 0 ||
      hwloc_topology_load(topology) != 0) {
    hwloc_topology_destroy(topology);
    return;
  }
  ReadCounts(topology, context);
  context.cpu_model = CpuModel(topology);
  if (Caches caches = ReadCaches(topology); !caches.empty()) context.caches = std::move(caches);
  hwloc_topology_destroy(topology);
}

void ReadAffinity(Context& context) {
  // The mask must be at least the kernel's size; grow it until the kernel accepts it.
  for (int size = 1024; size <= (1 << 22); size *= 2) {
    cpu_set_t* set = CPU_ALLOC(size);
    if (!set) return;
    const std::size_t bytes = CPU_ALLOC_SIZE(size);
    if (sched_getaffinity(0, bytes, set) == 0) {
      std::vector<int> cpus;
      for (int cpu = 0; cpu < size; ++cpu) {
        if (CPU_ISSET_S(cpu, bytes, set)) cpus.push_back(cpu);
      }
      CPU_FREE(set);
      context.affinity = CpuList(cpus);
      context.processors = static_cast<int>(cpus.size());
      return;
    }
    const int error = errno;
    CPU_FREE(set);
    if (error != EINVAL) return;
  }
}

}  // namespace

std::string CpuList(std::vector<int> cpus) {
  std::sort(cpus.begin(), cpus.end());
  cpus.erase(std::unique(cpus.begin(), cpus.end()), cpus.end());
  std::string list;
  for (std::size_t first = 0; first < cpus.size();) {
    std::size_t last = first;
    while (last + 1 < cpus.size() && cpus[last + 1] == cpus[last] + 1) ++last;
    if (!list.empty()) list += ',';
    list += std::to_string(cpus[first]);
    if (last > first) list += '-' + std::to_string(cpus[last]);
    first = last + 1;
  }
  return list;
}

std::optional<std::string> SelectedChoice(std::string_view text) {
  const auto open = text.find('[');
  const auto close = text.find(']', open);
  if (open == std::string_view::npos || close == std::string_view::npos || close == open + 1) {
    return std::nullopt;
  }
  return std::string(text.substr(open + 1, close - open - 1));
}

std::optional<std::string> CpuinfoModelName(std::string_view cpuinfo) {
  constexpr std::string_view key = "model name";
  std::istringstream lines{std::string(cpuinfo)};
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with(key)) continue;
    const auto colon = line.find_first_not_of(" \t", key.size());
    if (colon == std::string::npos || line[colon] != ':') continue;
    std::string model = Trimmed(std::string_view(line).substr(colon + 1));
    if (!model.empty()) return model;
  }
  return std::nullopt;
}

Settings OmpSettings(const char* const* environment) {
  Settings settings;
  for (; *environment; ++environment) {
    const std::string_view entry = *environment;
    const auto equals = entry.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view name = entry.substr(0, equals);
    if (name.starts_with("OMP_") || name.starts_with("GOMP_") || name.starts_with("KMP_")) {
      // The C library's getenv takes the first of repeated names, and so does the runtime.
      settings.emplace(name, entry.substr(equals + 1));
    }
  }
  return settings;
}

void AddSlurmContext(Context& context, const char* const* environment) {
  const auto value = [environment](std::string_view name) -> std::optional<std::string> {
    for (const char* const* entry = environment; *entry; ++entry) {
      const std::string_view text = *entry;
      if (text.size() > name.size() && text.starts_with(name) && text[name.size()] == '=') {
        return std::string(text.substr(name.size() + 1));
      }
    }
    return std::nullopt;
  };
  context.slurm_job_id = value("SLURM_JOB_ID");
  context.slurm_node = value("SLURMD_NODENAME");
  context.slurm_nodelist = value("SLURM_JOB_NODELIST");
  context.slurm_cpus_on_node.reset();
  if (const auto cpus = value("SLURM_CPUS_ON_NODE")) {
    int count = 0;
    const char* end = cpus->data() + cpus->size();
    const auto [stop, error] = std::from_chars(cpus->data(), end, count);
    if (error == std::errc() && stop == end && count > 0) context.slurm_cpus_on_node = count;
  }
}

std::optional<std::string> UtcDate(std::time_t time) {
  std::tm parts;
  if (!gmtime_r(&time, &parts)) return std::nullopt;
  char text[64];
  if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) return std::nullopt;
  return text;
}

std::optional<double> ReadLoadAverage() {
  double load[1];
  if (getloadavg(load, 1) != 1) return std::nullopt;
  return load[0];
}

Context ReadMachineContext() {
  Context context;
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0) context.host = host;
  ReadTopology(context);
  if (!context.cpu_model) {
    if (const auto cpuinfo = ReadWholeFile("/proc/cpuinfo")) {
      context.cpu_model = CpuinfoModelName(*cpuinfo);
    }
  }
  ReadAffinity(context);
  context.load_before = ReadLoadAverage();
  context.governor = FirstLine("/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor");
  if (const auto choices = FirstLine("/sys/kernel/mm/transparent_hugepage/enabled")) {
    context.transparent_hugepages = SelectedChoice(*choices);
  }
  struct utsname names;
  if (uname(&names) == 0) context.kernel = names.release;
  context.omp_settings = OmpSettings(environ);
  AddSlurmContext(context, environ);
  const std::time_t now = std::time(nullptr);
  if (now != static_cast<std::time_t>(-1)) context.date_utc = UtcDate(now);
  MakeUtf8(context);
  return context;
}

void AddBuildInfo(Context& context) {
#ifdef MATBENCH_CONTEXT_COMPILER
  context.compiler = MATBENCH_CONTEXT_COMPILER;
#endif
#ifdef MATBENCH_CONTEXT_BUILD_TYPE
  context.build_type = MATBENCH_CONTEXT_BUILD_TYPE;
#endif
#ifdef MATBENCH_CONTEXT_BUILD_FLAGS
  context.build_flags = Words(MATBENCH_CONTEXT_BUILD_FLAGS);
#endif
#ifdef MATBENCH_CONTEXT_OPENMP_RUNTIME
  context.openmp_runtime = MATBENCH_CONTEXT_OPENMP_RUNTIME;
#endif
#ifdef MATBENCH_VERSION
  context.version = MATBENCH_VERSION;
#endif
  (void)context;  // unused where the build passes none of the above
}

std::optional<double> BenchClockTick(const std::string& path) {
  // A program named without a folder is looked up in PATH when run: its file is not read here.
  struct stat status;
  if (path.find('/') == path.npos || stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return std::nullopt;
  }
  const Result<std::string> bytes = ReadInput(path);
  if (!bytes) return std::nullopt;
  return TickOfMark(*bytes);
}

std::string BenchBesideTool() {
  std::string self(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size());
  self.resize(length > 0 ? length : 0);
  const std::string folder = self.substr(0, self.rfind('/') + 1);
  if (access((folder + "matbench-fine").c_str(), X_OK) == 0) return folder + "matbench-fine";
  return folder + "matbench";
}

std::string ToolVersion() {
#ifdef MATBENCH_PROJECT_VERSION
  std::string version = MATBENCH_PROJECT_VERSION;
#else
  std::string version = "unknown";
#endif
#ifdef MATBENCH_VERSION
  // Appended piece by piece: GCC 12 at -O2 warns falsely of the concatenated temporary.
  version += " (";
  version += MATBENCH_VERSION;
  version += ")";
#endif
  return version;
}

}  // namespace speedup
