#include "base/text.h"
#include "bench/sweep.h"
#include "present/reporter.h"
#include "present/words.h"

namespace speedup {
namespace {

std::string Optional(const std::optional<double>& value) { return value ? NumberText(*value) : ""; }

const char* Bool(bool value) { return value ? "true" : "false"; }

std::string EstimateCsv(const Estimate& estimate) {
  return Optional(estimate.median) + "," + Optional(estimate.low) + "," + Optional(estimate.high);
}

std::string FiguresCsv(const Figures& figures) {
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

std::string RunsCsv(const Session& session) {
  std::string csv = "run,threads,seconds,passed\n";
  for (std::size_t i = 0; i < session.runs.size(); ++i) {
    const RunReport& report = session.runs[i].report;
    const std::string run = std::to_string(i + 1) + ",";
    const std::string passed = std::string(",") + Bool(report.Passed()) + "\n";
    csv += run + "serial," + NumberText(report.serial_seconds) + passed;
    for (int t = 1; t <= MAX_THREADS; ++t) {
      csv += run + std::to_string(t) + "," + NumberText(report.parallel_seconds[t - 1]) + passed;
    }
  }
  return csv;
}

std::string ComparisonCsv(const Comparison& comparison) {
  std::string csv =
      "threads,base_median_s,new_median_s,ratio,ratio_low,ratio_high,confidence,p_value,p_holm,"
      "verdict\n";
  for (const RowComparison& row : comparison.rows) {
    csv += RowLabel(row.threads) + "," + NumberText(row.base_median) + "," +
           NumberText(row.new_median) + "," + NumberText(row.ratio) + "," +
           NumberText(row.ratio_low) + "," + NumberText(row.ratio_high) + "," +
           NumberText(row.confidence) + "," + NumberText(row.p_value) + "," +
           NumberText(row.p_holm) + "," + VerdictText(row.verdict) + "\n";
  }
  return csv;
}

std::string FleetCsv(const Fleet& fleet) {
  std::string csv =
      "node,job,file,merged,problem,runs,team,serial_median_s,serial_low_s,serial_high_s,"
      "speedup_median,speedup_low,speedup_high,serial_ratio,serial_p_holm,speedup_ratio,"
      "speedup_p_holm,verdict\n";
  const auto field = [](const std::string& text) { return CsvField(text); };
  const auto number = [](const std::optional<double>& value) {
    return value ? NumberText(*value) : std::string();
  };
  for (const NodeRow& node : fleet.nodes) {
    csv += field(node.input.node) + "," + field(node.input.job.value_or("")) + "," +
           field(node.input.file) + "," + (node.input.merged ? "true" : "false") + "," +
           field(node.input.problem ? ProblemText(*node.input.problem) : "") + "," +
           std::to_string(node.figures.runs) + ",";
    if (node.input.merged && node.figures.runs > 0) {
      const Estimate& s = node.at_team.speedup_vs_serial;
      csv += std::to_string(node.team) + "," + number(node.figures.serial.median) + "," +
             number(node.figures.serial.low) + "," + number(node.figures.serial.high) + "," +
             number(s.median) + "," + number(s.low) + "," + number(s.high) + "," +
             NumberText(node.serial.ratio) + "," + NumberText(node.serial.p_holm) + "," +
             NumberText(node.speedup.ratio) + "," + NumberText(node.speedup.p_holm) + "," +
             field(NodeVerdictText(node)) + "\n";
    } else {
      csv += ",,,,,,,,,,,\n";
    }
  }
  return csv;
}

// Per team size the split of the run whose region took the median time, as fractions that add
// up to 1, beside the medians with their intervals.
std::string TraceCsv(const TraceFigures& figures) {
  std::string csv =
      "threads,runs,region_ms,region_ms_low,region_ms_high,report_ms,fork,work,scheduling,"
      "imbalance,join,rows_min,rows_median,rows_max,idle_threads,traced_speedup,"
      "traced_speedup_low,traced_speedup_high,report_speedup,report_speedup_low,"
      "report_speedup_high\n";
  for (const TeamTrace& team : figures.teams) {
    const RegionSplit& split = team.typical;
    csv += std::to_string(team.threads) + "," + std::to_string(team.runs) + "," +
           EstimateCsv(team.region_ms) + "," + Optional(team.report_ms.median);
    for (const double seconds :
         {split.fork, split.work, split.scheduling, split.imbalance, split.join}) {
      csv += ',';
      csv += Optional(StateShare(split, seconds));
    }
    csv += ',';
    csv += Optional(team.rows_min) + "," + Optional(team.rows_median) + "," +
           Optional(team.rows_max) + "," + std::to_string(team.idle_threads) + "," +
           EstimateCsv(team.traced_speedup) + "," + EstimateCsv(team.report_speedup) + "\n";
  }
  return csv;
}

class CsvReporter : public Reporter {
 public:
  std::string SessionReport(const Session&, const SessionAnalysis& analysis) const override {
    return FiguresCsv(analysis.figures);
  }
  std::string ComparisonReport(const Comparison& comparison, const std::string&,
                               const std::string&) const override {
    return ComparisonCsv(comparison);
  }
  std::string FleetReport(const Fleet& fleet) const override { return FleetCsv(fleet); }
  // A study has no one table of figures; its sessions are read back one by one for CSV.
  std::string StudyReport(const std::vector<NamedSession>& sessions,
                          const std::vector<Comparison>&) const override {
    return SessionReport(*sessions.front().session, *sessions.front().analysis);
  }
  std::string TraceReport(const TraceSession&, const TraceFigures& figures) const override {
    return TraceCsv(figures);
  }
};

class LongCsvReporter : public CsvReporter {
 public:
  std::string SessionReport(const Session& session, const SessionAnalysis&) const override {
    return RunsCsv(session);
  }
};

}  // namespace

std::unique_ptr<Reporter> MakeCsvReporter(bool every_run) {
  if (every_run) return std::make_unique<LongCsvReporter>();
  return std::make_unique<CsvReporter>();
}

}  // namespace speedup
