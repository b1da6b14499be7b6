#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "figures.h"
#include "options.h"
#include "output.h"
#include "plot.h"
#include "process.h"
#include "report_parser.h"

extern char** environ;

namespace {

void Complain(const std::string& message) {
  std::fprintf(stderr, "matbench-speedup: %s\n", message.c_str());
}

std::string DefaultBench() {
  std::string self(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size());
  self.resize(length > 0 ? length : 0);
  return self.substr(0, self.rfind('/') + 1) + "matbench";
}

std::vector<std::pair<std::string, std::string>> OmpSettings() {
  std::vector<std::pair<std::string, std::string>> settings;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string variable = *entry;
    const std::size_t equals = variable.find('=');
    if (variable.rfind("OMP_", 0) == 0 && equals != variable.npos) {
      settings.emplace_back(variable.substr(0, equals), variable.substr(equals + 1));
    }
  }
  std::sort(settings.begin(), settings.end());
  return settings;
}

// Reads every report in `path` ("-": standard input); false, with a message, when it can't.
bool ReadReports(const std::string& path, std::vector<RunReport>& reports) {
  FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    Complain("cannot read " + path + ": " + std::strerror(errno));
    return false;
  }
  std::string text;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  if (file != stdin) std::fclose(file);
  if (failed) {
    Complain("cannot read " + path + ": " + std::strerror(error));
    return false;
  }
  reports = ParseReports(text);
  if (reports.empty()) {
    Complain("no report found in " + (path == "-" ? std::string("standard input") : path));
    return false;
  }
  return true;
}

// Runs the benchmark `runs` times, one report each; false, with a message, when it can't start.
bool RunReports(const std::string& bench, int runs, std::vector<RunReport>& reports) {
  if (access(bench.c_str(), X_OK) != 0) {
    Complain("cannot run the benchmark " + bench + ": " + std::strerror(errno));
    return false;
  }
  const bool show_progress = isatty(STDERR_FILENO) != 0;
  for (int run = 1; run <= runs; ++run) {
    int lines = 0;
    auto progress = [&](std::string_view output) {
      lines += static_cast<int>(std::count(output.begin(), output.end(), '\n'));
      if (show_progress) std::fprintf(stderr, "\rrun %d of %d: %d lines ", run, runs, lines);
    };
    const ProcessResult result = RunProcess({bench}, false, progress);
    if (!result.started) {
      Complain("cannot run the benchmark " + bench + ": " + result.start_error);
      return false;
    }
    std::vector<RunReport> parsed = ParseReports(result.output);
    RunReport report = parsed.size() == 1 ? parsed.front() : RunReport{};
    if (parsed.empty()) report.failure = "empty report";
    if (parsed.size() > 1) report.failure = "more than one report";
    if (!result.failure.empty()) {
      report.failure = result.failure + (report.failure.empty() ? "" : "; " + report.failure);
    }
    reports.push_back(report);
  }
  if (show_progress) std::fprintf(stderr, "\r%40s\r", "");
  return true;
}

void WarnAboutShrunkenTeams() {
  for (const char* name : {"OMP_DYNAMIC", "OMP_THREAD_LIMIT"}) {
    if (std::getenv(name) != nullptr) {
      Complain(std::string("warning: ") + name +
               " is set: the runtime may have run smaller teams than the report's team sizes say");
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const std::string error = ParseOptions({argv + 1, argv + argc}, options); !error.empty()) {
    Complain(error);
    std::fputs(USAGE, stderr);
    return 2;
  }
  if (options.help) {
    std::fputs(USAGE, stdout);
    return 0;
  }

  RunContext context;
  context.processors = omp_get_num_procs();
  context.compiler = MATBENCH_COMPILER;
  std::vector<RunReport> reports;
  if (!options.input.empty()) {
    if (!ReadReports(options.input, reports)) return 2;
  } else {
    context.omp_settings = OmpSettings();
    WarnAboutShrunkenTeams();
    if (!RunReports(options.bench.empty() ? DefaultBench() : options.bench, options.runs,
                    reports)) {
      return 2;
    }
  }

  std::vector<RunReport> passed;
  for (std::size_t i = 0; i < reports.size(); ++i) {
    if (reports[i].failure.empty()) {
      passed.push_back(reports[i]);
    } else {
      Complain("run " + std::to_string(i + 1) + " failed: " + reports[i].failure);
    }
  }
  context.runs = static_cast<int>(reports.size());
  context.runs_passed = static_cast<int>(passed.size());
  if (passed.empty()) {
    Complain("no figures: none of the " + std::to_string(reports.size()) + " runs passed");
    return 1;
  }

  const Figures figures = ComputeFigures(passed, context.processors);
  const std::string output = options.format == OutputFormat::kCsv ? FormatCsv(figures)
                             : options.format == OutputFormat::kJson
                                 ? FormatJson(figures, context)
                                 : FormatTable(figures, context);
  std::fwrite(output.data(), 1, output.size(), stdout);

  bool plot_failed = false;
  if (!options.plot.empty()) {
    const PlotResult plot =
        WritePlot(options.plot, figures, context.processors, context.runs_passed);
    if (!plot.message.empty()) Complain(plot.message);
    plot_failed = plot.failed;
  }
  return passed.size() == reports.size() && !plot_failed ? 0 : 1;
}
