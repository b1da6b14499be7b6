#!/usr/bin/env bash
# End-to-end checks of the speedup tool: speedup_e2e.sh TOOL CASE. The cases about real runs run
# the built benchmark; the others a stand-in that prints its report in no time.
set -u
tool=$1
case_name=$2
bench=$(dirname "$tool")/matbench
stand_in=$(cd "$(dirname "$0")" && pwd)/stand_in_benchmark
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# A fake benchmark that prints `report` and exits with `status`.
fake_bench() {
  printf '#!/bin/sh\ncat %q\nexit %d\n' "$1" "$2" >"$work/fake"
  chmod +x "$work/fake"
}

# The tool must fail with status >0, nothing on stdout and a message naming `what` on stderr.
expect_refusal() {
  local what=$1
  shift
  "$@" >"$work/out" 2>"$work/err"
  local status=$?
  [ "$status" -ne 0 ] || fail "exit status 0 for: $*"
  [ ! -s "$work/out" ] || fail "standard output not empty for: $*"
  grep -q -F -- "$what" "$work/err" || fail "no message naming '$what' for: $*: $(cat "$work/err")"
}

# A report in the benchmark's exact format, from the stand-in: the cases of the tool's own logic
# need no real run, whose time under load is the most of theirs.
saved_report() {
  "$stand_in" >"$work/report.txt" || fail "the stand-in benchmark failed"
}

# A fake benchmark printing the saved report with every time scaled by a random factor in
# [1, 1 + spread], after sleeping `pause` seconds.
noisy_bench() {
  [ -s "$work/report.txt" ] || saved_report
  cat >"$work/noisy" <<FAKE
#!/bin/sh
sleep ${2:-0}
exec perl -pe 'BEGIN { srand(\$\$) } s/(= )(\d+\.\d{6})/\$1 . sprintf("%.6f", \$2 * (1 + $1 * rand()))/e' "$work/report.txt"
FAKE
  chmod +x "$work/noisy"
}

# Runs the command with at most 1 GB of address space, so unbounded growth fails; not under
# AddressSanitizer, which reserves far more address space up front.
within_1gb() {
  if grep -q -a AddressSanitizer "$tool"; then
    "$@"
  else
    (ulimit -v 1000000 && exec "$@")
  fi
}

# Runs the command with at most `mb` megabytes of address space (not under AddressSanitizer).
within_mb() {
  local mb=$1
  shift
  if grep -q -a AddressSanitizer "$tool"; then
    "$@"
  else
    (ulimit -v $((mb * 1000)) && exec "$@")
  fi
}

# A session JSON of `runs` runs, each failed with `failure`, from the saved report's session.
big_session() {
  python3 - "$work/session.json" "$1" "$2" <<'PY'
import json, sys
session = json.load(open(sys.argv[1]))
run = dict(session["runs"][0], failure=sys.argv[3] or None)
session["runs"] = [run] * int(sys.argv[2])
json.dump(session, sys.stdout)
PY
}

# Sends `signal` to the command after `delay` seconds; passes when it ended within `within`
# seconds of the signal with status 128 + the signal and wrote nothing to standard output.
expect_prompt_interrupt() {
  local signal=$1 delay=$2 within=$3
  shift 3
  "$@" >"$work/out" 2>"$work/err" &
  local pid=$!
  sleep "$delay"
  kill -0 "$pid" 2>/dev/null || fail "ended before SIG$signal came, after ${delay} s: $*"
  local sent=$SECONDS
  kill -s "$signal" "$pid"
  wait "$pid"
  local status=$?
  local expected=$((128 + $(kill -l "$signal")))
  [ "$status" -eq "$expected" ] || fail "exit status $status after SIG$signal, not $expected: $* $(head -c 500 "$work/err")"
  [ $((SECONDS - sent)) -le "$within" ] || fail "took $((SECONDS - sent)) s to end after SIG$signal: $*"
  [ ! -s "$work/out" ] || fail "output written after SIG$signal: $*"
  grep -q "interrupted by SIG$signal" "$work/err" || fail "no word of SIG$signal: $(head -c 500 "$work/err")"
}

# Passes when standard error holds nothing but warnings and the progress lines of the runs.
only_warnings_on_stderr() {
  ! grep -v -E '^matbench-speedup: (warning: |run [0-9]+ of )' "$work/err" | grep -q . ||
    fail "standard error holds more than warnings: $(cat "$work/err")"
}

case $case_name in
table_from_real_runs)
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
  ;;
default_session_has_intervals_context_and_marks)
  "$tool" >"$work/out" 2>"$work/err" || fail "exit status $?: $(cat "$work/err")"
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
  ;;
json_and_csv_read_back_to_the_same_figures)
  saved_report
  cat "$work/report.txt" "$work/report.txt" "$work/report.txt" >"$work/three.txt"
  "$tool" --input "$work/three.txt" --json >"$work/figures.json" || fail "json exit status $?"
  "$tool" --input - --csv <"$work/three.txt" >"$work/figures.csv" || fail "csv exit status $?"
  python3 - "$work/figures.json" "$work/figures.csv" "$work/report.txt" <<'PY' || fail "figures differ"
