#!/usr/bin/env bash
# The trace tool's cost per event, measured EPCC-style: trace-cost runs a fixed work per
# iteration as a reference (a static share a thread, no hand-out per iteration) and as the test
# (schedule(dynamic, 1): one dispatch, one traced event, per iteration), alternated REPEATS times
# a process; ROUNDS processes with the tool and ROUNDS without alternate on the same LLVM
# runtime. Each repeat gives the hand-out's cost per iteration of a thread, (test - reference) /
# (ITERATIONS / THREADS); the tool's cost per event is the traced median less the untraced one,
# with a 95% bootstrap interval (percentiles of 2,000 resamples of both sides). The reference
# beside each test takes the machine's drift out of it, so the interval stays honest under load.
#   scripts/trace_cost.sh [BUILD_FOLDER] [ROUNDS]
# Target (a goal, not a test): at most 100 ns per event.
set -euo pipefail
build=${1:-build}
rounds=${2:-6}
iterations=${ITERATIONS:-40000}
repeats=${REPEATS:-10}
delay=${DELAY:-400}
threads=2
cost=$build/tools/trace/trace-cost
tool=$build/tools/trace/libmatbench-trace.so
runtime=/usr/lib/llvm-19/lib/libomp.so.5
[ -x "$cost" ] && [ -f "$tool" ] || {
  echo "build the trace tool first: cmake --build $build --target trace-cost matbench-trace" >&2
  exit 1
}
preload=()
if readelf -d "$cost" | grep -q 'NEEDED.*libgomp'; then preload=(LD_PRELOAD="$runtime"); fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "CPU: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(nproc) processors;" \
  "load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "$iterations iterations of a $delay-step delay at $threads threads, $repeats repeats a" \
  "process, $rounds processes each way"
for ((round = 1; round <= rounds; ++round)); do
  env "${preload[@]}" "$cost" "$iterations" "$repeats" $threads "$delay" >>"$work/plain"
  env "${preload[@]}" OMP_TOOL_LIBRARIES="$tool" MATBENCH_TRACE_FILE="$work/trace" \
    MATBENCH_TRACE_EVENTS_PER_THREAD=1048576 "$cost" "$iterations" "$repeats" $threads \
    "$delay" >>"$work/traced"
done
python3 - "$work/plain" "$work/traced" "$iterations" "$threads" <<'PY'
import random, statistics, sys
per_thread = int(sys.argv[3]) / int(sys.argv[4])

def overheads(path):
    # The hand-out's cost per iteration of a thread, in ns, one value per repeat.
    return [(t - r) / per_thread * 1e9 for r, t in (map(float, l.split()) for l in open(path))]

plain, traced = overheads(sys.argv[1]), overheads(sys.argv[2])
cost = statistics.median(traced) - statistics.median(plain)
rng = random.Random(1)
boot = sorted(statistics.median(rng.choices(traced, k=len(traced))) -
              statistics.median(rng.choices(plain, k=len(plain))) for _ in range(2000))
print("hand-out per iteration: untraced median %.1f ns, traced %.1f ns (%d repeats each)" %
      (statistics.median(plain), statistics.median(traced), len(plain)))
print("cost per event: %.1f ns, 95%% interval [%.1f, %.1f] ns" % (cost, boot[49], boot[1949]))
PY
