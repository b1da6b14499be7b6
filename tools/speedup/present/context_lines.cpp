#include "present/context_lines.h"

#include <cmath>
#include <cstdio>

#include "base/text.h"
#include "stats/diagnostics.h"

namespace speedup {
namespace {

std::string OmpText(const Settings& settings) {
  if (settings.empty()) return "OMP_* none";
  std::vector<std::string> parts;
  for (const auto& [name, value] : settings) parts.push_back(Shown(name) + "=" + Shown(value));
  return Joined(parts, " ");
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
  return FitLine(parts, separator);
}

}  // namespace

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

std::string LoadText(double load) {
  char text[32];
  std::snprintf(text, sizeof text, std::fabs(load) < 1e6 ? "%.2f" : "%.3g", load);
  return text;
}

}  // namespace speedup
