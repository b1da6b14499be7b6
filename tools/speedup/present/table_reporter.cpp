#include "present/table_reporter.h"

#include <cstdio>

#include "base/policy.h"
#include "base/text.h"
#include "bench/sweep.h"
#include "present/context_lines.h"
#include "present/figure_text.h"
#include "present/marks.h"
#include "present/reporter.h"
#include "present/words.h"

namespace speedup {
namespace {

// Median and interval in the table's columns, e.g. "  1.94 [1.90, 1.97]".
std::string ColumnsWithInterval(const Estimate& estimate, int width, int decimals) {
  return speedup::WithInterval(
      estimate, decimals,
      {static_cast<std::size_t>(width), static_cast<std::size_t>(decimals + 2), true});
}

std::string TeamList(const std::vector<int>& teams) {
  std::string list;
  for (const int threads : teams) list += (list.empty() ? "" : ", ") + std::to_string(threads);
  return list;
}

// e(p) for every team size, three a line, and the Amdahl fit.
std::string CurveFooter(const Figures& figures) {
  std::string footer = "\nKarp-Flatt serial fraction e(p) with its " +
                       ConfidenceLabel(figures.serial.confidence) + " interval:\n";
  int on_line = 0;
  bool negative = false, oversubscribed = false;
  for (const TeamFigures& team : figures.teams) {
    if (team.threads < 2) continue;
    const bool interval = team.karp_flatt_low && team.karp_flatt_high;
    negative = negative || (team.karp_flatt && *team.karp_flatt < 0.0);
    oversubscribed = oversubscribed || team.oversubscribed;
    footer += (on_line == 0 ? "" : "   ") +
              Cell(std::string(team.oversubscribed ? "*" : "") + std::to_string(team.threads), 4) +
              ": " + Cell(FixedText(team.karp_flatt, 3), 6) + " [" +
              (interval ? FixedText(team.karp_flatt_low, 3) : "—") + ", " +
              (interval ? FixedText(team.karp_flatt_high, 3) : "—") + "]";
    if (++on_line == 3) {
      footer += "\n";
      on_line = 0;
    }
  }
  if (on_line != 0) footer += "\n";
  if (negative) {
    footer +=
        "a negative e(p): the team beat p times the serial speed, which no serial share "
        "explains\n";
  }
  if (oversubscribed) {
    footer += "*p: more threads than processors, so p overstates the parallelism e(p) assumes\n";
  }
  const AmdahlFit& fit = figures.amdahl;
  if (fit.shape == AmdahlFit::Shape::kNotMade) {
    return footer + AmdahlNotMadeText() + "\n";
  }
  footer += AmdahlFitHead(fit);
  if (fit.shape == AmdahlFit::Shape::kOutsideLaw)
    return footer + ":\n  " + AmdahlOutsideLawText() + "\n";
  footer += ": a " + FixedText(fit.a, 4) + " s, b " + FixedText(fit.b, 4) + " s\n";
  footer += "  serial fraction f = a / (a + b) = " + FixedText(fit.serial_fraction, 4);
  if (fit.low && fit.high) {
    footer += " [" + FixedText(fit.low, 4) + ", " + FixedText(fit.high, 4) +
              "], speedup limit 1/f " + (fit.limit ? FixedText(fit.limit, 1) : "none") + "\n  (" +
              ConfidenceText() + " interval from " + std::to_string(fit.resamples) +
              " resamples of whole runs, seed " + std::to_string(fit.seed) + ")\n";
  } else {
    footer += ", speedup limit 1/f " + (fit.limit ? FixedText(fit.limit, 1) : "none") +
              "\n  (no interval: resampling " + CountText(fit.runs, "run", "runs") +
              " cannot reach " + ConfidenceText() + "; " +
              std::to_string(AMDAHL_MIN_RUNS_FOR_INTERVAL) + " runs can)\n";
  }
  return footer;
}

}  // namespace

namespace {

// The head: its lines, then the context.
std::string SessionHead(const Session& session, const SessionAnalysis& analysis) {
  std::string head;
  for (const std::string& line : SessionHeadLines(session, analysis)) head += line + "\n";
  for (const std::string& line : ContextLines(session.context)) head += line + "\n";
  return head;
}

// The column heads, the serial row and one row per team size with its marks.
std::string SessionRows(const SessionAnalysis& analysis) {
  const Figures& figures = analysis.figures;
  const std::string reached = ConfidenceLabel(figures.serial.confidence);
  std::string rows = "\nthreads  median s  [" + reached + " interval]   IQR s out  S vs serial [" +
                     reached + "]   S vs 1 thread [" + reached + "]  effic.\n";
  const std::string serial_marks = MarksText(SerialMarks(figures));
  rows += Cell("serial", 7) + ColumnsWithInterval(figures.serial, 10, 3) +
          Cell(FixedText(figures.serial.iqr, 3), 7) +
          Cell(std::to_string(figures.serial.outliers), 4) +
          (serial_marks.empty() ? "" : std::string(48, ' ') + serial_marks) + "\n";
  for (const TeamFigures& team : figures.teams) {
    const std::string shown = MarksText(TeamMarks(team, analysis));
    rows +=
        Cell(std::to_string(team.threads), 7) + ColumnsWithInterval(team.seconds, 10, 3) +
        Cell(FixedText(team.seconds.iqr, 3), 7) + Cell(std::to_string(team.seconds.outliers), 4) +
        ColumnsWithInterval(team.speedup_vs_serial, 7, 2) +
        ColumnsWithInterval(team.speedup_vs_one_thread, 8, 2) +
        Cell(FixedText(team.efficiency.median, 2), 7) + (shown.empty() ? "" : " " + shown) + "\n";
  }
  return rows;
}

// What the columns mean and each mark the rows carry; # comes last, after the fit.
std::string SessionLegend(const std::vector<MarkLegendEntry>& marks) {
  std::string legend =
      "\nS: the serial (or one-thread) time / the row's time, within each run; efficiency: "
      "S / threads.\n"
      "[a, b]: distribution-free interval for the median from order statistics; out: times "
      "beyond\nTukey's fences, counted and kept.\n";
  for (const MarkLegendEntry& entry : marks) {
    if (entry.mark == Mark::kNotParallel) continue;
    if (!entry.shown) {
      legend += entry.words + "\n";
    } else if (entry.used) {
      legend += MarkSymbol(entry.mark) + " " + entry.words + "\n";
    }
  }
  return legend;
}

}  // namespace

std::vector<std::string> SessionHeadLines(const Session& session, const SessionAnalysis& analysis) {
  const Figures& figures = analysis.figures;
  const int runs = static_cast<int>(session.runs.size());
  const std::string requested =
      session.requested_runs ? std::to_string(*session.requested_runs) : "?";
  std::string head = "matbench speedup over " + std::to_string(figures.runs) + " of " +
                     CountText(runs, "run", "runs") + " on a " + TickText(figures.tick.seconds) +
                     " clock";
  const double confidence = figures.serial.confidence;
  if (figures.runs < 2) {
    head += "; no interval from a single run\n";
  } else if (confidence < CONFIDENCE) {
    head += "; intervals reach only " + PercentText(confidence) + " confidence (" +
            std::to_string(MIN_RUNS_FOR_95) + " runs give " + ConfidenceText() + ")\n";
  } else {
    head += "; medians with " + ConfidenceText() + " intervals\n";
  }
  if (session.interrupted) {
    head += "interrupted by " + Printable(InterruptName(*session.interrupted)) + " after " +
            std::to_string(runs) + " of " + requested + " runs\n";
  }
  if (session.stopped && !session.precision) {
    head += "stopped after " + std::to_string(runs) + " of " + requested +
            " runs: " + Printable(StopText(*session.stopped)) + "\n";
  }
  if (session.precision) {
    const std::vector<int>& unsettled = analysis.unsettled;
    head += "precision ±" + PercentText(*session.precision) + ": ";
    head += unsettled.empty() ? "every speedup settled after " + CountText(runs, "run", "runs")
                              : "team sizes " + TeamList(unsettled) + " did not settle in " +
                                    CountText(runs, "run", "runs");
    if (session.stopped) head += " (" + Printable(StopText(*session.stopped)) + ")";
    head += "\n";
  }
  if (session.placement) {
    head += "placement OMP_PLACES=cores OMP_PROC_BIND=" + Printable(*session.placement) + ": " +
            (!session.placement_honoured   ? "not checked (no thread affinity shown)"
             : *session.placement_honoured ? "honoured, as the runtime's thread affinity shows"
                                           : "NOT honoured by the runtime") +
            "\n";
  }
  std::vector<std::string> lines;
  for (const std::string_view line : SplitLines(head)) lines.emplace_back(line);
  return lines;
}

std::string SessionTable(const Session& session, const SessionAnalysis& analysis) {
  const std::vector<MarkLegendEntry> marks = MarkLegend(session, analysis);
  std::string table = SessionHead(session, analysis) + SessionRows(analysis);
  table += SessionLegend(marks) + CurveFooter(analysis.figures);
  for (const MarkLegendEntry& entry : marks) {
    if (entry.mark == Mark::kNotParallel && entry.used) {
      table += MarkSymbol(entry.mark) + " " + entry.words + "\n";
    }
  }
  return table;
}

std::string ComparisonTable(const Comparison& comparison, const std::string& base_name,
                            const std::string& new_name) {
  std::string table = "matbench comparison: NEW " + Printable(new_name) + " (" +
                      std::to_string(comparison.new_runs) + " runs) against BASE " +
                      Printable(base_name) + " (" + std::to_string(comparison.base_runs) +
                      " runs)\n\n";
  table += "threads   BASE s    NEW s   NEW/BASE [" + ConfidenceLabel(comparison.confidence) +
           " interval]       p  Holm p  verdict\n";
  const bool flagged = comparison.base_not_parallel || comparison.new_not_parallel;
  for (const RowComparison& row : comparison.rows) {
    char line[200];
    std::snprintf(line, sizeof line, "%7s %8.3f %8.3f %10.3f [%.3f, %.3f] %7s %7s  %s%s\n",
                  RowLabel(row.threads).c_str(), row.base_median, row.new_median, row.ratio,
                  row.ratio_low, row.ratio_high, PValueText(row.p_value).c_str(),
                  PValueText(row.p_holm).c_str(), VerdictText(row.verdict).c_str(),
                  flagged && row.threads > 0 ? " #" : "");
    table += line;
  }
  table +=
      "\nNEW/BASE: ratio of times from the Hodges-Lehmann shift of log times (below 1: NEW is "
      "faster);\np: two-sided Mann-Whitney U; Holm p: corrected over the " +
      std::to_string(comparison.rows.size()) + " rows. A verdict needs Holm p < " +
      Formatted("%g", SIGNIFICANCE) + "\nand an interval wholly outside ±" +
      Formatted("%g", NEGLIGIBLE_CHANGE * 100.0) +
      "%. The interval is for the true times: " + "each reading\nstands for a time within " +
      (CLOCK_MARGIN_TICKS == 0.5 ? std::string("half a tick")
                                 : Formatted("%g ticks", CLOCK_MARGIN_TICKS)) +
      " of it (BASE " + TickText(comparison.base_tick.seconds) + ", NEW " +
      TickText(comparison.new_tick.seconds) + " clock), which widens it;\n" +
      SmallestChangeText(comparison.smallest_change,
                         std::max(comparison.base_tick.seconds, comparison.new_tick.seconds)) +
      ".\n";
  if (!comparison.verdict_possible) {
    table += "No verdict is possible: with " + std::to_string(comparison.base_runs) + " and " +
             std::to_string(comparison.new_runs) + " runs the smallest Holm p is " +
             Formatted("%.3f", comparison.smallest_holm_p) + ", never below " +
             Formatted("%g", SIGNIFICANCE) + "; " + std::to_string(comparison.runs_for_verdict) +
             " runs a side would allow one.\n";
  }
  for (const auto& [side, not_parallel] : {std::pair{"BASE", comparison.base_not_parallel},
                                           std::pair{"NEW", comparison.new_not_parallel}}) {
    if (not_parallel) {
      table += std::string("# ") + side +
               " is not a parallel result (its runs used about one processor): verdicts on team "
               "sizes compare no parallel speed\n";
    }
  }
  return table;
}

std::string FleetTable(const Fleet& fleet) {
  int merged = 0;
  for (const NodeRow& node : fleet.nodes) merged += node.input.merged ? 1 : 0;
  std::string table = "matbench fleet: " + std::to_string(merged) + " of " +
                      std::to_string(fleet.nodes.size()) + " sessions merged\n\n";
  table += "node             CPU             procs runs  serial s [" +
           ConfidenceLabel(fleet.confidence) + "]        S@p [" +
           ConfidenceLabel(fleet.confidence) + "]            eff.\n";
  for (const NodeRow& node : fleet.nodes) {
    if (!node.input.merged) continue;
    const Context& context = node.input.session.context;
    const TeamFigures& team = node.at_team;
    const Estimate& s = team.speedup_vs_serial;
    char line[512];  // two padded columns of up to four bytes a code point, and the figures
    std::snprintf(
        line, sizeof line, "%s %s %5s %4d  %s [%s, %s]  %2d: %s [%s, %s]  %s\n",
        Padded(Printable(node.input.node), 16).c_str(),
        Padded(context.cpu_model ? Printable(*context.cpu_model) : "not recorded", 15).c_str(),
        context.processors ? std::to_string(*context.processors).c_str() : "—", node.figures.runs,
        FixedText(node.figures.serial.median, 3).c_str(),
        FixedText(node.figures.serial.low, 3).c_str(),
        FixedText(node.figures.serial.high, 3).c_str(), node.team, FixedText(s.median, 2).c_str(),
        FixedText(s.low, 2).c_str(), FixedText(s.high, 2).c_str(),
        FixedText(team.efficiency.median, 2).c_str());
    table += line;
    table += "                 " +
             (node.input.job ? "Slurm job " + Printable(*node.input.job) + ": " : "") +
             NodeVerdictText(node) + "\n";
  }
  table += "\nfleet: serial median " + FixedText(fleet.serial_median, 3) + " s (nodes " +
           FixedText(fleet.serial_min, 3) + " to " + FixedText(fleet.serial_max, 3) +
           "), speedup median " + FixedText(fleet.speedup_median, 2) + " (" +
           FixedText(fleet.speedup_min, 2) + " to " + FixedText(fleet.speedup_max, 2) + ")\n";
  for (const NodeRow& node : fleet.nodes) {
    if (node.input.problem) {
      const std::string where =
          node.input.node == node.input.file ? "" : " (" + Printable(node.input.file) + ")";
      table += (node.input.merged ? "cut short: " : "failed: ") + Printable(node.input.node) +
               where + ": " + Printable(ProblemText(*node.input.problem)) + "\n";
    }
  }
  table +=
      "\nS@p: speedup vs serial at the node's core count. A node is slower or faster when its runs "
      "differ\nfrom the pooled runs of the others with Holm p < " +
      Formatted("%g", SIGNIFICANCE) + " (Mann-Whitney U, over the nodes) and\nthe ratio's " +
      ConfidenceText() + " interval lies wholly outside ±" +
      Formatted("%g", NEGLIGIBLE_CHANGE * 100.0) + "%;\n" +
      SmallestChangeText(fleet.smallest_change, fleet.tick.seconds) + ".\n";
  return table;
}

std::string StudyTable(const std::vector<NamedSession>& sessions,
                       const std::vector<Comparison>& comparisons) {
  std::string text;
  for (std::size_t i = 0; i < sessions.size(); ++i) {
    text += (i == 0 ? "" : "\n") + sessions[i].name + "\n" +
            SessionTable(*sessions[i].session, *sessions[i].analysis);
  }
  for (std::size_t i = 0; i < comparisons.size(); ++i) {
    text += '\n';
    text += ComparisonTable(comparisons[i], sessions[0].name, sessions[i + 1].name);
    // The comparison's own warnings (few runs, a side drifted) belong beside its verdicts.
    for (const std::string& warning : ComparisonWarnings(comparisons[i])) {
      text += "warning: " + warning + "\n";
    }
  }
  return text;
}

}  // namespace speedup
