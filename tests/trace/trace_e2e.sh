#!/usr/bin/env bash
# Traced runs of the real benchmark: trace_e2e.sh PROGRAM TOOL DUMPER RUNTIME CASE [SHIM]
# TOOL is libmatbench-trace.so, DUMPER matbench-trace-dump, RUNTIME LLVM 19's libomp.so.5; "none"
# where the build found no LLVM 19 OpenMP. A benchmark built against GCC's libgomp, which has no
# tools interface, runs on LLVM's runtime preloaded, through its GNU entry points. SHIM is the
# second recorder of region times (region_shim.cpp), for the case that holds the trace to it.
set -u
program=$1
tool=$2
dumper=$3
runtime=$4
case_name=$5

if [ "$tool" = none ] || [ "$runtime" = none ] || [ ! -e "$runtime" ]; then
  echo "SKIP: LLVM 19's OpenMP runtime is not installed (Debian: libomp-19-dev); nothing to trace with"
  exit 77
fi

[ -f "$tool" ] && [ -x "$dumper" ] || {
  echo "FAIL: the trace tool or its dumper is not built: $tool, $dumper" >&2
  exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

preload=()
if readelf -d "$program" | grep -q 'NEEDED.*libgomp'; then
  preload=(LD_PRELOAD="$runtime")
fi

# run_traced TRACE_PATH OUT ERR [VAR=VALUE...]: the benchmark under the tool; its exit status.
run_traced() {
  local trace=$1 out=$2 err=$3
  shift 3
  env "${preload[@]}" OMP_TOOL_LIBRARIES="$tool" MATBENCH_TRACE_FILE="$trace" "$@" \
    "$program" </dev/null >"$out" 2>"$err"
}

# The report's structure: every seconds figure written as S.
structure() {
  sed -E 's/= ( ?)[0-9]+\.[0-9]+ /= \1S /g' "$1"
}

untraced_run() {
  "$program" </dev/null >"$work/plain.out" 2>"$work/plain.err"
  plain_status=$?
  structure "$work/plain.out" >"$work/plain.structure"
}

# The report's structure from the stand-in, which prints the benchmark's exact report at once:
# for the cases where the traced report is held to the format, not to an untraced run.
report_format() {
  "$(dirname "$0")/../stand_in_benchmark" >"$work/plain.out" || fail "the stand-in benchmark failed"
  plain_status=0
  structure "$work/plain.out" >"$work/plain.structure"
}

expect_same_report() {
  local out=$1 status=$2
  [ "$status" -eq "$plain_status" ] || fail "exit status $status, untraced $plain_status"
  structure "$out" >"$work/traced.structure"
  cmp -s "$work/plain.structure" "$work/traced.structure" || {
    diff <(od -c "$work/plain.structure") <(od -c "$work/traced.structure") | head -20 >&2
    fail "the traced report differs from the untraced one"
  }
}

dump() {
  "$dumper" "$1" >"$2" || fail "the trace does not read back"
}

case $case_name in
traced_report_matches_the_untraced_one)
  untraced_run
  run_traced "$work/trace.bin" "$work/out" "$work/err"
  expect_same_report "$work/out" $?
  [ ! -s "$work/err" ] || fail "standard error is not empty: $(head -c 300 "$work/err")"
  [ -s "$work/trace.bin" ] || fail "no trace was written"
  ;;
