#pragma once

#include <string>

#include "present/chart.h"

// Where every command's results go: the report to standard output, messages to standard error,
// the chart to its file.
namespace speedup {

// Writes `text` to standard output and draws `chart` when it has a path and curves; false, with
// a message, when either failed. A missing gnuplot is said but is no failure.
bool Deliver(const std::string& text, const PlotRequest* chart);

// Writes `page` to `path` when `path` is not empty; false, with a message, when it cannot.
bool DeliverPage(const std::string& path, const std::string& page);

}  // namespace speedup
