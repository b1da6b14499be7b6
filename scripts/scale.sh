#!/usr/bin/env bash
# Scale benchmark of matbench-speedup: times `merge` of 250, 1,000 and 4,000 synthetic ten-run
# sessions and `compare` of 1,000 and 16,000 runs a side, with their growth ratios and peak
# memory, then the goals: merge of 10,000 sessions (< 10 s, < 500 MB), compare of 60,000 runs a
# side (< 5 s) and parsing 64 MiB of carriage returns and of random bytes (< 10 s each).
# Growth from 1,000 to 4,000 sessions should be at most 5x (linearithmic, not quadratic).
#
# Usage: scripts/scale.sh [BUILD_DIR] [--quick]   (--quick skips the goal sizes)
# Needs python3 and GNU time (/usr/bin/time, Debian package "time"). The synthetic sessions are
# scaled from one real report of BUILD_DIR/matbench, written once into a temporary folder.
set -euo pipefail

build=build
quick=false
for arg in "$@"; do
  case "$arg" in
    --quick) quick=true ;;
    *) build=$arg ;;
  esac
done
tool=$build/matbench-speedup
bench=$build/matbench
for program in "$tool" "$bench"; do
  [ -x "$program" ] || { echo "scale.sh: no $program; build first" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "scale.sh: needs GNU time (apt-get install time)" >&2; exit 1; }
command -v python3 >/dev/null || { echo "scale.sh: needs python3" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bench" </dev/null >"$work/report.txt"
"$tool" --input "$work/report.txt" --json >"$work/seed.json"

# Sessions of the seed's first run with every time scaled by a log-normal wobble; a merge node is
# named by its host, on 2 processors, and every 50th node is 20% slower.
generate() {  # generate merge COUNT FOLDER | generate compare RUNS FILE SCALE
  python3 - "$work/seed.json" "$@" <<'EOF'
import json, os, random, sys
seed = json.load(open(sys.argv[1]))
kind, size, target = sys.argv[2], int(sys.argv[3]), sys.argv[4]
base = seed["runs"][0]
random.seed(size)

def session(runs, host, scale):
    out = {k: seed[k] for k in ("format", "format_version")}
    out["session"] = {"requested_runs": runs}
    out["context"] = {"host": host, "processors": 2}
    out["runs"] = []
    for _ in range(runs):
        f = scale * random.lognormvariate(0, 0.03)
        out["runs"].append({"serial_s": round(base["serial_s"] * f, 6),
                            "parallel_s": [round(t * f * random.lognormvariate(0, 0.03), 6)
                                           for t in base["parallel_s"]],
                            "failure": None})
    return out

if kind == "merge":
    os.makedirs(target, exist_ok=True)
    for n in range(size):
        with open(os.path.join(target, "n%05d.json" % n), "w") as f:
            json.dump(session(10, "node%05d" % n, 1.2 if n % 50 == 7 else 1.0), f)
else:
    with open(target, "w") as f:
        json.dump(session(size, "host", float(sys.argv[5])), f)
EOF
}

# Runs the command under GNU time; prints "seconds peak_MB". Exit statuses up to `most` are no
# failure here: merge exits 1 when a node is named slower, --input 2 when it finds no report.
measure() {  # measure MOST COMMAND...
  local most=$1 status=0
  shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || status=$?
  if [ "$status" -gt "$most" ]; then
    echo "scale.sh: $* exited $status:" >&2
    head -5 "$work/stderr" >&2
    exit 1
  fi
  # GNU time writes "Command exited with non-zero status N" first: its figures are the last line.
  tail -n 1 "$work/time" | awk '{ printf "%.2f %.0f\n", $1, $2 / 1024 }'
}

declare -A seconds megabytes
row() {  # row LABEL MOST COMMAND...
  local label=$1 most=$2
  shift 2
  measure "$most" "$@" >"$work/row"
  read -r s m <"$work/row"
  seconds[$label]=$s
  megabytes[$label]=$m
  printf "%-34s %9s s %8s MB\n" "$label" "$s" "$m"
}
ratio() {
  python3 -c "import sys; a, b = float(sys.argv[1]), float(sys.argv[2]); print('%.2fx' % (b / a if a > 0 else float('inf')))" "$1" "$2"
}

grep -m1 'model name' /proc/cpuinfo || true
echo "$(nproc) processors"
merge_sizes=(250 1000 4000)
compare_sizes=(1000 16000)
if ! $quick; then
  merge_sizes+=(10000)
  compare_sizes+=(60000)
fi
for n in "${merge_sizes[@]}"; do
  generate merge "$n" "$work/merge$n"
  row "merge $n sessions" 1 "$tool" merge "$work/merge$n"/*.json
  rm -rf "$work/merge$n"
done
for n in "${compare_sizes[@]}"; do
  generate compare "$n" "$work/base.json" 1.0
  generate compare "$((n + 1))" "$work/new.json" 1.01
  row "compare $n runs a side" 1 "$tool" compare "$work/base.json" "$work/new.json"
done
if ! $quick; then
  head -c $((64 << 20)) /dev/zero | tr '\0' '\r' >"$work/returns.txt"
  row "parse 64 MiB of carriage returns" 2 "$tool" --input "$work/returns.txt"
  head -c $((64 << 20)) /dev/urandom >"$work/random.txt"
  row "parse 64 MiB of random bytes" 2 "$tool" --input "$work/random.txt"
fi

echo
echo "growth merge 250 -> 1000:   $(ratio "${seconds[merge 250 sessions]}" "${seconds[merge 1000 sessions]}") (4x the sessions)"
echo "growth merge 1000 -> 4000:  $(ratio "${seconds[merge 1000 sessions]}" "${seconds[merge 4000 sessions]}") (goal: at most 5x)"
echo "growth compare 1000 -> 16000: $(ratio "${seconds[compare 1000 runs a side]}" "${seconds[compare 16000 runs a side]}") (16x the runs)"
if ! $quick; then
  echo "goals: merge 10000 < 10 s and < 500 MB: ${seconds[merge 10000 sessions]} s, ${megabytes[merge 10000 sessions]} MB;" \
    "compare 60000 < 5 s: ${seconds[compare 60000 runs a side]} s;" \
    "parse 64 MiB < 10 s: ${seconds[parse 64 MiB of carriage returns]} s and ${seconds[parse 64 MiB of random bytes]} s"
fi
