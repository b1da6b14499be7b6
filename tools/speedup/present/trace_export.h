#pragma once

#include <string>

#include "session/trace.h"

// A traced run in the two formats that the field's viewers open: Chrome's trace-event JSON
// (Perfetto, chrome://tracing) and OTF2 (Vampir, Score-P's tools, otf2-print). Both show the same
// spans, one lane per thread slot of the trace tool:
//   - each parallel region, on the initial thread (slot 0);
//   - each thread's implicit task and its share of the loop, where both their ends were seen;
//   - each row claim, from the claim until the thread's next claim, else its loop's end (else its
//     implicit task's end, else it lasts no time);
//   - each wait at a barrier, cut to its region, and the rest of it as idle between regions.
// A span whose end comes before its begin lasts no time. Nothing is averaged or judged here.
namespace speedup {

// The run as one JSON object: "traceEvents" (metadata events that name the process "matbench"
// (pid 1), each thread "thread N" (tid N, the slot) and give the runtime as a process label; then
// one complete event, "ph":"X", per span), "displayTimeUnit":"ns" and "otherData" with the
// runtime's name, library and OpenMP version. "ts" and "dur" are microseconds with the fraction
// kept (nanoseconds are the third decimal); "ts" counts from the first region's begin. Names and
// categories: "team of N" ("region", N the team size asked for), "implicit task" ("task"), "loop"
// ("loop"), "row K" ("row", args "row" K and "rows" the chunk's length), "barrier wait" ("wait"),
// "idle between regions" ("idle"). Where the trace read the threads' CPU clocks, a second process
// (pid 2, "matbench: on a core or waiting") has a lane per thread with, for each interval between
// two readings (the region's begin to the task's, then the task), "waiting for a core" ("core
// wait", args "wait_ms") and then "on CPU N" or "on a core" ("cpu", args "cpu_ms", the CPUs at
// the interval's ends and "migrated"): their lengths are the interval's totals, their order
// within it is not traced; a slice that would last no time is left out. Text from the trace file
// is made valid UTF-8 first, so the result is always valid JSON. One event a line.
std::string ChromeTraceJson(const RunTrace& trace);

// Writes the run as an OTF2 archive: the anchor file `archive_path`/`archive_name`.otf2 beside the
// folder `archive_path`/`archive_name` of definitions and events. One location ("thread N", N the
// slot) per thread slot, all in the location group "matbench"; the spans are the regions
// "parallel region", "implicit task", "loop", "row" and "barrier wait", each as an Enter and a
// Leave, in time order on each location and nested (a span that outlasts the one around it is cut
// at that one's end); a row's Enter carries the attribute "row", its index. OpenMP's thread
// model as Score-P records it: the initial thread's ThreadFork (the team size asked for) and
// ThreadJoin at each region's ends, and each thread's ThreadTeamBegin and ThreadTeamEnd with its
// implicit task (where both its ends were seen), the team a communicator "team of N" over the
// group "OpenMP threads" of every location. Timestamps are the trace's monotonic clock in
// nanoseconds (timer resolution 1e9), the global offset the earliest time written and the length
// up to the last; every location has a clock offset of 0 at both ends (all threads read one
// clock). The runtime is the archive's description. Returns "" when the archive is whole, else what
// failed, in a few words (a folder that cannot be written, an archive that is already there). While
// it runs, OTF2's own error messages are kept for that answer instead of being printed; not for
// concurrent use.
std::string WriteOtf2(const RunTrace& trace, const std::string& archive_path,
                      const std::string& archive_name);

}  // namespace speedup
