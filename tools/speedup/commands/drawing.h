#pragma once

#include <string>
#include <vector>

#include "present/chart.h"

// Drawing charts: gnuplot run on a script of present/chart.h in a private temporary folder,
// through base/process, and the chart written whole to its file or kept in memory for a page.
namespace speedup {

// Draws the chart in a private temporary folder and copies it to `request.path`. Where gnuplot
// is missing the folder is kept with the script, and the message says how to draw it there. A
// chart that is not whole is not copied; the copy is written beside `request.path` and renamed
// onto it, so no half-written chart is ever left there, and an interrupt pending before the copy
// keeps it from being made.
PlotResult WritePlot(const PlotRequest& request);

// Runs gnuplot on `script` (which must draw ChartFileName(path) in its working folder) in a
// private temporary folder, and copies the chart to `path`; as WritePlot otherwise.
PlotResult DrawChart(const std::string& path, const std::string& script);

// Runs gnuplot on `script` (which must draw `output_name`, "chart.svg" or "chart.png", in its
// working folder) in a private temporary folder, and returns the chart's bytes.
DrawnChart DrawChartBytes(const std::string& output_name, const std::string& script);

// A page's chart drawn as SVG, for HtmlMaterial::draw.
DrawnChart DrawPageChart(const std::string& script);

// Why each chart drawn for a page since the last call could not be embedded (gnuplot failed, or
// its chart was cut short; a missing gnuplot is no failure), and forgets them: the page is still
// written, but the command says why and fails, as --plot does.
std::vector<std::string> TakePageChartFailures();

}  // namespace speedup