import csv, json, re, sys
session = json.load(open(sys.argv[1]))
figures = session["figures"]
rows = list(csv.DictReader(open(sys.argv[2])))
report = open(sys.argv[3], "rb").read()
times = {int(t): float(s) for t, s in re.findall(rb"ParallelMulti \( (\d+) \S+ \) = ([0-9.]+)", report)}
serial = float(re.search(rb"SerialMulti =  ([0-9.]+)", report).group(1))
assert session["format_version"] == 1 and len(session["runs"]) == 3, session["runs"]
assert all(run["failure"] is None and run["serial_s"] == serial for run in session["runs"])
assert "processors" not in session["context"], "this machine's count given to saved reports"
assert figures["serial_seconds"]["median"] == serial == float(rows[0]["median_s"])
assert len(figures["team_sizes"]) == 20 and len(rows) == 21
for team, row in zip(figures["team_sizes"], rows[1:]):
    t = team["threads"]
    assert t == int(row["threads"])
    assert team["seconds"]["median"] == times[t] == float(row["median_s"]), (t, team, row)
    if times[t] > 0:
        assert team["speedup_vs_serial"]["median"] == float(row["speedup_vs_serial"]) == serial / times[t]
        assert team["efficiency"]["median"] == float(row["efficiency"])
    assert str(team["oversubscribed"]).lower() == row["oversubscribed"] == "false"
PY
  ;;
saved_session_reanalyses_to_identical_output)
  noisy_bench 0.3
  "$tool" --bench "$work/noisy" --runs 7 --json >"$work/session.json" 2>"$work/err" || fail "exit status $?"
  for format in "" --csv --long-csv --json; do
    "$tool" --input "$work/session.json" $format >"$work/again$format" 2>"$work/err-again" || fail "exit status $? for $format"
  done
  cmp -s "$work/session.json" "$work/again--json" || fail "the JSON changed on re-analysis"
  [ "$(grep -c . "$work/again--long-csv")" -eq $((1 + 7 * 21)) ] || fail "the long CSV does not hold every time"
  "$tool" --input - <"$work/session.json" | cmp -s - "$work/again" || fail "the table changed when read from stdin"
  grep -q 'matbench speedup over 7 of 7 runs' "$work/again" || fail "runs not counted"
  ;;
precision_runs_until_every_interval_settles)
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
  ;;
precision_below_the_clock_is_refused_and_the_tick_recorded)
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
  # Beside the tool, the fine build is the one run by default, and its table names its clock.
  "$tool" --runs 1 >"$work/out" 2>/dev/null || fail "the default benchmark failed"
  grep -q "over 1 of 1 run on a 1 µs clock" "$work/out" || fail "not the fine build: $(head -1 "$work/out")"
  ;;
failed_runs_are_named_and_the_rest_still_count)
  saved_report
  # Second report: team size 5 failed verification.
  { cat "$work/report.txt"; sed -E '/\( 5 /s/ 1 $/ 0 /' "$work/report.txt"; cat "$work/report.txt"; } \
    >"$work/mixed.txt"
  "$tool" --input "$work/mixed.txt" >"$work/out" 2>"$work/err"
  [ $? -eq 1 ] || fail "a failed run must give exit status 1"
  grep -q '^matbench-speedup: run 2 failed: line [0-9]*: parallel product differs' "$work/err" ||
    fail "failed run not named: $(cat "$work/err")"
  grep -q 'ParallelMulti ( 5 потоков )' "$work/err" || fail "offending line not quoted in UTF-8"
  grep -q 'over 2 of 3 runs' "$work/out" || fail "the passing runs were not counted"
  "$tool" --input "$work/mixed.txt" --json >"$work/mixed.json" 2>/dev/null
  "$tool" --input "$work/mixed.json" >"$work/again" 2>"$work/err-again"
  [ $? -eq 1 ] || fail "a saved failed run must give exit status 1"
  cmp -s "$work/err" "$work/err-again" && cmp -s "$work/out" "$work/again" || fail "the JSON re-analysis differs"
  ;;
benchmark_exit_status_fails_the_run)
  saved_report
  fake_bench "$work/report.txt" 3
  "$tool" --bench "$work/fake" --runs 2 >"$work/out" 2>"$work/err"
  [ $? -ne 0 ] || fail "exit status 0 although every run failed"
  grep -q 'run 1 failed: exit status 3' "$work/err" || fail "status not reported: $(cat "$work/err")"
  [ ! -s "$work/out" ] || fail "figures printed without a passing run"
  ;;
