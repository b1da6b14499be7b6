#include "figures.h"

#include <algorithm>

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  if (values.size() % 2 == 1) return values[middle];
  return (values[middle - 1] + values[middle]) / 2.0;
}

Summary Summarise(const std::vector<double>& values) {
  Summary summary;
  summary.median = Median(values);
  summary.min = *std::min_element(values.begin(), values.end());
  summary.max = *std::max_element(values.begin(), values.end());
  summary.too_short = summary.min < TOO_SHORT_SECONDS;
  return summary;
}

std::optional<double> Ratio(double numerator, double denominator) {
  if (!(denominator > 0.0)) return std::nullopt;
  return numerator / denominator;
}

Figures ComputeFigures(const std::vector<RunReport>& reports, int processors) {
  Figures figures;
  std::vector<double> times;
  for (const RunReport& report : reports) times.push_back(report.serial_seconds);
  figures.serial = Summarise(times);

  for (int threads = 1; threads <= MAX_THREADS; ++threads) {
    times.clear();
    for (const RunReport& report : reports) times.push_back(report.parallel_seconds[threads - 1]);
    TeamFigures team;
    team.threads = threads;
    team.seconds = Summarise(times);
    team.oversubscribed = threads > processors;
    figures.teams.push_back(team);
  }
  const double one_thread = figures.teams.front().seconds.median;
  for (TeamFigures& team : figures.teams) {
    team.speedup_vs_serial = Ratio(figures.serial.median, team.seconds.median);
    team.speedup_vs_one_thread = Ratio(one_thread, team.seconds.median);
    if (team.speedup_vs_serial) team.efficiency = *team.speedup_vs_serial / team.threads;
  }
  return figures;
}
