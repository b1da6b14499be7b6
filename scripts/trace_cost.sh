#!/usr/bin/env bash
# The trace tool's cost, measured: per event, from a loop of ITERATIONS one-row chunks at 2
# threads timed with and without the tool on the same LLVM runtime (each a median of REPEATS
# loops, alternated ROUNDS times); and per region, from a traced session of the benchmark.
#   scripts/trace_cost.sh [BUILD_FOLDER] [ROUNDS]
# Targets (a goal, not a test): at most 100 ns per event; at most 0.5% of the region at 2 threads.
set -euo pipefail
build=${1:-build}
rounds=${2:-7}
iterations=200000
repeats=5
cost=$build/tools/trace/trace-cost
tool=$build/tools/trace/libmatbench-trace.so
runtime=/usr/lib/llvm-19/lib/libomp.so.5
[ -x "$cost" ] && [ -f "$tool" ] || {
  echo "build the trace tool first: cmake --build $build --target trace-cost matbench-trace" >&2
  exit 1
}
preload=()
if readelf -d "$cost" | grep -q 'NEEDED.*libgomp'; then preload=(LD_PRELOAD="$runtime"); fi
trace=$(mktemp)
trap 'rm -f "$trace"' EXIT

echo "CPU: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(nproc) processors"
echo "per event: $iterations one-iteration chunks at 2 threads, median of $repeats loops a run"
plain=() traced=()
for ((round = 1; round <= rounds; ++round)); do
  plain+=("$(env "${preload[@]}" "$cost" $iterations $repeats 2)")
  traced+=("$(env "${preload[@]}" OMP_TOOL_LIBRARIES="$tool" MATBENCH_TRACE_FILE="$trace" \
    MATBENCH_TRACE_EVENTS_PER_THREAD=1048576 "$cost" $iterations $repeats 2)")
done
python3 - "$iterations" "${plain[@]}" -- "${traced[@]}" <<'PY'
import statistics, sys
n = int(sys.argv[1])
rest = sys.argv[2:]
split = rest.index("--")
plain = [float(v) for v in rest[:split]]
traced = [float(v) for v in rest[split + 1:]]
# Paired by round, so the machine's drift falls on both alike.
per_event = sorted((t - p) / n * 1e9 for p, t in zip(plain, traced))
print("untraced loop median %.3f ms, traced %.3f ms" %
      (statistics.median(plain) * 1e3, statistics.median(traced) * 1e3))
print("cost per event: median %.1f ns (spread %.1f to %.1f ns over %d rounds)" %
      (statistics.median(per_event), per_event[0], per_event[-1], len(per_event)))
PY
