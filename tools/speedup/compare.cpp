#include "compare.h"

#include <cmath>
#include <cstdio>

#include "bench/sweep.h"
#include "context.h"
#include "io.h"
#include "output.h"
#include "plot.h"
#include "stats.h"
#include "text.h"

namespace {

const char* VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kFaster:
      return "faster";
    case Verdict::kSlower:
      return "slower";
    case Verdict::kNoClearDifference:
      break;
  }
  return "no clear difference";
}

std::string Label(int threads) { return threads == 0 ? "serial" : std::to_string(threads); }

std::string Formatted(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string PValue(double p) { return p < 0.001 ? "<0.001" : Formatted("%.3f", p); }

}  // namespace

std::vector<double> LogTimes(const std::vector<RunReport>& reports, int threads) {
  std::vector<double> logs;
  for (const RunReport& report : reports) {
    const double seconds =
        threads == 0 ? report.serial_seconds : report.parallel_seconds[threads - 1];
    // A zero time has no logarithm; half a clock tick stands in for "below one tick".
    logs.push_back(std::log(seconds > 0.0 ? seconds : 0.0005));
  }
  return logs;
}

RowComparison CompareLogs(const std::vector<double>& base, const std::vector<double>& candidate) {
  RowComparison row;
  if (base.empty() || candidate.empty()) return row;
  row.base_median = std::exp(stats::Median(base));
  row.new_median = std::exp(stats::Median(candidate));
  const stats::ShiftEstimate shift = stats::HodgesLehmann(base, candidate, CONFIDENCE);
  row.ratio = std::exp(shift.shift);
  row.ratio_low = std::exp(shift.low);
  row.ratio_high = std::exp(shift.high);
  row.confidence = shift.confidence;
  row.p_value = stats::MannWhitney(base, candidate).p_value;
  return row;
}

RowComparison CompareLogsAgainstRest(const stats::Pool& pool,
                                     const std::vector<double>& candidate) {
  RowComparison row;
  if (pool.sorted.size() <= candidate.size() || candidate.empty()) return row;
  row.base_median = std::exp(stats::MedianOfRest(pool, candidate));
  row.new_median = std::exp(stats::Median(candidate));
  const stats::ShiftEstimate shift = stats::HodgesLehmannAgainstRest(pool, candidate, CONFIDENCE);
  row.ratio = std::exp(shift.shift);
  row.ratio_low = std::exp(shift.low);
  row.ratio_high = std::exp(shift.high);
  row.confidence = shift.confidence;
  row.p_value = stats::MannWhitneyAgainstRest(pool, candidate).p_value;
  return row;
}

Verdict Judge(double p_holm, double ratio_low, double ratio_high) {
  if (!(p_holm < SIGNIFICANCE)) return Verdict::kNoClearDifference;
  if (ratio_low > 1.0 + NEGLIGIBLE_CHANGE) return Verdict::kSlower;
  if (ratio_high < 1.0 - NEGLIGIBLE_CHANGE) return Verdict::kFaster;
  return Verdict::kNoClearDifference;
}

Comparison CompareSessions(const Session& base, const Session& candidate) {
  Comparison comparison;
  const std::vector<RunReport> base_runs = PassedReports(base);
  const std::vector<RunReport> new_runs = PassedReports(candidate);
  comparison.base_runs = static_cast<int>(base_runs.size());
  comparison.new_runs = static_cast<int>(new_runs.size());
  std::vector<double> p_values;
  for (int threads = 0; threads <= MAX_THREADS; ++threads) {
    RowComparison row = CompareLogs(LogTimes(base_runs, threads), LogTimes(new_runs, threads));
    row.threads = threads;
    p_values.push_back(row.p_value);
    comparison.rows.push_back(row);
  }
  const std::vector<double> holm = stats::HolmAdjust(p_values);
  for (std::size_t i = 0; i < comparison.rows.size(); ++i) {
    RowComparison& row = comparison.rows[i];
    row.p_holm = holm[i];
    row.verdict = Judge(row.p_holm, row.ratio_low, row.ratio_high);
  }
  for (const auto& [side, runs] :
       {std::pair{"BASE", comparison.base_runs}, std::pair{"NEW", comparison.new_runs}}) {
    if (runs < FEW_RUNS) {
      comparison.warnings.push_back(std::string(side) + " has only " + std::to_string(runs) +
                                    " passed runs: with fewer than " + std::to_string(FEW_RUNS) +
                                    " a real difference may go unseen");
    }
  }
  for (const std::string& difference : ContextDifferences(base.context, candidate.context)) {
    comparison.warnings.push_back("the sessions ran under different conditions: " + difference);
  }
  return comparison;
}

bool SlowerBeyond(const Comparison& comparison, double fraction) {
  for (const RowComparison& row : comparison.rows) {
    if (row.verdict == Verdict::kSlower && row.ratio > 1.0 + fraction) return true;
  }
  return false;
}