every_region_and_every_row_is_traced)
  run_traced "$work/trace.bin" "$work/out" "$work/err" || fail "the traced benchmark failed"
  dump "$work/trace.bin" "$work/dump"
  grep -q '^runtime LLVM OMP' "$work/dump" || fail "the trace names no LLVM runtime"
  grep -q '^runtime_library .*llvm-19' "$work/dump" || fail "the runtime is not LLVM 19's"
  grep -qx 'optional_events 7' "$work/dump" || fail "the runtime refused loop, row or wait events"
  # 20 regions, team sizes 1..20 in order; each team's threads all begin their task and their
  # loop, and in teams of 2 or more wait at the closing barrier; 600 dispatched rows per team of
  # 2 or more, each row exactly once; a team of one has either one dispatch covering every row,
  # or none (run serialised); nothing lost.
  awk '
    function bad(msg) { print "FAIL: " msg > "/dev/stderr"; failed = 1 }
    /^regions / { regions = $2 }
    /^lost_threads / { if ($2 != 0 || $4 != 0) bad("lost threads or events: " $0) }
    /^thread / { if ($8 != 0) bad("thread " $2 " lost " $8 " events") }
    $1 == "event" && $4 == "parallel_begin" { begun++; requested[$5] = $6 }
    $1 == "event" && $4 == "parallel_end" { ended[$5]++ }
    $1 == "event" && $4 == "implicit_task_begin" && $5 > 0 { tasks[$5]++; team[$5] = $7 }
    $1 == "event" && $4 ~ /^(work|sync_wait)_(begin|end)$/ { seen[$4, $5]++ }
    $1 == "event" && $4 == "dispatch" {
      dispatches[$5]++
      for (row = $6; row < $6 + $7; row++) claimed[$5, row]++
    }
    END {
      if (regions != 20 || begun != 20) bad("regions " regions ", parallel begins " begun)
      for (r = 1; r <= 20; r++) {
        if (requested[r] != r) bad("region " r " asked for " requested[r] " threads")
        if (ended[r] != 1) bad("region " r " ended " ended[r] + 0 " times")
        if (tasks[r] != r || team[r] != r) bad("region " r ": " tasks[r] + 0 " tasks, team " team[r])
        if (seen["work_begin", r] != r || seen["work_end", r] != r)
          bad("region " r ": " seen["work_begin", r] + 0 " loops begun, " seen["work_end", r] + 0 " ended")
        if (r >= 2 && (seen["sync_wait_begin", r] != r || seen["sync_wait_end", r] != r))
          bad("region " r ": " seen["sync_wait_begin", r] + 0 " barrier waits begun, " seen["sync_wait_end", r] + 0 " ended")
        if (r >= 2 && dispatches[r] != 600) bad("region " r ": " dispatches[r] + 0 " dispatches")
        if (r == 1 && dispatches[r] == 0) continue
        for (row = 0; row < 600; row++)
          if (claimed[r, row] != 1) { bad("region " r " row " row " claimed " claimed[r, row] + 0 " times"); break }
      }
      exit failed
    }' "$work/dump" || fail "the trace misses or repeats events"
  ;;
full_buffers_count_their_lost_events)
  # Every event is either in the file or counted lost: the same runs with ample and with tiny
  # buffers account for the same number of events.
  run_traced "$work/whole.bin" "$work/out" "$work/err" || fail "the traced benchmark failed"
  run_traced "$work/small.bin" "$work/out" "$work/err" MATBENCH_TRACE_EVENTS_PER_THREAD=16 ||
    fail "the traced benchmark with small buffers failed"
  dump "$work/whole.bin" "$work/whole"
  dump "$work/small.bin" "$work/small"
  accounted() { awk '/^thread / { n += $6 + $8 } END { print n }' "$1"; }
  lost() { awk '/^thread / { n += $8 } END { print n }' "$1"; }
  [ "$(lost "$work/whole")" -eq 0 ] || fail "events were lost with ample buffers"
  [ "$(lost "$work/small")" -gt 0 ] || fail "no event was counted lost in buffers of 16"
  awk '/^thread / && ($6 > 16) { exit 1 }' "$work/small" || fail "a buffer holds more than 16 events"
  [ "$(accounted "$work/whole")" -eq "$(accounted "$work/small")" ] ||
    fail "$(accounted "$work/small") events accounted with small buffers, $(accounted "$work/whole") in the whole trace"
  ;;
