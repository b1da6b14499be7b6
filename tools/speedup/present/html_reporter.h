#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "present/chart.h"
#include "present/reporter.h"
#include "session/trace_session.h"
#include "stats/run_dots.h"
#include "stats/trace_figures.h"

// One self-contained HTML page per report, to share with people who do not run a terminal: the
// head and context, the table with its intervals and marks, every warning in words, the charts
// drawn by gnuplot and embedded as SVG, the legend, and the raw data as JSON in a collapsed
// section. No network, no file beside it; light and dark, printable. Every text that came from a
// session goes through HtmlEscaped.
namespace speedup {

// `text` safe anywhere in an HTML page, between tags or inside a quoted attribute: & < > " '
// become character references, and control characters and bytes outside well-formed UTF-8 show
// as \xHH, as Printable shows them on a terminal.
std::string HtmlEscaped(std::string_view text);

// `json` safe inside <script type="application/json">: every '<' written as \u003c, so no
// "</script" or "<!--" can end or bend the element; JSON.parse reads the same values back.
std::string ScriptJson(std::string_view json);

// One run's timeline on a trace page: team size `team` of `trace`, shown as `run_name`.
struct TraceTimeline {
  int team = 0;
  std::string run_name;
  const RunTrace* trace = nullptr;  // not owned
};

// What a page holds beyond the other reporters' arguments, all of it computed by the caller.
struct HtmlMaterial {
  // Both sides of a comparison, for their contexts and the chart; without them the comparison
  // page holds the ratios alone.
  const Session* base = nullptr;
  const Session* added = nullptr;
  const Figures* base_figures = nullptr;
  const Figures* new_figures = nullptr;
  // The fleet's band (FleetBand), for the chart of a fleet beyond MAX_NODE_CURVES nodes.
  const Figures* fleet_band = nullptr;
  // The runs one by one, for a session's page or a comparison's (both sides); without them the
  // page has no strip or run-order plot.
  const RunDots* run_dots = nullptr;
  // The timelines of a trace page, in order.
  std::vector<TraceTimeline> timelines;
  // Draws a chart's script (drawing "chart.svg" in its working folder) for the page; without
  // it, the page says where a chart would be that none was drawn.
  std::function<DrawnChart(const std::string& script)> draw;
};

// The HTML reporter: each report is a whole page. Its charts are drawn by `material.draw`;
// where gnuplot is missing the page says so where the chart would be.
std::unique_ptr<Reporter> MakeHtmlReporter(const HtmlMaterial& material);

}  // namespace speedup
