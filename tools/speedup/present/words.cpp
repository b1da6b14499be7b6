#include "present/words.h"

#include <cstdio>
#include <variant>

#include "base/policy.h"
#include "base/text.h"
#include "present/context_lines.h"

namespace speedup {

namespace {

// One sentence per kind of session warning, for WarningText alone.
std::string Sentence(const TeamsMayShrink& warning) {
  return Printable(warning.setting) +
         " lets the runtime run smaller teams than the report's team sizes say";
}

std::string Sentence(const BusyMachine& warning) {
  return "load average " + LoadText(warning.load) +
         " over the minute before the runs: other work may have slowed them";
}

std::string Sentence(const PartialAllocation& warning) {
  return "the Slurm task received " + CountText(warning.received, "processor", "processors") +
         " of " +
         (warning.whole_is_node
              ? "the node's " + std::to_string(warning.whole)
              : "the " + std::to_string(warning.whole) + " allocated on the node") +
         ": speedups beyond " + std::to_string(warning.received) +
         " threads describe the allocation, not the node";
}

std::string Sentence(const SerialDrift& warning) {
  char text[200];
  std::snprintf(text, sizeof text,
                "the serial time drifted during the session (Spearman rho %.2f against the "
                "run number, p %.3f): the machine got %s",
                warning.rho, warning.p_value, warning.rho > 0 ? "slower" : "faster");
  return text;
}

std::string Sentence(const DriftNotJudged& warning) {
  return "drift cannot be judged from " + CountText(warning.runs, "run", "runs") +
         ": no order of so few gives p below " + Formatted("%g", SIGNIFICANCE) + "; " +
         std::to_string(warning.runs_to_judge) + " runs can show it";
}

std::string Sentence(const PlacementUnchecked& warning) {
  return "could not check OMP_PROC_BIND=" + Printable(warning.placement) +
         ": the runtime showed no thread affinity";
}

std::string Sentence(const PlacementNotHonoured& warning) {
  return "the runtime did not honour OMP_PROC_BIND=" + Printable(warning.placement) +
         " with OMP_PLACES=cores: its threads were not bound as asked";
}

std::string Sentence(const OneProcessor& warning) {
  return "the runs used about one processor (" + FixedText(warning.cpu_per_wall, 2) +
         " s of CPU per second of wall time) although teams of several threads were asked "
         "for: no speedup here is a parallel result";
}

std::string Sentence(const TickFound& warning) {
  return "the clock's tick is not recorded: " + TickText(warning.tick_seconds) +
         ", found from the times (" +
         (warning.tick_seconds == MILLISECOND_TICK ? "every one a whole millisecond"
                                                   : "not every one a whole millisecond") +
         ")";
}

std::string Sentence(const AboveProcessors& warning) {
  return "the speedup at " + CountText(warning.threads, "thread", "threads") + ", " +
         FixedText(warning.speedup, 2) + ", lies with its whole interval above the " +
         CountText(warning.processors, "processor", "processors") + " it could use" +
         (warning.teams > 1 ? " (so do " + std::to_string(warning.teams - 1) + " more team sizes)"
                            : std::string()) +
         ": the serial baseline was slowed (load, caches), so the figure is not a parallel "
         "result";
}

}  // namespace

std::string WarningText(const Warning& warning) {
  return std::visit([](const auto& kind) { return Sentence(kind); }, warning);
}

std::string TickText(double seconds) {
  if (seconds == MILLISECOND_TICK) return "1 ms";
  if (seconds == MICROSECOND_TICK) return "1 µs";
  return Formatted("%g s", seconds);
}

std::string TooShortText(double tick) {
  if (tick == MILLISECOND_TICK) return Formatted("%g ms", TOO_SHORT_TICKS);
  if (tick == MICROSECOND_TICK) return Formatted("%g µs", TOO_SHORT_TICKS);
  return Formatted("%g s", TOO_SHORT_TICKS * tick);
}

std::string SmallestChangeText(double fraction, double tick) {
  return "changes under " + Formatted("%.1f", fraction * 100.0) +
         "% cannot be called at these times with a " + TickText(tick) + " clock";
}

std::string TraceWarningText(const TraceWarning& warning) {
  using Kind = TraceWarning::Kind;
  const std::string run = std::to_string(warning.run);
  switch (warning.kind) {
    case Kind::kLostEvents:
      return "events lost in full buffers: " + std::to_string(warning.count) +
             " (their regions' figures are incomplete)";
    case Kind::kTracedRunFailed:
      return "traced run " + run + " failed: " + Printable(warning.detail);
    case Kind::kRunUntraced:
      return "traced run " + run + " is untraced: " + Printable(warning.detail);
    case Kind::kUntracedRunFailed:
      break;
  }
  return "untraced run " + run + " failed: " + Printable(warning.detail);
}

std::string MedianRunName(std::size_t run) {
  return "run " + std::to_string(run + 1) + " (median region time)";
}

std::string VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kFaster:
      return "faster";
    case Verdict::kSlower:
      return "slower";
    case Verdict::kNotPossible:
      return "no verdict possible";
    case Verdict::kNoClearDifference:
      break;
  }
  return "no clear difference";
}