unwritable_trace_leaves_report_and_status_alone)
  report_format
  for trace in /dev/full /nonexistent/trace.bin "$work"; do
    run_traced "$trace" "$work/out" "$work/err"
    expect_same_report "$work/out" $?
    [ "$(wc -l <"$work/err")" -eq 1 ] && grep -qF "$trace" "$work/err" ||
      fail "for $trace, expected one line naming it on standard error, got: $(head -c 300 "$work/err")"
  done
  [ -c /dev/full ] || fail "/dev/full is no longer a device"
  ;;
runtime_starts_before_the_timed_windows)
  # LLVM's runtime starts on the first OpenMP call, and the tool with it: when that call was the
  # 1-thread run's, the start-up and the tool's set-up fell in its timed window. The benchmark
  # starts the runtime first, so the serial product lies between the tool's start and the first
  # region, and the tool's buffers are all made before it.
  run_traced "$work/trace.bin" "$work/out" "$work/err" || fail "the traced benchmark failed"
  dump "$work/trace.bin" "$work/dump"
  serial=$(LC_ALL=C awk '/^SerialMulti = / { print $3 }' "$work/out")
  [ -n "$serial" ] || fail "the report has no SerialMulti line"
  LC_ALL=C awk -v serial="$serial" '
    $1 == "event" && $2 == 0 && $4 == "thread_begin" && !begun { begun = $3 }
    $1 == "event" && $4 == "parallel_begin" && !first { first = $3 }
    $1 == "event" && $4 == "tool_setup" && $9 == 0 && $7 != 0 { made++ }
    END {
      if (!begun || !first) { print "FAIL: no thread begin or no region" > "/dev/stderr"; exit 1 }
      gap = (first - begun) / 1e9
      if (gap < serial / 2) {
        printf "FAIL: the runtime began %.4f s before the first region, the serial run took %s s\n", gap, serial > "/dev/stderr"
        exit 1
      }
      if (made) { print "FAIL: " made " buffers were made on a thread'"'"'s begin" > "/dev/stderr"; exit 1 }
    }' "$work/dump" || fail "the runtime or the tool started inside a timed window"
  ;;
a_second_recorder_agrees_on_region_times)
  # A recorder of its own, around the runtime's GOMP_parallel, sees each region begin and end;
  # the trace's region times must agree with it within 1%.
  [ ${#preload[@]} -gt 0 ] || {
    echo "SKIP: the second recorder stands in for libgomp's GOMP_parallel; this build is not on it"
    exit 77
  }
  shim=${6:-}
  [ -f "$shim" ] || fail "the second recorder is not built: $shim"
  preload=(LD_PRELOAD="$shim $runtime")
  run_traced "$work/trace.bin" "$work/out" "$work/err" MATBENCH_REGION_SHIM_FILE="$work/shim" ||
    fail "the traced benchmark failed: $(head -c 300 "$work/err")"
  dump "$work/trace.bin" "$work/dump"
  [ "$(wc -l <"$work/shim")" -eq 20 ] || fail "the second recorder saw $(wc -l <"$work/shim") regions"
  awk '
    FNR == NR { shim[FNR] = ($2 - $1) / 1e6; next }
    $1 == "event" && $4 == "parallel_begin" { begin[$5] = $3 }
    $1 == "event" && $4 == "parallel_end" { traced[$5] = ($3 - begin[$5]) / 1e6 }
    END {
      for (r = 1; r <= 20; r++) {
        if (!(r in traced)) { print "FAIL: region " r " not traced" > "/dev/stderr"; exit 1 }
        ratio = traced[r] / shim[r]
        if (ratio < 0.99 || ratio > 1.01) {
          printf "FAIL: region %d: traced %.3f ms, recorded apart %.3f ms\n", r, traced[r], shim[r] > "/dev/stderr"
          bad = 1
        }
      }
      exit bad
    }' "$work/shim" "$work/dump" || fail "the trace's region times disagree with a second recorder"
  ;;
*)
  fail "unknown case $case_name"
  ;;
esac
exit 0