bad_input_is_refused_with_one_message)
  saved_report
  head -c 300 "$work/report.txt" >"$work/truncated.txt"
  "$tool" --input "$work/report.txt" --json >"$work/session.json"
  head -c 500 "$work/session.json" >"$work/truncated.json"
  sed 's/"format_version": 1/"format_version": 2/' "$work/session.json" >"$work/v2.json"
  fake_bench /dev/null 0
  expect_refusal "unknown argument" "$tool" --bogus
  expect_refusal "--runs needs a value" "$tool" --runs
  expect_refusal '"0"' "$tool" --runs 0
  expect_refusal '"many"' "$tool" --runs many
  expect_refusal "--runs given more than once" "$tool" --runs 2 --runs 3
  expect_refusal "cannot read $work/missing.txt" "$tool" --input "$work/missing.txt"
  expect_refusal "cannot read $work: Is a directory" "$tool" --input "$work"
  expect_refusal "cannot run the benchmark /nonexistent/matbench" "$tool" --bench /nonexistent/matbench
  expect_refusal "cannot run the benchmark $work: Is a directory" "$tool" --bench "$work"
  expect_refusal "no report found" "$tool" --input /dev/null
  expect_refusal "report truncated" "$tool" --input "$work/truncated.txt" --json
  expect_refusal "empty report" "$tool" --bench "$work/fake" --runs 1 --csv
  expect_refusal "not valid JSON" "$tool" --input "$work/truncated.json"
  expect_refusal "format version 2, but this tool reads version 1" "$tool" --input "$work/v2.json"
  expect_refusal "larger than 64 MiB" within_1gb "$tool" --input /dev/zero
  iconv -f CP1251 -t UTF-8 "$work/report.txt" >"$work/utf8.txt"
  expect_refusal "converted to UTF-8; give the original bytes" "$tool" --input "$work/utf8.txt"
  ;;
warns_when_the_runtime_may_shrink_teams)
  OMP_DYNAMIC=true "$tool" --runs 1 --json >"$work/out" 2>"$work/err" || fail "exit status $?"
  grep -q 'warning: OMP_DYNAMIC=true lets the runtime run smaller teams' "$work/err" || fail "no warning: $(cat "$work/err")"
  grep -q '"OMP_DYNAMIC": "true"' "$work/out" || fail "setting missing from the JSON"
  OMP_DYNAMIC=false OMP_THREAD_LIMIT=100 "$tool" --runs 1 >"$work/out" 2>"$work/err" || fail "exit status $?"
  ! grep -q 'smaller teams' "$work/err" || fail "warned about settings that cannot shrink a team"
  ;;
runs_on_one_processor_are_not_called_parallel)
  command -v taskset >/dev/null || { echo "SKIP: taskset not installed"; exit 77; }
  [ "$(nproc)" -ge 2 ] || { echo "SKIP: one processor only"; exit 77; }
  printf '#!/bin/sh\nexec taskset -c 0 %q\n' "$bench" >"$work/pinned"
  chmod +x "$work/pinned"
  "$tool" --bench "$work/pinned" --runs 2 >"$work/out" 2>"$work/err" || fail "exit status $?"
  grep -q 'warning: the runs used about one processor' "$work/err" || fail "no warning: $(cat "$work/err")"
  [ "$(grep -c -E '^ +[0-9]+ .*#$' "$work/out")" -eq 20 ] || fail "speedups not marked: $(cat "$work/out")"
  ;;
libgomp_warning_appears_once)
  OMP_NUM_THREADS=abc "$tool" --runs 1 >"$work/out" 2>"$work/err"
  [ "$(grep -c -i 'OMP_NUM_THREADS' "$work/err")" -le 1 ] || fail "the warning appears twice: $(cat "$work/err")"
  ;;
failed_writes_are_reported)
  saved_report
  for format in "" --csv --long-csv --json; do
    "$tool" --input "$work/report.txt" $format >/dev/full 2>"$work/err"
    [ $? -eq 1 ] || fail "exit status $? on a full disk for '$format'"
    grep -q 'cannot write standard output: No space left on device' "$work/err" || fail "no message: $(cat "$work/err")"
    "$tool" --input "$work/report.txt" $format >&- 2>"$work/err"
    [ $? -eq 1 ] || fail "exit status $? with standard output closed"
    grep -q 'cannot write standard output' "$work/err" || fail "no message for a closed standard output"
  done
  # A saved report carries no tick: it is found from the times, and said.
  "$tool" --input "$work/report.txt" >/dev/null 2>"$work/err" || fail "exit status $?"
  grep -q "warning: the clock's tick is not recorded: 1 ms, found from the times" "$work/err" ||
    fail "the tick found from a saved report is not said: $(cat "$work/err")"
  # An export into a missing folder is refused in one line before any work (and any warning).
  "$tool" --input "$work/report.txt" --export-json "$work/none/session.json" >"$work/out" 2>"$work/err"
  [ $? -eq 2 ] || fail "exit status $? for an export into a missing folder"
  [ "$(wc -l <"$work/err")" -eq 1 ] && grep -q "none/session.json.*does not exist" "$work/err" ||
    fail "not one line naming the export: $(cat "$work/err")"
  [ ! -s "$work/out" ] || fail "the report was made before the export was refused"
  # The reader is gone before the tool starts: a reader that closed only as the tool began raced
  # with its first write, which then fitted in the pipe and succeeded.
  python3 -c 'import os, subprocess, sys
