#!/usr/bin/env bash
# End-to-end checks of the built benchmark: e2e.sh PROGRAM CASE [SPEEDUP_TOOL]
set -u
program=$1
case_name=$2
speedup_tool=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The default report, as Windows-1251 bytes, with each seconds figure written as S.
expected_report() {
  {
    printf 'SerialMulti =  S \n \n'
    for threads in $(seq 20); do
      printf 'ParallelMulti ( %d потоков ) = S  Тест 1 \n' "$threads"
    done
    printf '\n Завершено'
  } | iconv -f UTF-8 -t CP1251
}

# Seconds are whole milliseconds: six decimals, the last three zero.
without_seconds() {
  sed -E 's/= ( ?)[0-9]+\.[0-9]{3}000 /= \1S /g'
}

expect_exact_report() {
  without_seconds <"$1" >"$work/normalised"
  expected_report >"$work/expected"
  cmp "$work/expected" "$work/normalised" || {
    diff <(od -c "$work/expected") <(od -c "$work/normalised") | head -20 >&2
    fail "report differs from the expected bytes"
  }
}

expect_status_0() {
  [ "$1" -eq 0 ] || fail "exit status $1, expected 0"
}

case $case_name in
default_report_is_exact)
  "$program" </dev/null >"$work/out" 2>"$work/err"
  expect_status_0 $?
  expect_exact_report "$work/out"
  [ ! -s "$work/err" ] || fail "standard error is not empty: $(head -c 200 "$work/err")"
  ;;
arguments_do_not_change_the_report)
  "$program" one --two 3 </dev/null >"$work/out"
  expect_status_0 $?
  expect_exact_report "$work/out"
  ;;
omp_environment_does_not_change_the_report)
  # Run under the OMP_* settings given in the environment; the runtime may warn on stderr.
  "$program" </dev/null >"$work/out" 2>/dev/null
  expect_status_0 $?
  expect_exact_report "$work/out"
  ;;
stdin_closed_still_exits_0)
  "$program" <&- >"$work/out"
  expect_status_0 $?
  expect_exact_report "$work/out"
  ;;
stdout_full_still_exits_0)
  "$program" </dev/null >/dev/full
  expect_status_0 $?
  ;;
vanished_reader_does_not_kill_the_run)
  (sleep 0.3; exec "$program" </dev/null) | true
  expect_status_0 "${PIPESTATUS[0]}"
  ;;
closing_text_is_visible_before_the_wait)
  # The program reads a fifo that stays open, so it waits; its output goes through a pipe.
  mkfifo "$work/keys"
  exec 3<>"$work/keys"
  "$program" <"$work/keys" | cat >"$work/out" &
  closing=$(printf '\n Завершено' | iconv -f UTF-8 -t CP1251 | tail -c 9)
  for _ in $(seq 600); do
    grep -q -F "$closing" "$work/out" && break
    sleep 0.1
  done
  grep -q -F "$closing" "$work/out" || fail "closing text not visible while the program waits"
  echo x >&3
  wait
  expect_exact_report "$work/out"
  ;;
fine_report_has_the_format_and_microseconds)
  # matbench-fine: the same bytes as matbench's report but for the figures, six decimals each,
  # which the speedup tool's parser reads, and not every one a whole millisecond.
  "$program" </dev/null >"$work/out" 2>"$work/err"
  expect_status_0 $?
  sed -E 's/= ( ?)[0-9]+\.[0-9]{6} /= \1S /g' <"$work/out" >"$work/normalised"
  expected_report >"$work/expected"
  cmp -s "$work/expected" "$work/normalised" || fail "the fine report differs from the format"
  grep -aqE '= ?[0-9]+\.[0-9]{3}(00[1-9]|0[1-9][0-9]|[1-9][0-9]{2}) ' "$work/out" ||
    fail "every figure of the fine report is a whole millisecond"
  "$speedup_tool" --input "$work/out" --processors 2 --long-csv >"$work/long.csv" 2>"$work/err" ||
    fail "the speedup tool could not read the fine report: $(head -c 300 "$work/err")"
  [ "$(grep -c ',true$' "$work/long.csv")" -eq 21 ] || fail "the parser did not read 21 passed times"
  grep -qE ',[0-9]+\.[0-9]{4,6},true$' "$work/long.csv" ||
    fail "the parser kept only whole milliseconds of the fine report"
  ;;
*)
  fail "unknown case $case_name"
  ;;
esac
echo "PASS: $case_name"
