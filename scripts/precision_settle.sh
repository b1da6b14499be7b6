#!/usr/bin/env bash
# How many runs `--precision` needs to settle on this machine: REPEATS sessions of
#   matbench-speedup --bench BUILD/matbench-fine --precision PRECISION
# one after the other, each line giving the runs it took (or that it did not settle within
# --max-runs) and the last widest interval with its team size, the one that held it back; then
# the median and range of the runs. A measurement for a quiet machine (load well below 1): the
# load average before and after is printed, and a loaded machine's figure is not the tool's.
#   scripts/precision_settle.sh [BUILD_FOLDER] [REPEATS] [PRECISION]
set -euo pipefail
build=${1:-build}
repeats=${2:-5}
precision=${3:-1%}
tool=$build/matbench-speedup
bench=$build/matbench-fine
[ -x "$tool" ] && [ -x "$bench" ] || {
  echo "build the programs first: cmake --build $build --target programs" >&2
  exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "CPU: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(nproc) processors"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
counts=()
for ((i = 1; i <= repeats; ++i)); do
  "$tool" --bench "$bench" --precision "$precision" >"$work/out" 2>"$work/err" || true
  head=$(grep -m1 '^precision ±' "$work/out" || echo "no precision line: $(head -1 "$work/err")")
  widest=$(grep -o 'widest interval ±[0-9.]*% at [0-9]* threads\?' "$work/err" | tail -1 || true)
  runs=$(sed -n 's/.*every speedup settled after \([0-9]*\) runs\?.*/\1/p' <<<"$head")
  echo "session $i: $head (last progress: ${widest:-none}; load $(cut -d' ' -f1 /proc/loadavg))"
  [ -n "$runs" ] && counts+=("$runs")
done
if ((${#counts[@]} > 0)); then
  printf '%s\n' "${counts[@]}" | sort -g | awk -v n="$repeats" '{ a[NR] = $1 } END {
    m = (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2
    printf "settled in %d of %d sessions: median %g runs, range %d-%d\n", NR, n, m, a[1], a[NR] }'
else
  echo "settled in none of $repeats sessions"
fi
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