r, w = os.pipe()
os.close(r)
sys.exit(subprocess.run(sys.argv[1:], stdout=w).returncode)' "$tool" --input "$work/report.txt" --long-csv 2>"$work/err"
  status=$?
  [ "$status" -eq 1 ] || fail "exit status $status when the reader goes away (141 is death by SIGPIPE)"
  ;;
exports_are_written_while_the_table_shows)
  noisy_bench 0.2
  "$tool" --bench "$work/noisy" --runs 3 --export-json "$work/s.json" --export-csv "$work/s.csv" \
    --export-long-csv "$work/l.csv" --export-markdown "$work/s.md" >"$work/out" 2>"$work/err" ||
    fail "exit status $?: $(cat "$work/err")"
  grep -q 'matbench speedup over 3 of 3 runs' "$work/out" || fail "no table on standard output"
  # The exported session reads back to the very table, and every other export is its format.
  "$tool" --input "$work/s.json" >"$work/again" 2>/dev/null || fail "the exported JSON does not read back"
  cmp -s "$work/out" "$work/again" || fail "the exported JSON gives another table"
  for format in csv long-csv json markdown; do
    case $format in
      csv) file=s.csv ;; long-csv) file=l.csv ;; json) file=s.json ;; markdown) file=s.md ;;
    esac
    if [ $format = markdown ]; then
      "$tool" --input "$work/s.json" --export-markdown "$work/expected" >/dev/null 2>&1
    else
      "$tool" --input "$work/s.json" --$format >"$work/expected" 2>/dev/null
    fi
    cmp -s "$work/expected" "$work/$file" || fail "the $format export differs from --$format"
  done
  [ "$(grep -c '^| [0-9]' "$work/s.md")" -eq 20 ] || fail "the Markdown table lacks team sizes"
  ;;
runaway_benchmarks_are_stopped)
  printf '#!/bin/sh\nexec yes\n' >"$work/flooder"
  printf '#!/bin/sh\nexec sleep 60\n' >"$work/sleeper"
  chmod +x "$work/flooder" "$work/sleeper"
  within_1gb "$tool" --bench "$work/flooder" --runs 1 >"$work/out" 2>"$work/err"
  [ $? -eq 1 ] || fail "exit status $? for a flooder"
  grep -q 'run 1 failed: wrote more than 1 MiB of output' "$work/err" || fail "flooder not named: $(cat "$work/err")"
  SECONDS=0
  "$tool" --bench "$work/sleeper" --runs 2 --run-timeout 0.5 >"$work/out" 2>"$work/err"
  [ $? -eq 1 ] || fail "exit status $? for a sleeper"
  [ "$SECONDS" -lt 10 ] || fail "the sleeper was not stopped in time"
  grep -q 'run 2 failed: timed out after 0.5 s' "$work/err" || fail "the session did not go on: $(cat "$work/err")"
  ! pgrep -f "$work/sleeper" >/dev/null || fail "a sleeper is still running"
  ;;
interrupt_keeps_the_finished_runs)
  noisy_bench 0.1 0.2
  for signal in INT TERM HUP; do
    "$tool" --bench "$work/noisy" --runs 1000 --json >"$work/out" 2>"$work/err" &
    pid=$!
    sleep 2
    kill -s "$signal" "$pid"
    wait "$pid"
    status=$?
    expected=$((128 + $(kill -l "$signal")))
    [ "$status" -eq "$expected" ] || fail "exit status $status after SIG$signal, not $expected"
    grep -q -E "interrupted by SIG$signal after [1-9][0-9]* of 1000 runs" "$work/err" || fail "no word of the interrupt: $(cat "$work/err")"
    python3 -c 'import json, sys; s = json.load(open(sys.argv[1])); assert s["session"]["interrupted"] == sys.argv[2] and s["runs"], s["session"]' \
      "$work/out" "SIG$signal" || fail "the finished runs were not written"
    ! pgrep -f "$work/noisy" >/dev/null || fail "the benchmark was left running after SIG$signal"
  done
  ;;
zero_and_negative_times_are_never_ratios)
  saved_report
  sed -E 's/= [0-9]+\.[0-9]{6}/= 0.000000/' "$work/report.txt" >"$work/zero.txt"
  "$tool" --input "$work/zero.txt" >"$work/out" 2>"$work/err" || fail "exit status $?"
  ! grep -E '^ +[0-9]+ ' "$work/out" | grep -q -E ' 0\.00 \[' || fail "a ratio over zero shown as 0: $(cat "$work/out")"
  [ "$(grep -c -E '^ +[0-9]+ .*—.*~' "$work/out")" -eq 20 ] || fail "rows not shown as missing and too short"
  sed -E '0,/\) = [0-9]/s/\) = ([0-9])/) = -\1/' "$work/report.txt" >"$work/negative.txt"
  "$tool" --input "$work/negative.txt" >"$work/out" 2>"$work/err"
  [ $? -eq 1 ] || fail "a negative time was accepted"
  grep -q 'malformed line: a negative time' "$work/err" || fail "not named: $(cat "$work/err")"
  ;;
