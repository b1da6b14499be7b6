#!/usr/bin/env bash
# Scale benchmark of matbench-speedup, each figure beside its goal:
#   merge of realistic sessions (full context, real speedups, so every node's Amdahl fit and its
#   bootstrap run): 10,000 in < 5 s and < 300 MB (with --html < 400 MB), 100,000 in < 60 s and
#   < 1 GB; growth from 1,000 to 4,000 sessions at most 4.5x;
#   compare of 60,000 runs a side < 5 s;
#   every reader of a 64 MiB input (reports, session JSON of any shape, a raw trace, a trace
#   index) done or refused in < 10 s with a peak below 4x the input + 100 MB;
#   an interrupt during a merge obeyed within 0.5 s, no output left.
#
# Usage: scripts/scale.sh [BUILD_DIR] [--quick]   (--quick skips the goal sizes)
# Rows below the goal sizes are run three times and show the medians, with the spread of the
# seconds; every row shows the 1-minute load average when it ended (the machine may be shared).
# Needs python3 and GNU time (/usr/bin/time, Debian package "time"). The sessions are generated
# from tests/golden/inputs/base.json, fixed data, with a fixed random seed: the figures do not
# depend on how the machine behaved while some seed run ran.
set -euo pipefail

build=build
quick=false
for arg in "$@"; do
  case "$arg" in
    --quick) quick=true ;;
    *) build=$arg ;;
  esac
