#pragma once

#include <string>
#include <vector>

#include "base/policy.h"
#include "session/session.h"
#include "stats/statistics.h"

// One session against another, row by row: the ratio of times with its interval, a rank test,
// Holm's correction over the rows, and a verdict.
namespace speedup {

enum class Verdict { kNoClearDifference, kFaster, kSlower };

// NEW against BASE for one row: the serial time or one team size.
struct RowComparison {
  int threads = 0;                             // 0 for the serial time
  double base_median = 0.0, new_median = 0.0;  // seconds
  // NEW / BASE time from the Hodges-Lehmann shift of log times, with its interval.
  double ratio = 1.0, ratio_low = 1.0, ratio_high = 1.0;
  double confidence = 0.0;  // that the interval reaches
  double p_value = 1.0;     // two-sided Mann-Whitney U
  double p_holm = 1.0;      // Holm-corrected over every row
  Verdict verdict = Verdict::kNoClearDifference;
};

struct Comparison {
  std::vector<RowComparison> rows;  // serial first, then team sizes 1..MAX_THREADS
  int base_runs = 0, new_runs = 0;  // passed runs on each side
  // Differences between the two contexts that can change the figures, one line each.
  std::vector<std::string> context_differences;
};

// Log of each passed run's time for `threads` (0: the serial time); a zero time counts as half
// a clock tick, which has a logarithm.
std::vector<double> LogTimes(const std::vector<RunReport>& reports, int threads);

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

// NEW against BASE over their passed runs, each with at least one.
Comparison CompareSessions(const Session& base, const Session& candidate);

// True when some row is judged slower with a ratio above 1 + `fraction`.
bool SlowerBeyond(const Comparison& comparison, double fraction);

}  // namespace speedup
