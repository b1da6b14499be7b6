#include <utility>

#include "base/policy.h"
#include "base/text.h"
#include "present/charts.h"
#include "present/html_parts.h"
#include "present/html_reporter.h"
#include "present/marks.h"
#include "present/table_reporter.h"
#include "present/words.h"

namespace speedup::html {
namespace {

std::string FiguresTable(const SessionAnalysis& analysis, const std::string& id) {
  const Figures& figures = analysis.figures;
  const std::string confidence = ConfidenceLabel(figures.serial.confidence);
  std::string table = "<div class=\"scroll\"><table class=\"figures\" id=\"" + id +
                      "\">\n<thead><tr><th>threads</th><th>median s</th><th>[" + confidence +
                      " interval]</th><th>IQR s</th><th>out</th><th>S vs serial</th><th>[" +
                      confidence + "]</th><th>S vs 1 thread</th><th>[" + confidence +
                      "]</th><th>efficiency</th><th>e(p)</th><th>[" + confidence +
                      "]</th><th class=\"text\">marks</th></tr></thead>\n<tbody>\n";
  table += "<tr data-threads=\"serial\"><th scope=\"row\">serial</th>" +
           EstimateCells(figures.serial, 3, "serial_seconds") +
           NumberCell(figures.serial.iqr, 3, "serial_seconds.iqr") +
           CountCell(figures.serial.outliers, "serial_seconds.outliers") +
           "<td></td><td></td><td></td><td></td><td></td><td></td><td></td><td class=\"mark\">" +
           MarksText(SerialMarks(figures)) + "</td></tr>\n";
  for (const TeamFigures& team : figures.teams) {
    table += "<tr data-threads=\"" + std::to_string(team.threads) + "\"><th scope=\"row\">" +
             std::to_string(team.threads) + "</th>" + EstimateCells(team.seconds, 3, "seconds") +
             NumberCell(team.seconds.iqr, 3, "seconds.iqr") +
             CountCell(team.seconds.outliers, "seconds.outliers") +
             EstimateCells(team.speedup_vs_serial, 2, "speedup_vs_serial") +
             EstimateCells(team.speedup_vs_one_thread, 2, "speedup_vs_one_thread") +
             NumberCell(team.efficiency.median, 2, "efficiency.median") +
             (team.threads < 2
                  ? std::string("<td></td><td></td>")
                  : NumberCell(team.karp_flatt, 3, "karp_flatt.median") +
                        IntervalCell(team.karp_flatt_low, team.karp_flatt_high, 3, "karp_flatt")) +
             "<td class=\"mark\">" + MarksText(TeamMarks(team, analysis)) + "</td></tr>\n";
  }
  return table + "</tbody>\n</table></div>\n";
}

// The fit as the terminal's footer says it: no interval where resampling cannot reach one.
std::string AmdahlText(const AmdahlFit& fit) {
  if (!fit.a) return "<p>" + AmdahlNotMadeText() + ".</p>\n";
  std::string text = "<p>" + AmdahlFitHead(fit);
  if (fit.shape == AmdahlFit::Shape::kOutsideLaw) {
    return text + ": " + AmdahlOutsideLawText() + ".</p>\n";
  }
  text += ": a " + FixedText(fit.a, 4) + " s, b " + FixedText(fit.b, 4) +
          " s; serial fraction f = a / (a + b) = " + FixedText(fit.serial_fraction, 4);
  const std::string limit =
      "speedup limit 1/f " + (fit.limit ? FixedText(fit.limit, 1) : std::string("none"));
  if (fit.low && fit.high) {
    return text + " [" + FixedText(fit.low, 4) + ", " + FixedText(fit.high, 4) + "], " + limit +
           " (" + ConfidenceText() + " interval from " + std::to_string(fit.resamples) +
           " resamples of whole runs, seed " + std::to_string(fit.seed) + ").</p>\n";
  }
  return text + ", " + limit + " (no interval: resampling " + CountText(fit.runs, "run", "runs") +
         " cannot reach " + ConfidenceText() + "; " + std::to_string(AMDAHL_MIN_RUNS_FOR_INTERVAL) +
         " runs can).</p>\n";
}

std::string SessionLegend(const Session& session, const SessionAnalysis& analysis) {
  std::string legend =
      "<dl class=\"legend\">\n<dt>S</dt><dd>the serial (or one-thread) time divided by the "
      "row's time, within each run; efficiency: S vs serial / threads.</dd>\n"
      "<dt>[a, b]</dt><dd>distribution-free " +
      ConfidenceLabel(analysis.figures.serial.confidence) +
      " interval for the median from order statistics; — where there is none.</dd>\n"
      "<dt>out</dt><dd>times beyond Tukey's fences, counted and kept.</dd>\n"
      "<dt>e(p)</dt><dd>Karp-Flatt serial fraction: the share of the work that behaved as if "
      "it were serial at p threads.</dd>\n";
  // Every mark but #, which only a session that used about one processor carries.
  for (const MarkLegendEntry& entry : MarkLegend(session, analysis)) {
    if (entry.mark == Mark::kNotParallel && !entry.used) continue;
    legend += "<dt>" + MarkSymbol(entry.mark) + "</dt><dd>" + Escaped(entry.words) + ".</dd>\n";
  }
  return legend + "</dl>\n";
}

std::vector<std::string> SessionWarningTexts(const SessionAnalysis& analysis) {
  std::vector<std::string> texts;
  for (const Warning& warning : analysis.warnings) texts.push_back(WarningText(warning));
  return texts;
}

}  // namespace

// One session's head, failed runs and warnings, table, fit, `chart` (markup), legend and context;
// `id` tells its table apart.
std::string SessionBody(const Session& session, const SessionAnalysis& analysis,
                        const std::string& id, const std::string& chart) {
  std::string body = "<div class=\"head\">\n";
  for (const std::string& line : SessionHeadLines(session, analysis)) {
    body += "<p>" + Escaped(line) + "</p>\n";
  }
  std::vector<std::string> warnings;
  for (std::size_t i = 0; i < session.runs.size(); ++i) {
    if (const std::optional<RunFailure>& failure = session.runs[i].report.failure) {
      warnings.push_back("run " + std::to_string(i + 1) +
                         " failed and is left out of the figures: " + RunFailureText(*failure));
    }
  }
  for (const std::string& warning : SessionWarningTexts(analysis)) warnings.push_back(warning);
  body += "</div>\n" + WarningList(warnings);
  // The chart first: it answers at a glance what the table then gives figure by figure.
  body += chart;
  body += "<h3>Figures</h3>\n" + FiguresTable(analysis, id) + AmdahlText(analysis.figures.amdahl);
  body += "<h3>Legend</h3>\n" + SessionLegend(session, analysis);
  body += "<h3>Context</h3>\n" + ContextTable(session.context);
  return body;
}

std::string SessionsChartFigure(const std::vector<NamedSession>& sessions,
                                const HtmlMaterial& material) {
  const PlotRequest request = SessionsChart("chart.svg", sessions);
  return ChartFigure(
      material, PlotScript(request, "chart.svg"),
      "Speedup vs serial (left) and efficiency (right) against team size: medians with their " +
          ConfidenceLabel(request.confidence) +
          " intervals as bars, Amdahl's fit as a thin solid line in the same colour (the "
          "fitted T(p) against the serial time), the ideal dotted; the same figures as the "
          "table.",
      "chart of speedup and efficiency against team size, with intervals; the table holds the "
      "same figures");
}

std::string SessionPage(const Session& session, const SessionAnalysis& analysis,
                        const HtmlMaterial& material) {
  const std::string host = session.context.host ? *session.context.host : "unnamed host";
  std::string body =
      "<h1>matbench speedup: " + Escaped(host) + "</h1>\n" + SessionHeadline(session, analysis);
  body += SessionBody(session, analysis, "figures",
                      SessionsChartFigure({{"speedup vs serial", &session, &analysis}}, material));
  if (material.run_dots) {
    body += Section("runs", "Runs one by one", RunsFigures(*material.run_dots, "runs"));
  }
  body += Section(
      "raw", "Raw runs",
      "<p>The session as <code>--json</code> writes it: every run, the context and "
      "the figures. Saved to a file, <code>matbench-speedup --input FILE</code> "
      "reads it back. The figures' table saves as CSV, each row led by the host's name.</p>\n"
      "<p class=\"print-only\">(The JSON is in the page file, not printed.)</p>\n" +
          CsvButton("session-json", "session", "session.csv", "the figures",
                    {{"host", session.context.host.value_or("")}}) +
          RawSection("session-json", "session JSON",
                     MakeReporter(OutputFormat::kJson)->SessionReport(session, analysis)));
  return Page("matbench speedup: " + Escaped(host), std::move(body));
}

}  // namespace speedup::html
