#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "session/trace_session.h"
#include "stats/comparison.h"
#include "stats/figures.h"
#include "stats/trace_split.h"

// The figures of a traced session, per team size over the traced runs: the region's time at
// the trace's resolution beside the report's millisecond time of the same runs, where it went,
// how the rows were shared, and speedups from both clocks; and what the tool cost.
namespace speedup {

struct TeamTrace {
  int threads = 0;     // the team size asked for
  int runs = 0;        // traced runs that hold this region
  Estimate region_ms;  // the parallel region, begin to end, in milliseconds
  Estimate report_ms;  // the report's time of the same runs: it also holds clearing the
                       // product and setting the team size, outside the region
  // Shares of the region's time, each a fraction over the runs; their medians need not add up
  // to 1, so `typical` holds the whole split of the run whose region took the median time.
  Estimate fork, tool, core_wait, work, scheduling, imbalance, join;
  RegionSplit typical;
  Efficiencies efficiencies;  // of the typical run
  DominantLoss dominant;      // of the typical run
  // Rows per thread: the median over the runs of each run's least, median and most.
  std::optional<double> rows_min, rows_median, rows_max;
  std::uint32_t idle_threads = 0;   // the most threads that got no row, in any run
  std::uint32_t threads_seen = 0;   // the most threads seen in the team
  std::uint32_t granted_least = 0;  // the fewest threads the runtime gave, 0 when not seen
  std::uint32_t migrations = 0;     // the most threads that changed CPU in their task, any run
  bool oversubscribed = false;      // more threads than the machine's processors
  bool claims_seen = false;         // some run traced the rows' hand-out
  Estimate traced_speedup;          // region(1) / region(threads), within each run
  Estimate report_speedup;          // report T(1) / T(threads), within the same runs
};

struct TraceFigures {
  int traced_runs = 0;            // runs with a usable trace
  std::uint64_t lost_events = 0;  // over every trace
  // The tool's set-up, medians over the traces: before the first region (buffers made ahead),
  // and on threads' begins inside the run; and the buffers made each way in the last trace.
  std::optional<double> prepared_ms, made_on_begin_ms, sampling_ms;
  std::uint32_t buffers_prepared = 0, buffers_made_on_begin = 0;
  std::vector<TeamTrace> teams;  // team sizes 1..MAX_THREADS that some trace holds
  // The traced runs' report times (NEW) against the untraced ones (BASE), row by row; empty
  // rows when either side has no passed run.
  Comparison overhead;
};

// The figures over the session's passed traced runs that have a trace.
TraceFigures ComputeTraceFigures(const TraceSession& session);

// What a traced session's reader must know beside its figures.
struct TraceWarning {
  enum class Kind {
    kLostEvents,         // full buffers lost `count` events: their regions' figures are incomplete
    kTracedRunFailed,    // traced run `run` failed with `detail`
    kRunUntraced,        // traced run `run` passed but has no usable trace, for `detail`
    kUntracedRunFailed,  // untraced run `run` failed with `detail`
  };
  Kind kind = Kind::kLostEvents;
  int run = 0;              // the run it concerns, from 1; 0 for the whole session
  std::uint64_t count = 0;  // events lost
  std::string detail;       // the failure or the reason, as recorded: any bytes
};

// The warnings of a traced session, in order: lost events, then each traced run that failed or
// has no trace, then each untraced run that failed.
std::vector<TraceWarning> TraceWarnings(const TraceSession& session, const TraceFigures& figures);

// The traced run (from 0) whose region of team size `team` took the median time, for a timeline
// or an export of one run; the lower of the middle two for an even count. Empty when no trace
// holds such a region.
std::optional<std::size_t> MedianRun(const TraceSession& session, int team);

// The splits of every region of `run`'s trace by team size: [t - 1] holds team size t, empty
// where the trace has no such region.
std::vector<std::optional<RegionSplit>> SplitsByTeam(const RunTrace& run);

}  // namespace speedup
