#pragma once

#include <optional>
#include <vector>

#include "report_parser.h"

// Times below this many seconds (20 clock ticks) are too short for the clock to measure well.
inline constexpr double TOO_SHORT_SECONDS = 0.020;

struct Summary {
  double median = 0.0;
  double min = 0.0;
  double max = 0.0;
  bool too_short = false;  // some time is below TOO_SHORT_SECONDS
};

struct TeamFigures {
  int threads = 0;
  Summary seconds;
  std::optional<double> speedup_vs_serial;      // serial median / this median
  std::optional<double> speedup_vs_one_thread;  // one-thread median / this median
  std::optional<double> efficiency;             // speedup_vs_serial / threads
  bool oversubscribed = false;                  // more threads than processors
};

struct Figures {
  Summary serial;
  std::vector<TeamFigures> teams;  // team sizes 1..MAX_THREADS in order
};

// Middle value, or the mean of the two middle values for an even count. `values` not empty.
double Median(std::vector<double> values);

// Median, extremes and the too-short mark of `values`, which must not be empty.
Summary Summarise(const std::vector<double>& values);

// numerator / denominator; empty when the denominator is not positive, so never inf or NaN.
std::optional<double> Ratio(double numerator, double denominator);

// Figures over `reports`, which must all have passed and be at least one; team sizes above
// `processors` are marked oversubscribed.
Figures ComputeFigures(const std::vector<RunReport>& reports, int processors);