std::string NodeVerdictText(const NodeRow& node) {
  using Kind = NodeVerdict::Kind;
  switch (node.verdict.kind) {
    case Kind::kNotJudged:
      return "";
    case Kind::kAlone:
      return "alone: nothing to judge it against";
    case Kind::kNotPossible:
      return "no verdict possible: too few runs here or in the rest";
    case Kind::kLikeFleet:
      return "like the fleet";
    case Kind::kSlower:
    case Kind::kFaster:
      break;
  }
  const bool serial = node.verdict.basis == NodeVerdict::Basis::kSerial;
  const RowComparison& row = serial ? node.serial : node.speedup;
  char ratio[96];
  std::snprintf(ratio, sizeof ratio, "×%.3f [%.3f, %.3f]", row.ratio, row.ratio_low,
                row.ratio_high);
  return std::string(node.verdict.kind == Kind::kSlower ? "slower: " : "faster: ") +
         (serial ? "serial " : "speedup ") + ratio;
}

namespace {

// A verdict's kind as the fleet page's filter shows it and as its script keys it.
struct VerdictNames {
  const char* text;
  const char* key;
};

VerdictNames NamesOf(NodeVerdict::Kind kind) {
  using Kind = NodeVerdict::Kind;
  switch (kind) {
    case Kind::kSlower:
      return {"slower", "slower"};
    case Kind::kFaster:
      return {"faster", "faster"};
    case Kind::kLikeFleet:
      return {"like the fleet", "like"};
    case Kind::kAlone:
      return {"alone", "alone"};
    case Kind::kNotPossible:
      return {"no verdict possible", "impossible"};
    case Kind::kNotJudged:
      break;
  }
  return {"not judged", "none"};
}

}  // namespace

std::string NodeVerdictKindText(NodeVerdict::Kind kind) { return NamesOf(kind).text; }

std::string NodeVerdictKey(NodeVerdict::Kind kind) { return NamesOf(kind).key; }

std::string ProblemText(const NodeProblem& problem) {
  using Kind = NodeProblem::Kind;
  switch (problem.kind) {
    case Kind::kUnreadable:
      return "could not be read";
    case Kind::kEmpty:
      return "empty: the session ended before writing anything";
    case Kind::kCutOff:
      return "not valid JSON: the session was cut off while writing";
    case Kind::kMalformed:
    case Kind::kStopped:
      return problem.detail;
    case Kind::kInterrupted:
      return "interrupted by " + problem.detail + " after " + std::to_string(problem.runs) +
             " runs";
    case Kind::kNoRunPassed:
      return "no run passed";
    case Kind::kRunFailed:
      return "a run failed: " + problem.detail;
  }
  return problem.detail;
}

