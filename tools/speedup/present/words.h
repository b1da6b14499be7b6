#pragma once

#include <string>

#include "session/inputs.h"
#include "session/session.h"
#include "stats/comparison.h"
#include "stats/diagnostics.h"
#include "stats/figures.h"
#include "stats/fleet.h"
#include "stats/trace_figures.h"

// The one place where states become words: warnings, verdicts, problems and stop reasons.
namespace speedup {

// One sentence for a session's warning, without the "warning: " prefix.
std::string WarningText(const Warning& warning);

// One sentence for a traced session's warning, e.g. "traced run 3 is untraced: its trace is
// unusable: ...".
std::string TraceWarningText(const TraceWarning& warning);

// The name of the traced run `run` (from 0) chosen as MedianRun: "run 3 (median region time)".
std::string MedianRunName(std::size_t run);

// "faster", "slower" or "no clear difference".
std::string VerdictText(Verdict verdict);

// A node's verdict with the ratio that decided it, e.g. "slower: serial ×1.324 [1.317, 1.330]".
std::string NodeVerdictText(const NodeRow& node);

// A node verdict's kind alone, as a fleet page's filter names it: "slower", "faster", "like the
// fleet", "no verdict possible", "alone" or "not judged".
std::string NodeVerdictKindText(NodeVerdict::Kind kind);

// The same kind as one word that the fleet page's script filters on: "slower", "faster",
// "like", "alone", "impossible" or "none".
std::string NodeVerdictKey(NodeVerdict::Kind kind);

// Why a node is missing or incomplete, e.g. "interrupted by SIGTERM after 3 runs".
std::string ProblemText(const NodeProblem& problem);

// Warnings of a comparison, in order: sides with few runs, sides read by different clocks, then
// each context difference.
std::vector<std::string> ComparisonWarnings(const Comparison& comparison);

// Warnings of a fleet: nodes read by different clocks, each node whose context differs from the
// first judged node's.
std::vector<std::string> FleetWarnings(const Fleet& fleet);

// The confidence an interval reaches, as labels name it: "95%" once the sought CONFIDENCE is
// reached, else what is, e.g. "75%" or "93.8%"; "no" for none.
std::string ConfidenceLabel(double reached);

// A clock's tick as "1 ms" or "1 µs" (other ticks in seconds, "0.01 s").
std::string TickText(double seconds);

// The time below which the `~` mark calls a time too short for a clock of `tick` s: "20 ms".
std::string TooShortText(double tick);

// "changes under 4.1% cannot be called at these times with a 1 ms clock".
std::string SmallestChangeText(double fraction, double tick);

// The confidence sought, as heads and column names say it: "95%".
std::string ConfidenceText();

// The share of the nodes a fleet chart's band spans, FLEET_BAND_LOW to FLEET_BAND_HIGH: "10-90%".
std::string FleetBandText();

// What the comparison's interval stands for, given each side's clock tick in seconds: "The
// interval is for the true times: ... (BASE 1 ms, NEW 1 µs clock), which widens it".
std::string ClockIntervalText(double base_tick, double new_tick);

// "# BASE is not a parallel result ..." for a side whose runs used about one processor.
std::string NotParallelSideText(const std::string& side);

// "serial", or the team size.
std::string RowLabel(int threads);

// A p-value in three decimals, "<0.001" below that.
std::string PValueText(double p);

// The Amdahl fit's words that every format shows: that it was not made, its head ("Amdahl fit
// T(p) = a + b/p over team sizes 1..N", with a caution under 3 points), and that no serial
// fraction fits.
std::string AmdahlNotMadeText();
std::string AmdahlFitHead(const AmdahlFit& fit);
std::string AmdahlOutsideLawText();

}  // namespace speedup
