#include "measure.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "process.h"
#include "text.h"

namespace {

// The interrupt's name, as in "interrupted by SIGINT".
std::string SignalName(int signal) {
  const char* abbreviation = sigabbrev_np(signal);
  return abbreviation != nullptr ? std::string("SIG") + abbreviation
                                 : "signal " + std::to_string(signal);
}

std::string DurationText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", seconds);
  return text;
}

// One line of progress on a terminal, overwritten by the next.
void ShowProgress(const std::string& text) {
  std::fprintf(stderr, "\r%-70s\r%s", "", text.c_str());
}

}  // namespace

namespace {

// How many processors a list such as "0-1,4" or "{0,1}" names; 0 when it names none. Counted
// 64 bits wide and capped at int's maximum: "0-2147483647" names more than int holds, and a
// number too long for 64 bits names more processors than any machine has.
int ProcessorCount(std::string_view list) {
  constexpr std::uint64_t most = std::numeric_limits<int>::max();
  const auto number = [&](std::size_t& at) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(list.data() + at, list.data() + list.size(), value);
    at = static_cast<std::size_t>(end - list.data());
    return error == std::errc::result_out_of_range ? std::numeric_limits<std::uint64_t>::max()
                                                   : value;
  };
  std::uint64_t count = 0;
  std::size_t at = 0;
  while (at < list.size()) {
    if (list[at] < '0' || list[at] > '9') {
      ++at;
      continue;
    }
    const std::uint64_t first = number(at);
    std::uint64_t last = first;
    if (at + 1 < list.size() && list[at] == '-' && list[at + 1] >= '0' && list[at + 1] <= '9') {
      ++at;
      last = number(at);
    }
    if (last >= first) count += std::min(last - first, most) + 1;
    count = std::min(count, most);
  }
  return static_cast<int>(count);
}

}  // namespace

std::optional<bool> PlacementHonoured(std::string_view display, const std::string& placement,
                                      int processors) {
  std::optional<bool> honoured;
  for (std::size_t start = 0; start < display.size();) {
    const std::size_t end = std::min(display.find('\n', start), display.size());
    const std::string_view line = display.substr(start, end - start);
    start = end + 1;
    std::size_t at = line.find(" affinity ");
    if (at != line.npos) {
      at += 10;
    } else if ((at = line.find(" bound to OS proc set ")) != line.npos) {
      at += 22;
    } else {
      continue;
    }
    const bool bound = ProcessorCount(line.substr(at)) < processors;
    const bool as_asked = placement == "false" ? !bound : bound;
    honoured = honoured.value_or(true) && as_asked;
  }
  return honoured;
}

std::string WithoutAffinityLines(std::string_view output, std::string& display) {
  std::string kept;
  for (std::size_t start = 0; start < output.size();) {
    // One past the line's own line feed, or the end of an unfinished last line.
    const std::size_t end = std::min(output.find('\n', start), output.size() - 1) + 1;
    const std::string_view line = output.substr(start, end - start);
    start = end;
    if (line.rfind("OMP: pid ", 0) == 0 && line.find(" bound to OS proc set ") != line.npos) {
      display.append(line);
    } else {
      kept.append(line);
    }
  }
  return kept;
}

double RunTimeout(double longest) { return std::max(60.0, 10.0 * longest); }

std::string MeasureSession(const Options& options, const std::string& bench,
                           const std::optional<std::string>& placement, Session& session) {
  const bool show_progress = isatty(STDERR_FILENO) != 0;
  const int most_runs = options.precision ? options.max_runs : options.runs;
  const int fewest_runs = options.precision
                              ? std::max(options.runs_given ? options.runs : 0, MIN_RUNS_FOR_95)
                              : options.runs;
  session.requested_runs = most_runs;
  session.precision = options.precision;
  session.placement = placement;

  ProcessOptions process;
  process.max_output_bytes = MAX_REPORT_BYTES;
  if (placement) {
    process.extra_environment = {"OMP_PLACES=cores", "OMP_PROC_BIND=" + *placement,
                                 "OMP_DISPLAY_AFFINITY=true"};
    process.stderr_handling = StderrHandling::kCapture;
  }
  const auto start = std::chrono::steady_clock::now();
  double longest = 0.0;
  std::string widest;  // the widest speedup interval so far, for the progress line
  while (static_cast<int>(session.runs.size()) < most_runs) {
    const int run = static_cast<int>(session.runs.size()) + 1;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (options.time_limit && elapsed >= *options.time_limit) {
      session.stopped = "--time-limit " + DurationText(*options.time_limit) + " reached";
      break;
    }
    process.time_limit_seconds = options.run_timeout ? *options.run_timeout
                                 : run == 1          ? FIRST_RUN_TIMEOUT_SECONDS
                                                     : RunTimeout(longest);
    int lines = 0;
    auto progress = [&](std::string_view output) {
      lines += static_cast<int>(std::count(output.begin(), output.end(), '\n'));
      if (show_progress) {
        ShowProgress("run " + std::to_string(run) + " of " + (options.precision ? "at most " : "") +
                     std::to_string(most_runs) + ": " + std::to_string(lines) + " lines" + widest);
      }
    };
    const ProcessResult result = RunProcess({bench}, process, progress);
    if (result.interrupted != 0) {
      session.interrupted = SignalName(result.interrupted);
      break;
    }
    if (!result.started) {
      if (run == 1)
        return "cannot run the benchmark " + Printable(bench) + ": " + result.start_error;
      session.stopped = "the benchmark could not be started again: " + result.start_error;
      break;
    }
    std::string display = result.error_output;
    const std::string report =
        placement ? WithoutAffinityLines(result.output, display) : result.output;
    Run kept;
    kept.report = ParseOneReport(report);
    if (!result.failure.empty()) {
      kept.report.failure = result.failure + (result.timed_out || result.output_too_large ||
                                                      kept.report.failure.empty()
                                                  ? ""
                                                  : "; " + kept.report.failure);
    }
    if (placement && session.context.processors) {
      const std::optional<bool> honoured =
          PlacementHonoured(display, *placement, *session.context.processors);
      if (honoured)
        session.placement_honoured = session.placement_honoured.value_or(true) && *honoured;
    }
    kept.cpu_seconds = result.cpu_seconds;
    kept.wall_seconds = result.wall_seconds;
    if (kept.report.failure.empty()) longest = std::max(longest, result.wall_seconds);
    session.runs.push_back(kept);

    const std::vector<RunReport> passed = PassedReports(session);
    if (!options.precision || static_cast<int>(passed.size()) < fewest_runs) continue;
    const Figures figures = SessionFigures(session);
    if (UnsettledTeams(figures, *options.precision).empty()) break;
    if (const std::optional<double> half_width = WidestSpeedupInterval(figures)) {
      char text[64];
      std::snprintf(text, sizeof text, "; widest interval ±%.1f%%", *half_width * 100.0);
      widest = text;
      if (show_progress) ShowProgress("after run " + std::to_string(run) + widest);
    }
  }
  if (options.precision && !session.stopped && !session.interrupted &&
      static_cast<int>(session.runs.size()) >= most_runs) {
    const std::vector<RunReport> passed = PassedReports(session);
    if (passed.empty() || !UnsettledTeams(SessionFigures(session), *options.precision).empty()) {
      session.stopped = "--max-runs " + std::to_string(most_runs) + " reached";
    }
  }
  if (show_progress) ShowProgress("");
  return "";
}
