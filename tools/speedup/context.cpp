#include "context.h"

#include <hwloc.h>
#include <sched.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

// Written at build time from git describe, where the build provides it.
#if __has_include("matbench_version.h")
#include "matbench_version.h"
#include "text.h"
#endif

using nlohmann::json;

namespace {

constexpr std::size_t kLineColumns = 100;
// Cutting a part stops here, so that its label stays readable.
constexpr std::size_t kShortestPart = 12;

// A value made Printable; an empty one shown as "" so that it does not vanish from its line.
std::string Shown(std::string_view text) { return text.empty() ? "\"\"" : Printable(text); }

std::string Joined(const std::vector<std::string>& parts, std::string_view separator) {
  std::string joined;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) joined += separator;
    joined += parts[i];
  }
  return joined;
}

// Columns of UTF-8 `text`, one a code point.
std::size_t Columns(std::string_view text) {
  return std::count_if(text.begin(), text.end(),
                       [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
}

// `text` cut to `columns` (at least 1), ending in "…" when anything was cut.
std::string Cut(const std::string& text, std::size_t columns) {
  if (Columns(text) <= columns) return text;
  std::size_t code_points = 0;
  std::size_t end = 0;
  for (; end < text.size(); ++end) {
    if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && code_points++ == columns - 1) {
      break;
    }
  }
  std::string kept = text.substr(0, end);
  while (!kept.empty() && kept.back() == ' ') kept.pop_back();  // "-O3 …" reads as a gap
  return kept + "…";
}

// `parts` joined by `separator`, the longest parts cut until the line fits kLineColumns.
std::string Fit(std::vector<std::string> parts, const std::string& separator) {
  const auto width = [&parts, &separator] {
    std::size_t columns = separator.size() * (parts.size() - 1);
    for (const auto& part : parts) columns += Columns(part);
    return columns;
  };
  for (std::size_t columns = width(); columns > kLineColumns; columns = width()) {
    const auto longest = std::max_element(
        parts.begin(), parts.end(),
        [](const std::string& a, const std::string& b) { return Columns(a) < Columns(b); });
    const std::size_t longest_columns = Columns(*longest);
    if (longest_columns <= kShortestPart) break;
    const std::size_t excess = columns - kLineColumns;
    *longest = Cut(*longest, excess < longest_columns - kShortestPart ? longest_columns - excess
                                                                      : kShortestPart);
  }
  // Only a line of very many parts, as from a hostile file, can still be too wide.
  return Cut(Joined(parts, separator), kLineColumns);
}

std::string Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return "";
  return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

// Words separated by runs of white space, joined by single spaces.
std::string Words(std::string_view text) {
  std::istringstream stream{std::string(text)};
  return Joined({std::istream_iterator<std::string>(stream), std::istream_iterator<std::string>()},
                " ");
}

std::optional<std::string> FirstLine(const char* path) {
  std::ifstream file(path);
  std::string line;
  if (!file || !std::getline(file, line)) return std::nullopt;
  return Trimmed(line);
}

std::optional<std::string> WholeFile(const char* path) {
  std::ifstream file(path);
  if (!file) return std::nullopt;
  std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad()) return std::nullopt;
  return text;
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
  // -1 means objects of the type at several depths, 0 that hwloc found none: neither is a count.
  const auto count = [topology](hwloc_obj_type_t type) -> std::optional<int> {
    const int objects = hwloc_get_nbobjs_by_type(topology, type);
    if (objects > 0) return objects;
    return std::nullopt;
  };
  context.packages = count(HWLOC_OBJ_PACKAGE);
  context.cores = count(HWLOC_OBJ_CORE);
  context.hardware_threads = count(HWLOC_OBJ_PU);

  hwloc_obj_t package = nullptr;
  while ((package = hwloc_get_next_obj_by_type(topology, HWLOC_OBJ_PACKAGE, package))) {
    const char* model = hwloc_obj_get_info_by_name(package, "CPUModel");
    if (model && !Trimmed(model).empty()) {
      context.cpu_model = Trimmed(model);
      break;
    }
  }

  const hwloc_obj_type_t levels[] = {HWLOC_OBJ_L1CACHE, HWLOC_OBJ_L2CACHE, HWLOC_OBJ_L3CACHE,
                                     HWLOC_OBJ_L4CACHE, HWLOC_OBJ_L5CACHE};
  std::vector<CacheLevel> caches;
  for (int level = 1; level <= 5; ++level) {
    hwloc_obj_t cache = nullptr;
    while ((cache = hwloc_get_next_obj_by_type(topology, levels[level - 1], cache))) {
      const auto& attributes = cache->attr->cache;
      if (attributes.type == HWLOC_OBJ_CACHE_INSTRUCTION || attributes.size == 0) continue;
      std::string name = "L";
      name += std::to_string(level);
      if (attributes.type == HWLOC_OBJ_CACHE_DATA) name += 'd';
      const auto size = static_cast<long long>(attributes.size);
      // Hybrid processors have caches of one level in two sizes; each size gets its own count.
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
  if (!caches.empty()) context.caches = caches;
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

// Every text field made UTF-8, as the system may hand back any bytes.
void MakeUtf8(Context& context) {
  for (auto* field : {&context.host, &context.cpu_model, &context.affinity, &context.governor,
                      &context.transparent_hugepages, &context.kernel, &context.date_utc,
                      &context.slurm_job_id, &context.slurm_node, &context.slurm_nodelist}) {
    if (*field) *field = ValidUtf8(**field);
  }
  if (context.omp_settings) {
    std::map<std::string, std::string> settings;
    for (const auto& [name, value] : *context.omp_settings) {
      settings.emplace(ValidUtf8(name), ValidUtf8(value));
    }
    context.omp_settings = settings;
  }
}

std::string LoadText(double load) {
  char text[32];
  std::snprintf(text, sizeof text, std::fabs(load) < 1e6 ? "%.2f" : "%.3g", load);
  return text;
}

std::string SizeText(long long bytes) {
  const char* const units[] = {"B", "KiB", "MiB", "GiB"};
  int unit = 0;
  while (unit < 3 && bytes != 0 && bytes % 1024 == 0) {
    bytes /= 1024;
    ++unit;
  }
  return std::to_string(bytes) + " " + units[unit];
}

std::string CachesText(const std::vector<CacheLevel>& caches) {
  if (caches.empty()) return "no caches";
  std::vector<std::string> parts;
  for (const auto& cache : caches) {
    parts.push_back(Shown(cache.name) + " " + SizeText(cache.size_bytes));
    if (cache.count != 1) parts.back() += " x" + std::to_string(cache.count);
  }
  return Joined(parts, ", ");
}

std::string OmpText(const std::map<std::string, std::string>& settings) {
  if (settings.empty()) return "OMP_* none";
  std::vector<std::string> parts;
  for (const auto& [name, value] : settings) parts.push_back(Shown(name) + "=" + Shown(value));
  return Joined(parts, " ");
}

std::string CountText(int count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

// One field of a context line: its text when recorded, its name for "not recorded" otherwise.
struct Item {
  const char* name;
  std::optional<std::string> text;
};

template <typename T, typename Show>
Item MakeItem(const char* name, const std::optional<T>& field, Show show) {
  return {name, field ? std::optional<std::string>(show(*field)) : std::nullopt};
}

Item TextItem(const char* name, const std::optional<std::string>& field, const char* label = "") {
  return MakeItem(name, field, [label](const std::string& value) {
    return (*label ? std::string(label) + " " : std::string()) + Shown(value);
  });
}

Item CountItem(const char* name, const std::optional<int>& field, const char* singular,
               const char* plural) {
  return MakeItem(name, field, [=](int count) { return CountText(count, singular, plural); });
}

// Runs of unrecorded fields become one "a, b not recorded" part, which keeps a context read
// from a sparse file short.
std::string Line(const std::vector<Item>& items, const std::string& separator) {
  std::vector<std::string> parts;
  std::vector<std::string> absent;
  const auto flush = [&] {
    if (!absent.empty()) parts.push_back(Joined(absent, ", ") + " not recorded");
    absent.clear();
  };
  for (const auto& item : items) {
    if (item.text) {
      flush();
      parts.push_back(*item.text);
    } else {
      absent.push_back(item.name);
    }
  }
  flush();
  return Fit(parts, separator);
}

// The words of `flags` that `other` lacks, in order.
std::vector<std::string> WordsMissingFrom(const std::string& flags, const std::string& other) {
  std::istringstream stream{other};
  const std::set<std::string> others{std::istream_iterator<std::string>(stream),
                                     std::istream_iterator<std::string>()};
  std::istringstream words{flags};
  std::vector<std::string> missing;
  for (std::string word; words >> word;) {
    if (!others.count(word)) missing.push_back(word);
  }
  return missing;
}

template <typename T, typename Show>
void AddDifference(std::vector<std::string>& differences, const char* what,
                   const std::optional<T>& a, const std::optional<T>& b, Show show) {
  if (a && b && *a != *b) differences.push_back(Fit({what + (": " + show(*a)), show(*b)}, " vs "));
}

std::string IntText(int value) { return std::to_string(value); }

std::string FlagsDifference(const std::string& a, const std::string& b) {
  const std::string only_a = Joined(WordsMissingFrom(a, b), " ");
  const std::string only_b = Joined(WordsMissingFrom(b, a), " ");
  // The same words in another order can still differ in effect, as the last -O wins.
  if (only_a.empty() && only_b.empty()) {
    return Fit({"build flags: " + Shown(a), Shown(b)}, " vs ");
  }
  if (only_a.empty()) return Fit({"build flags: " + Shown(only_b), "in the second only"}, " ");
  if (only_b.empty()) return Fit({"build flags: " + Shown(only_a), "in the first only"}, " ");
  return Fit({"build flags: " + Shown(only_a), Shown(only_b)}, " vs ");
}

[[noreturn]] void WrongType(const json& value, const std::string& key, const std::string& what) {
  throw json::type_error::create(
      302, "\"" + Shown(key) + "\" must be " + what + ", not " + value.type_name(), &value);
}

const json& Member(const json& object, const char* key) {
  static const json null_value;
  const auto found = object.find(key);
  return found == object.end() ? null_value : *found;
}

std::string ReadString(const json& value, const std::string& key) {
  if (!value.is_string()) WrongType(value, key, "a string");
  return value.get<std::string>();
}

// Only integers within T's range, as nlohmann would otherwise take 1.5 or true for 1.
template <typename T>
T ReadInteger(const json& value, const std::string& key) {
  constexpr auto low = std::numeric_limits<T>::min();
  constexpr auto high = std::numeric_limits<T>::max();
  if (value.is_number_unsigned()) {
    const auto number = value.get<std::uint64_t>();
    if (number <= static_cast<std::uint64_t>(high)) return static_cast<T>(number);
  } else if (value.is_number_integer()) {
    const auto number = value.get<std::int64_t>();
    if (number >= low && number <= high) return static_cast<T>(number);
  }
  WrongType(value, key, "an integer from " + std::to_string(low) + " to " + std::to_string(high));
}

double ReadNumber(const json& value, const std::string& key) {
  if (!value.is_number()) WrongType(value, key, "a number");
  return value.get<double>();
}

CacheLevel ReadCache(const json& value, const std::string& key) {
  if (!value.is_object()) WrongType(value, key, "an object");
  return {ReadString(Member(value, "name"), key + ".name"),
          ReadInteger<long long>(Member(value, "size_bytes"), key + ".size_bytes"),
          ReadInteger<int>(Member(value, "count"), key + ".count")};
}

std::vector<CacheLevel> ReadCaches(const json& value, const std::string& key) {
  if (!value.is_array()) WrongType(value, key, "an array");
  std::vector<CacheLevel> caches;
  for (std::size_t i = 0; i < value.size(); ++i) {
    caches.push_back(ReadCache(value[i], key + "[" + std::to_string(i) + "]"));
  }
  return caches;
}

std::map<std::string, std::string> ReadSettings(const json& value, const std::string& key) {
  if (!value.is_object()) WrongType(value, key, "an object");
  std::map<std::string, std::string> settings;
  for (const auto& [name, setting] : value.items()) {
    settings[name] = ReadString(setting, key + "." + name);
  }
  return settings;
}

template <typename T, typename Read>
void ReadField(const json& object, const char* key, std::optional<T>& field, Read read) {
  const json& value = Member(object, key);
  if (!value.is_null()) field = read(value, key);
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

std::map<std::string, std::string> OmpSettings(const char* const* environment) {
  std::map<std::string, std::string> settings;
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
    if (const auto cpuinfo = WholeFile("/proc/cpuinfo")) {
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

std::vector<std::string> ContextLines(const Context& context) {
  const std::string machine =
      Line({TextItem("host", context.host, "host"), TextItem("CPU model", context.cpu_model),
            CountItem("packages", context.packages, "package", "packages"),
            CountItem("cores", context.cores, "core", "cores"),
            CountItem("hardware threads", context.hardware_threads, "hardware thread",
                      "hardware threads")},
           ", ");

  Item processors{"processors", std::nullopt};
  if (context.affinity && context.processors) {
    processors.text =
        "processors " + Shown(*context.affinity) + " (" + std::to_string(*context.processors) + ")";
  } else if (context.affinity) {
    processors.text = "processors " + Shown(*context.affinity);
  } else if (context.processors) {
    processors.text = CountText(*context.processors, "processor", "processors");
  }
  Item load{"load", std::nullopt};
  if (context.load_before || context.load_after) {
    load.text = "load " +
                (context.load_before ? LoadText(*context.load_before) + " before"
                                     : std::string("before not recorded")) +
                ", " +
                (context.load_after ? LoadText(*context.load_after) + " after"
                                    : std::string("after not recorded"));
  }
  const std::string run =
      Line({MakeItem("caches", context.caches, CachesText), processors, load}, "; ");

  const std::string system = Line({TextItem("governor", context.governor, "governor"),
                                   TextItem("THP", context.transparent_hugepages, "THP"),
                                   TextItem("kernel", context.kernel, "kernel"),
                                   MakeItem("OMP_* settings", context.omp_settings, OmpText),
                                   TextItem("date", context.date_utc)},
                                  "; ");

  // The flags come last, as they are the longest and the first to be cut.
  const std::string build =
      Line({TextItem("compiler", context.compiler), TextItem("build type", context.build_type),
            TextItem("OpenMP runtime", context.openmp_runtime),
            TextItem("version", context.version, "matbench"),
            TextItem("build flags", context.build_flags)},
           "; ");
  std::vector<std::string> lines = {machine, run, system, build};
  if (context.slurm_job_id || context.slurm_node || context.slurm_nodelist ||
      context.slurm_cpus_on_node) {
    lines.push_back(
        Line({TextItem("job", context.slurm_job_id, "Slurm job"),
              TextItem("node", context.slurm_node, "node"),
              TextItem("node list", context.slurm_nodelist, "nodes"),
              CountItem("processors allocated on the node", context.slurm_cpus_on_node,
                        "processor allocated on the node", "processors allocated on the node")},
             ", "));
  }
  return lines;
}

std::optional<std::string> LoadWarning(const Context& context) {
  if (!context.load_before || !(*context.load_before >= 0.5)) return std::nullopt;
  return "load average " + LoadText(*context.load_before) +
         " over the minute before the runs: other work may have slowed them";
}

std::optional<std::string> AllocationWarning(const Context& context) {
  if (!context.slurm_job_id || !context.processors) return std::nullopt;
  const int received = *context.processors;
  std::string whole;
  if (context.hardware_threads && received < *context.hardware_threads) {
    whole = "the node's " + std::to_string(*context.hardware_threads);
  } else if (context.slurm_cpus_on_node && received < *context.slurm_cpus_on_node) {
    whole = "the " + std::to_string(*context.slurm_cpus_on_node) + " allocated on the node";
  } else {
    return std::nullopt;
  }
  return "the Slurm task received " + CountText(received, "processor", "processors") + " of " +
         whole + ": speedups beyond " + std::to_string(received) +
         " threads describe the allocation, not the node";
}

std::vector<std::string> ContextDifferences(const Context& a, const Context& b) {
  std::vector<std::string> differences;
  const auto text = [](const std::string& value) { return Shown(value); };
  AddDifference(differences, "CPU model", a.cpu_model, b.cpu_model, text);
  AddDifference(differences, "packages", a.packages, b.packages, IntText);
  AddDifference(differences, "cores", a.cores, b.cores, IntText);
  AddDifference(differences, "hardware threads", a.hardware_threads, b.hardware_threads, IntText);
  AddDifference(differences, "caches", a.caches, b.caches, CachesText);
  AddDifference(differences, "processors", a.processors, b.processors, IntText);
  AddDifference(differences, "processor list", a.affinity, b.affinity, text);
  AddDifference(differences, "governor", a.governor, b.governor, text);
  AddDifference(differences, "THP", a.transparent_hugepages, b.transparent_hugepages, text);
  AddDifference(differences, "kernel", a.kernel, b.kernel, text);
  AddDifference(differences, "compiler", a.compiler, b.compiler, text);
  AddDifference(differences, "build type", a.build_type, b.build_type, text);
  if (a.build_flags && b.build_flags && *a.build_flags != *b.build_flags) {
    differences.push_back(FlagsDifference(*a.build_flags, *b.build_flags));
  }
  AddDifference(differences, "OpenMP runtime", a.openmp_runtime, b.openmp_runtime, text);
  AddDifference(differences, "matbench version", a.version, b.version, text);
  if (a.omp_settings && b.omp_settings) {
    std::set<std::string> names;
    for (const auto* settings : {&*a.omp_settings, &*b.omp_settings}) {
      for (const auto& setting : *settings) names.insert(setting.first);
    }
    const auto value = [](const std::map<std::string, std::string>& settings,
                          const std::string& name) -> std::optional<std::string> {
      const auto found = settings.find(name);
      if (found == settings.end()) return std::nullopt;
      return found->second;
    };
    for (const auto& name : names) {
      const auto in_a = value(*a.omp_settings, name);
      const auto in_b = value(*b.omp_settings, name);
      if (in_a == in_b) continue;
      differences.push_back(Fit(
          {Shown(name) + ": " + (in_a ? Shown(*in_a) : "not set"), in_b ? Shown(*in_b) : "not set"},
          " vs "));
    }
  }
  return differences;
}

namespace {

template <typename Json>
void WriteCache(Json& out, const CacheLevel& cache) {
  out = {{"name", cache.name}, {"size_bytes", cache.size_bytes}, {"count", cache.count}};
}

template <typename Json>
void WriteContext(Json& out, const Context& context) {
  out = Json::object();
  const auto put = [&out](const char* key, const auto& field) {
    if (field) out[key] = *field;
  };
  put("host", context.host);
  put("cpu_model", context.cpu_model);
  put("packages", context.packages);
  put("cores", context.cores);
  put("hardware_threads", context.hardware_threads);
  put("caches", context.caches);
  put("affinity", context.affinity);
  put("processors", context.processors);
  put("load_before", context.load_before);
  put("load_after", context.load_after);
  put("governor", context.governor);
  put("transparent_hugepages", context.transparent_hugepages);
  put("kernel", context.kernel);
  put("compiler", context.compiler);
  put("build_type", context.build_type);
  put("build_flags", context.build_flags);
  put("openmp_runtime", context.openmp_runtime);
  put("version", context.version);
  put("omp_settings", context.omp_settings);
  put("date_utc", context.date_utc);
  put("slurm_job_id", context.slurm_job_id);
  put("slurm_node", context.slurm_node);
  put("slurm_nodelist", context.slurm_nodelist);
  put("slurm_cpus_on_node", context.slurm_cpus_on_node);
}

}  // namespace

void to_json(json& out, const CacheLevel& cache) { WriteCache(out, cache); }
void to_json(nlohmann::ordered_json& out, const CacheLevel& cache) { WriteCache(out, cache); }
void to_json(json& out, const Context& context) { WriteContext(out, context); }
void to_json(nlohmann::ordered_json& out, const Context& context) { WriteContext(out, context); }

void from_json(const json& in, CacheLevel& cache) { cache = ReadCache(in, "cache"); }

void from_json(const nlohmann::ordered_json& in, CacheLevel& cache) { from_json(json(in), cache); }

void from_json(const nlohmann::ordered_json& in, Context& context) { from_json(json(in), context); }

void from_json(const json& in, Context& out) {
  if (!in.is_object()) WrongType(in, "context", "an object");
  Context context;  // `out` is left alone when a key is wrong
  const auto text = [](const json& value, const char* key) { return ReadString(value, key); };
  const auto integer = [](const json& value, const char* key) {
    return ReadInteger<int>(value, key);
  };
  const auto number = [](const json& value, const char* key) { return ReadNumber(value, key); };
  ReadField(in, "host", context.host, text);
  ReadField(in, "cpu_model", context.cpu_model, text);
  ReadField(in, "packages", context.packages, integer);
  ReadField(in, "cores", context.cores, integer);
  ReadField(in, "hardware_threads", context.hardware_threads, integer);
  ReadField(in, "caches", context.caches,
            [](const json& value, const char* key) { return ReadCaches(value, key); });
  ReadField(in, "affinity", context.affinity, text);
  ReadField(in, "processors", context.processors, integer);
  ReadField(in, "load_before", context.load_before, number);
  ReadField(in, "load_after", context.load_after, number);
  ReadField(in, "governor", context.governor, text);
  ReadField(in, "transparent_hugepages", context.transparent_hugepages, text);
  ReadField(in, "kernel", context.kernel, text);
  ReadField(in, "compiler", context.compiler, text);
  ReadField(in, "build_type", context.build_type, text);
  ReadField(in, "build_flags", context.build_flags, text);
  ReadField(in, "openmp_runtime", context.openmp_runtime, text);
  ReadField(in, "version", context.version, text);
  ReadField(in, "omp_settings", context.omp_settings,
            [](const json& value, const char* key) { return ReadSettings(value, key); });
  ReadField(in, "date_utc", context.date_utc, text);
  ReadField(in, "slurm_job_id", context.slurm_job_id, text);
  ReadField(in, "slurm_node", context.slurm_node, text);
  ReadField(in, "slurm_nodelist", context.slurm_nodelist, text);
  ReadField(in, "slurm_cpus_on_node", context.slurm_cpus_on_node, integer);
  out = context;
}
