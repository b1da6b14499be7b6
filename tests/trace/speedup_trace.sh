#!/usr/bin/env bash
# The speedup tool's trace command on the real benchmark:
#   speedup_trace.sh TOOL TRACE_TOOL CASE SESSION
# TRACE_TOOL is libmatbench-trace.so, or "none" where it was not built (then the case is skipped).
# SESSION: a folder that the case make_traced_session fills first with one traced session (its
# trace folder t, its --json output first.json and its page page.html), which the other cases
# and the browser's read: the traced runs of the product take both processors for seconds.
set -u
speedup=$1
trace_tool=$2
case_name=$3
session=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
[ "$trace_tool" != none ] && [ -f "$trace_tool" ] || {
  echo "SKIP: the trace tool is not built (it needs LLVM 19's OpenMP headers, Debian libomp-19-dev)"
  exit 77
}

# The traced session of two pairs of runs, copied into $work/t, its JSON into $work/first.json.
traced_session() {
  [ -s "$session/first.json" ] || fail "no traced session was made (speedup_trace.make_traced_session)"
  cp -r "$session/t" "$work/t" && cp "$session/first.json" "$work/first.json" || fail "cannot copy it"
}

case $case_name in
  make_traced_session)
    rm -rf "$session"
    mkdir -p "$session" || fail "cannot make $session"
    "$speedup" trace --runs 2 --tool "$trace_tool" --out "$session/t" --html "$session/page.html" \
      --json >"$session/first.json" 2>"$work/err" || fail "trace exited $?: $(cat "$work/err")"
    ;;
  session_traces_every_team_and_reads_back)
    traced_session
    python3 - "$work/first.json" "$(nproc)" <<'PY' || fail "the traced figures are not whole"
import json, sys
d = json.load(open(sys.argv[1]))
d_processors = int(sys.argv[2])
assert d["format"] == "matbench-speedup trace", d["format"]
# Every buffer of the benchmark's threads was made before the first region.
assert d["tool_setup"]["buffers_prepared"] > 0 and d["tool_setup"]["buffers_made_on_begin"] == 0, \
    d["tool_setup"]
assert d["traced_runs"] == 2, d["traced_runs"]
assert "libomp" in d["traced_runtime"], d["traced_runtime"]
teams = d["teams"]
assert [t["threads"] for t in teams] == list(range(1, 21)), [t["threads"] for t in teams]
for t in teams[1:]:
    # Every row is claimed by some thread: the median thread's rows times the team is about 600.
    assert t["rows_min"] * t["threads_seen"] <= 600 <= t["rows_max"] * t["threads_seen"], t
    shares = [t[k]["median"] for k in
              ("fork", "tool", "core_wait", "work", "scheduling", "imbalance", "join")]
    assert all(s is not None and 0 <= s <= 1 for s in shares), shares
    assert 0 <= t["parallel_efficiency"] <= 1 and t["dominant_loss"], t
    # Teams larger than the processors are marked; the context names how many there are.
    assert t["oversubscribed"] == (t["threads"] > d_processors), t
    assert t["region_ms"]["median"] > 0 and t["report_ms"]["median"] > 0, t
assert all(r["trace"] for r in d["runs"]), d["runs"]
PY
    # Catches a trace that runs the millisecond build when the fine one stands beside the tool,
    # as the run command does not: the untraced times are not all whole milliseconds.
    python3 - "$work/t/untraced.json" <<'PY' || fail "the trace did not run matbench-fine"
