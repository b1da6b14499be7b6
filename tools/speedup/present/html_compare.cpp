#include <algorithm>
#include <utility>

#include "base/policy.h"
#include "base/text.h"
#include "present/charts.h"
#include "present/html_parts.h"
#include "present/html_reporter.h"
#include "present/json_reporter.h"
#include "present/words.h"
#include "session/session_json.h"

namespace speedup::html {
namespace {

// The verdict, marked # as the terminal marks it when a side is not a parallel result.
std::string VerdictCell(Verdict verdict, bool marked) {
  const std::string words = VerdictText(verdict) + (marked ? " #" : "");
  const char* kind = verdict == Verdict::kSlower   ? " slower"
                     : verdict == Verdict::kFaster ? " faster"
                                                   : "";
  return "<td class=\"text verdict" + std::string(kind) + "\">" + Escaped(words) + "</td>";
}

std::string ComparisonHead(const Comparison& comparison, const std::string& base_name,
                           const std::string& new_name) {
  return "NEW " + new_name + " (" + std::to_string(comparison.new_runs) + " runs) against BASE " +
         base_name + " (" + std::to_string(comparison.base_runs) + " runs)";
}

// Each side that is not a parallel result, as the terminal says it under its table.
std::string NotParallelLines(const Comparison& comparison) {
  std::string lines;
  for (const auto& [side, not_parallel] : {std::pair{"BASE", comparison.base_not_parallel},
                                           std::pair{"NEW", comparison.new_not_parallel}}) {
    if (not_parallel) {
      lines += "<p class=\"not-parallel\">" + Escaped(NotParallelSideText(side)) + "</p>\n";
    }
  }
  return lines;
}

}  // namespace

std::string ComparisonRows(const Comparison& comparison, const std::string& id) {
  std::string table =
      "<div class=\"scroll\"><table class=\"comparison\" id=\"" + id +
      "\">\n<thead><tr><th>threads</th><th>BASE s</th><th>NEW s</th><th>NEW/BASE</th><th>[" +
      ConfidenceLabel(comparison.confidence) +
      " interval]</th><th>p</th><th>Holm p</th><th class=\"text\">verdict</th></tr></thead>\n"
      "<tbody>\n";
  const bool flagged = comparison.base_not_parallel || comparison.new_not_parallel;
  for (const RowComparison& row : comparison.rows) {
    table += "<tr data-threads=\"" + RowLabel(row.threads) + "\"><th scope=\"row\">" +
             RowLabel(row.threads) + "</th>" + NumberCell(row.base_median, 3, "base_median_s") +
             NumberCell(row.new_median, 3, "new_median_s") + NumberCell(row.ratio, 3, "ratio") +
             IntervalCell(row.ratio_low, row.ratio_high, 3, "ratio") + "<td data-v=\"" +
             NumberText(row.p_value) + "\">" + PValueText(row.p_value) + "</td><td data-v=\"" +
             NumberText(row.p_holm) + "\">" + PValueText(row.p_holm) + "</td>" +
             VerdictCell(row.verdict, flagged && row.threads > 0) + "</tr>\n";
  }
  return table + "</tbody>\n</table></div>\n";
}

std::string ComparisonLegend(const Comparison& comparison) {
  return "<p class=\"legend\">NEW/BASE: ratio of times from the Hodges-Lehmann shift of log "
         "times (below 1: NEW is faster), with its " +
         ConfidenceLabel(comparison.confidence) +
         " interval; p: two-sided Mann-Whitney U; Holm p: corrected over the " +
         std::to_string(comparison.rows.size()) + " rows. A verdict needs Holm p &lt; " +
         Formatted("%g", SIGNIFICANCE) + " and an interval wholly outside ±" +
         Formatted("%g", NEGLIGIBLE_CHANGE * 100.0) +
         "%; no clear difference is not proof of equality. " +
         Escaped(ClockIntervalText(comparison.base_tick.seconds, comparison.new_tick.seconds)) +
         "; " +
         Escaped(SmallestChangeText(
             comparison.smallest_change,
             std::max(comparison.base_tick.seconds, comparison.new_tick.seconds))) +
         ".</p>\n" + NotParallelLines(comparison);
}

std::string ComparisonPage(const Comparison& comparison, const std::string& base_name,
                           const std::string& new_name, const HtmlMaterial& material) {
  std::string body = "<h1>matbench comparison</h1>\n<div class=\"head\"><p>" +
                     Escaped(ComparisonHead(comparison, base_name, new_name)) + "</p></div>\n" +
                     ComparisonHeadline(comparison) + WarningList(ComparisonWarnings(comparison));
  body += Section("ratios", "NEW against BASE",
                  ComparisonRows(comparison, "comparison") + ComparisonLegend(comparison));
  const bool sides =
      material.base && material.added && material.base_figures && material.new_figures;
  if (sides) {
    PlotRequest request = ComparisonChart("chart.svg", comparison, base_name,
                                          *material.base_figures, new_name, *material.new_figures);
    request.processors = material.added->context.processors;
    body += Section(
        "chart", "Chart",
        ChartFigure(material, PlotScript(request, "chart.svg"),
                    "Speedup vs serial (left) and efficiency (middle) of BASE and NEW against "
                    "team size: medians with their " +
                        ConfidenceLabel(request.confidence) +
                        " intervals as bars; NEW / BASE time of each row (right) with its " +
                        ConfidenceLabel(comparison.confidence) +
                        " interval, coloured by its verdict.",
                    "chart of BASE's and NEW's speedup and efficiency against team size, with "
                    "intervals"));
    if (material.run_dots) {
      body += Section("runs", "Runs one by one",
                      RunsFigures(*material.run_dots, "runs", base_name, new_name));
    }
    body += Section("context-differences", "Contexts",
                    "<p>Fields whose values differ are highlighted and marked "
                    "\"differs\"; the warnings above name those that can change the "
                    "figures.</p>\n" +
                        ContextsTable(material.base->context, material.added->context));
  }
  std::string raw =
      CsvButton("comparison-json", "comparison", "comparison.csv", "the rows",
                {{"base", base_name}, {"new", new_name}}) +
      RawSection(
          "comparison-json", "comparison JSON",
          MakeReporter(OutputFormat::kJson)->ComparisonReport(comparison, base_name, new_name));
  if (sides) {
    const auto record = [](const Session& session) { return JsonText(SessionRecord(session)); };
    raw += RawSection("base-json", "BASE session: " + base_name, record(*material.base));
    raw += RawSection("new-json", "NEW session: " + new_name, record(*material.added));
  }
  body += Section("raw", "Raw data",
                  "<p>The comparison as <code>--json</code> writes it, and both sessions' "
                  "runs and contexts as session files, which <code>compare</code> reads.</p>\n" +
                      raw);
  return Page("matbench comparison: " + Escaped(new_name) + " against " + Escaped(base_name),
              std::move(body));
}

}  // namespace speedup::html