plot_draws_speedup_with_intervals)
  command -v gnuplot >/dev/null || { echo "SKIP: gnuplot not installed"; exit 77; }
  # Times that Amdahl's law describes, serial fraction 0.1 on 2 processors, whatever this
  # machine's own: the fit is drawn only for a fraction within [0, 1].
  saved_report
  perl -pi -e 's/(\( (\d+) .*?= )\d+\.\d{6}/$1 . sprintf("%.6f", 0.010 + 0.090 \/ ($2 < 2 ? $2 : 2))/e;
    s/(SerialMulti = +)\d+\.\d{6}/${1}0.100000/' "$work/report.txt"
  noisy_bench 0.05
  "$tool" --bench "$work/noisy" --runs 6 --plot "$work/chart.svg" >/dev/null 2>"$work/err" ||
    fail "exit status $?: $(cat "$work/err")"
  [ -s "$work/chart.svg" ] || fail "no chart written"
  for series in "speedup vs serial" "ideal" "efficiency" "processors" "Amdahl fit"; do
    grep -q "$series" "$work/chart.svg" || fail "series '$series' missing from the chart"
  done
  [ "$(ls "$work")" = "$(printf 'chart.svg\nerr\nnoisy\nreport.txt')" ] || fail "files left beside the chart: $(ls "$work")"
  ;;
plot_without_gnuplot_keeps_a_script_to_draw_later)
  saved_report
  mkdir "$work/bin" "$work/tmp"
  TMPDIR=$work/tmp PATH=$work/bin "$tool" --input "$work/report.txt" --plot "$work/chart.png" >"$work/out" 2>"$work/err" ||
    fail "exit status $?"
  grep -q 'gnuplot' "$work/err" || fail "no word about gnuplot: $(cat "$work/err")"
  sed -i "/warning: the clock's tick is not recorded/d" "$work/err"  # a saved report's, said
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "more than one line on standard error"
  [ ! -e "$work/chart.png" ] && [ ! -e "$work/chart.gp" ] && [ ! -e "$work/chart.dat" ] || fail "files written beside the chart"
  script=$(ls "$work"/tmp/matbench-plot-*/chart.gp) || fail "no script kept"
  grep -q -F "$(dirname "$script")" "$work/err" || fail "the message does not say where the script is"
  grep -q '^ serial ' "$work/out" || fail "table not printed"
  if command -v gnuplot >/dev/null; then
    (cd "$(dirname "$script")" && gnuplot chart.gp) || fail "the kept script does not draw"
    [ -s "$(dirname "$script")/chart.png" ] || fail "the kept script drew nothing"
  fi
  ;;
plot_path_is_never_a_command)
  command -v gnuplot >/dev/null || { echo "SKIP: gnuplot not installed"; exit 77; }
  saved_report
  cd "$work" || fail "no work folder"
  hostile=$'x\nsystem "touch PWNED"\n`touch PWNED2`\'"#.svg'
  for path in "$hostile" "-e.svg"; do
    "$tool" --input report.txt --plot "$path" >/dev/null 2>err || fail "exit status $? for $(printf %q "$path"): $(cat err)"
    [ -s "./$path" ] || fail "no chart at exactly $(printf %q "$path")"
  done
  [ ! -e PWNED ] && [ ! -e PWNED2 ] || fail "a command in the chart's name ran"
  "$tool" --input report.txt --plot /nonexistent/chart.svg >/dev/null 2>err
  [ $? -eq 2 ] || fail "a chart into a missing folder was not refused before the work"
  [ "$(wc -l <err)" -eq 1 ] && grep -q '/nonexistent/chart.svg' err || fail "not one message naming the path: $(cat err)"
  ;;
placement_study_runs_and_compares_each_placement)
  "$tool" --bind close,false --runs 2 >"$work/out" 2>"$work/err" || fail "exit status $?: $(cat "$work/err")"
  [ "$(grep -c -E '^placement OMP_PLACES=cores OMP_PROC_BIND=(close|false): (honoured|not checked)' "$work/out")" -eq 2 ] ||
    fail "a placement was not run or not checked: $(grep placement "$work/out")"
  grep -q 'NEW OMP_PROC_BIND=false (2 runs) against BASE OMP_PROC_BIND=close (2 runs)' "$work/out" ||
    fail "placements not compared"
  expect_refusal "--bind prints a table or --json" "$tool" --bind close --csv
  ;;
merge_names_the_slow_node_and_the_failed_ones)
  noisy_bench 0.05
  for node in n1 n2 n3; do
    "$tool" --bench "$work/noisy" --runs 8 --json 2>/dev/null |
      python3 -c 'import json, sys; s = json.load(sys.stdin); s["context"]["host"] = sys.argv[1]; json.dump(s, sys.stdout)' "$node" \
      >"$work/$node.json" || fail "session $node failed"
  done
  python3 - "$work/n2.json" <<'PY'
