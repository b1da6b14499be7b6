#!/usr/bin/env bash
# The trace tool's cost per event and its set-up, measured EPCC-style by trace-cost: a fixed work
# per step is the reference, the same work with one of the tool's callbacks after each step the
# test, alternated over ROUNDS short rounds on the thread's CPU clock; each callback's cost is the
# median of the rounds' differences with its distribution-free 95% interval. The callbacks are
# called directly, as the runtime calls them, so the figures are the tool's own work; one clock
# reading is measured beside them for scale. The set-up at start (every prepared buffer made and
# touched) is timed once a process, over STARTS processes.
#   scripts/trace_cost.sh [BUILD_FOLDER] [ROUNDS] [STARTS]
# Target (a goal, not a test): at most 100 ns of the tool's own per event beyond its clock reading.
set -euo pipefail
build=${1:-build}
rounds=${2:-400}
starts=${3:-7}
events=${EVENTS:-100}
delay=${DELAY:-200}
cost=$build/tools/trace/trace-cost
tool=$build/tools/trace/libmatbench-trace.so
[ -x "$cost" ] && [ -f "$tool" ] || {
  echo "build the trace tool first: cmake --build $build --target trace-cost matbench-trace" >&2
  exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "CPU: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(nproc) processors;" \
  "load $(cut -d' ' -f1-3 /proc/loadavg) before"
echo "Per callback: $rounds rounds of $events steps each way, a step $delay dependent additions"
MATBENCH_TRACE_FILE=$work/trace "$cost" "$tool" "$rounds" "$events" "$delay" | tee "$work/first"
sed -n 's/^set-up at start: \([0-9.]*\) ms.*/\1/p' "$work/first" >"$work/starts"
for ((start = 2; start <= starts; ++start)); do
  MATBENCH_TRACE_FILE=$work/trace "$cost" "$tool" 2 1 1 |
    sed -n 's/^set-up at start: \([0-9.]*\) ms.*/\1/p' >>"$work/starts"
done
python3 - "$work/starts" <<'PY'
import statistics, sys
starts = sorted(float(line) for line in open(sys.argv[1]))
print("set-up at start over %d processes: median %.2f ms, range %.2f to %.2f ms" %
      (len(starts), statistics.median(starts), starts[0], starts[-1]))
PY
echo "load $(cut -d' ' -f1-3 /proc/loadavg) after"
