#include "commands/drawing.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/interrupts.h"
#include "base/io.h"
#include "base/process.h"
#include "base/text.h"

namespace speedup {
namespace {

constexpr double GNUPLOT_SECONDS = 60;
constexpr std::size_t GNUPLOT_OUTPUT_BYTES = 64 * 1024;

// `text` as one shell word, so the command in a message can be pasted as it is.
std::string ShellWord(const std::string& text) {
  const bool plain = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("/._-+,:@%", c) != nullptr;
  });
  if (plain) return text;
  std::string word = "'";
  for (const char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

std::string ErrnoText() { return std::strerror(errno); }

// gnuplot names the script and line of the fault ("chart.gp" line 7: ...); the lines before it
// echo the offending command. Empty when it said nothing.
std::string FirstErrorLine(const std::string& output) {
  // Built by appending: GCC 12 at -O2 warns falsely of bounds in the chained operator+.
  std::string fault = "\"";
  fault.append(CHART_SCRIPT_NAME).append("\" line ");
  std::string first;
  for (std::size_t start = 0; start < output.size();) {
    const std::size_t end = std::min(output.find('\n', start), output.size());
    const std::string line = output.substr(start, end - start);
    if (line.find(fault) != std::string::npos) return line;
    if (first.empty() && line.find_first_not_of(" \t\r^") != std::string::npos) first = line;
    start = end + 1;
  }
  return first;
}

// `what`, then gnuplot's own word on it when it said anything.
std::string WithGnuplotMessage(const std::string& what, const std::string& output) {
  const std::string line = FirstErrorLine(output);
  return line.empty() ? what : what + ": " + Printable(line);
}

struct TemporaryFolder {
  std::string path;   // empty when it could not be made
  std::string error;  // why not
};

TemporaryFolder MakeTemporaryFolder() {
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string base = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
  std::string name = base + "/matbench-plot-XXXXXX";
  if (mkdtemp(name.data()) == nullptr) {
    return {"", "cannot make a temporary folder in " + Quoted(base) + ": " + ErrnoText()};
  }
  return {name, ""};
}

void RemoveFolder(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

}  // namespace

PlotResult WritePlot(const PlotRequest& request) {
  return DrawChart(request.path, PlotScript(request, ChartFileName(request.path)));
}

namespace {

// A failed drawing with its message.
DrawnChart Failed(const std::string& message) {
  DrawnChart drawn;
  drawn.result = {PlotResult::Outcome::kFailed, message};
  return drawn;
}

// Runs gnuplot on the script in `folder` and reads the chart it draws there; removes the folder.
DrawnChart RunGnuplot(const std::string& folder, const std::string& output_name) {
  ProcessOptions options;
  options.max_output_bytes = GNUPLOT_OUTPUT_BYTES;
  options.time_limit_seconds = GNUPLOT_SECONDS;
  options.stderr_handling = StderrHandling::kMerge;
  options.working_directory = folder;
  const ProcessResult gnuplot = RunProcess({"gnuplot", CHART_SCRIPT_NAME}, options, {});
  if (!gnuplot.started) {
    RemoveFolder(folder);
    return Failed("cannot start gnuplot: " + Printable(gnuplot.start_error));
  }
  if (gnuplot.failure) {
    RemoveFolder(folder);
    return Failed(WithGnuplotMessage(
        "gnuplot failed (" + ProcessFailureText(*gnuplot.failure) + ")", gnuplot.output));
  }

  DrawnChart drawn;
  const Result<std::string> chart = ReadWholeFile(folder + "/" + output_name);
  if (chart) drawn.bytes = *chart;
  RemoveFolder(folder);
  if (drawn.bytes.empty()) {
    drawn.result = {PlotResult::Outcome::kFailed,
                    WithGnuplotMessage("gnuplot wrote no chart", gnuplot.output)};
  } else if (!ChartIsWhole(drawn.bytes, output_name.ends_with(".svg"))) {
    drawn.result = {
        PlotResult::Outcome::kFailed,
        WithGnuplotMessage("gnuplot's chart is cut short (is the temporary folder full?)",
                           gnuplot.output)};
    drawn.bytes.clear();
  } else if (const int signal_number = PendingInterrupt()) {
    drawn.result = {PlotResult::Outcome::kFailed,
                    "no chart: interrupted by " + SignalName(signal_number)};
    drawn.bytes.clear();
  }
  return drawn;
}

// Draws `script` in a private folder; where gnuplot is missing, keeps the folder with the script
// when `keep_script`, and says how to draw it there.
DrawnChart Draw(const std::string& output_name, const std::string& script, bool keep_script) {
  const auto missing = [](const std::string& message) {
    DrawnChart drawn;
    drawn.result = {PlotResult::Outcome::kGnuplotMissing, message};
    return drawn;
  };
  const TemporaryFolder folder = MakeTemporaryFolder();
  if (folder.path.empty()) return Failed(folder.error);
  const std::string script_path = folder.path + "/" + CHART_SCRIPT_NAME;

  const int script_fd = open(script_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (script_fd < 0 || !WriteAllAndClose(script_fd, script)) {
    const std::string message = "cannot write " + Quoted(script_path) + ": " + ErrnoText();
    RemoveFolder(folder.path);
    return Failed(message);
  }

  if (!OnPath("gnuplot")) {
    if (!keep_script) {
      RemoveFolder(folder.path);
      return missing("gnuplot is not installed: no chart drawn");
    }
    return missing(Printable("gnuplot is not installed; the chart's script is kept, and `cd " +
                             ShellWord(folder.path) + " && gnuplot " + CHART_SCRIPT_NAME +
                             "` draws " + output_name + " there"));
  }
  return RunGnuplot(folder.path, output_name);
}

}  // namespace

namespace {

std::vector<std::string>& PageChartFailures() {
  static std::vector<std::string> failures;
  return failures;
}

}  // namespace

DrawnChart DrawChartBytes(const std::string& output_name, const std::string& script) {
  DrawnChart drawn = Draw(output_name, script, false);
  if (drawn.result.Failed()) PageChartFailures().push_back(drawn.result.message);
  return drawn;
}

std::vector<std::string> TakePageChartFailures() {
  std::vector<std::string> failures;
  failures.swap(PageChartFailures());
  return failures;
}

PlotResult DrawChart(const std::string& path, const std::string& script) {
  const DrawnChart drawn = Draw(ChartFileName(path), script, true);
  if (drawn.bytes.empty()) return drawn.result;
  // Whatever happens, the path holds a whole chart or what it held before.
  const Status written = WriteWholeFile(path, drawn.bytes);
  if (!written) return {PlotResult::Outcome::kFailed, written.failure().message};
  return {};
}

DrawnChart DrawPageChart(const std::string& script) { return DrawChartBytes("chart.svg", script); }

}  // namespace speedup