import json, sys
session = json.load(open(sys.argv[1]))
for run in session["runs"]:
    run["serial_s"] *= 1.5
    run["parallel_s"] = [t * 1.5 for t in run["parallel_s"]]
json.dump(session, open(sys.argv[1], "w"))
PY
  head -c 3000 "$work/n3.json" >"$work/cut.json"
  "$tool" merge "$work/n1.json" "$work/n2.json" "$work/n3.json" "$work/cut.json" >"$work/out" 2>"$work/err"
  [ $? -eq 1 ] || fail "a failed node must give exit status 1"
  grep -A1 '^n2 ' "$work/out" | grep -q 'slower: serial' || fail "n2 not named slower: $(cat "$work/out")"
  [ "$(grep -c 'like the fleet' "$work/out")" -eq 2 ] || fail "n1 and n3 not like the fleet"
  grep -q "failed: $work/cut.json: not valid JSON" "$work/out" || fail "the cut session not named"
  saved_report
  expect_refusal "is not a session JSON" "$tool" merge "$work/n1.json" "$work/report.txt"
  expect_refusal "merge needs at least one session file" "$tool" merge
  # Nothing read, nothing shown; a missing file beside a readable one is a failed node.
  expect_refusal "cannot read $work/none-1.json" "$tool" merge "$work/none-1.json" "$work/none-2.json"
  "$tool" merge "$work/n1.json" "$work/none.json" >"$work/out" 2>"$work/err"
  [ $? -eq 1 ] && grep -q "1 of 2 sessions merged" "$work/out" || fail "a missing node stopped the merge: $(cat "$work/out" "$work/err")"
  sed 's/"format_version": *1/"format_version": 3/' "$work/n1.json" >"$work/v3.json"
  expect_refusal "format version 3" "$tool" merge "$work/n2.json" "$work/v3.json"
  ;;
compare_judges_a_slowed_build_slower)
  noisy_bench 0.05
  for side in a b; do
    "$tool" --bench "$work/noisy" --runs 9 --json >"$work/$side.json" 2>/dev/null || fail "session $side failed"
  done
  sed -i 's/1 + /1.5 * (1 + /; s/rand()))/rand())))/' "$work/noisy"
  "$tool" --bench "$work/noisy" --runs 9 --json >"$work/slow.json" 2>/dev/null || fail "slow session failed"
  "$tool" compare "$work/a.json" "$work/a.json" --csv >"$work/same.csv" || fail "exit status $? for a session against itself"
  [ "$(grep -c ',1,1,no clear difference$' "$work/same.csv")" -eq 21 ] || fail "itself not 21 times p = 1: $(cat "$work/same.csv")"
  "$tool" compare "$work/a.json" "$work/slow.json" --fail-if-slower 10% >"$work/out" 2>"$work/err"
  [ $? -eq 1 ] || fail "--fail-if-slower did not fail on a build 50% slower"
  # The fake benchmark runs on one processor: each verdict carries the sessions' # mark.
  [ "$(grep -c -E ' slower( #)?$' "$work/out")" -eq 20 ] || fail "not every team row slower: $(cat "$work/out")"
  grep -q '^# NEW is not a parallel result' "$work/out" || fail "the flagged sessions not said"
  "$tool" compare "$work/a.json" "$work/slow.json" --fail-if-slower 60% >/dev/null 2>&1 || fail "failed although not 60% slower"
  "$tool" --input "$work/report.txt" --json >"$work/raw.json" 2>/dev/null
  expect_refusal "holds raw reports" "$tool" compare "$work/a.json" "$work/report.txt"
  sed 's/"format_version": 1/"format_version": 7/' "$work/b.json" >"$work/v7.json"
  expect_refusal "format version 7" "$tool" compare "$work/a.json" "$work/v7.json"
  ;;
interrupt_ends_merge_compare_and_parsing_promptly)
  saved_report
  "$tool" --input "$work/report.txt" --json >"$work/session.json" 2>/dev/null
  big_session 100000 "" >"$work/big.json"
  python3 -c 'import sys; sys.stdout.buffer.write(open(sys.argv[1], "rb").read() * 60000)' "$work/report.txt" >"$work/reports.txt"
  expect_prompt_interrupt INT 0.3 3 "$tool" merge "$work/big.json" "$work/big.json" "$work/big.json" "$work/big.json"
  expect_prompt_interrupt TERM 0.3 3 "$tool" compare "$work/big.json" "$work/big.json" --plot "$work/c.svg"
  expect_prompt_interrupt HUP 0.3 3 "$tool" --input "$work/reports.txt" --plot "$work/r.svg"
  [ ! -e "$work/c.svg" ] && [ ! -e "$work/r.svg" ] || fail "a chart was written after the interrupt"
  [ -z "$(find "$work" -maxdepth 1 -name '*.partial-*')" ] || fail "a half-written chart was left behind"
  ;;
