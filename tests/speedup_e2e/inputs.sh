# shellcheck shell=bash
# Saved reports and sessions read back, compared and merged; bad input refused.
# Sourced by speedup_e2e.sh, whose helpers the cases use; each case is a function named
# after it.

case_json_and_csv_read_back_to_the_same_figures() {
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
}

case_saved_session_reanalyses_to_identical_output() {
  noisy_bench 0.3
  "$tool" --bench "$work/noisy" --runs 7 --json >"$work/session.json" 2>"$work/err" || fail "exit status $?"
  for format in "" --csv --long-csv --json; do
    "$tool" --input "$work/session.json" $format >"$work/again$format" 2>"$work/err-again" || fail "exit status $? for $format"
  done
  cmp -s "$work/session.json" "$work/again--json" || fail "the JSON changed on re-analysis"
  [ "$(grep -c . "$work/again--long-csv")" -eq $((1 + 7 * 21)) ] || fail "the long CSV does not hold every time"
  "$tool" --input - <"$work/session.json" | cmp -s - "$work/again" || fail "the table changed when read from stdin"
  grep -q 'matbench speedup over 7 of 7 runs' "$work/again" || fail "runs not counted"
}

case_failed_runs_are_named_and_the_rest_still_count() {
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
}

case_bad_input_is_refused_with_one_message() {
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
}

case_zero_and_negative_times_are_never_ratios() {
  saved_report
  sed -E 's/= [0-9]+\.[0-9]{6}/= 0.000000/' "$work/report.txt" >"$work/zero.txt"
  "$tool" --input "$work/zero.txt" >"$work/out" 2>"$work/err" || fail "exit status $?"
  ! grep -E '^ +[0-9]+ ' "$work/out" | grep -q -E ' 0\.00 \[' || fail "a ratio over zero shown as 0: $(cat "$work/out")"
  [ "$(grep -c -E '^ +[0-9]+ .*—.*~' "$work/out")" -eq 20 ] || fail "rows not shown as missing and too short"
  sed -E '0,/\) = [0-9]/s/\) = ([0-9])/) = -\1/' "$work/report.txt" >"$work/negative.txt"
  "$tool" --input "$work/negative.txt" >"$work/out" 2>"$work/err"
  [ $? -eq 1 ] || fail "a negative time was accepted"
  grep -q 'malformed line: a negative time' "$work/err" || fail "not named: $(cat "$work/err")"
}

case_merge_names_the_slow_node_and_the_failed_ones() {
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
}

case_compare_judges_a_slowed_build_slower() {
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
}

case_memory_stays_within_a_small_multiple_of_the_input() {
  # AddressSanitizer's shadow and quarantine leave no bound to hold, and its parsers' safety on
  # such inputs is the fuzzers' work: here only minutes of its time would be spent.
  if grep -q -a AddressSanitizer "$tool"; then
    echo "SKIP: memory is not bounded under AddressSanitizer"
    exit 77
  fi
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
}

case_escapes_from_a_session_file_reach_the_terminal_escaped() {
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
}
