#include "stats/comparison.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "bench/sweep.h"
#include "stats/diagnostics.h"
#include "stats/pooled_rank_tests.h"
#include "stats/quantiles.h"

namespace speedup {

double LogTime(double seconds, double tick) {
  // A zero time has no logarithm; half a clock tick stands in for "below one tick".
  return std::log(seconds > 0.0 ? seconds : 0.5 * tick);
}

std::vector<double> LogTimes(const std::vector<RunReport>& reports, int threads, double tick) {
  std::vector<double> logs;
  logs.reserve(reports.size());
  for (const RunReport& report : reports) {
    logs.push_back(
        LogTime(threads == 0 ? report.serial_seconds : report.parallel_seconds[threads - 1], tick));
  }
  return logs;
}

namespace {

// A row from the two samples' median logs, the shift of the second against the first and p.
RowComparison RowOf(double base_log_median, double new_log_median,
                    const stats::ShiftEstimate& shift, double p_value) {
  RowComparison row;
  row.base_median = std::exp(base_log_median);
  row.new_median = std::exp(new_log_median);
  row.ratio = std::exp(shift.shift);
  row.ratio_low = std::exp(shift.low);
  row.ratio_high = std::exp(shift.high);
  row.confidence = shift.confidence;
  row.p_value = p_value;
  return row;
}

}  // namespace

RowComparison CompareLogs(const std::vector<double>& base, const std::vector<double>& candidate) {
  if (base.empty() || candidate.empty()) return {};
  return RowOf(stats::Median(base), stats::Median(candidate),
               stats::HodgesLehmann(base, candidate, CONFIDENCE),
               stats::MannWhitney(base, candidate).p_value);
}

RowComparison CompareLogsAgainstRest(const stats::Pool& pool,
                                     const std::vector<double>& candidate) {
  if (pool.sorted.size() <= candidate.size() || candidate.empty()) return {};
  return RowOf(stats::MedianOfRest(pool, candidate), stats::Median(candidate),
               stats::HodgesLehmannAgainstRest(pool, candidate, CONFIDENCE),
               stats::MannWhitneyAgainstRest(pool, candidate).p_value);
}

ClockMargin TimeMargin(double least, double tick) {
  const double hidden = TickMargin(tick);
  ClockMargin margin;
  margin.above = std::log((least + hidden) / least);
  margin.below =
      least > hidden ? std::log(least / (least - hidden)) : std::numeric_limits<double>::infinity();
  return margin;
}

void WidenForClock(RowComparison& row, const ClockMargin& base, const ClockMargin& candidate) {
  const double down = candidate.below + base.above;
  const double up = candidate.above + base.below;
  row.ratio_low *= std::exp(-down);
  row.ratio_high *= std::exp(up);
  // Readings identical within a side give a point interval; only the margins widen it then.
  row.smallest_change = std::min((1.0 + NEGLIGIBLE_CHANGE) * std::exp(down) - 1.0,
                                 1.0 - (1.0 - NEGLIGIBLE_CHANGE) * std::exp(-up));
}

int RunsForVerdict(std::size_t rows) {
  int runs = 1;
  while (!(static_cast<double>(rows) * stats::SmallestRankSumP(runs, runs) < SIGNIFICANCE)) ++runs;
  return runs;
}

Verdict Judge(double p_holm, double ratio_low, double ratio_high) {
  if (!(p_holm < SIGNIFICANCE)) return Verdict::kNoClearDifference;
  if (ratio_low > 1.0 + NEGLIGIBLE_CHANGE) return Verdict::kSlower;
  if (ratio_high < 1.0 - NEGLIGIBLE_CHANGE) return Verdict::kFaster;
  return Verdict::kNoClearDifference;
}

void JudgeRows(std::vector<RowComparison*> rows, bool inverted) {
  std::vector<double> p_values;
  for (const RowComparison* row : rows) p_values.push_back(row->p_value);
  const std::vector<double> holm = stats::HolmAdjust(p_values);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    RowComparison& row = *rows[i];
    row.p_holm = holm[i];
    row.verdict = inverted ? Judge(row.p_holm, 1.0 / row.ratio_high, 1.0 / row.ratio_low)
                           : Judge(row.p_holm, row.ratio_low, row.ratio_high);
  }
}

