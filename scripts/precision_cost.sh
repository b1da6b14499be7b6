#!/usr/bin/env bash
# What --precision's stopping rule costs the tool over a long session: RUNS runs of a fake
# benchmark that prints a saved report with every time scaled by a random factor in [1, 1.5]
# (so the intervals never settle), timed with --precision (the rule checked after every run)
# and with --runs (never checked), REPEATS times each, alternated; the difference of the medians
# is the rule's cost.
#   scripts/precision_cost.sh [BUILD_FOLDER] [RUNS] [REPEATS]
set -euo pipefail
build=${1:-build}
runs=${2:-1000}
repeats=${3:-3}
tool=$build/matbench-speedup
bench=$build/matbench
[ -x "$tool" ] && [ -x "$bench" ] || {
  echo "build the programs first: cmake --build $build --target programs" >&2
  exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" </dev/null >"$work/report.txt"
cat >"$work/noisy" <<FAKE
#!/bin/sh
exec perl -pe 'BEGIN { srand(\$\$) } s/(= )(\d+\.\d{6})/\$1 . sprintf("%.6f", \$2 * (1 + 0.5 * rand()))/e' "$work/report.txt"
FAKE
chmod +x "$work/noisy"

seconds() { # the wall time of one session, in seconds
  local start end
  start=$(date +%s.%N)
  "$tool" --bench "$work/noisy" "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
median() { printf '%s\n' "$@" | sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

echo "CPU: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(nproc) processors"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
checked=() plain=()
for ((i = 1; i <= repeats; ++i)); do
  checked+=("$(seconds --precision 0.0001% --max-runs "$runs")")
  plain+=("$(seconds --runs "$runs")")
done
echo "with --precision, $runs runs: ${checked[*]} s (median $(median "${checked[@]}") s)"
echo "with --runs $runs:            ${plain[*]} s (median $(median "${plain[@]}") s)"
echo "the rule's cost: $(echo "$(median "${checked[@]}") - $(median "${plain[@]}")" | bc) s"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