import json, sys
runs = json.load(open(sys.argv[1]))["runs"]
times = [t for r in runs for t in [r["serial_s"]] + r["parallel_s"]]
assert any(round(t * 1e6) % 1000 for t in times), times
PY
    for file in trace.json traced.json untraced.json run-001.trace run-002.trace; do
      [ -s "$work/t/$file" ] || fail "the folder lacks $file"
    done
    # Read back, the folder gives the same figures, to the byte.
    "$speedup" trace --input "$work/t" --json >"$work/again.json" 2>"$work/err" ||
      fail "trace --input exited $?: $(cat "$work/err")"
    cmp -s "$work/first.json" "$work/again.json" || fail "the folder reads back to other figures"
    # The untraced and traced sessions are ordinary session files that compare reads.
    "$speedup" compare "$work/t/untraced.json" "$work/t/traced.json" >"$work/compare.out" \
      2>/dev/null
    grep -q "matbench comparison" "$work/compare.out" || fail "compare cannot read the sessions"
    ;;
  exports_open_in_their_readers)
    traced_session
    "$speedup" trace --input "$work/t" --team 2 --chrome "$work/c.json" --otf2 "$work/o" \
      --timeline "$work/timeline.svg" --plot "$work/split.svg" >/dev/null 2>"$work/err" ||
      fail "the exports failed: $(cat "$work/err")"
    # Rows, then each thread's time on a core (one slice a task, at least), then regions.
    read -r rows cores regions < <(python3 -c '
import json, sys
d = json.load(open(sys.argv[1]))
count = lambda cat: sum(1 for e in d["traceEvents"] if e.get("cat") == cat)
print(count("row"), count("cpu"), count("region"))' "$work/c.json") ||
      fail "the Chrome trace is not JSON"
    [ "$rows" -ge $((19 * 600)) ] || fail "the Chrome trace holds $rows rows"
    tasks=$(grep -c '"cat":"task"' "$work/c.json")
    [ "$cores" -ge "$tasks" ] || fail "$cores slices on a core for $tasks tasks"
    if command -v otf2-print >/dev/null; then
      otf2-print -Werror "$work/o/matbench.otf2" >"$work/otf2.txt" 2>"$work/err" ||
        fail "otf2-print finds fault with the archive: $(head -3 "$work/err")"
      otf2_rows=$(grep -c '^ENTER .*"row"' "$work/otf2.txt")
      [ "$otf2_rows" -eq "$rows" ] || fail "OTF2 holds $otf2_rows rows, Chrome $rows"
      # Each region forked and joined; each task begun and ended in its team.
      for record in THREAD_FORK:$regions THREAD_JOIN:$regions THREAD_TEAM_BEGIN:$tasks \
        THREAD_TEAM_END:$tasks; do
        count=$(grep -c "^${record%%:*} " "$work/otf2.txt")
        [ "$count" -eq "${record#*:}" ] || fail "OTF2 holds $count ${record%%:*}, ${record#*:} expected"
      done
    fi
    if command -v gnuplot >/dev/null; then
      for chart in timeline split; do
        grep -q '</svg>' "$work/$chart.svg" || fail "the $chart chart is not a whole SVG"
      done
    fi
    ;;
  runtime_without_tools_interface_is_refused)
    # Preloaded under a benchmark that runs on libgomp itself, libgomp stands for a runtime
    # without the tools interface; a benchmark built on LLVM's runtime would still load the tool.
    readelf -d "$(dirname "$speedup")/matbench" | grep -q 'NEEDED.*libgomp' || {
      echo "SKIP: the benchmark is built on LLVM's runtime, which always has the tools interface"
      exit 77
    }
    gomp=$(ldconfig -p | sed -n 's/.*libgomp.so.1 .*=> //p' | head -1)
    [ -n "$gomp" ] || {
      echo "SKIP: no libgomp to stand for a runtime without the tools interface"
      exit 77
    }
    "$speedup" trace --runs 2 --tool "$trace_tool" --runtime "$gomp" --out "$work/t" \
      >"$work/out" 2>"$work/err"
    status=$?
    [ "$status" -ne 0 ] || fail "exit status 0 under a runtime that cannot trace"
    grep -q "did not load the trace tool" "$work/err" || fail "not said: $(cat "$work/err")"
    [ "$(wc -l <"$work/err")" -eq 1 ] || fail "more than one line: $(cat "$work/err")"
    [ ! -s "$work/out" ] && [ ! -e "$work/t/traced.json" ] || fail "something was half-traced"
    ;;
  damaged_folders_are_named)
    traced_session
    cp -r "$work/t" "$work/cut"
    head -c 1000 "$work/t/run-002.trace" >"$work/cut/run-002.trace"
    "$speedup" trace --input "$work/cut" >"$work/out" 2>"$work/err" && fail "a cut trace was read"
    grep -q "run-002.trace.*truncated" "$work/err" || fail "the cut trace is not named: $(cat "$work/err")"
    [ ! -s "$work/out" ] || fail "figures were shown from a damaged folder"
    printf '{"format": "matbench-speedup trace", "format_version": 9}' >"$work/cut/trace.json"
    "$speedup" trace --input "$work/cut" >/dev/null 2>"$work/err" && fail "a later version was read"
    grep -q "format version 9" "$work/err" || fail "the version is not named: $(cat "$work/err")"
    # A folder that cannot be made is refused in one line before the first run.
    "$speedup" trace --runs 1 --tool "$trace_tool" --out /proc/version/t >/dev/null 2>"$work/err"
    [ $? -eq 2 ] || fail "an unwritable folder was taken"
    [ "$(wc -l <"$work/err")" -eq 1 ] && grep -q '/proc/version/t.*does not exist' "$work/err" ||
      fail "not said in one line: $(cat "$work/err")"
    ;;
  smaller_faults_are_named)
    # A file that is no library is said to be so, not blamed on the runtime.
    "$speedup" trace --runs 1 --tool /etc/passwd --out "$work/p" >/dev/null 2>"$work/err" &&
      fail "/etc/passwd was taken for a tool"
    grep -q "is not a shared library" "$work/err" || fail "not said: $(cat "$work/err")"
    grep -q "runtime" "$work/err" && fail "blamed on the runtime: $(cat "$work/err")"
    # A team smaller than asked is said in the table: 20<3.
    OMP_THREAD_LIMIT=3 "$speedup" trace --runs 1 --tool "$trace_tool" --out "$work/t" \
      >"$work/out" 2>"$work/err" || fail "trace under OMP_THREAD_LIMIT=3 exited $?: $(cat "$work/err")"
    grep -Eq '^ +20<3\*? ' "$work/out" || fail "the smaller team is not marked: $(grep -E '^ +20' "$work/out")"
    grep -q "the runtime gave only N threads" "$work/out" || fail "the mark is not explained"
    # A folder of an interrupted session reads back as what it is, not as a new interrupt.
    python3 - "$work/t/traced.json" "$work/t/untraced.json" <<'PY' || fail "cannot mark the folder"
import json, sys
for path in sys.argv[1:]:
    d = json.load(open(path))
    d["session"]["interrupted"] = "SIGINT"
    json.dump(d, open(path, "w"))
PY
    "$speedup" trace --input "$work/t" >"$work/out" 2>"$work/err"
    status=$?
    [ "$status" -eq 0 ] || fail "reading an interrupted folder exited $status: $(cat "$work/err")"
    grep -q "interrupted by SIGINT" "$work/out" || fail "the interruption is not said"
    # Reading holds each run's trace whole: a folder naming more runs than a session can hold
    # is refused before any trace is read.
    python3 - "$work/t/trace.json" <<'PY' || fail "cannot grow the index"
import json, sys
d = json.load(open(sys.argv[1]))
d["runs"] = d["runs"] * 1001
json.dump(d, open(sys.argv[1], "w"))
PY
    "$speedup" trace --input "$work/t" >"$work/out" 2>"$work/err" && fail "1001 runs were read"
    grep -q "names 1001 traced runs; at most 1000 are read" "$work/err" ||
      fail "the bound is not said: $(cat "$work/err")"
    ;;
  *)
    fail "unknown case $case_name"
    ;;
esac
echo "PASS: $case_name"
