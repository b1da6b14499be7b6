#include "output.h"

#include <charconv>
#include <cstdio>

#include "bench/sweep.h"
#include "text.h"

namespace {

// `text` right-aligned in `width` columns; "—" stands alone in one column.
std::string Cell(const std::string& text, int width) {
  const int shown = text == "—" ? 1 : static_cast<int>(text.size());
  return std::string(width > shown ? width - shown : 0, ' ') + text;
}

// Median and interval, e.g. "  1.94 [1.90, 1.97]".
std::string WithInterval(const Estimate& estimate, int width, int decimals) {
  const bool interval = estimate.median && estimate.low && estimate.high;
  return Cell(FixedText(estimate.median, decimals), width) + " [" +
         Cell(interval ? FixedText(estimate.low, decimals) : "—", decimals + 2) + ", " +
         Cell(interval ? FixedText(estimate.high, decimals) : "—", decimals + 2) + "]";
}

std::string Percent(double fraction) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", fraction * 100.0);
  return text;
}

std::string Plural(int count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string TeamList(const std::vector<int>& teams) {
  std::string list;
  for (const int threads : teams) list += (list.empty() ? "" : ", ") + std::to_string(threads);
  return list;
}

std::string Optional(const std::optional<double>& value) { return value ? NumberText(*value) : ""; }

const char* Bool(bool value) { return value ? "true" : "false"; }

std::string EstimateCsv(const Estimate& estimate) {
  return Optional(estimate.median) + "," + Optional(estimate.low) + "," + Optional(estimate.high);
}

// e(p) for every team size, three a line, and the Amdahl fit.
std::string CurveFooter(const Figures& figures) {
  std::string footer = "\nKarp-Flatt serial fraction e(p) with its interval:\n";
  int on_line = 0;
  for (const TeamFigures& team : figures.teams) {
    if (team.threads < 2) continue;
    const bool interval = team.karp_flatt_low && team.karp_flatt_high;
    footer += (on_line == 0 ? "" : "   ") + Cell(std::to_string(team.threads), 4) + ": " +
              Cell(FixedText(team.karp_flatt, 3), 6) + " [" +
              (interval ? FixedText(team.karp_flatt_low, 3) : "—") + ", " +
              (interval ? FixedText(team.karp_flatt_high, 3) : "—") + "]";
    if (++on_line == 3) {
      footer += "\n";
      on_line = 0;
    }
  }
  if (on_line != 0) footer += "\n";
  const AmdahlFit& fit = figures.amdahl;
  if (!fit.a) return footer + "Amdahl fit: not made (the processor count is not recorded)\n";
  footer +=
      "Amdahl fit T(p) = a + b/p over team sizes 1.." + std::to_string(fit.team_sizes) +
      (fit.team_sizes < 3 ? " (it rests on " + Plural(fit.team_sizes, "point", "points") + " only)"
                          : "") +
      ": a " + FixedText(fit.a, 4) + " s, b " + FixedText(fit.b, 4) + " s\n";
  footer += "  serial fraction f = a / (a + b) = " + FixedText(fit.serial_fraction, 4) + " [" +
            FixedText(fit.low, 4) + ", " + FixedText(fit.high, 4) + "], speedup limit 1/f " +
            (fit.limit ? FixedText(fit.limit, 1) : "none") + "\n  (interval from " +
            std::to_string(fit.resamples) + " resamples of whole runs, seed " +
            std::to_string(fit.seed) + ")\n";
  // A fraction a little below 0 is noise around a product with no serial part; only an interval
  // wholly outside [0, 1) says the law does not fit.
  const auto outside = [](const std::optional<double>& f) { return f && (*f < 0.0 || *f >= 1.0); };
  const bool both_below = fit.low && fit.high && *fit.high < 0.0;
  const bool both_above = fit.low && *fit.low >= 1.0;
  if (both_below || both_above || (!fit.low && outside(fit.serial_fraction))) {
    footer += "  f outside [0, 1): Amdahl's law does not describe these runs\n";
  }
  return footer;
}

}  // namespace

std::string FixedText(const std::optional<double>& value, int decimals) {
  if (!value) return "—";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, *value);
  return text;
}