done
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(cd "$build" 2>/dev/null && pwd)/matbench-speedup
seed=$root/tests/golden/inputs/base.json
[ -x "$tool" ] || { echo "scale.sh: no $tool; build first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "scale.sh: needs GNU time (apt-get install time)" >&2; exit 1; }
command -v python3 >/dev/null || { echo "scale.sh: needs python3" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# generate merge COUNT FOLDER | generate compare RUNS FILE SCALE | generate bulk SHAPE FILE
generate() {
  python3 - "$seed" "$@" <<'EOF'
import json, os, random, sys
seed = json.load(open(sys.argv[1]))
kind, size, target = sys.argv[2], sys.argv[3], sys.argv[4]
passed = [r for r in seed["runs"] if r["failure"] is None]
random.seed(20261210)

def session(runs, host, scale):
    out = {k: seed[k] for k in ("format", "format_version")}
    out["session"] = {"requested_runs": runs}
    out["context"] = dict(seed["context"], host=host)
    out["runs"] = []
    for i in range(runs):
        base = passed[i % len(passed)]
        f = scale * random.lognormvariate(0, 0.02)
        out["runs"].append({"serial_s": round(base["serial_s"] * f, 6),
                            "parallel_s": [round(t * f * random.lognormvariate(0, 0.02), 6)
                                           for t in base["parallel_s"]],
                            "failure": None})
    return out

mib64 = 64 << 20
if kind == "merge":
    os.makedirs(target, exist_ok=True)
    for n in range(int(size)):
        with open(os.path.join(target, "n%06d.json" % n), "w") as f:
            json.dump(session(10, "node%06d" % n, 1.2 if n % 50 == 7 else 1.0), f)
elif kind == "compare":
    with open(target, "w") as f:
        json.dump(session(int(size), "host", float(sys.argv[5])), f)
else:  # a 64 MiB session whose bulk is an unknown key of the given shape
    text = json.dumps(session(10, "host", 1.0))[:-1] + ', "bulk": '
    unit = {"lists": "[],", "objects": "{},", "arrays": "[1,[2,[3]]],"}.get(size)
    if unit:
        count = (mib64 - len(text) - 8) // len(unit)
        text += "[" + (unit * count)[:-1] + "]}"
    else:  # nested deeper than any reader keeps
        depth = (mib64 - len(text)) // 2 - 8
        text += "[" * depth + "]" * depth + "}"
    open(target, "w").write(text)
EOF
}

# Runs the command under GNU time; prints "seconds peak_MB cpu_seconds" (user + system: on a
# loaded machine the wall-clock seconds say more of the others' work than of this one's). Exit statuses up to `most` are no
# failure here: merge exits 1 when a node is named slower, a refused input 2.
measure() {  # measure MOST COMMAND...
  local most=$1 status=0
  shift
  /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || status=$?
  if [ "$status" -gt "$most" ]; then
    echo "scale.sh: $* exited $status:" >&2
    head -5 "$work/stderr" >&2
    exit 1
  fi
  # GNU time writes "Command exited with non-zero status N" first: its figures are the last line.
  tail -n 1 "$work/time" | awk '{ printf "%.2f %.0f %.2f\n", $1, $2 / 1024, $3 + $4 }'
}

declare -A seconds megabytes
# row LABEL GOAL_S GOAL_MB MOST COMMAND...: the figures beside their goals ("-": none). REPS
# (default 1) runs: the medians, and the seconds' range.
row() {
  local label=$1 goal_s=$2 goal_mb=$3 most=$4 rep spread=""
  shift 4
  : >"$work/row"
  for ((rep = 0; rep < ${REPS:-1}; rep++)); do measure "$most" "$@" >>"$work/row"; done
  read -r s m cpu spread < <(python3 -c '
import statistics, sys
rows = [tuple(map(float, line.split())) for line in open(sys.argv[1])]
s, m, c = ([r[i] for r in rows] for i in range(3))
spread = "%.2f-%.2f" % (min(s), max(s)) if len(rows) > 1 else ""
print("%.2f %.0f %.2f %s" % (tuple(map(statistics.median, (s, m, c))) + (spread,)))' "$work/row")
  seconds[$label]=$s
  megabytes[$label]=$m
  local verdict=""
  if [ "$goal_s" != - ] || [ "$goal_mb" != - ]; then
    verdict=$(python3 -c '
import sys
s, m, gs, gm = sys.argv[1:]
ok = (gs == "-" or float(s) < float(gs)) and (gm == "-" or float(m) < float(gm))
print("met" if ok else "MISSED")' "$s" "$m" "$goal_s" "$goal_mb")
  fi
  printf "%-36s %7s s %7s MB (cpu %6s s)  goal < %3s s < %4s MB  %-6s load %s%s\n" "$label" \
    "$s" "$m" "$cpu" "$goal_s" "$goal_mb" "$verdict" "$(cut -d' ' -f1 /proc/loadavg)" "${spread:+, ${REPS} runs: $spread s}"
}
ratio() {
  python3 -c "import sys; a, b = float(sys.argv[1]), float(sys.argv[2]); print('%.2fx' % (b / a if a > 0 else float('inf')))" "$1" "$2"
}

echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(nproc) processors"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
merge_sizes=(250 1000 4000)
compare_sizes=(1000 16000)
if ! $quick; then
  merge_sizes+=(10000 100000)
  compare_sizes+=(60000)
fi
for n in "${merge_sizes[@]}"; do
  generate merge "$n" "$work/merge$n"
  goal_s=- goal_mb=-
  [ "$n" -eq 10000 ] && goal_s=5 goal_mb=300
  [ "$n" -eq 100000 ] && goal_s=60 goal_mb=1000
  reps=1
  [ "$n" -lt 10000 ] && reps=3
  # One merge of every file: named from inside their folder, with room for 100,000 names on one
  # command line (xargs would have split them over several merges).
  REPS=$reps row "merge $n sessions" $goal_s $goal_mb 1 \
    bash -c 'ulimit -s 65536 && cd "$1" && exec "$0" merge n*.json' "$tool" "$work/merge$n"
  if [ "$n" -eq 10000 ]; then
    row "merge $n sessions --html" - 400 1 "$tool" merge "$work/merge$n"/*.json --html "$work/m.html"
    # An interrupt one second in: the time from the signal to the exit, and no page left.
    "$tool" merge "$work/merge$n"/*.json --html "$work/i.html" >/dev/null 2>&1 &
    pid=$!
    sleep 1
    sent=$(date +%s.%N)
    kill -INT "$pid" 2>/dev/null || true
    wait "$pid" || true
    ended=$(date +%s.%N)
    left=$([ -e "$work/i.html" ] && echo "a page was left" || echo "no page left")
    printf "%-40s %8.2f s, %s   goal < 0.5 s, none left\n" "interrupt of merge $n sessions" \
      "$(python3 -c "print($ended - $sent)")" "$left"
  fi
  rm -rf "$work/merge$n"
done
for n in "${compare_sizes[@]}"; do
  generate compare "$n" "$work/base.json" 1.0
  generate compare "$((n + 1))" "$work/new.json" 1.01
  goal=-
  [ "$n" -eq 60000 ] && goal=5
  reps=3
  [ "$n" -eq 60000 ] && reps=1
  REPS=$reps row "compare $n runs a side" $goal - 1 "$tool" compare "$work/base.json" "$work/new.json"
done
# The JSON of a session of 100,000 runs (the most a file may hold): its peak, by the README's
# figure (229 MB).
generate compare 100000 "$work/base.json" 1.0
row "--json of a 100,000-run session" - 229 0 "$tool" --input "$work/base.json" --json
if ! $quick; then
  # Readers of 64 MiB: < 10 s, peak < 4 x 64 + 100 MB.
  head -c $((64 << 20)) /dev/zero | tr '\0' '\r' >"$work/input"
  row "read 64 MiB of carriage returns" 10 356 2 "$tool" --input "$work/input"
  head -c $((64 << 20)) /dev/urandom >"$work/input"
  row "read 64 MiB of random bytes" 10 356 2 "$tool" --input "$work/input"
  for shape in lists objects arrays nested; do
    generate bulk "$shape" "$work/input.json"
    row "read a 64 MiB session: bulk of $shape" 10 356 2 "$tool" --input "$work/input.json"
  done
  # A trace folder: one raw trace of 64 MiB, and an index of 64 MiB whose 100,000 runs name it.
  python3 - "$work/t" <<'EOF'
import json, os, struct, sys
folder = sys.argv[1]
os.makedirs(folder)
threads, per = 256, ((64 << 20) - 464 - 16) // 256 // 32 - 1
head = b"MBTRACE\0" + struct.pack("<14I", 1, 0x01020304, 464, 24, 32, 201611, 1, 1, threads,
                                  256, per, 0, 7, 0) + struct.pack("<QQ", 0, 1)
head += b"LLVM OMP".ljust(128, b"\0") + b"".ljust(256, b"\0")
with open(os.path.join(folder, "run-001.trace"), "wb") as f:
    f.write(head)
    for slot in range(threads):
        f.write(struct.pack("<IIQQ", slot, 2, per, 0))
        f.write(struct.pack("<QQIIIHH", 5, 0, 1, 0, 0, 3, 0))  # the region begins
        event = struct.pack("<QQIIIHH", 6, 0, 1, 1, 0, 9, 0)  # then rows are claimed
        f.write(event * (per - 1))
    f.write(b"MBTREND\0" + struct.pack("<Q", threads * per))
entry = ',{"trace": "run-001.trace", "untraced": null}'
index = ('{"format": "matbench-speedup trace", "format_version": 1, "runtime": "rt", '
         '"traced_session": "traced.json", "untraced_session": "untraced.json", "runs": [' +
         (entry * 100000)[1:] + '], "bulk": [')
index += "[]," * (((64 << 20) - len(index)) // 3 - 1) + "[]]}"
open(os.path.join(folder, "trace.json"), "w").write(index)
EOF
  python3 - "$seed" "$work/t" <<'EOF'
import json, sys
seed = json.load(open(sys.argv[1]))
passed = [r for r in seed["runs"] if r["failure"] is None]
for name in ("traced", "untraced"):
    session = dict(seed, runs=[passed[i % len(passed)] for i in range(100000)])
    json.dump(session, open(sys.argv[2] + "/" + name + ".json", "w"))
EOF
  row "read a trace folder (64 MiB trace+index)" 10 612 2 "$tool" trace --input "$work/t"
fi

echo
echo "growth merge 250 -> 1000:    $(ratio "${seconds[merge 250 sessions]}" "${seconds[merge 1000 sessions]}") (4x the sessions)"
echo "growth merge 1000 -> 4000:   $(ratio "${seconds[merge 1000 sessions]}" "${seconds[merge 4000 sessions]}") (goal: at most 4.5x)"
echo "growth compare 1000 -> 16000: $(ratio "${seconds[compare 1000 runs a side]}" "${seconds[compare 16000 runs a side]}") (16x the runs)"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