memory_stays_within_a_small_multiple_of_the_input)
  saved_report
  "$tool" --input "$work/report.txt" --json >"$work/session.json" 2>/dev/null
  # 64 MiB of serial lines took 2.2 GB; a 64 MiB session of failed runs 1.24 GB, and merge kept
  # about 190 MB of each such file.
  python3 -c 'import sys; sys.stdout.buffer.write(b"SerialMulti =  0.060000 \n \n" * (64 * 1024 * 1024 // 27))' >"$work/serial.txt"
  big_session 150000 "line 3: malformed line: a failure long enough to be kept on the heap" >"$work/failed.json"
  big_session 90000 "line 3: malformed line: a failure long enough to be kept on the heap" >"$work/failed90k.json"
  expect_refusal "more than 100000 reports" within_mb 400 "$tool" --input "$work/serial.txt"
  expect_refusal "more than 100000 runs" within_mb 400 "$tool" --input "$work/failed.json"
  within_mb 400 "$tool" --input "$work/failed90k.json" >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -eq 1 ] || fail "exit status $status for a session of failed runs: $(tail -c 300 "$work/err")"
  grep -q 'no figures: none of the 90000 runs passed' "$work/err" || fail "not named: $(tail -c 300 "$work/err")"
  within_mb 400 "$tool" merge "$work/failed90k.json" "$work/failed90k.json" "$work/failed90k.json" \
    "$work/failed90k.json" "$work/failed90k.json" "$work/failed90k.json" "$work/session.json" >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -eq 1 ] || fail "exit status $status for a merge of failed sessions: $(tail -c 300 "$work/err")"
  [ "$(grep -c '^matbench-speedup: failed: ' "$work/err")" -eq 6 ] || fail "the failed nodes not named: $(tail -c 500 "$work/err")"
  ;;
chart_cut_short_is_not_drawn)
  saved_report
  mkdir "$work/bin"
  for kind in svg png; do
    # gnuplot exits 0 though the disk filled: the chart it leaves is cut short.
    if [ "$kind" = svg ]; then
      printf '#!/bin/sh\nprintf "<svg>\\n<g>" >chart.svg\n' >"$work/bin/gnuplot"
    else
      printf '#!/bin/sh\nprintf "\\211PNG\\r\\n\\032\\nIHDR" >chart.png\n' >"$work/bin/gnuplot"
    fi
    chmod +x "$work/bin/gnuplot"
    PATH=$work/bin:$PATH "$tool" --input "$work/report.txt" --plot "$work/chart.$kind" >"$work/out" 2>"$work/err"
    status=$?
    [ "$status" -eq 1 ] || fail "exit status $status for a $kind chart cut short"
    grep -q "chart is cut short" "$work/err" || fail "not named: $(cat "$work/err")"
    [ ! -e "$work/chart.$kind" ] || fail "the $kind chart cut short was copied"
  done
  # The page embeds its chart: one cut short was left out of it with exit status 0 and no word.
  printf '#!/bin/sh\nprintf "<svg>\\n<g>" >chart.svg\n' >"$work/bin/gnuplot"
  PATH=$work/bin:$PATH "$tool" --input "$work/report.txt" --html "$work/page.html" >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -eq 1 ] || fail "exit status $status for a page whose chart was cut short"
  grep -q "page.html\" has no chart: .*chart is cut short" "$work/err" || fail "not named: $(cat "$work/err")"
  grep -q "no-chart" "$work/page.html" || fail "the page does not say its chart is missing"
  ;;
benchmark_lost_after_a_run_fails_the_session)
  saved_report
  # The benchmark is gone after its first run, as when a build replaces it under the session.
  printf '#!/bin/sh\ncat %q\nrm -f "$0"\n' "$work/report.txt" >"$work/vanishing"
  chmod +x "$work/vanishing"
  "$tool" --bench "$work/vanishing" --runs 3 >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -eq 1 ] || fail "exit status $status when the benchmark could not be started again"
  grep -q 'the session stopped after 1 run: the benchmark could not be started again: No such file' "$work/err" ||
    fail "not said why: $(cat "$work/err")"
  ;;
escapes_from_a_session_file_reach_the_terminal_escaped)
  saved_report
  "$tool" --input "$work/report.txt" --json >"$work/session.json" 2>/dev/null
  python3 - "$work/session.json" >"$work/hostile.json" <<'PY'
import json, sys
session = json.load(open(sys.argv[1]))
session["session"]["placement"] = "\x1b]0;owned\x07\x1b[2J"
session["session"]["interrupted"] = "\x1b[31mSIGINT"
session["context"]["host"] = "\x1b]0;host\x07"
json.dump(session, sys.stdout)
PY
  for format in "" --csv --long-csv; do
    "$tool" --input "$work/hostile.json" $format >"$work/out" 2>"$work/err"
    ! grep -q -P '\x1b|\x07' "$work/err" "$work/out" || fail "a raw escape reached the terminal with '$format': $(cat -v "$work/err" "$work/out" | head -5)"
  done
  grep -q -F '\x1B]0;owned\x07\x1B[2J' "$work/err" || fail "the placement not shown escaped: $(cat "$work/err")"
  ;;