std::string FormatComparisonTable(const Comparison& comparison, const std::string& base_name,
                                  const std::string& new_name) {
  std::string table = "matbench comparison: NEW " + Printable(new_name) + " (" +
                      std::to_string(comparison.new_runs) + " runs) against BASE " +
                      Printable(base_name) + " (" + std::to_string(comparison.base_runs) +
                      " runs)\n\n";
  table += "threads   BASE s    NEW s   NEW/BASE [95% interval]       p  Holm p  verdict\n";
  for (const RowComparison& row : comparison.rows) {
    char line[160];
    std::snprintf(line, sizeof line, "%7s %8.3f %8.3f %10.3f [%.3f, %.3f] %7s %7s  %s\n",
                  Label(row.threads).c_str(), row.base_median, row.new_median, row.ratio,
                  row.ratio_low, row.ratio_high, PValue(row.p_value).c_str(),
                  PValue(row.p_holm).c_str(), VerdictText(row.verdict));
    table += line;
  }
  table +=
      "\nNEW/BASE: ratio of times from the Hodges-Lehmann shift of log times (below 1: NEW is "
      "faster);\np: two-sided Mann-Whitney U; Holm p: corrected over the 21 rows. A verdict "
      "needs Holm p < 0.05\nand an interval wholly outside ±2%.\n";
  return table;
}

std::string FormatComparisonCsv(const Comparison& comparison) {
  std::string csv =
      "threads,base_median_s,new_median_s,ratio,ratio_low,ratio_high,confidence,p_value,p_holm,"
      "verdict\n";
  for (const RowComparison& row : comparison.rows) {
    csv += Label(row.threads) + "," + NumberText(row.base_median) + "," +
           NumberText(row.new_median) + "," + NumberText(row.ratio) + "," +
           NumberText(row.ratio_low) + "," + NumberText(row.ratio_high) + "," +
           NumberText(row.confidence) + "," + NumberText(row.p_value) + "," +
           NumberText(row.p_holm) + "," + VerdictText(row.verdict) + "\n";
  }
  return csv;
}

std::string FormatComparisonJson(const Comparison& comparison, const std::string& base_name,
                                 const std::string& new_name) {
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (const RowComparison& row : comparison.rows) {
    rows.push_back({{"threads", Label(row.threads)},
                    {"base_median_s", row.base_median},
                    {"new_median_s", row.new_median},
                    {"ratio", row.ratio},
                    {"ratio_low", row.ratio_low},
                    {"ratio_high", row.ratio_high},
                    {"confidence", row.confidence},
                    {"p_value", row.p_value},
                    {"p_holm", row.p_holm},
                    {"verdict", VerdictText(row.verdict)}});
  }
  const nlohmann::ordered_json json = {{"base", base_name},
                                       {"new", new_name},
                                       {"base_runs", comparison.base_runs},
                                       {"new_runs", comparison.new_runs},
                                       {"warnings", comparison.warnings},
                                       {"rows", rows}};
  return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

int CompareCommand(const Options& options) {
  Session sides[2];
  for (int i = 0; i < 2; ++i) {
    const std::string& path = options.compared[i];
    bool is_json = false;
    if (!ReadSessionFile(path, std::nullopt, sides[i], &is_json)) return 2;
    if (!is_json) {
      Complain(Printable(path) + " holds raw reports, not a session JSON with its runs kept");
      return 2;
    }
    if (PassedReports(sides[i]).empty()) {
      Complain(Printable(path) + " has no passed run to compare");
      return 2;
    }
  }
  const Comparison comparison = CompareSessions(sides[0], sides[1]);
  for (const std::string& warning : comparison.warnings) Complain("warning: " + warning);
  const std::string& base = options.compared[0];
  const std::string& candidate = options.compared[1];
  const std::string text = options.format == OutputFormat::kCsv ? FormatComparisonCsv(comparison)
                           : options.format == OutputFormat::kJson
                               ? FormatComparisonJson(comparison, base, candidate)
                               : FormatComparisonTable(comparison, base, candidate);
  bool failed = !WriteOut(text);
  if (!options.plot.empty()) {
    const Figures base_figures = SessionFigures(sides[0]);
    const Figures new_figures = SessionFigures(sides[1]);
    PlotRequest request;
    request.path = options.plot;
    request.processors = sides[1].context.processors;
    request.runs = std::min(base_figures.runs, new_figures.runs);
    request.curves = {{"BASE " + base, &base_figures, base_figures.amdahl.serial_fraction},
                      {"NEW " + candidate, &new_figures, new_figures.amdahl.serial_fraction}};
    request.title = "matbench comparison: speedup vs serial, medians with 95% intervals";
    const PlotResult plot = WritePlot(request);
    if (!plot.message.empty()) Complain(plot.message);
    failed = failed || plot.failed;
  }
  if (options.fail_if_slower && SlowerBeyond(comparison, *options.fail_if_slower)) {
    Complain("NEW is significantly slower than BASE by more than " +
             Formatted("%g%%", *options.fail_if_slower * 100.0) + " in some row");
    return 1;
  }
  return failed ? 1 : 0;
}
