#!/usr/bin/env bash
# one_thread_cost.sh [BENCH...]: runs each benchmark (default build/matbench) RUNS times (10
# unless set), taking turns between them so that a noisy machine slows all of them alike, and
# prints for each the median of T(1 thread) / SerialMulti with its range, and the median
# SerialMulti and T(1) times. Both kernels run the same row code, so the ratio should be near 1.
# On a shared machine, `nice -n -20` (as root) keeps other work from skewing single runs.
set -u
runs=${RUNS:-10}
[ $# -gt 0 ] || set -- "$(dirname "$0")/../build/matbench"
for bench in "$@"; do
  [ -x "$bench" ] || { echo "not an executable: $bench" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for run in $(seq "$runs"); do
  for b in $(seq $#); do
    bench=${!b}
    "$bench" </dev/null >"$work/report" || { echo "$bench exited with status $?" >&2; exit 1; }
    # The report is CP1251; only ASCII is matched, byte for byte.
    LC_ALL=C awk '
      /^SerialMulti = / {serial = $3}
      /^ParallelMulti \( 1 / {sub(/.*\) = /, ""); one = $1}
      END {
        if (serial == "" || one == "") exit 1
        if (serial + 0 <= 0) exit 2
        printf "%s %s %.4f\n", serial, one, one / serial
      }' "$work/report" >>"$work/$b" || {
      echo "$bench: run $run has no usable SerialMulti or 1-thread line" >&2
      exit 1
    }
  done
done

# median FILE COLUMN: the median of that column (mean of the middle two for an even count).
median() {
  sort -g -k"$2,$2" "$1" | awk -v c="$2" '{v[NR] = $c} END {
    printf "%.4f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
spread() { sort -g -k"$2,$2" "$1" | awk -v c="$2" 'NR == 1 {lo = $c} {hi = $c} END {
  printf "%.4f..%.4f", lo, hi}'; }

width=9
for bench in "$@"; do [ "${#bench}" -le "$width" ] || width=${#bench}; done
row() { printf "%-${width}s %4s  %-26s  %-26s  %s\n" "$@"; }
row benchmark runs 'T(1)/serial [range]' 'serial s [range]' 'T(1) s'
for b in $(seq $#); do
  row "${!b}" "$runs" "$(median "$work/$b" 3) [$(spread "$work/$b" 3)]" \
    "$(median "$work/$b" 1) [$(spread "$work/$b" 1)]" "$(median "$work/$b" 2)"
done
