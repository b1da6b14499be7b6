#!/usr/bin/env bash
# End-to-end checks of the speedup tool against the built benchmark: speedup_e2e.sh TOOL CASE
set -u
tool=$1
case_name=$2
bench=$(dirname "$tool")/matbench
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

saved_report() {
  "$bench" </dev/null >"$work/report.txt" || fail "benchmark failed"
}

case $case_name in
table_from_real_runs)
  "$tool" --runs 2 >"$work/out" 2>"$work/err" || fail "exit status $?: $(cat "$work/err")"
  [ "$(grep -c -E '^ +[0-9]+ +[0-9.]+' "$work/out")" -eq 20 ] || fail "not 20 team rows: $(cat "$work/out")"
  grep -q -E '^ serial ' "$work/out" || fail "no serial row"
  grep -q 'over 2 of 2 runs' "$work/out" || fail "run count not shown"
  [ ! -s "$work/err" ] || fail "standard error not empty while it is not a terminal: $(cat "$work/err")"
  ;;
json_and_csv_read_back_to_the_same_figures)
  saved_report
  cat "$work/report.txt" "$work/report.txt" "$work/report.txt" >"$work/three.txt"
  "$tool" --input "$work/three.txt" --json >"$work/figures.json" || fail "json exit status $?"
  "$tool" --input - --csv <"$work/three.txt" >"$work/figures.csv" || fail "csv exit status $?"
  python3 - "$work/figures.json" "$work/figures.csv" "$work/report.txt" <<'PY' || fail "figures differ"
import csv, json, re, sys
figures = json.load(open(sys.argv[1]))
rows = list(csv.DictReader(open(sys.argv[2])))
report = open(sys.argv[3], "rb").read()
times = {int(t): float(s) for t, s in re.findall(rb"ParallelMulti \( (\d+) \S+ \) = ([0-9.]+)", report)}
serial = float(re.search(rb"SerialMulti =  ([0-9.]+)", report).group(1))
assert figures["runs"] == 3 and figures["runs_passed"] == 3, figures
assert figures["serial"]["median_s"] == serial == float(rows[0]["median_s"])
assert len(figures["team_sizes"]) == 20 and len(rows) == 21
for team, row in zip(figures["team_sizes"], rows[1:]):
    t = team["threads"]
    assert t == int(row["threads"])
    assert team["median_s"] == times[t] == float(row["median_s"]), (t, team, row)
    if times[t] > 0:
        assert team["speedup_vs_serial"] == float(row["speedup_vs_serial"]) == serial / times[t]
        assert team["efficiency"] == float(row["efficiency"])
    assert str(team["oversubscribed"]).lower() == row["oversubscribed"]
PY
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
  fake_bench /dev/null 0
  expect_refusal "unknown option" "$tool" --bogus
  expect_refusal "--runs needs a value" "$tool" --runs
  expect_refusal '"0"' "$tool" --runs 0
  expect_refusal '"many"' "$tool" --runs many
  expect_refusal "cannot read $work/missing.txt" "$tool" --input "$work/missing.txt"
  expect_refusal "cannot read $work" "$tool" --input "$work"
  expect_refusal "cannot run the benchmark /nonexistent/matbench" "$tool" --bench /nonexistent/matbench
  expect_refusal "no report found" "$tool" --input /dev/null
  expect_refusal "report truncated" "$tool" --input "$work/truncated.txt" --json
  expect_refusal "empty report" "$tool" --bench "$work/fake" --runs 1 --csv
  ;;
warns_when_the_runtime_may_shrink_teams)
  OMP_DYNAMIC=true "$tool" --runs 1 --json >"$work/out" 2>"$work/err" || fail "exit status $?"
  grep -q 'warning: OMP_DYNAMIC is set' "$work/err" || fail "no warning: $(cat "$work/err")"
  grep -q '"OMP_DYNAMIC": "true"' "$work/out" || fail "setting missing from the JSON"
  ;;
plot_draws_both_series)
  command -v gnuplot >/dev/null || { echo "SKIP: gnuplot not installed"; exit 77; }
  saved_report
  "$tool" --input "$work/report.txt" --plot "$work/chart.svg" >/dev/null 2>"$work/err" ||
    fail "exit status $?: $(cat "$work/err")"
  [ -s "$work/chart.svg" ] || fail "no chart written"
  for series in "speedup vs serial" "ideal on" "efficiency" "processors"; do
    grep -q "$series" "$work/chart.svg" || fail "series '$series' missing from the chart"
  done
  ;;
plot_without_gnuplot_leaves_data_and_script)
  saved_report
  mkdir "$work/bin"
  PATH=$work/bin "$tool" --input "$work/report.txt" --plot "$work/chart.png" >"$work/out" 2>"$work/err" ||
    fail "exit status $?"
  grep -q 'gnuplot is not installed' "$work/err" || fail "no word about gnuplot: $(cat "$work/err")"
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "more than one line on standard error"
  [ -s "$work/chart.dat" ] && [ -s "$work/chart.gp" ] || fail "data or script missing"
  grep -q '^ serial ' "$work/out" || fail "table not printed"
  ;;
*)
  fail "unknown case $case_name"
  ;;
esac
echo "PASS: $case_name"
