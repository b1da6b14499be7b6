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

# Runs the command with at most `mb` megabytes of address space.
within_mb() {
  local mb=$1
  shift
  (ulimit -v $((mb * 1000)) && exec "$@")
}

# A session JSON of `runs` runs, each failed with `failure`, from the saved report's session; the
# run's text is repeated, as building that many values took seconds.
big_session() {
  python3 - "$work/session.json" "$1" "$2" <<'PY'
import json, sys
session = json.load(open(sys.argv[1]))
run = json.dumps(dict(session["runs"][0], failure=sys.argv[3] or None))
session["runs"] = []
head, tail = json.dumps(session).split('"runs": []')
sys.stdout.write(head + '"runs": [' + ", ".join([run] * int(sys.argv[2])) + "]" + tail)
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

# The cases, by topic, one function each.
for part in "$(dirname "$0")"/speedup_e2e/*.sh; do
  # shellcheck source=/dev/null
  . "$part"
done
declare -F "case_$case_name" >/dev/null || fail "unknown case $case_name"
"case_$case_name"
echo "PASS: $case_name"
