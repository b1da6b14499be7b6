#include "base/policy.h"
#include "base/text.h"
#include "present/context_lines.h"
#include "present/figure_text.h"
#include "present/marks.h"
#include "present/reporter.h"
#include "present/trace_report.h"
#include "present/words.h"

// Markdown tables, for a wiki page or a pull request: the figures a reader compares, with the
// context lines above them. The table's marks and legends are the plain table's.
namespace speedup {
namespace {

// `text` safe inside a table cell: no raw HTML, no markup, its pipes escaped.
std::string CellText(std::string_view text) { return MarkdownText(text); }

// One row of cells.
std::string Row(const std::vector<std::string>& cells) {
  std::string row = "|";
  for (const std::string& cell : cells) {
    row += ' ';
    row += cell;
    row += " |";
  }
  return row + "\n";
}

// The header row and its rule; every column but the first is right-aligned.
std::string Header(const std::vector<std::string>& names) {
  std::string rule = "|";
  for (std::size_t i = 0; i < names.size(); ++i) rule += i == 0 ? " --- |" : " ---: |";
  return Row(names) + rule + "\n";
}

// "1.94 [1.90, 1.97]", the median alone without an interval, or "—" for what is undefined.
constexpr IntervalLayout CELL_INTERVAL{0, 0, false};

// Marks in a cell, where a bare * would start emphasis.
std::string MarksCell(const std::vector<Mark>& marks) {
  std::string cell;
  for (const char c : MarksText(marks)) {
    if (c == '*') cell += '\\';
    cell += c;
  }
  return cell;
}

// Every mark with its short words, on one line.
std::string MarksLine(const std::vector<MarkLegendEntry>& legend) {
  std::string line = "Marks:";
  for (std::size_t i = 0; i < legend.size(); ++i) {
    line += (i == 0 ? " " : ", ") + MarksCell({legend[i].mark}) + " " + legend[i].brief;
  }
  return line + ".\n";
}

// The context lines as a bulleted list.
std::string ContextList(const Context& context) {
  std::string list;
  for (const std::string& line : ContextLines(context)) list += "- " + CellText(line) + "\n";
  return list;
}

std::string SessionMarkdown(const Session& session, const SessionAnalysis& analysis) {
  const Figures& figures = analysis.figures;
  std::string text = "## matbench speedup over " + std::to_string(figures.runs) + " of " +
                     CountText(static_cast<long long>(session.runs.size()), "run", "runs") + "\n\n";
  text += ContextList(session.context) + "\n";
  for (const Warning& warning : analysis.warnings) {
    text += "**warning:** " + CellText(WarningText(warning)) + "\n\n";
  }
  const std::string interval = " [" + ConfidenceLabel(figures.serial.confidence) + "]";
  text += Header({"threads", "median s" + interval, "S vs serial" + interval,
                  "S vs 1 thread" + interval, "efficiency", "marks"});
  text += Row({"serial", WithInterval(figures.serial, 3, CELL_INTERVAL), "", "", "",
               MarksCell(SerialMarks(figures))});
  for (const TeamFigures& team : figures.teams) {
    const std::string marks = MarksCell(TeamMarks(team, analysis));
    text += Row({std::to_string(team.threads), WithInterval(team.seconds, 3, CELL_INTERVAL),
                 WithInterval(team.speedup_vs_serial, 2, CELL_INTERVAL),
                 WithInterval(team.speedup_vs_one_thread, 2, CELL_INTERVAL),
                 FixedText(team.efficiency.median, 2), marks});
  }
  text += "\nS: the serial (or one-thread) time / the row's time, within each run. ";
  text += MarksLine(MarkLegend(session, analysis));
  return text;
}

std::string ComparisonMarkdown(const Comparison& comparison, const std::string& base_name,
                               const std::string& new_name) {
  std::string text = "## matbench comparison: NEW " + CellText(new_name) + " (" +
                     CountText(comparison.new_runs, "run", "runs") + ") against BASE " +
                     CellText(base_name) + " (" + CountText(comparison.base_runs, "run", "runs") +
                     ")\n\n";
  text += Header({"threads", "BASE s", "NEW s",
                  "NEW/BASE [" + ConfidenceLabel(comparison.confidence) + "]", "p", "Holm p",
                  "verdict"});
  for (const RowComparison& row : comparison.rows) {
    text += Row({RowLabel(row.threads), FixedText(row.base_median, 3), FixedText(row.new_median, 3),
                 FixedText(row.ratio, 3) + " [" + FixedText(row.ratio_low, 3) + ", " +
                     FixedText(row.ratio_high, 3) + "]",
                 PValueText(row.p_value), PValueText(row.p_holm), VerdictText(row.verdict)});
  }
  return text;
}

std::string FleetMarkdown(const Fleet& fleet) {
  std::string text = "## matbench fleet\n\n";
  text += Header({"node", "CPU", "processors", "runs",
                  "serial s [" + ConfidenceLabel(fleet.confidence) + "]",
                  "S at p [" + ConfidenceLabel(fleet.confidence) + "]", "verdict"});
  for (const NodeRow& node : fleet.nodes) {
    const Context& context = node.input.session.context;
    const bool figures = node.input.merged && node.figures.runs > 0;
    text += Row(
        {CellText(node.input.node), CellText(context.cpu_model.value_or("")),
         context.processors ? std::to_string(*context.processors) : "",
         std::to_string(node.figures.runs),
         figures ? WithInterval(node.figures.serial, 3, CELL_INTERVAL) : "",
         figures ? std::to_string(node.team) + ": " +
                       WithInterval(node.at_team.speedup_vs_serial, 2, CELL_INTERVAL)
                 : "",
         CellText(node.input.problem ? ProblemText(*node.input.problem) : NodeVerdictText(node))});
  }
  return text;
}

std::string TraceMarkdown(const TraceSession& session, const TraceFigures& figures) {
  std::string text = "## " + CellText(TraceHeadLines(session, figures).front()) + "\n\n";
  text += ContextList(session.traced.context) + "\n";
  const std::string interval = " [" + ConfidenceText() + "]";
  text +=
      Header({"threads", "region ms" + interval, "report ms", "fork", "work", "scheduling",
              "imbalance", "join", "idle", "S traced vs 1" + interval, "S report vs 1" + interval});
  for (const TeamTrace& team : figures.teams) {
    const RegionSplit& split = team.typical;
    text +=
        Row({std::to_string(team.threads), WithInterval(team.region_ms, 3, CELL_INTERVAL),
             FixedText(team.report_ms.median, 0), ShareText(split, split.fork),
             ShareText(split, split.work), ShareText(split, split.scheduling),
             ShareText(split, split.imbalance), ShareText(split, split.join),
             std::to_string(team.idle_threads), WithInterval(team.traced_speedup, 3, CELL_INTERVAL),
             WithInterval(team.report_speedup, 2, CELL_INTERVAL)});
  }
  const std::vector<TraceWarning> warnings = TraceWarnings(session, figures);
  if (!warnings.empty()) text += "\n";
  for (const TraceWarning& warning : warnings) {
    text += "- warning: " + CellText(TraceWarningText(warning)) + "\n";
  }
  return text;
}

class MarkdownReporter : public Reporter {
 public:
  std::string SessionReport(const Session& session,
                            const SessionAnalysis& analysis) const override {
    return SessionMarkdown(session, analysis);
  }
  std::string ComparisonReport(const Comparison& comparison, const std::string& base_name,
                               const std::string& new_name) const override {
    return ComparisonMarkdown(comparison, base_name, new_name);
  }
  std::string FleetReport(const Fleet& fleet) const override { return FleetMarkdown(fleet); }
  // Each placement's table, then each placement against the first.
  std::string StudyReport(const std::vector<NamedSession>& sessions,
                          const std::vector<Comparison>& comparisons) const override {
    std::string text;
    for (const NamedSession& named : sessions) {
      if (!text.empty()) text += '\n';
      text += "# ";
      text += CellText(named.name);
      text += "\n\n";
      text += SessionMarkdown(*named.session, *named.analysis);
    }
    for (std::size_t i = 0; i < comparisons.size() && i + 1 < sessions.size(); ++i) {
      text += '\n';
      text += ComparisonMarkdown(comparisons[i], sessions.front().name, sessions[i + 1].name);
    }
    return text;
  }
  std::string TraceReport(const TraceSession& session, const TraceFigures& figures) const override {
    return TraceMarkdown(session, figures);
  }
};

}  // namespace

std::unique_ptr<Reporter> MakeMarkdownReporter() { return std::make_unique<MarkdownReporter>(); }

}  // namespace speedup