outputs_are_checked_before_any_run)
  saved_report
  "$tool" --input "$work/report.txt" --json >"$work/session.json" 2>/dev/null
  cp "$work/session.json" "$work/kept.json"
  # A benchmark that notes each run, so a refusal after the runs shows.
  printf '#!/bin/sh\necho ran >>%q\ncat %q\n' "$work/ran" "$work/report.txt" >"$work/fake"
  chmod +x "$work/fake"
  mkdir "$work/sub"
  while IFS='|' read -r what args; do
    rm -f "$work/ran"
    eval "set -- $args"
    expect_refusal "$what" "$tool" "$@"
    [ ! -e "$work/ran" ] || fail "the benchmark ran before the refusal of: $args"
    [ "$(wc -l <"$work/err")" -eq 1 ] || fail "not one line for $args: $(cat "$work/err")"
    cmp -s "$work/session.json" "$work/kept.json" || fail "the input was changed by: $args"
  done <<CASES
"/nonexistent" does not exist|--bench "$work/fake" --runs 2 --export-json /nonexistent/x.json
does not exist|--bench "$work/fake" --runs 2 --plot "$work/none/c.svg"
would write over an input|--input "$work/session.json" --export-csv "$work/session.json"
would write over an input|--input "$work/session.json" --export-csv "$work/sub/../session.json"
would write over an input|merge "$work/session.json" --html "$work/./session.json"
would write over an input|compare "$work/session.json" "$work/kept.json" --html "$work/kept.json"
is also the path of --export-json|--bench "$work/fake" --runs 2 --export-json "$work/o" --html "$work/o"
is also the path of --export-csv|--input "$work/session.json" --export-csv "$work/o" --export-markdown "$work/sub/../o"
lies in the input folder|trace --input "$work/sub" --chrome "$work/sub/trace.json"
CASES
  ;;
full_disk_leaves_no_file_cut_short)
  saved_report
  "$tool" --input "$work/report.txt" --json >"$work/session.json" 2>/dev/null
  mkdir "$work/full" "$work/roomy"
  mount -t tmpfs -o size=12k tmpfs "$work/full" 2>/dev/null || {
    echo "SKIP: no small tmpfs can be mounted here (needs root)"
    exit 77
  }
  trap 'umount "$work/full"; rm -rf "$work"' EXIT
  outputs() {  # outputs FOLDER
    echo --export-json "$1/s.json" --export-csv "$1/s.csv" --export-markdown "$1/s.md" \
      --export-long-csv "$1/l.csv" --html "$1/p.html"
  }
  "$tool" --input "$work/session.json" $(outputs "$work/roomy") >/dev/null 2>&1 || fail "exit status $? with room"
  "$tool" --input "$work/session.json" $(outputs "$work/full") >/dev/null 2>"$work/err"
  [ $? -eq 1 ] || fail "exit status $? on a full disk"
  grep -q "No space left on device" "$work/err" || fail "the full disk is not named: $(cat "$work/err")"
  for file in s.json s.csv s.md l.csv p.html; do
    [ ! -e "$work/full/$file" ] || cmp -s "$work/full/$file" "$work/roomy/$file" ||
      fail "$file was left cut short"
  done
  ! ls -A "$work/full" | grep -q partial || fail "a temporary file was left: $(ls -A "$work/full")"
  [ -n "$(ls -A "$work/full")" ] || fail "not even the small outputs fitted: the check proves nothing"
  ;;
interrupt_at_any_moment_leaves_no_output)
  saved_report
  "$tool" --input "$work/report.txt" --json >"$work/session.json" 2>/dev/null
  big_session 100000 "" >"$work/big.json"
  interrupted=0
  for delay in 0.2 0.6 1.2 2.5; do
    for signal in INT TERM; do
      rm -f "$work"/p.html "$work"/x.json "$work"/c.svg
      "$tool" --input "$work/big.json" --html "$work/p.html" --export-json "$work/x.json" \
        --plot "$work/c.svg" >"$work/out" 2>"$work/err" &
      pid=$!
      sleep "$delay"
      kill -0 "$pid" 2>/dev/null || { wait "$pid"; continue; }  # done already: no moment to test
      kill -s "$signal" "$pid"
      wait "$pid"
      status=$?
      [ "$status" -eq $((128 + $(kill -l "$signal"))) ] || fail "exit status $status after SIG$signal at $delay s"
      [ ! -s "$work/out" ] || fail "the report was written after SIG$signal at $delay s"
      for file in p.html x.json c.svg; do
        [ ! -e "$work/$file" ] || fail "$file was written after SIG$signal at $delay s"
      done
      ! ls -A "$work" | grep -q partial || fail "a temporary file was left after SIG$signal at $delay s"
      interrupted=$((interrupted + 1))
    done
  done
  [ "$interrupted" -gt 0 ] || fail "the command always ended before the signal: nothing was tested"
  ;;
*)
  fail "unknown case $case_name"
  ;;
esac
echo "PASS: $case_name"
