#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/policy.h"
#include "session/clock_tick.h"
#include "session/session.h"

// Figures of a session: medians with intervals, speedups within each run, drift, and the
// Karp-Flatt and Amdahl descriptions of the curve.
namespace speedup {

// One figure over the runs: its median with a distribution-free interval, and its noise.
struct Estimate {
  std::optional<double> median;  // empty when some run gives no value (a ratio over zero)
  // Interval for the median of the true values, widened from the readings' order statistics by
  // what the clock's resolution can hide (a reading stands for a true time within a tick);
  // empty below two values, and high empty where a tick can hide the whole time.
  std::optional<double> low, high;
  double confidence = 0.0;  // coverage the interval actually reaches
  double iqr = 0.0;         // interquartile range
  int outliers = 0;         // values beyond Tukey's fences: counted, never dropped
};

struct TeamFigures {
  int threads = 0;
  Estimate seconds;
  // Ratios are formed within each run, so drift from one run to the next cancels.
  Estimate speedup_vs_serial;              // serial / T(threads)
  Estimate speedup_vs_one_thread;          // T(1) / T(threads)
  Estimate efficiency;                     // speedup_vs_serial / threads
  std::optional<double> ratio_of_medians;  // median serial / median T(threads)
  // Karp-Flatt serial fraction (1/S - 1/p) / (1 - 1/p) from speedup_vs_serial; its interval
  // comes from the speedup's, whose high end gives the low fraction. Empty for one thread.
  std::optional<double> karp_flatt, karp_flatt_low, karp_flatt_high;
  bool oversubscribed = false;  // more threads than processors
  bool too_short = false;       // some time below TOO_SHORT_TICKS of the clock
  bool noisy = false;           // speedup interval beyond NOISY_HALF_WIDTH of its median, or none
};

// Rank correlation of the serial time with the run number: did the machine speed up or slow
// down during the session?
struct Drift {
  std::optional<double> rho;      // Spearman's rho; empty below three runs or for constant times
  std::optional<double> p_value;  // two-sided, for "no drift"
  bool warn = false;              // p below SIGNIFICANCE
  // Too few runs for any ordering to give p below SIGNIFICANCE: drift cannot be judged at all.
  bool judged = false;
  int runs_to_judge = 0;  // the fewest runs that can show drift
};

// Amdahl's law T(p) = a + b / p fitted by Theil-Sen on 1/p to the median times of the team
// sizes up to the core count, with an interval for f by resampling whole runs.
struct AmdahlFit {
  enum class Shape {
    kNotMade,     // no line through the points
    kFraction,    // f = a / (a + b) lies in [0, 1]: a serial fraction
    kOutsideLaw,  // a + b <= 0 or f outside [0, 1]: the law does not describe these runs
  };
  Shape shape = Shape::kNotMade;
  int team_sizes = 0;                     // the points the fit rests on
  std::optional<double> a, b;             // seconds
  std::optional<double> serial_fraction;  // f = a / (a + b); kFraction only
  // Percentile interval for f over the resamples; kFraction only, and only from
  // AMDAHL_MIN_RUNS_FOR_INTERVAL runs, below which resampling cannot reach the confidence.
  std::optional<double> low, high;
  std::optional<double> limit;  // 1 / f, the speedup no team can pass; 0 < f < 1 only
  int runs = 0;                 // the runs resampled
  std::uint64_t seed = AMDAHL_SEED;
  int resamples = AMDAHL_RESAMPLES;
};

struct Figures {
  int runs = 0;    // passed runs the figures are over
  ClockTick tick;  // of the clock that read the times
  Estimate serial;
  bool serial_too_short = false;
  std::vector<TeamFigures> teams;  // team sizes 1..MAX_THREADS in order
  Drift drift;
  AmdahlFit amdahl;
};

// numerator / denominator when both are positive and finite; empty otherwise, so a zero time
// never yields 0, inf or NaN.
std::optional<double> Ratio(double numerator, double denominator);

// Median, interval and noise of `values` (not empty); an empty entry makes the median empty.
// The interval is the order statistics' own, for values known exactly. `fence_slack`: as
// CountOutsideTukeyFences takes it.
Estimate Estimated(const std::vector<std::optional<double>>& values, double fence_slack = 0.0);

// The most, in seconds, that a true time may lie from its reading on a clock of `tick` seconds:
// CLOCK_MARGIN_TICKS of it.
double TickMargin(double tick);

// Estimated(readings) with the interval widened by TickMargin(tick) at each end, and Tukey's
// fences decided to a fraction of the tick.
Estimate EstimatedTimes(const std::vector<double>& readings, double tick);

// Estimated(ratios) of numerator[i] / denominator[i] (readings; an empty ratio where either is
// not positive) with the interval widened by the most that TickMargin(tick) on each reading can
// move a ratio; no high end where the margin can hide a whole denominator. `scale` divides every
// ratio (the threads, for an efficiency).
Estimate EstimatedRatios(const std::vector<double>& numerators,
                         const std::vector<double>& denominators, double tick, double scale = 1.0);

// Figures over `reports`, which must all have passed and be at least one. `processors` (empty:
// not recorded) marks the team sizes above it as oversubscribed; the Amdahl fit covers the team
// sizes up to `cores` (empty: up to `processors`; neither: no fit). `tick`: the clock's, found
// from the values (TickOfValues) when not given.
Figures ComputeFigures(const std::vector<RunReport>& reports, std::optional<int> processors,
                       std::optional<int> cores = std::nullopt,
                       std::optional<ClockTick> tick = std::nullopt);

// Karp-Flatt serial fraction for speedup `speedup` on `threads` (at least 2) threads.
double KarpFlatt(double speedup, int threads);

// The Amdahl fit over team sizes 1..`cores` (clamped to the sweep) of `reports` (not empty).
AmdahlFit FitAmdahl(const std::vector<RunReport>& reports, int cores);

// Largest distance of any team's speedup interval from its median, as a fraction of the median;
// empty while some team has no interval at the sought confidence.
std::optional<double> WidestSpeedupInterval(const Figures& figures);

// The team size whose speedup interval reaches furthest from its median, the one that holds a
// --precision session back; empty as WidestSpeedupInterval is.
std::optional<int> WidestSpeedupTeam(const Figures& figures);

// The narrowest half-width, as a fraction of the median, that the clock's margin alone leaves the
// widest team's speedup interval at times like `report`'s on a clock of `tick` seconds: no
// number of runs can make a --precision below it settle. Infinite where the margin can hide a
// whole time.
double ClockHalfWidth(const RunReport& report, double tick);

// The same for a serial time and the team times known so far (a run under way): a lower bound
// of what the whole report gives.
double ClockHalfWidth(double serial, const std::vector<double>& teams, double tick);

// Team sizes whose speedup interval is not yet within `precision` (a fraction) of its median.
std::vector<int> UnsettledTeams(const Figures& figures, double precision);

// Only what the session's warnings read: the passed runs' count and the serial time's drift,
// without the intervals and the Amdahl fit's resampling, which cost far more on many runs.
Figures WarningFigures(const Session& session);

// Only what --precision's stopping rule reads (WidestSpeedupInterval, UnsettledTeams): each
// team's speedup over the serial product, as SessionFigures gives it, over the passed runs (at
// least one); checked after every run, so the rest of the figures are left out.
Figures PrecisionFigures(const Session& session);

// The figures over the session's passed runs (at least one), marked and fitted by its context.
Figures SessionFigures(const Session& session);

}  // namespace speedup
