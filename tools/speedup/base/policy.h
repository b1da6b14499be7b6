#pragma once

#include <cstddef>
#include <cstdint>

// Every threshold the tool judges by, with its reason, in one place; legends and help texts are
// made from these same constants.
namespace speedup {

// --- Runs ---

// Runs of a session when none is asked for.
inline constexpr int DEFAULT_RUNS = 10;

// Upper bound on run counts, so a typo cannot start a session of days.
inline constexpr int MAX_RUNS = 1000;

// Most traced runs that `trace --input` reads: a trace folder of this tool holds at most
// MAX_RUNS. Each run's trace is held whole while the figures are made, about 0.5 MB for the
// benchmark's 20 regions, so reading is bounded by about 0.5 GB.
inline constexpr int MAX_TRACE_RUNS = MAX_RUNS;

// Most runs of a --precision session when --max-runs does not say.
inline constexpr int DEFAULT_MAX_RUNS = 100;

// Cap on one run's output: a report is about 1 KB.
inline constexpr std::size_t MAX_REPORT_BYTES = std::size_t{1} << 20;

// Time limit for the first run, before any run has shown how long one takes.
inline constexpr double FIRST_RUN_TIMEOUT_SECONDS = 120.0;

// Later runs may take this many times the longest run so far, and never less than the floor:
// generous, so only a run that hangs is cut.
inline constexpr double RUN_TIMEOUT_FACTOR = 10.0;
inline constexpr double RUN_TIMEOUT_FLOOR_SECONDS = 60.0;

// --- Inputs ---

// Cap on what one input holds: a saved report is about 1 KB, a session JSON about 1 KB a run.
inline constexpr std::size_t MAX_INPUT_BYTES = std::size_t{64} << 20;

// A line quoted in a message shows at most this many bytes of itself, then "…": one malformed
// line of megabytes must not become a message of megabytes.
inline constexpr std::size_t QUOTED_LINE_BYTES = 200;

// Most runs one input may hold: a hundred times the most a session makes (MAX_RUNS). Each run
// read costs about 300 bytes, so an input's runs stay within about 30 MB however small its
// reports are (a saved report can be a 27-byte line).
inline constexpr std::size_t MAX_INPUT_RUNS = 100000;

// A JSON input nested deeper than this is refused: the files this tool writes nest 5 levels.
inline constexpr std::size_t MAX_JSON_DEPTH = 100;

// Most values a JSON reader keeps outside a streamed list (and within each of its elements):
// a session's context and settings hold a few hundred, and values under keys a reader does not
// know are skipped, never kept. About 100 bytes each, so at most about 10 MB.
inline constexpr std::size_t MAX_JSON_KEPT_VALUES = 100000;

// --- Intervals and marks ---

// Confidence sought for every interval.
inline constexpr double CONFIDENCE = 0.95;

// The fewest runs whose order statistics can give a 95% interval for a median.
inline constexpr int MIN_RUNS_FOR_95 = 6;

// The two clocks' ticks: matbench reads whole milliseconds, matbench-fine whole microseconds.
// Each input carries its own (recorded, else found from its values); no figure assumes one.
inline constexpr double MILLISECOND_TICK = 0.001;
inline constexpr double MICROSECOND_TICK = 0.000001;

// Times below this many ticks of their clock (20 ms, or 20 us) are too short for it to measure
// well: one tick is then more than 5% of the time.
inline constexpr double TOO_SHORT_TICKS = 20.0;

// How far, in ticks, a true time may lie from its reading for an interval to stay honest. A
// reading is the difference of two truncated clock readings at a start phase that the product
// does not know, so it is the true time rounded down or up to a tick, the nearer one the more
// likely: its error has mean zero and the readings' median is the true median rounded to a tick.
// Half a tick each way therefore holds the true median at any run count (scripts/coverage.py
// shows it at 10, 30 and 100 runs, for both clocks), where a whole tick was twice too wide and
// hid every change under about 6% at 50 ms on the millisecond clock.
inline constexpr double CLOCK_MARGIN_TICKS = 0.5;

// A time lies beyond a Tukey fence only when beyond it by more than this many ticks. Times are
// whole ticks and the fences fall on eighths of one (type-7 quartiles are on quarters), so a
// sixteenth decides every fence exactly, whatever the subtraction rounds.
inline constexpr double FENCE_SLACK_TICKS = 1.0 / 16.0;

// Ratios are on no grid: beyond a fence by more than this fraction of the quartiles' size, far
// above rounding (1e-16), far below any ratio the clocks can tell apart (1e-6).
inline constexpr double FENCE_TOLERANCE = 1e-9;

// A speedup interval reaching further than this fraction from its median is marked as noisy.
inline constexpr double NOISY_HALF_WIDTH = 0.05;

// The Amdahl fit's bootstrap resamples medians of whole runs, whose values are the runs' own: it
// cannot claim more than the order-statistic interval of as many runs, so it needs as many.
inline constexpr int AMDAHL_MIN_RUNS_FOR_INTERVAL = MIN_RUNS_FOR_95;

// Fixed, so the same runs give the same interval everywhere; recorded with the fit.
inline constexpr std::uint64_t AMDAHL_SEED = 20261209;
inline constexpr int AMDAHL_RESAMPLES = 1000;
// Sessions of up to this many runs share one table of the resamples' draw counts (a megabyte at
// most), drawn once rather than for every node of a fleet.
inline constexpr std::size_t SHARED_DRAWS_MAX_RUNS = 256;

// Exact rank-sum distributions are used up to this many values in both samples together: above
// it the normal approximation is close, and the counting DP's cost grows as N^4.
inline constexpr std::size_t EXACT_RANK_SUM_MAX = 50;

// Exact permutation p-values for Spearman's rho are used up to this many pairs (9! orderings).
inline constexpr std::size_t EXACT_SPEARMAN_MAX = 9;

// --- Verdicts ---

// Significance level for Holm-corrected p-values, and for drift.
inline constexpr double SIGNIFICANCE = 0.05;

// A difference counts only beyond this fraction, however significant: smaller ones are noise.
inline constexpr double NEGLIGIBLE_CHANGE = 0.02;

// Fewer runs than this on a side leave the tests little power.
inline constexpr int FEW_RUNS = 9;

// --- The machine ---

// A 1-minute load average from this up means other work kept half a processor busy.
inline constexpr double BUSY_LOAD = 0.5;

// Below this many CPU seconds per wall second the teams did not run in parallel: one thread
// alone gives about 1, a 2-processor machine running teams of two about 1.9.
inline constexpr double PARALLEL_CPU_PER_WALL = 1.2;

// --- Pages ---

// A page shows its raw JSON as text up to this size; beyond, the JSON is kept in the page for
// programs alone, as text that long would make the page slow to open.
inline constexpr std::size_t HTML_SHOWN_JSON_BYTES = std::size_t{1} << 20;

// A fleet page keeps each node's figures in its JSON up to this many nodes; beyond, each node
// keeps its runs, context and warnings (from which merge recomputes the figures), so a fleet of
// 10,000 nodes stays a page a browser opens in seconds.
inline constexpr std::size_t HTML_FLEET_FIGURES_NODES = 100;

// A fleet page's table holds this many rows at first and takes as many more each time the reader
// scrolls to its end: the rows live in the page as data, so 10,000 nodes cost no more DOM than
// the rows in view, and a sort or filter reorders data, not elements.
inline constexpr std::size_t HTML_FLEET_ROWS_AT_ONCE = 200;

// A page of this many sections or more lists them, linked, under its headline.
inline constexpr std::size_t HTML_CONTENTS_SECTIONS = 3;

// A page draws at most this many dots per team size and side in its strip of the runs: beyond,
// the runs at evenly spaced ranks (the fastest and slowest among them), so a session of MAX_RUNS
// runs keeps a page of a few hundred KB that still shows each row's spread.
inline constexpr std::size_t HTML_STRIP_DOTS = 100;

// A page's run-order plot draws at most this many runs per line: beyond, every k-th run, which
// keeps a drift over the session in sight.
inline constexpr std::size_t HTML_ORDER_DOTS = 250;

// --- Charts ---

// A name in a chart's key or a page's headline is cut to this many bytes (at a character's
// start), so one long host name cannot push the others out of the key.
inline constexpr std::size_t SHOWN_NAME_BYTES = 40;

// The shaded band of a large fleet's chart spans these quantiles of the nodes' medians.
inline constexpr double FLEET_BAND_LOW = 0.1;
inline constexpr double FLEET_BAND_HIGH = 0.9;

// At most this many nodes get a curve of their own on the fleet's chart.
inline constexpr std::size_t MAX_NODE_CURVES = 8;

}  // namespace speedup
