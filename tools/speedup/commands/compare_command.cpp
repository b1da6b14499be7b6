#include "base/interrupts.h"
#include "base/io.h"
#include "base/text.h"
#include "commands/commands.h"
#include "commands/complain.h"
#include "commands/drawing.h"
#include "commands/output.h"
#include "present/charts.h"
#include "present/html_reporter.h"
#include "present/words.h"
#include "session/inputs.h"
#include "stats/comparison.h"
#include "stats/run_dots.h"

namespace speedup {
namespace {

// The saved session at `path`, with at least one passed run.
Result<Session> ReadComparedSession(const std::string& path) {
  Result<SessionFile> file = ReadSessionFile(path);
  if (!file) return file.failure();
  if (!file->is_json) {
    return Fail(FailureKind::kInput,
                Printable(path) + " holds raw reports, not a session JSON with its runs kept");
  }
  if (!HasPassedRun(file->session)) {
    return Fail(FailureKind::kInput, Printable(path) + " has no passed run to compare");
  }
  return std::move(file->session);
}

}  // namespace

int CompareCommand(const Options& options) {
  Session sides[2];
  for (int i = 0; i < 2; ++i) {
    Result<Session> side = ReadComparedSession(options.compared[i]);
    if (!side) return Refuse(side.failure());
    sides[i] = std::move(side).value();
  }
  if (PendingInterrupt() != 0) return 1;
  const Comparison comparison = CompareSessions(sides[0], sides[1]);
  for (const std::string& warning : ComparisonWarnings(comparison)) {
    Complain("warning: " + warning);
  }
  const std::string& base = options.compared[0];
  const std::string& candidate = options.compared[1];
  const std::string text =
      MakeReporter(options.format)->ComparisonReport(comparison, base, candidate);
  // Each side's own figures only for the chart and the page: their Amdahl resampling costs far
  // more than the comparison on sessions of many runs.
  const bool drawn = !options.plot.empty() || !options.html.empty();
  const Figures base_figures = drawn ? SessionFigures(sides[0]) : Figures{};
  const Figures new_figures = drawn ? SessionFigures(sides[1]) : Figures{};
  PlotRequest chart =
      ComparisonChart(options.plot, comparison, base, base_figures, candidate, new_figures);
  chart.processors = sides[1].context.processors;
  // The page before the report, which comes last: an interrupt leaves neither.
  bool delivered = true;
  if (!options.html.empty()) {
    HtmlMaterial material;
    material.base = &sides[0];
    material.added = &sides[1];
    material.base_figures = &base_figures;
    material.new_figures = &new_figures;
    const RunDots dots = ComparedRunDots(sides[0], sides[1], comparison);
    material.run_dots = &dots;
    material.draw = DrawPageChart;
    delivered = DeliverPage(
        options.html, MakeHtmlReporter(material)->ComparisonReport(comparison, base, candidate));
  }
  delivered = Deliver(text, &chart) && delivered;
  if (options.fail_if_slower && SlowerBeyond(comparison, *options.fail_if_slower)) {
    Complain("NEW is significantly slower than BASE by more than " +
             Formatted("%g%%", *options.fail_if_slower * 100.0) + " in some row");
    return 1;
  }
  return delivered ? 0 : 1;
}

}  // namespace speedup
