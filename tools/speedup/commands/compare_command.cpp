#include "base/interrupts.h"
#include "base/io.h"
#include "base/text.h"
#include "commands/commands.h"
#include "commands/output.h"
#include "present/charts.h"
#include "present/html_reporter.h"
#include "present/words.h"
#include "session/inputs.h"
#include "stats/comparison.h"

namespace speedup {
namespace {

// The saved session at `path`, with at least one passed run; false, with a message.
bool ReadComparedSession(const std::string& path, Session& session) {
  bool is_json = false;
  if (!ReadSessionFile(path, std::nullopt, session, &is_json)) return false;
  if (!is_json) {
    Complain(Printable(path) + " holds raw reports, not a session JSON with its runs kept");
    return false;
  }
  if (PassedReports(session).empty()) {
    Complain(Printable(path) + " has no passed run to compare");
    return false;
  }
  return true;
}

}  // namespace

int CompareCommand(const Options& options) {
  Session sides[2];
  for (int i = 0; i < 2; ++i) {
    if (!ReadComparedSession(options.compared[i], sides[i])) return 2;
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
  bool delivered = Deliver(text, &chart);
  if (!options.html.empty()) {
    const HtmlMaterial material{&sides[0], &sides[1], &base_figures, &new_figures};
    delivered = DeliverPage(options.html, MakeHtmlReporter(material)->ComparisonReport(
                                              comparison, base, candidate)) &&
                delivered;
  }
  if (options.fail_if_slower && SlowerBeyond(comparison, *options.fail_if_slower)) {
    Complain("NEW is significantly slower than BASE by more than " +
             Formatted("%g%%", *options.fail_if_slower * 100.0) + " in some row");
    return 1;
  }
  return delivered ? 0 : 1;
}

}  // namespace speedup
