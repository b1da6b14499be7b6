#pragma once

#include <string>

#include "figures.h"

// Draws speedup (with the ideal line and the processor count marked) and efficiency against
// team size into `path`, an .svg or .png file, through gnuplot. The data and the gnuplot script
// go beside it first (`path` with .dat and .gp in place of its extension), so the chart can be
// drawn later where gnuplot is missing.
struct PlotResult {
  bool failed = false;  // the files could not be written, or gnuplot failed on them
  std::string message;  // for the user, when the chart was not drawn; empty when it was
};
PlotResult WritePlot(const std::string& path, const Figures& figures, int processors, int runs);
