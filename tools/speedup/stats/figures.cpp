#include "stats/figures.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

#include "stats/quantiles.h"
#include "stats/rank_tests.h"
#include "stats/resampling.h"

namespace speedup {

std::optional<double> Ratio(double numerator, double denominator) {
  if (!(numerator > 0.0 && denominator > 0.0)) return std::nullopt;
  const double ratio = numerator / denominator;
  if (!std::isfinite(ratio)) return std::nullopt;
  return ratio;
}

Estimate Estimated(const std::vector<std::optional<double>>& values, double fence_slack) {
  Estimate estimate;
  std::vector<double> known;
  for (const std::optional<double>& value : values) {
    if (!value) return estimate;
    known.push_back(*value);
  }
  if (known.empty()) return estimate;
  // Sorted once: the median, the quartiles, the fences and the interval read it as it is.
  std::sort(known.begin(), known.end());
  estimate.median = stats::Median(known);
  estimate.iqr = stats::InterquartileRange(known);
  estimate.outliers =
      static_cast<int>(stats::CountOutsideTukeyFences(known, FENCE_TOLERANCE, fence_slack));
  if (const auto interval = stats::MedianConfidenceInterval(known, CONFIDENCE)) {
    estimate.low = interval->low;
    estimate.high = interval->high;
    estimate.confidence = interval->confidence;
  }
  return estimate;
}

double TickMargin(double tick) { return CLOCK_MARGIN_TICKS * tick; }

Estimate EstimatedTimes(const std::vector<double>& readings, double tick) {
  Estimate estimate = Estimated({readings.begin(), readings.end()}, FENCE_SLACK_TICKS * tick);
  const double margin = TickMargin(tick);
  if (estimate.low) estimate.low = std::max(0.0, *estimate.low - margin);
  if (estimate.high) estimate.high = *estimate.high + margin;
  return estimate;
}

Estimate EstimatedRatios(const std::vector<double>& numerators,
                         const std::vector<double>& denominators, double tick, double scale) {
  const double margin = TickMargin(tick);
  std::vector<std::optional<double>> ratios;
  // Each true ratio lies within [r * down, r * up] of its reading r, so every order statistic
  // of the true ratios lies within the least down and the greatest up of the readings'.
  double down = 1.0;
  double up = 1.0;
  bool bounded = true;  // no denominator so short that the margin could hide it
  for (std::size_t i = 0; i < numerators.size(); ++i) {
    const std::optional<double> ratio = Ratio(numerators[i], denominators[i]);
    ratios.push_back(ratio ? std::optional(*ratio / scale) : std::nullopt);
    if (!ratio) continue;
    const double n = numerators[i];
    const double d = denominators[i];
    down = std::min(down, std::max(0.0, n - margin) / (d + margin) * d / n);
    if (d > margin) {
      up = std::max(up, (n + margin) / (d - margin) * d / n);
    } else {
      bounded = false;
    }
  }
  Estimate estimate = Estimated(ratios);
  if (estimate.low) estimate.low = *estimate.low * down;
  if (estimate.high) estimate.high = bounded ? std::optional(*estimate.high * up) : std::nullopt;
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

std::vector<std::optional<double>> Ratios(const std::vector<double>& numerators,
                                          const std::vector<double>& denominators) {
  std::vector<std::optional<double>> ratios;
  for (std::size_t i = 0; i < numerators.size(); ++i)
    ratios.push_back(Ratio(numerators[i], denominators[i]));
  return ratios;
}

Drift DriftOf(const std::vector<double>& serial) {
  Drift drift;
  drift.runs_to_judge = 2;
  while (!(stats::SmallestSpearmanP(drift.runs_to_judge) < SIGNIFICANCE)) ++drift.runs_to_judge;
  drift.judged = static_cast<int>(serial.size()) >= drift.runs_to_judge;
  if (serial.size() < 3) return drift;
  std::vector<double> order;
  for (std::size_t run = 0; run < serial.size(); ++run) order.push_back(run + 1.0);
  if (const auto correlation = stats::SpearmanCorrelation(order, serial)) {
    drift.rho = correlation->rho;
    drift.p_value = correlation->p_value;
    drift.warn = correlation->p_value < SIGNIFICANCE;
  }
  return drift;
}

}  // namespace

double KarpFlatt(double speedup, int threads) {
  const double p = threads;
  return (1.0 / speedup - 1.0 / p) / (1.0 - 1.0 / p);
}

namespace {

// Each team size's times over the runs with the runs in ascending order of time, made once
// per fit: a line over a resample then takes its medians from how often each run was drawn,
// with no copy and no selection (a merge of a fleet spent most of its time selecting medians
// of the thousand resamples of every node).
struct RankedTeams {
  std::size_t runs = 0;
  std::vector<double> times;          // team size t's at [(t - 1) * runs, t * runs)
  std::vector<std::uint32_t> orders;  // the same layout: run indices by ascending time
  std::vector<stats::Point> points;   // reused by every line
  std::vector<double> scratch;        // TheilSen's, reused by every line
};

RankedTeams RankTeams(const std::vector<RunReport>& reports, int cores) {
  RankedTeams ranked;
  ranked.runs = reports.size();
  for (int threads = 1; threads <= cores; ++threads) {
    const auto first = static_cast<std::ptrdiff_t>(ranked.times.size());
    for (std::size_t run = 0; run < reports.size(); ++run) {
      ranked.times.push_back(reports[run].parallel_seconds[threads - 1]);
      ranked.orders.push_back(static_cast<std::uint32_t>(run));
    }
    const double* times = ranked.times.data() + first;
    std::sort(ranked.orders.begin() + first, ranked.orders.end(),
              [times](std::uint32_t a, std::uint32_t b) { return times[a] < times[b]; });
  }
  return ranked;
}

// The Amdahl line through the median times of team sizes 1..cores over the runs drawn `draws`
// times each.
std::optional<stats::Line> AmdahlLine(RankedTeams& ranked, std::span<const std::uint32_t> draws) {
  ranked.points.clear();
  const std::size_t teams = ranked.times.size() / std::max<std::size_t>(ranked.runs, 1);
  for (std::size_t team = 0; team < teams; ++team) {
    const std::size_t first = team * ranked.runs;
    const double median =
        stats::MedianOfDraws(std::span(ranked.times).subspan(first, ranked.runs),
                             std::span(ranked.orders).subspan(first, ranked.runs), draws);
    ranked.points.push_back({1.0 / static_cast<double>(team + 1), median});
  }
  return stats::TheilSen(ranked.points, ranked.scratch);
}

std::optional<double> SerialFraction(const stats::Line& line) {
  const double total = line.intercept + line.slope;
  if (!(total > 0.0)) return std::nullopt;
  return line.intercept / total;
}

}  // namespace

AmdahlFit FitAmdahl(const std::vector<RunReport>& reports, int cores) {
  AmdahlFit fit;
  fit.team_sizes = std::clamp(cores, 1, MAX_THREADS);
  RankedTeams ranked = RankTeams(reports, fit.team_sizes);
  std::vector<std::uint32_t> draws(reports.size(), 1);
  const std::optional<stats::Line> line = AmdahlLine(ranked, draws);
  if (!line) return fit;
  fit.a = line->intercept;
  fit.b = line->slope;
  fit.runs = static_cast<int>(reports.size());
  const std::optional<double> f = SerialFraction(*line);
  if (!f || *f < 0.0 || *f > 1.0) {
    fit.shape = AmdahlFit::Shape::kOutsideLaw;
    return fit;
  }
  fit.shape = AmdahlFit::Shape::kFraction;
  fit.serial_fraction = f;
  if (*f > 0.0 && *f < 1.0) fit.limit = 1.0 / *f;
  if (fit.runs < AMDAHL_MIN_RUNS_FOR_INTERVAL) return fit;
  std::mt19937_64 engine(fit.seed);
  std::vector<double> fractions;
  fractions.reserve(fit.resamples);
  // The indices ResampleIndices draws, in its order, counted per run: a median does not depend
  // on the order of its values. A few runs' counts are drawn once for every fit alike.
  const std::span<const std::uint32_t> shared =
      stats::SharedDrawCounts(fit.seed, reports.size(), fit.resamples);
  for (int resample = 0; resample < fit.resamples; ++resample) {
    std::span<const std::uint32_t> counts = draws;
    if (shared.empty()) {
      std::fill(draws.begin(), draws.end(), 0);
      for (std::size_t run = 0; run < reports.size(); ++run) {
        ++draws[stats::DrawBelow(engine, reports.size())];
      }
    } else {
      counts = shared.subspan(static_cast<std::size_t>(resample) * reports.size(), reports.size());
    }
    const std::optional<stats::Line> again = AmdahlLine(ranked, counts);
    // A serial fraction lies in [0, 1]: a replicate beyond is at its edge, so the interval
    // never claims a negative share or more than the whole.
    if (const std::optional<double> f = again ? SerialFraction(*again) : std::nullopt) {
      fractions.push_back(std::clamp(*f, 0.0, 1.0));
    }
  }
  if (!fractions.empty()) {
    const stats::Interval interval = stats::PercentileIntervalInPlace(fractions, CONFIDENCE);
    fit.low = interval.low;
    fit.high = interval.high;
  }
  return fit;
}

namespace {

std::vector<double> SerialTimes(const std::vector<RunReport>& reports) {
  std::vector<double> serial;
  serial.reserve(reports.size());
  for (const RunReport& report : reports) serial.push_back(report.serial_seconds);
  return serial;
}

std::vector<double> TeamTimes(const std::vector<RunReport>& reports, int threads) {
  std::vector<double> times;
  times.reserve(reports.size());
  for (const RunReport& report : reports) times.push_back(report.parallel_seconds[threads - 1]);
  return times;
}

}  // namespace

Figures ComputeFigures(const std::vector<RunReport>& reports, std::optional<int> processors,
                       std::optional<int> cores, std::optional<ClockTick> tick) {
  Figures figures;
  figures.runs = static_cast<int>(reports.size());
  figures.tick = tick ? *tick : ClockTick{TickOfValues(reports), true};
  const double seconds = figures.tick.seconds;
  const double too_short = TOO_SHORT_TICKS * seconds;
  const std::vector<double> serial = SerialTimes(reports);
  figures.serial = EstimatedTimes(serial, seconds);
  figures.serial_too_short = *std::min_element(serial.begin(), serial.end()) < too_short;
  figures.drift = DriftOf(serial);
  // Exactly as many as there are: grown one at a time they took 32 places, and a merge of many
  // nodes keeps every node's.
  figures.teams.reserve(MAX_THREADS);
  for (int threads = 1; threads <= MAX_THREADS; ++threads) {
    const std::vector<double> times = TeamTimes(reports, threads);
    const std::vector<double> one_thread = TeamTimes(reports, 1);
    TeamFigures team;
    team.threads = threads;
    team.seconds = EstimatedTimes(times, seconds);
    team.speedup_vs_serial = EstimatedRatios(serial, times, seconds);
    // One thread against itself is one reading over itself: exactly 1, whatever the clock.
    team.speedup_vs_one_thread = threads == 1 ? Estimated(Ratios(one_thread, times))
                                              : EstimatedRatios(one_thread, times, seconds);
    team.efficiency = EstimatedRatios(serial, times, seconds, threads);
    team.ratio_of_medians = Ratio(*figures.serial.median, *team.seconds.median);
    team.oversubscribed = processors && threads > *processors;
    team.too_short = *std::min_element(times.begin(), times.end()) < too_short;
    const std::optional<double> half_width = RelativeHalfWidth(team.speedup_vs_serial);
    team.noisy = !half_width || *half_width > NOISY_HALF_WIDTH;
    const Estimate& speedup = team.speedup_vs_serial;
    if (threads > 1 && speedup.median) {
      team.karp_flatt = KarpFlatt(*speedup.median, threads);
      if (speedup.low && speedup.high) {
        team.karp_flatt_low = KarpFlatt(*speedup.high, threads);
        team.karp_flatt_high = KarpFlatt(*speedup.low, threads);
      }
    }
    figures.teams.push_back(team);
  }
  if (const std::optional<int> fitted = cores ? cores : processors) {
    figures.amdahl = FitAmdahl(reports, *fitted);
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

std::optional<int> WidestSpeedupTeam(const Figures& figures) {
  std::optional<int> widest_team;
  double widest = -1.0;
  for (const TeamFigures& team : figures.teams) {
    const std::optional<double> half_width = RelativeHalfWidth(team.speedup_vs_serial);
    if (!half_width) return std::nullopt;
    if (*half_width > widest) {
      widest = *half_width;
      widest_team = team.threads;
    }
  }
  return widest_team;
}

double ClockHalfWidth(const RunReport& report, double tick) {
  return ClockHalfWidth(report.serial_seconds,
                        {report.parallel_seconds.begin(), report.parallel_seconds.end()}, tick);
}

double ClockHalfWidth(double serial, const std::vector<double>& teams, double tick) {
  const double margin = TickMargin(tick);
  const double n = serial;
  double widest = 0.0;
  for (const double d : teams) {
    if (!(n > margin && d > margin)) return std::numeric_limits<double>::infinity();
    // As EstimatedRatios widens a point interval of identical readings.
    const double down = 1.0 - (n - margin) / (d + margin) * d / n;
    const double up = (n + margin) / (d - margin) * d / n - 1.0;
    widest = std::max({widest, down, up});
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

Figures WarningFigures(const Session& session) {
  Figures figures;
  std::vector<double> serial;
  for (const RunReport& report : PassedReports(session)) serial.push_back(report.serial_seconds);
  figures.runs = static_cast<int>(serial.size());
  figures.tick = SessionTick(session);
  figures.drift = DriftOf(serial);
  return figures;
}

Figures PrecisionFigures(const Session& session) {
  const std::vector<RunReport> reports = PassedReports(session);
  Figures figures;
  figures.runs = static_cast<int>(reports.size());
  figures.tick = SessionTick(session);
  const std::vector<double> serial = SerialTimes(reports);
  for (int threads = 1; threads <= MAX_THREADS; ++threads) {
    TeamFigures& team = figures.teams.emplace_back();
    team.threads = threads;
    team.speedup_vs_serial =
        EstimatedRatios(serial, TeamTimes(reports, threads), figures.tick.seconds);
  }
  return figures;
}

Figures SessionFigures(const Session& session) {
  return ComputeFigures(PassedReports(session), session.context.processors, session.context.cores,
                        SessionTick(session));
}

}  // namespace speedup
