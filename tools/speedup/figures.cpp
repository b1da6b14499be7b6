#include "figures.h"

#include <algorithm>
#include <cmath>

#include "stats.h"

std::optional<double> Ratio(double numerator, double denominator) {
  if (!(numerator > 0.0 && denominator > 0.0)) return std::nullopt;
  const double ratio = numerator / denominator;
  if (!std::isfinite(ratio)) return std::nullopt;
  return ratio;
}

Estimate Estimated(const std::vector<std::optional<double>>& values) {
  Estimate estimate;
  std::vector<double> known;
  for (const std::optional<double>& value : values) {
    if (!value) return estimate;
    known.push_back(*value);
  }
  if (known.empty()) return estimate;
  estimate.median = stats::Median(known);
  estimate.iqr = stats::InterquartileRange(known);
  estimate.outliers = static_cast<int>(stats::CountOutsideTukeyFences(known));
  if (const auto interval = stats::MedianConfidenceInterval(known, CONFIDENCE)) {
    estimate.low = interval->low;
    estimate.high = interval->high;
    estimate.confidence = interval->confidence;
  }
  return estimate;
}

namespace {

// Largest distance of the interval from the median, as a fraction of it; empty without an
// interval at the sought confidence.
std::optional<double> RelativeHalfWidth(const Estimate& estimate) {
  if (!estimate.median || !estimate.low || !estimate.high || estimate.confidence < CONFIDENCE) {
    return std::nullopt;
  }
  return std::max(*estimate.median - *estimate.low, *estimate.high - *estimate.median) /
         *estimate.median;
}

std::vector<std::optional<double>> Known(const std::vector<double>& values) {
  return {values.begin(), values.end()};
}

Drift DriftOf(const std::vector<double>& serial) {
  Drift drift;
  if (serial.size() < 3) return drift;
  std::vector<double> order;
  for (std::size_t run = 0; run < serial.size(); ++run) order.push_back(run + 1.0);
  if (const auto correlation = stats::SpearmanCorrelation(order, serial)) {
    drift.rho = correlation->rho;
    drift.p_value = correlation->p_value;
    drift.warn = correlation->p_value < 0.05;
  }
  return drift;
}

}  // namespace

Figures ComputeFigures(const std::vector<RunReport>& reports, std::optional<int> processors) {
  Figures figures;
  figures.runs = static_cast<int>(reports.size());
  std::vector<double> serial;
  for (const RunReport& report : reports) serial.push_back(report.serial_seconds);
  figures.serial = Estimated(Known(serial));
  figures.serial_too_short =
      *std::min_element(serial.begin(), serial.end()) < TOO_SHORT_SECONDS;
  figures.drift = DriftOf(serial);

  for (int threads = 1; threads <= MAX_THREADS; ++threads) {
    std::vector<double> times;
    std::vector<std::optional<double>> vs_serial, vs_one, efficiency;
    for (const RunReport& report : reports) {
      const double time = report.parallel_seconds[threads - 1];
      times.push_back(time);
      vs_serial.push_back(Ratio(report.serial_seconds, time));
      vs_one.push_back(Ratio(report.parallel_seconds[0], time));
      efficiency.push_back(vs_serial.back() ? std::optional(*vs_serial.back() / threads)
                                            : std::nullopt);
    }
    TeamFigures team;
    team.threads = threads;
    team.seconds = Estimated(Known(times));
    team.speedup_vs_serial = Estimated(vs_serial);
    team.speedup_vs_one_thread = Estimated(vs_one);
    team.efficiency = Estimated(efficiency);
    team.ratio_of_medians = Ratio(*figures.serial.median, *team.seconds.median);
    team.oversubscribed = processors && threads > *processors;
    team.too_short = *std::min_element(times.begin(), times.end()) < TOO_SHORT_SECONDS;
    const std::optional<double> half_width = RelativeHalfWidth(team.speedup_vs_serial);
    team.noisy = !half_width || *half_width > NOISY_HALF_WIDTH;
    figures.teams.push_back(team);
  }
  return figures;
}

std::optional<double> WidestSpeedupInterval(const Figures& figures) {
  double widest = 0.0;
  for (const TeamFigures& team : figures.teams) {
    const std::optional<double> half_width = RelativeHalfWidth(team.speedup_vs_serial);
    if (!half_width) return std::nullopt;
    widest = std::max(widest, *half_width);
  }
  return widest;
}

std::vector<int> UnsettledTeams(const Figures& figures, double precision) {
  std::vector<int> unsettled;
  for (const TeamFigures& team : figures.teams) {
    const std::optional<double> half_width = RelativeHalfWidth(team.speedup_vs_serial);
    if (!half_width || *half_width > precision) unsettled.push_back(team.threads);
  }
  return unsettled;
}
