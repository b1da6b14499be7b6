# shellcheck shell=bash
# Runaway benchmarks and interrupts: the tool ends promptly and keeps what is whole.
# Sourced by speedup_e2e.sh, whose helpers the cases use; each case is a function named
# after it.

case_runaway_benchmarks_are_stopped() {
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
}

case_interrupt_keeps_the_finished_runs() {
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
}

case_interrupt_ends_merge_compare_and_parsing_promptly() {
  saved_report
  "$tool" --input "$work/report.txt" --json >"$work/session.json" 2>/dev/null
  big_session 100000 "" >"$work/big.json"
  python3 -c 'import sys; sys.stdout.buffer.write(open(sys.argv[1], "rb").read() * 60000)' "$work/report.txt" >"$work/reports.txt"
  expect_prompt_interrupt INT 0.3 3 "$tool" merge "$work/big.json" "$work/big.json" "$work/big.json" "$work/big.json"
  expect_prompt_interrupt TERM 0.3 3 "$tool" compare "$work/big.json" "$work/big.json" --plot "$work/c.svg"
  expect_prompt_interrupt HUP 0.3 3 "$tool" --input "$work/reports.txt" --plot "$work/r.svg"
  [ ! -e "$work/c.svg" ] && [ ! -e "$work/r.svg" ] || fail "a chart was written after the interrupt"
  [ -z "$(find "$work" -maxdepth 1 -name '*.partial-*')" ] || fail "a half-written chart was left behind"
}

case_interrupt_at_any_moment_leaves_no_output() {
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
}
