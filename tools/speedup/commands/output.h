#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/result.h"
#include "commands/options.h"
#include "present/chart.h"
#include "present/reporter.h"

// Where every command's results go: the report to standard output, messages to standard error,
// the chart to its file.
namespace speedup {

// Writes `text` to standard output and draws `chart` when it has a path and curves; false, with
// a message, when either failed. A missing gnuplot is said but is no failure. Writes nothing once
// an interrupt is pending, unless `despite_interrupt` (the finished runs of an interrupted
// session are its results): an interrupted command leaves no output behind.
bool Deliver(const std::string& text, const PlotRequest* chart, bool despite_interrupt = false);

// Writes each export's report, made by `report` from the reporter of its format, to its file;
// false, with a one-line message for each file that could not be written.
bool WriteExports(const std::vector<Export>& exports,
                  const std::function<std::string(const Reporter&)>& report);

// Whether `written` succeeded; says its failure, in one line, when it did not (an interrupt is
// left to main, which names it once).
bool Written(const Status& written);

// Writes `page` to `path` when `path` is not empty; false, with a message, when it cannot.
bool DeliverPage(const std::string& path, const std::string& page);

// Every output path of `options` checked before any work: a missing or unwritable folder, an
// output onto an input or inside an input folder, two outputs to one path; one line each.
Status CheckOutputPaths(const Options& options);

// Whether the command runs the benchmark (then interrupts keep its finished runs), rather than
// only reading files.
bool Measures(const Options& options);

}  // namespace speedup
