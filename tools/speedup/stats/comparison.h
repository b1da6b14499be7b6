#pragma once

#include <string>
#include <vector>

#include "base/policy.h"
#include "session/clock_tick.h"
#include "session/session.h"
#include "stats/diagnostics.h"
#include "stats/pooled_rank_tests.h"

// One session against another, row by row: the ratio of times with its interval, a rank test,
// Holm's correction over the rows, and a verdict.
namespace speedup {

// kNotPossible: too few runs for any row's Holm p to come below SIGNIFICANCE, whatever the times.
enum class Verdict { kNoClearDifference, kFaster, kSlower, kNotPossible };

// NEW against BASE for one row: the serial time or one team size.
struct RowComparison {
  int threads = 0;                             // 0 for the serial time
  double base_median = 0.0, new_median = 0.0;  // seconds
  // NEW / BASE time from the Hodges-Lehmann shift of log times, with its interval for the true
  // times: the test's own interval widened by what the clock's margin on each reading can hide.
  double ratio = 1.0, ratio_low = 1.0, ratio_high = 1.0;
  // The smallest change (a fraction, 0.041 for 4.1%) that an interval of readings as close as
  // ticks allow could call at these times: NEGLIGIBLE_CHANGE beyond both sides' clock margins.
  double smallest_change = 0.0;
  double confidence = 0.0;  // that the interval reaches
  double p_value = 1.0;     // two-sided Mann-Whitney U
  double p_holm = 1.0;      // Holm-corrected over every row
  Verdict verdict = Verdict::kNoClearDifference;
};

struct Comparison {
  std::vector<RowComparison> rows;  // serial first, then team sizes 1..MAX_THREADS
  int base_runs = 0, new_runs = 0;  // passed runs on each side
  double confidence = 0.0;          // the least that any row's interval reaches
  // The smallest Holm p these run counts can give over the rows (every row as far apart as
  // ranks go); at or above SIGNIFICANCE no verdict is possible, and `runs_for_verdict` runs a
  // side are the fewest that would allow one.
  double smallest_holm_p = 0.0;
  bool verdict_possible = true;
  int runs_for_verdict = 0;
  // The greatest smallest_change over the rows: changes below it cannot be called in every row.
  double smallest_change = 0.0;
  ClockTick base_tick, new_tick;  // each side's clock; a difference is warned of
  // Differences between the two contexts that can change the figures, one line each.
  std::vector<std::string> context_differences;
  // Each side's own warnings, carried beside the verdicts.
  std::vector<Warning> base_warnings, new_warnings;
  bool base_not_parallel = false, new_not_parallel = false;  // flagged "not a parallel result"
};

// How far, in log units, the true values of a sample may lie below and above its readings.
struct ClockMargin {
  double below = 0.0, above = 0.0;
};

// For times whose least reading is `least` seconds on a clock of `tick` seconds: TickMargin each
// way; unbounded below when the margin can hide the whole time.
ClockMargin TimeMargin(double least, double tick);

// Widens a row's ratio interval by what the clock can hide on each side: NEW's true values may
// lie lower and BASE's higher, and the other way round. Sets the row's smallest_change too.
void WidenForClock(RowComparison& row, const ClockMargin& base, const ClockMargin& candidate);

// Log of a time of `seconds`; a zero time counts as half a clock tick of `tick` seconds, which
// has a logarithm.
double LogTime(double seconds, double tick);

// LogTime of each passed run's time for `threads` (0: the serial time).
std::vector<double> LogTimes(const std::vector<RunReport>& reports, int threads, double tick);

// NEW against BASE from samples of log values: medians (exponentiated back), the Hodges-Lehmann
// ratio with its interval and the Mann-Whitney p; p_holm and verdict are left for the caller.
// Either sample empty: a row of ratio 1 and p 1.
RowComparison CompareLogs(const std::vector<double>& base, const std::vector<double>& candidate);

// CompareLogs(rest, candidate) where rest is `pool` less one copy of each of candidate's values
// (all in the pool), found without listing, ranking or pairing the rest: a fleet's node against
// the others in O(|candidate| log |pool|) steps.
RowComparison CompareLogsAgainstRest(const stats::Pool& pool, const std::vector<double>& candidate);

// Faster or slower only when the corrected p is below SIGNIFICANCE and the whole interval lies
// beyond NEGLIGIBLE_CHANGE; otherwise no clear difference.
Verdict Judge(double p_holm, double ratio_low, double ratio_high);

// Sets each row's p_holm, Holm-corrected over `rows`, and its verdict; `inverted` judges a
// ratio where higher is better (a speedup), so its verdict reads the other way round.
void JudgeRows(std::vector<RowComparison*> rows, bool inverted = false);

// NEW against BASE over their passed runs, each with at least one, with each side's warnings.
Comparison CompareSessions(const Session& base, const Session& candidate);

// The fewest runs a side that let the smallest Holm p over `rows` rows come below SIGNIFICANCE.
int RunsForVerdict(std::size_t rows);

// True when some row is judged slower with a ratio above 1 + `fraction`.
bool SlowerBeyond(const Comparison& comparison, double fraction);

}  // namespace speedup
