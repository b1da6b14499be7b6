#pragma once

#include <vector>

#include "session/session.h"
#include "stats/comparison.h"
#include "stats/figures.h"

// The runs one by one, as a page draws them: each row's times over a reference time (the
// spread of the runs per team size), and two rows in the order they ran (drift), thinned to
// bounds in base/policy.h so that a session of MAX_RUNS runs keeps a light page.
namespace speedup {

// One row's runs: each passed run's time over the row's reference, ascending.
struct RowDots {
  int threads = 0;             // 0 for the serial time
  std::vector<double> values;  // at most HTML_STRIP_DOTS, at evenly spaced ranks when thinned
  int runs = 0;                // the values before thinning
};

// One row's runs in the order they ran: time over the row's median time.
struct RunOrder {
  int threads = 0;             // 0 for the serial time
  std::vector<int> run;        // each shown run's number in the session, from 1 (failed ones too)
  std::vector<double> values;  // beside `run`
  int runs = 0;                // passed runs before thinning
  int step = 1;                // every step-th passed run is shown
};

struct RunDots {
  std::vector<RowDots> rows;     // serial first, then team sizes 1..MAX_THREADS
  std::vector<RowDots> added;    // a comparison's NEW side, row for row; empty for one session
  double low = 1.0, high = 1.0;  // the least and greatest value of rows and added
  std::vector<RunOrder> order;   // one session's serial row and its fastest team's
  double order_low = 1.0, order_high = 1.0;  // the same over `order`
  int order_runs = 0;  // the session's runs, failed ones too: the last run's number
};

// The sorted `values` (not empty) at `limit` (at least 2) evenly spaced ranks, the first and
// last among them; all of them when there are no more than `limit`.
std::vector<double> AtEvenRanks(const std::vector<double>& sorted, std::size_t limit);

// One session's dots: each row over its median time in `figures`; the run order of the serial
// row and of the team size with the greatest median speedup vs serial.
RunDots SessionRunDots(const Session& session, const Figures& figures);

// Both sides of `comparison` row by row, each over BASE's median time of the row, so that NEW's
// dots lie where NEW's times stand against BASE's.
RunDots ComparedRunDots(const Session& base, const Session& added, const Comparison& comparison);

}  // namespace speedup