std::string NumberText(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string FormatTable(const Session& session, const Figures& figures) {
  const int runs = static_cast<int>(session.runs.size());
  std::string table = "matbench speedup over " + std::to_string(figures.runs) + " of " +
                      Plural(runs, "run", "runs");
  const double confidence = figures.serial.confidence;
  if (figures.runs < 2) {
    table += "; no interval from a single run\n";
  } else if (confidence < CONFIDENCE) {
    table += "; intervals reach only " + Percent(confidence) + " confidence (" +
             std::to_string(MIN_RUNS_FOR_95) + " runs give 95%)\n";
  } else {
    table += "; medians with 95% intervals\n";
  }
  if (session.interrupted) {
    table += "interrupted by " + Printable(*session.interrupted) + " after " +
             std::to_string(runs) + " of " +
             (session.requested_runs ? std::to_string(*session.requested_runs) : "?") + " runs\n";
  }
  if (session.stopped && !session.precision) {
    table += "stopped after " + std::to_string(runs) + " of " +
             (session.requested_runs ? std::to_string(*session.requested_runs) : "?") +
             " runs: " + Printable(*session.stopped) + "\n";
  }
  if (session.precision) {
    const std::vector<int> unsettled = UnsettledTeams(figures, *session.precision);
    table += "precision ±" + Percent(*session.precision) + ": ";
    table += unsettled.empty() ? "every speedup settled after " + Plural(runs, "run", "runs")
                               : "team sizes " + TeamList(unsettled) + " did not settle in " +
                                     Plural(runs, "run", "runs");
    if (session.stopped) table += " (" + Printable(*session.stopped) + ")";
    table += "\n";
  }
  if (session.placement) {
    table += "placement OMP_PLACES=cores OMP_PROC_BIND=" + Printable(*session.placement) + ": " +
             (!session.placement_honoured   ? "not checked (no thread affinity shown)"
              : *session.placement_honoured ? "honoured, as the runtime's thread affinity shows"
                                            : "NOT honoured by the runtime") +
             "\n";
  }
  for (const std::string& line : ContextLines(session.context)) table += line + "\n";

  const ParallelUse use = CheckParallelUse(session);
  table +=
      "\nthreads  median s  [95% interval]   IQR s out  S vs serial [95%]"
      "   S vs 1 thread [95%]  effic.\n";
  table += Cell("serial", 7) + WithInterval(figures.serial, 10, 3) +
           Cell(FixedText(figures.serial.iqr, 3), 7) +
           Cell(std::to_string(figures.serial.outliers), 4) +
           (figures.serial_too_short ? std::string(48, ' ') + "~" : "") + "\n";
  bool any_oversubscribed = false, any_short = figures.serial_too_short, any_noisy = false;
  for (const TeamFigures& team : figures.teams) {
    std::string marks = std::string(team.oversubscribed ? "*" : "") + (team.too_short ? "~" : "") +
                        (team.noisy ? "!" : "") + (use.one_processor ? "#" : "");
    table +=
        Cell(std::to_string(team.threads), 7) + WithInterval(team.seconds, 10, 3) +
        Cell(FixedText(team.seconds.iqr, 3), 7) + Cell(std::to_string(team.seconds.outliers), 4) +
        WithInterval(team.speedup_vs_serial, 7, 2) +
        WithInterval(team.speedup_vs_one_thread, 8, 2) +
        Cell(FixedText(team.efficiency.median, 2), 7) + (marks.empty() ? "" : " " + marks) + "\n";
    any_oversubscribed = any_oversubscribed || team.oversubscribed;
    any_short = any_short || team.too_short;
    any_noisy = any_noisy || team.noisy;
  }

  table +=
      "\nS: the serial (or one-thread) time / the row's time, within each run; efficiency: "
      "S / threads.\n"
      "[a, b]: distribution-free interval for the median from order statistics; out: times "
      "beyond\nTukey's fences, counted and kept.\n";
  if (!session.context.processors) {
    table += "processors not recorded: no team size is marked as oversubscribed\n";
  } else if (any_oversubscribed) {
    table += "* more threads than the " +
             Plural(*session.context.processors, "processor", "processors") + " available\n";
  }
  if (any_short) table += "~ a time below 20 ms: too short for the millisecond clock\n";
  if (any_noisy) table += "! speedup interval wider than ±5% of its median, or none\n";
  table += CurveFooter(figures);
  if (use.one_processor) {
    table += "# not a parallel result: the runs used about one processor (" +
             FixedText(use.cpu_per_wall, 2) + " s of CPU per second)\n";
  }
  return table;
}

std::string FormatCsv(const Figures& figures) {
  std::string csv =
      "threads,median_s,low_s,high_s,iqr_s,outliers,speedup_vs_serial,speedup_vs_serial_low,"
      "speedup_vs_serial_high,speedup_vs_one_thread,speedup_vs_one_thread_low,"
      "speedup_vs_one_thread_high,efficiency,efficiency_low,efficiency_high,"
      "median_serial_over_median_time,oversubscribed,too_short,noisy\n";
  csv += "serial," + EstimateCsv(figures.serial) + "," + NumberText(figures.serial.iqr) + "," +
         std::to_string(figures.serial.outliers) + ",,,,,,,,,,,false," +
         Bool(figures.serial_too_short) + ",false\n";
  for (const TeamFigures& team : figures.teams) {
    csv += std::to_string(team.threads) + "," + EstimateCsv(team.seconds) + "," +
           NumberText(team.seconds.iqr) + "," + std::to_string(team.seconds.outliers) + "," +
           EstimateCsv(team.speedup_vs_serial) + "," + EstimateCsv(team.speedup_vs_one_thread) +
           "," + EstimateCsv(team.efficiency) + "," + Optional(team.ratio_of_medians) + "," +
           Bool(team.oversubscribed) + "," + Bool(team.too_short) + "," + Bool(team.noisy) + "\n";
  }
  return csv;
}

std::string FormatLongCsv(const Session& session) {
  std::string csv = "run,threads,seconds,passed\n";
  for (std::size_t i = 0; i < session.runs.size(); ++i) {
    const RunReport& report = session.runs[i].report;
    const std::string run = std::to_string(i + 1) + ",";
    const std::string passed = std::string(",") + Bool(report.failure.empty()) + "\n";
    csv += run + "serial," + NumberText(report.serial_seconds) + passed;
    for (int t = 1; t <= MAX_THREADS; ++t) {
      csv += run + std::to_string(t) + "," + NumberText(report.parallel_seconds[t - 1]) + passed;
    }
  }
  return csv;
}

std::string FormatJson(const Session& session, const Figures& figures) {
  return SessionJson(session, figures)
             .dump(2, ' ', false, nlohmann::json::error_handler_t::replace) +
         "\n";
}
