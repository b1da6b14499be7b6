# shellcheck shell=bash
# Sessions of runs: real ones of the built benchmark, fakes that fail, settle or vanish.
# Sourced by speedup_e2e.sh, whose helpers the cases use; each case is a function named
# after it.

case_table_from_real_runs() {
  "$tool" --runs 2 >"$work/out" 2>"$work/err" || fail "exit status $?: $(cat "$work/err")"
  [ "$(grep -c -E '^ +[0-9]+ +[0-9.]+ \[' "$work/out")" -eq 20 ] || fail "not 20 team rows: $(cat "$work/out")"
  grep -q -E '^ serial ' "$work/out" || fail "no serial row"
  grep -q 'over 2 of 2 runs' "$work/out" || fail "run count not shown"
  # Standard error is a file here: one plain line per run, the first with the time left.
  grep -q -E '^matbench-speedup: run 1 of 2: passed in [0-9.]+ s; about [0-9]+ s left$' "$work/err" ||
    fail "no progress line for run 1: $(cat "$work/err")"
  grep -q -E '^matbench-speedup: run 2 of 2: passed in [0-9.]+ s$' "$work/err" ||
    fail "no progress line for run 2: $(cat "$work/err")"
  only_warnings_on_stderr
}

case_default_session_has_intervals_context_and_marks() {
  # A copy of the tool with the stand-in beside it as the fine build, which it runs by default:
  # the session's shape is the point, not the real product's times (ten runs of it took 20 s).
  mkdir "$work/bin"
  cp "$tool" "$work/bin/"
  # Its times read to the microsecond, as the fine build's do.
  printf '#!/bin/sh\n%q | perl -pe %q\n' "$stand_in" 's/(= +\d+\.\d{3})000/${1}123/' \
    >"$work/bin/matbench-fine"
  chmod +x "$work/bin/matbench-fine"
  "$work/bin/$(basename "$tool")" >"$work/out" 2>"$work/err" || fail "exit status $?: $(cat "$work/err")"
  # Beside the tool stands the fine build, whose microsecond clock the head line names.
  grep -q 'over 10 of 10 runs on a 1 µs clock; medians with 95% intervals' "$work/out" || fail "not 10 runs at 95%: $(head -3 "$work/out")"
  grep -q -E '^host .*cores' "$work/out" || fail "no context line"
  grep -q -E 'processors [0-9]+(-[0-9]+)? \([0-9]+\)' "$work/out" || fail "no affinity in the context"
  [ "$(grep -c -E '^ +[0-9]+ +[0-9.]+ \[[0-9. ,]+\] .* [0-9.]+ \[[0-9. ,]+\] +[0-9.]+ \[[0-9. ,]+\]' "$work/out")" -eq 20 ] ||
    fail "not every team row has its intervals: $(cat "$work/out")"
  grep -q '^\* more threads than the' "$work/out" || fail "no oversubscription legend"
  python3 -c 'import sys; assert max(len(l) for l in open(sys.argv[1], encoding="utf-8")) <= 101' "$work/out" ||
    fail "a line wider than 100 columns"
  only_warnings_on_stderr
}

case_precision_runs_until_every_interval_settles() {
  # Times of a second and half a second, so that a clock tick is far below the 3% asked for:
  # every interval is widened by what a tick can hide, and on times of 50 ms a tick alone is 2%.
  "$stand_in" 1.0 0.02 0.98 >"$work/report.txt" || fail "the stand-in benchmark failed"
  noisy_bench 0.004
  "$tool" --bench "$work/noisy" --precision 3% >"$work/out" 2>"$work/err" || fail "exit status $?: $(cat "$work/err")"
  grep -q 'precision ±3.0%: every speedup settled after 6 runs' "$work/out" || fail "did not stop at 6 runs: $(head -3 "$work/out")"
  noisy_bench 0.5
  "$tool" --bench "$work/noisy" --precision 1% --max-runs 8 >"$work/out" 2>"$work/err" || fail "exit status $?"
  grep -q -E 'team sizes [0-9, ]+ did not settle in 8 runs \(--max-runs 8 reached\)' "$work/out" ||
    fail "unsettled team sizes not named: $(head -3 "$work/out")"
  # Opted in, a session that did not settle fails, after its whole report.
  "$tool" --bench "$work/noisy" --precision 1% --max-runs 6 --fail-if-unsettled >"$work/out" 2>"$work/err"
  [ $? -eq 1 ] || fail "exit status $? for an unsettled session under --fail-if-unsettled"
  grep -q -E 'team sizes [0-9, ]+ did not settle within ±1.0% \(--fail-if-unsettled\)' "$work/err" ||
    fail "unsettled session not named: $(cat "$work/err")"
  grep -q 'did not settle in 6 runs' "$work/out" || fail "no report before the failure"
  noisy_bench 0.1 0.4
  "$tool" --bench "$work/noisy" --runs 50 --time-limit 1 >"$work/out" 2>"$work/err" || fail "exit status $?"
  grep -q -E '^stopped after [1-4] of 50 runs: --time-limit 1 s reached' "$work/out" ||
    fail "the time limit did not stop the session: $(head -3 "$work/out")"
}

