#include <algorithm>
#include <utility>

#include "base/text.h"
#include "present/figure_text.h"
#include "present/html_parts.h"
#include "present/html_reporter.h"
#include "present/json_reporter.h"
#include "present/trace_report.h"
#include "present/words.h"
#include "session/session_json.h"

namespace speedup::html {
namespace {

// Per team, POP's efficiencies and the dominant loss, in the table's words.
std::string WhyList(const TraceFigures& figures) {
  std::string list = "<ul class=\"why\">\n";
  for (const std::string& line : TraceWhyLines(figures)) {
    list += "<li>" + HtmlEscaped(line) + "</li>\n";
  }
  return list + "</ul>\n";
}

std::string TraceRows(const TraceFigures& figures) {
  // The least that any team's intervals reach, as the terminal's heads say it.
  double reached = figures.teams.empty() ? 0.0 : 1.0;
  for (const TeamTrace& team : figures.teams) {
    for (const Estimate* estimate : {&team.region_ms, &team.traced_speedup, &team.report_speedup}) {
      if (estimate->low) reached = std::min(reached, estimate->confidence);
    }
  }
  const std::string confidence = ConfidenceLabel(reached);
  std::string table =
      "<div class=\"scroll\"><table id=\"split\">\n<thead><tr><th>threads</th><th>runs</th>"
      "<th>region ms</th><th>[" +
      confidence +
      "]</th><th>report ms</th><th>fork</th><th>tool</th><th>waiting for a core</th><th>work"
      "</th><th>scheduling</th><th>imbalance</th><th>join</th><th>rows "
      "min/med/max</th><th>idle</th><th>S traced vs 1</th><th>[" +
      confidence + "]</th><th>S report vs 1</th><th>[" + confidence +
      "]</th></tr></thead>\n<tbody>\n";
  for (const TeamTrace& team : figures.teams) {
    const std::string rows = team.rows_median ? FixedText(team.rows_min, 0) + "/" +
                                                    FixedText(team.rows_median, 0) + "/" +
                                                    FixedText(team.rows_max, 0)
                                              : std::string("not traced");
    table += "<tr data-threads=\"" + std::to_string(team.threads) + "\"><th scope=\"row\">" +
             std::to_string(team.threads) + "</th>" + CountCell(team.runs, "runs") +
             EstimateCells(team.region_ms, 3, "region_ms") +
             NumberCell(team.report_ms.median, 0, "report_ms.median") + "<td>" +
             ShareText(team.typical, team.typical.fork) + "</td><td>" +
             ShareText(team.typical, team.typical.tool) + "</td><td>" +
             (team.typical.cpu_seen ? ShareText(team.typical, team.typical.core_wait) : "—") +
             "</td><td>" + ShareText(team.typical, team.typical.work) + "</td><td>" +
             ShareText(team.typical, team.typical.scheduling) + "</td><td>" +
             ShareText(team.typical, team.typical.imbalance) + "</td><td>" +
             ShareText(team.typical, team.typical.join) + "</td><td>" + rows + "</td>" +
             CountCell(team.idle_threads, "idle_threads") +
             EstimateCells(team.traced_speedup, 3, "traced_speedup") +
             EstimateCells(team.report_speedup, 2, "report_speedup") + "</tr>\n";
  }
  return table + "</tbody>\n</table></div>\n";
}

// The head lines, as the terminal's, then the trace's warnings.
std::string TraceHead(const TraceSession& session, const TraceFigures& figures) {
  std::string head = "<div class=\"head\">\n";
  for (const std::string& line : TraceHeadLines(session, figures)) {
    head += "<p>" + Escaped(line) + "</p>\n";
  }
  std::vector<std::string> warnings;
  for (const TraceWarning& warning : TraceWarnings(session, figures)) {
    warnings.push_back(TraceWarningText(warning));
  }
  return head + "</div>\n" + WarningList(warnings);
}

std::string SplitSection(const TraceSession& session, const TraceFigures& figures,
                         const HtmlMaterial& material) {
  return Section(
             "time-split", "Where each team's time went",
             TraceRows(figures) +
                 "<p class=\"legend\">region: the parallel region on the trace's nanosecond "
                 "clock; report: the benchmark's own millisecond time of the same runs, which also "
                 "holds clearing the product before the region. fork, tool, waiting for a core, "
                 "work, scheduling, imbalance, join: the team's average share of the region in "
                 "each state, in the run whose region took the median time (so they add up); "
                 "tool: the trace tool's own work; waiting for a core: wall time less the "
                 "thread's CPU time; scheduling is estimated from the claims that are not a "
                 "thread's first. rows: per thread, least, median and most, medians over the "
                 "runs; idle: threads that got no row. S: the one-thread time over the row's, "
                 "within each run, from the trace's clock and from the report's.</p>\n" +
                 WhyList(figures)) +
         Section("split-chart", "Split chart",
                 ChartFigure(material, SplitChartScript(session, figures, "chart.svg"),
                             "The region's time split into fork, work, scheduling, imbalance "
                             "and join, as median shares against team size; the table above "
                             "holds the same shares.",
                             "stacked bars of the region's time split by state against team "
                             "size"));
}

std::string TimelinesSection(const HtmlMaterial& material) {
  std::string charts;
  for (const TraceTimeline& timeline : material.timelines) {
    const std::string script =
        TimelineScript(*timeline.trace, timeline.team, timeline.run_name, "chart.svg");
    const std::string team = CountText(timeline.team, "thread", "threads");
    if (script.empty()) {
      charts += "<p>No region of " + team + " in " + HtmlEscaped(timeline.run_name) + ".</p>\n";
      continue;
    }
    charts +=
        "<h3>Team of " + team + ", " + HtmlEscaped(timeline.run_name) + "</h3>\n" +
        ChartFigure(material, script,
                    "One lane per thread, one box per row it claimed, the fork, the waits "
                    "and the join drawn apart; time in ms from the region's begin.",
                    "timeline of a team of " + team + ": the rows each thread worked on over time");
  }
  return charts.empty() ? "" : Section("timelines", "Timelines", charts);
}

std::string TraceRawSection(const TraceSession& session, const TraceFigures& figures) {
  return Section(
      "raw", "Raw data",
      "<p>The figures as <code>trace --json</code> writes them, and both sessions' "
      "runs; the raw traces stay in the trace folder.</p>\n" +
          RawSection("trace-json", "trace figures JSON",
                     JsonText(TraceFiguresJson(session, figures))) +
          RawSection("traced-json", "traced session", JsonText(SessionRecord(session.traced))) +
          RawSection("untraced-json", "untraced session",
                     JsonText(SessionRecord(session.untraced))));
}

}  // namespace

std::string TracePage(const TraceSession& session, const TraceFigures& figures,
                      const HtmlMaterial& material) {
  std::string body =
      "<h1>matbench trace</h1>\n" + TraceHeadline(session, figures) + TraceHead(session, figures);
  body += SplitSection(session, figures, material);
  body += TimelinesSection(material);
  if (!figures.overhead.rows.empty()) {
    body += Section("cost", "The tool's cost",
                    "<p>The traced runs' report times (NEW) against the untraced runs' (BASE) on "
                    "the same runtime, interleaved.</p>\n" +
                        ComparisonRows(figures.overhead, "cost-table") +
                        ComparisonLegend(figures.overhead));
  }
  body += Section("context", "Context", ContextTable(session.traced.context));
  body += TraceRawSection(session, figures);
  return Page("matbench trace", std::move(body));
}

}  // namespace speedup::html