std::vector<std::string> ComparisonWarnings(const Comparison& comparison) {
  std::vector<std::string> warnings;
  if (!comparison.verdict_possible) {
    warnings.push_back(
        "no verdict is possible: with " + std::to_string(comparison.base_runs) + " and " +
        std::to_string(comparison.new_runs) + " runs the smallest Holm p over the " +
        std::to_string(comparison.rows.size()) + " rows is " +
        Formatted("%.3f", comparison.smallest_holm_p) + ", never below " +
        Formatted("%g", SIGNIFICANCE) + ", even for a large difference; " +
        std::to_string(comparison.runs_for_verdict) + " runs a side would allow one");
  }
  for (const auto& [side, runs] :
       {std::pair{"BASE", comparison.base_runs}, std::pair{"NEW", comparison.new_runs}}) {
    if (comparison.verdict_possible && runs < FEW_RUNS) {
      warnings.push_back(std::string(side) + " has only " + std::to_string(runs) +
                         " passed runs: with fewer than " + std::to_string(FEW_RUNS) +
                         " a real difference may go unseen");
    }
  }
  if (comparison.base_tick.seconds != comparison.new_tick.seconds) {
    warnings.push_back("the sides were read by different clocks: BASE " +
                       TickText(comparison.base_tick.seconds) + ", NEW " +
                       TickText(comparison.new_tick.seconds) +
                       "; each side's interval takes its own tick");
  }
  for (const std::string& difference : comparison.context_differences) {
    warnings.push_back("the sessions ran under different conditions: " + difference);
  }
  for (const auto& [side, carried] :
       {std::pair{"BASE", &comparison.base_warnings}, std::pair{"NEW", &comparison.new_warnings}}) {
    for (const Warning& warning : *carried) {
      warnings.push_back(std::string(side) + ": " + WarningText(warning));
    }
  }
  return warnings;
}

std::vector<std::string> FleetWarnings(const Fleet& fleet) {
  std::vector<std::string> warnings;
  if (fleet.ticks_differ) {
    warnings.push_back(
        "the nodes were read by different clocks: every node is judged with the "
        "coarsest, " +
        TickText(fleet.tick.seconds));
  }
  for (const FleetDifference& difference : fleet.differences) {
    warnings.push_back("the fleet is not alike: " + Printable(difference.node) + " against " +
                       Printable(difference.against) + ": " + difference.difference);
  }
  return warnings;
}

std::string ConfidenceLabel(double reached) {
  if (!(reached > 0.0)) return "no";
  if (reached >= CONFIDENCE) return ConfidenceText();
  return Formatted("%.3g%%", reached * 100.0);
}

std::string ConfidenceText() { return Formatted("%g%%", CONFIDENCE * 100.0); }

std::string FleetBandText() {
  std::string text = Formatted("%g", FLEET_BAND_LOW * 100.0);
  text += '-';
  text += Formatted("%g%%", FLEET_BAND_HIGH * 100.0);
  return text;
}

std::string ClockIntervalText(double base_tick, double new_tick) {
  return "The interval is for the true times: each reading stands for a time within " +
         (CLOCK_MARGIN_TICKS == 0.5 ? std::string("half a tick")
                                    : Formatted("%g ticks", CLOCK_MARGIN_TICKS)) +
         " of it (BASE " + TickText(base_tick) + ", NEW " + TickText(new_tick) +
         " clock), which widens it";
}

std::string NotParallelSideText(const std::string& side) {
  return "# " + side +
         " is not a parallel result (its runs used about one processor): verdicts on team sizes "
         "compare no parallel speed";
}

std::string RowLabel(int threads) { return threads == 0 ? "serial" : std::to_string(threads); }

std::string PValueText(double p) { return p < 0.001 ? "<0.001" : Formatted("%.3f", p); }

std::string AmdahlNotMadeText() {
  return "Amdahl fit: not made (the processor count is not recorded)";
}

std::string AmdahlFitHead(const AmdahlFit& fit) {
  return "Amdahl fit T(p) = a + b/p over team sizes 1.." + std::to_string(fit.team_sizes) +
         (fit.team_sizes < 3
              ? " (it rests on " + CountText(fit.team_sizes, "point", "points") + " only)"
              : "");
}

std::string AmdahlOutsideLawText() {
  return "no serial fraction in [0, 1] fits the medians: Amdahl's law does not describe these "
         "runs";
}

}  // namespace speedup