case_precision_below_the_clock_is_refused_and_the_tick_recorded() {
  # Fixed times of 50 ms and 25 ms: on a millisecond clock half a tick each way keeps every
  # speedup interval at least ±3% wide, so --precision 1% is refused in one line with what could
  # be reached; the same times a microsecond off are read on the fine clock and settle.
  saved_report
  perl -pe 's/(SerialMulti = +)\d+\.\d{6}/${1}0.050000/; s/(\) = )\d+\.\d{6}/${1}0.025000/' \
    "$work/report.txt" >"$work/coarse.txt"
  fake_bench "$work/coarse.txt" 0
  expect_refusal "--precision 1.0% cannot be reached" "$tool" --bench "$work/fake" --precision 1%
  [ "$(grep -c . "$work/err")" -eq 1 ] || fail "the refusal is not one line: $(cat "$work/err")"
  grep -q -F "±3.1%" "$work/err" || fail "the reachable precision is not named: $(cat "$work/err")"
  "$tool" --bench "$work/fake" --runs 2 --json >"$work/coarse.json" 2>/dev/null || fail "exit status $?"
  grep -q '"clock_tick_seconds": 0.001' "$work/coarse.json" || fail "no millisecond tick recorded"
  sed 's/0\.050000/0.050001/; s/0\.025000/0.025001/g' "$work/coarse.txt" >"$work/fine.txt"
  fake_bench "$work/fine.txt" 0
  "$tool" --bench "$work/fake" --precision 1% --json >"$work/fine.json" 2>"$work/err" ||
    fail "exit status $? on the fine clock: $(cat "$work/err")"
  grep -q '"clock_tick_seconds": 1e-06' "$work/fine.json" || fail "no microsecond tick recorded"
}

case_benchmark_exit_status_fails_the_run() {
  saved_report
  fake_bench "$work/report.txt" 3
  "$tool" --bench "$work/fake" --runs 2 >"$work/out" 2>"$work/err"
  [ $? -ne 0 ] || fail "exit status 0 although every run failed"
  grep -q 'run 1 failed: exit status 3' "$work/err" || fail "status not reported: $(cat "$work/err")"
  [ ! -s "$work/out" ] || fail "figures printed without a passing run"
}

case_warns_when_the_runtime_may_shrink_teams() {
  # The warning comes from the settings the session records, not from the runs' times.
  OMP_DYNAMIC=true "$tool" --bench "$stand_in" --runs 1 --json >"$work/out" 2>"$work/err" || fail "exit status $?"
  grep -q 'warning: OMP_DYNAMIC=true lets the runtime run smaller teams' "$work/err" || fail "no warning: $(cat "$work/err")"
  grep -q '"OMP_DYNAMIC": "true"' "$work/out" || fail "setting missing from the JSON"
  OMP_DYNAMIC=false OMP_THREAD_LIMIT=100 "$tool" --bench "$stand_in" --runs 1 >"$work/out" 2>"$work/err" || fail "exit status $?"
  ! grep -q 'smaller teams' "$work/err" || fail "warned about settings that cannot shrink a team"
}

case_runs_on_one_processor_are_not_called_parallel() {
  command -v taskset >/dev/null || { echo "SKIP: taskset not installed"; exit 77; }
  [ "$(nproc)" -ge 2 ] || { echo "SKIP: one processor only"; exit 77; }
  printf '#!/bin/sh\nexec taskset -c 0 %q\n' "$bench" >"$work/pinned"
  chmod +x "$work/pinned"
  "$tool" --bench "$work/pinned" --runs 2 >"$work/out" 2>"$work/err" || fail "exit status $?"
  grep -q 'warning: the runs used about one processor' "$work/err" || fail "no warning: $(cat "$work/err")"
  [ "$(grep -c -E '^ +[0-9]+ .*#$' "$work/out")" -eq 20 ] || fail "speedups not marked: $(cat "$work/out")"
}

case_libgomp_warning_appears_once() {
  OMP_NUM_THREADS=abc "$tool" --runs 1 >"$work/out" 2>"$work/err"
  [ "$(grep -c -i 'OMP_NUM_THREADS' "$work/err")" -le 1 ] || fail "the warning appears twice: $(cat "$work/err")"
}

case_placement_study_runs_and_compares_each_placement() {
  "$tool" --bind close,false --runs 2 >"$work/out" 2>"$work/err" || fail "exit status $?: $(cat "$work/err")"
  [ "$(grep -c -E '^placement OMP_PLACES=cores OMP_PROC_BIND=(close|false): (honoured|not checked)' "$work/out")" -eq 2 ] ||
    fail "a placement was not run or not checked: $(grep placement "$work/out")"
  grep -q 'NEW OMP_PROC_BIND=false (2 runs) against BASE OMP_PROC_BIND=close (2 runs)' "$work/out" ||
    fail "placements not compared"
  expect_refusal "--bind prints a table or --json" "$tool" --bind close --csv
}

case_benchmark_lost_after_a_run_fails_the_session() {
  saved_report
  # The benchmark is gone after its first run, as when a build replaces it under the session.
  printf '#!/bin/sh\ncat %q\nrm -f "$0"\n' "$work/report.txt" >"$work/vanishing"
  chmod +x "$work/vanishing"
  "$tool" --bench "$work/vanishing" --runs 3 >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -eq 1 ] || fail "exit status $status when the benchmark could not be started again"
  grep -q 'the session stopped after 1 run: the benchmark could not be started again: No such file' "$work/err" ||
    fail "not said why: $(cat "$work/err")"
}
