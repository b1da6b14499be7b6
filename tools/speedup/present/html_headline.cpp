#include <algorithm>

#include "base/text.h"
#include "present/chart.h"
#include "present/html_parts.h"
#include "present/trace_report.h"
#include "present/words.h"

namespace speedup::html {

std::string Headline(const std::string& answer, const std::vector<HeadFigure>& figures) {
  std::string block = "<div class=\"headline\" id=\"headline\" role=\"doc-abstract\">\n<p>" +
                      Escaped(answer) + "</p>\n<dl>";
  for (const HeadFigure& figure : figures) {
    block +=
        "<div><dt>" + Escaped(figure.label) + "</dt><dd>" + Escaped(figure.value) + "</dd></div>";
  }
  return block + "</dl>\n</div>\n";
}

namespace {

std::string IntervalText(const Estimate& estimate, int decimals) {
  std::string text = FixedText(estimate.median, decimals);
  if (estimate.low && estimate.high) {
    text +=
        " [" + FixedText(estimate.low, decimals) + ", " + FixedText(estimate.high, decimals) + "]";
  }
  return text;
}

// The team with the highest median speedup vs serial; null when none has one.
const TeamFigures* BestTeam(const Figures& figures) {
  const TeamFigures* best = nullptr;
  for (const TeamFigures& team : figures.teams) {
    if (!team.speedup_vs_serial.median) continue;
    if (best == nullptr || *team.speedup_vs_serial.median > *best->speedup_vs_serial.median) {
      best = &team;
    }
  }
  return best;
}

std::string VerdictCounts(const Comparison& comparison) {
  int faster = 0, slower = 0, other = 0;
  for (const RowComparison& row : comparison.rows) {
    faster += row.verdict == Verdict::kFaster ? 1 : 0;
    slower += row.verdict == Verdict::kSlower ? 1 : 0;
    other += row.verdict == Verdict::kFaster || row.verdict == Verdict::kSlower ? 0 : 1;
  }
  return std::to_string(faster) + " faster, " + std::to_string(slower) + " slower, " +
         std::to_string(other) +
         (comparison.verdict_possible ? " no clear difference" : " without a possible verdict");
}

}  // namespace

std::string SessionHeadline(const Session& session, const SessionAnalysis& analysis) {
  const Figures& figures = analysis.figures;
  const TeamFigures* best = BestTeam(figures);
  const std::string processors =
      session.context.processors ? CountText(*session.context.processors, "processor", "processors")
                                 : std::string("processors not recorded");
  std::string answer = "No team size has a speedup: no run passed at every size.";
  std::vector<HeadFigure> shown;
  if (best != nullptr) {
    answer = "The best speedup vs serial is " + IntervalText(best->speedup_vs_serial, 2) + " at " +
             CountText(best->threads, "thread", "threads") + " on " + processors + " (efficiency " +
             FixedText(best->efficiency.median, 2) + ", " +
             ConfidenceLabel(best->speedup_vs_serial.confidence) + " interval from " +
             CountText(figures.runs, "run", "runs") + ").";
    shown.push_back({"best speedup", FixedText(best->speedup_vs_serial.median, 2)});
    shown.push_back({"at", CountText(best->threads, "thread", "threads")});
  }
  // The list below the headline names each failed run as a warning too.
  const std::size_t warned = analysis.warnings.size() + session.runs.size() -
                             static_cast<std::size_t>(std::max(figures.runs, 0));
  if (analysis.use.one_processor || warned > 0) {
    answer +=
        " Read the " + CountText(warned, "warning", "warnings") + " below before trusting it.";
  }
  shown.push_back({"serial", FixedText(figures.serial.median, 3) + " s"});
  shown.push_back({"Amdahl limit", figures.amdahl.limit ? FixedText(figures.amdahl.limit, 1)
                                                        : std::string("none")});
  shown.push_back({"warnings", std::to_string(warned)});
  return Headline(answer, shown);
}

std::string ComparisonHeadline(const Comparison& comparison) {
  std::string answer = "NEW against BASE, row by row: " + VerdictCounts(comparison) + ".";
  const RowComparison* serial = nullptr;
  for (const RowComparison& row : comparison.rows) {
    if (row.threads == 0) serial = &row;
  }
  std::vector<HeadFigure> shown = {{"verdicts", VerdictCounts(comparison)}};
  if (serial != nullptr) {
    shown.push_back({"serial NEW/BASE", FixedText(serial->ratio, 3)});
  }
  shown.push_back({"runs", std::to_string(comparison.new_runs) + " NEW, " +
                               std::to_string(comparison.base_runs) + " BASE"});
  if (comparison.base_not_parallel || comparison.new_not_parallel) {
    answer += " A side is not a parallel result (#).";
  }
  return Headline(answer, shown);
}

std::string StudyHeadline(const std::vector<NamedSession>& sessions,
                          const std::vector<Comparison>& comparisons) {
  std::string answer;
  std::vector<HeadFigure> shown;
  for (std::size_t i = 0; i < comparisons.size() && i + 1 < sessions.size(); ++i) {
    answer += (answer.empty() ? "" : " ") + sessions[i + 1].name + " against " + sessions[0].name +
              ": " + VerdictCounts(comparisons[i]) + ".";
  }
  for (const NamedSession& named : sessions) {
    if (const TeamFigures* best = BestTeam(named.analysis->figures)) {
      shown.push_back({named.name, "best " + FixedText(best->speedup_vs_serial.median, 2) + " at " +
                                       CountText(best->threads, "thread", "threads")});
    }
  }
  return Headline(answer.empty() ? "One placement: nothing to compare." : answer, shown);
}

std::string FleetHeadline(const Fleet& fleet) {
  using Kind = NodeVerdict::Kind;
  int merged = 0, slower = 0, faster = 0;
  const NodeRow* slowest = nullptr;
  for (const NodeRow& node : fleet.nodes) {
    if (!node.input.merged) continue;
    ++merged;
    slower += node.verdict.kind == Kind::kSlower ? 1 : 0;
    faster += node.verdict.kind == Kind::kFaster ? 1 : 0;
    if (node.figures.serial.median &&
        (slowest == nullptr || *node.figures.serial.median > *slowest->figures.serial.median)) {
      slowest = &node;
    }
  }
  const std::string answer = std::to_string(merged) + " of " + std::to_string(fleet.nodes.size()) +
                             " nodes merged: " + CountText(slower, "node is", "nodes are") +
                             " slower than the fleet, " +
                             CountText(faster, "node is", "nodes are") + " faster" +
                             (slower + faster > 0 ? "; they are listed first." : ".");
  std::vector<HeadFigure> shown = {{"slower", std::to_string(slower)},
                                   {"faster", std::to_string(faster)},
                                   {"serial median", FixedText(fleet.serial_median, 3) + " s"},
                                   {"speedup median", FixedText(fleet.speedup_median, 2)}};
  if (slowest != nullptr) {
    shown.push_back({"slowest serial", ShortName(slowest->input.node) + ", " +
                                           FixedText(slowest->figures.serial.median, 3) + " s"});
  }
  return Headline(answer, shown);
}

std::string TraceHeadline(const TraceSession& session, const TraceFigures& figures) {
  const TeamTrace* best = nullptr;
  for (const TeamTrace& team : figures.teams) {
    if (team.traced_speedup.median &&
        (best == nullptr || *team.traced_speedup.median > *best->traced_speedup.median)) {
      best = &team;
    }
  }
  std::vector<HeadFigure> shown = {{"traced runs", std::to_string(figures.traced_runs) + " of " +
                                                       std::to_string(session.traced.runs.size())}};
  if (figures.teams.empty()) {
    return Headline("No parallel region was traced: the runs left no usable trace.", shown);
  }
  std::string answer = "No team size has a traced speedup: the one-thread region is missing.";
  if (best != nullptr) {
    answer = "The best traced speedup over one thread is " + IntervalText(best->traced_speedup, 2) +
             " at " + CountText(best->threads, "thread", "threads") + ", parallel efficiency " +
             PercentText(best->efficiencies.parallel) + ".";
    shown.push_back({"best traced speedup", FixedText(best->traced_speedup.median, 2)});
    shown.push_back({"at", CountText(best->threads, "thread", "threads")});
  }
  const TeamTrace& largest = figures.teams.back();
  const std::string team = CountText(largest.threads, "thread", "threads");
  if (largest.dominant.state == Loss::kNone) {
    answer += " At " + team + " no time was lost.";
  } else {
    answer += " At " + team + ", " + PercentText(largest.dominant.share) +
              " of the time not spent working went to " + LossName(largest.dominant.state) + ".";
    shown.push_back({"most lost at " + team, LossName(largest.dominant.state)});
  }
  if (figures.lost_events > 0)
    shown.push_back({"events lost", std::to_string(figures.lost_events)});
  return Headline(answer, shown);
}

}  // namespace speedup::html