Comparison CompareSessions(const Session& base, const Session& candidate) {
  Comparison comparison;
  const std::vector<RunReport> base_runs = PassedReports(base);
  const std::vector<RunReport> new_runs = PassedReports(candidate);
  comparison.base_runs = static_cast<int>(base_runs.size());
  comparison.new_runs = static_cast<int>(new_runs.size());
  comparison.base_tick = SessionTick(base);
  comparison.new_tick = SessionTick(candidate);
  const double base_tick = comparison.base_tick.seconds;
  const double new_tick = comparison.new_tick.seconds;
  for (int threads = 0; threads <= MAX_THREADS; ++threads) {
    RowComparison row =
        CompareLogs(LogTimes(base_runs, threads, base_tick), LogTimes(new_runs, threads, new_tick));
    row.threads = threads;
    comparison.rows.push_back(row);
  }
  // The readings' own interval, widened by each side's clock for the true times.
  const auto margin = [](const std::vector<RunReport>& runs, int threads, double tick) {
    double least = std::numeric_limits<double>::infinity();
    for (const RunReport& report : runs) {
      least = std::min(least,
                       threads == 0 ? report.serial_seconds : report.parallel_seconds[threads - 1]);
    }
    return TimeMargin(std::max(least, 0.5 * tick), tick);  // a zero time, as LogTimes reads it
  };
  comparison.confidence = 1.0;
  for (RowComparison& row : comparison.rows) {
    WidenForClock(row, margin(base_runs, row.threads, base_tick),
                  margin(new_runs, row.threads, new_tick));
    comparison.confidence = std::min(comparison.confidence, row.confidence);
    comparison.smallest_change = std::max(comparison.smallest_change, row.smallest_change);
  }
  std::vector<RowComparison*> rows;
  for (RowComparison& row : comparison.rows) rows.push_back(&row);
  JudgeRows(rows);
  comparison.smallest_holm_p =
      std::min(1.0, static_cast<double>(rows.size()) *
                        stats::SmallestRankSumP(base_runs.size(), new_runs.size()));
  comparison.verdict_possible = comparison.smallest_holm_p < SIGNIFICANCE;
  comparison.runs_for_verdict = RunsForVerdict(rows.size());
  if (!comparison.verdict_possible) {
    for (RowComparison& row : comparison.rows) row.verdict = Verdict::kNotPossible;
  }
  comparison.context_differences = ContextDifferences(base.context, candidate.context);
  // A build recorded on one side only (the other named by --bench) cannot be matched.
  const auto recorded = [](const Context& context) {
    return context.compiler || context.build_type || context.build_flags || context.openmp_runtime;
  };
  if (recorded(base.context) != recorded(candidate.context)) {
    comparison.context_differences.push_back(
        std::string("build: not recorded for ") + (recorded(base.context) ? "NEW" : "BASE") +
        " (a benchmark named by --bench), so the builds cannot be compared");
  }
  comparison.base_warnings = SessionWarnings(base, WarningFigures(base));
  comparison.new_warnings = SessionWarnings(candidate, WarningFigures(candidate));
  comparison.base_not_parallel = CheckParallelUse(base).one_processor;
  comparison.new_not_parallel = CheckParallelUse(candidate).one_processor;
  return comparison;
}

bool SlowerBeyond(const Comparison& comparison, double fraction) {
  for (const RowComparison& row : comparison.rows) {
    if (row.verdict == Verdict::kSlower && row.ratio > 1.0 + fraction) return true;
  }
  return false;
}

}  // namespace speedup
