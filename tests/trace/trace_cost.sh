#!/usr/bin/env bash
# The cost measurement of the trace tool: trace_cost.sh COST TOOL DUMPER CASE, COST the trace-cost
# program ("none" where the tool is not built).
set -u
cost=$1
tool=$2
dumper=$3
case_name=$4
if [ "$cost" = none ]; then
  echo "SKIP: the trace tool is not built (no LLVM 19 OpenMP)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

case $case_name in
  every_measured_callback_reaches_a_buffer)
    # Catches a cost measured on a path that records nothing (a thread without its buffer counts
    # its events as lost, far cheaper) or on a full buffer, and an interval that leaves out its
    # own median.
    MATBENCH_TRACE_FILE=$work/trace "$cost" "$tool" 40 50 20 >"$work/out" 2>"$work/err" ||
      fail "trace-cost failed: $(cat "$work/err")"
    "$dumper" "$work/trace" >"$work/dump" || fail "the trace it left cannot be read"
    grep -q '^lost_threads 0 lost_events 0$' "$work/dump" || fail "events lost: $(grep lost_ "$work/dump")"
    # kind: the dumper's name; count: the events the rounds' test halves record (40 x 50 each).
    for expected in dispatch:2000 sync_wait_begin:1000 sync_wait_end:1000 implicit_task_begin:1000 \
      implicit_task_end:1000; do
      kind=${expected%%:*}
      count=$(awk -v kind="$kind" '$1 == "event" && $4 == kind' "$work/dump" | wc -l)
      [ "$count" = "${expected#*:}" ] || fail "$count $kind events traced, ${expected#*:} expected"
    done
    [ "$(grep -c ' ns, 95% interval ' "$work/out")" = 4 ] || fail "not every callback measured: $(cat "$work/out")"
    sed -n 's/.*: \([-0-9.]*\) ns, 95% interval \[\([-0-9.]*\), \([-0-9.]*\)\].*/\1 \2 \3/p' \
      "$work/out" | awk '!($2 <= $1 && $1 <= $3) { print; bad = 1 } END { exit bad }' ||
      fail "an interval leaves out its median: $(cat "$work/out")"
    grep -q '^set-up at start: [0-9.]* ms' "$work/out" || fail "no set-up time: $(cat "$work/out")"
    ;;
  bad_counts_are_refused)
    # Catches rounds too few for an interval, or too long for a buffer, measured regardless.
    for arguments in "1 50 20" "40 0 20" "40 20000 20"; do
      # shellcheck disable=SC2086
      MATBENCH_TRACE_FILE=$work/trace "$cost" "$tool" $arguments >"$work/out" 2>"$work/err"
      [ $? = 2 ] || fail "trace-cost $arguments did not exit 2"
      [ "$(wc -l <"$work/err")" = 1 ] || fail "trace-cost $arguments: not one line: $(cat "$work/err")"
    done
    ;;
  *) fail "unknown case $case_name" ;;
esac
