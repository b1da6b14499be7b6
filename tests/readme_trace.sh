#!/usr/bin/env bash
# The README's trace example, a live run: --check leaves it alone, --trace makes it and its two
# charts anew from one session. readme_trace.sh SOURCE_DIR BUILD_DIR
set -u
root=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
script=$root/scripts/readme-examples
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
[ -f "$build/tools/trace/libmatbench-trace.so" ] || {
  echo "SKIP: the trace tool is not built (no LLVM 19 OpenMP)"
  exit 77
}
mkdir "$work/docs"
# The trace block as it stands, with a figure changed by hand.
sed -e '/^<!-- example trace -->/{n;s/[0-9]/7/}' "$root/README.md" >"$work/README.md"

# Catches --check failing on a live run's figures, which differ every run.
"$script" --check --readme "$work/README.md" "$build" >"$work/out" 2>"$work/err" ||
  fail "--check compared the live trace example: $(tail -3 "$work/err")"

# Catches an example not made from the session the charts come from, one that hides the CPU, and
# rows or legends kept that the README elides.
"$script" --trace --runs 1 --readme "$work/README.md" "$build" >"$work/out" 2>"$work/err" ||
  fail "--trace failed: $(tail -3 "$work/err")"
sed -n '/^<!-- example trace -->/,/^<!-- end of example -->/p' "$work/README.md" >"$work/block"
grep -q '^    matbench trace over 1 of 1 traced run' "$work/block" || fail "not one fresh session: $(head -3 "$work/block")"
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
grep -qF "$cpu" "$work/block" || fail "the CPU ($cpu) is not named"
grep -q '^    …$' "$work/block" || fail "no team row elided"
grep -Eq '^ +(4|19)\*? ' "$work/block" && fail "team rows 4 or 19 kept: $(grep -E '^ +(4|19)' "$work/block")"
grep -Eq '^ +20\*? ' "$work/block" || fail "the team of 20 left out"
grep -q 'region: the parallel region' "$work/block" && fail "the tool's legend kept"
grep -q "^    the tool's set-up: " "$work/block" || fail "the tool's set-up left out with the legend"
if command -v gnuplot >/dev/null; then
  for chart in trace-split trace-timeline; do
    grep -q '</svg>' "$work/docs/$chart.svg" || fail "$chart.svg not drawn beside the README"
  done
fi
# Everything outside the block is as it was; the other examples still pass.
diff <(sed '/^<!-- example trace -->/,/^<!-- end of example -->/d' "$root/README.md") \
  <(sed '/^<!-- example trace -->/,/^<!-- end of example -->/d' "$work/README.md") >/dev/null ||
  fail "--trace changed the README outside its example"
"$script" --check --readme "$work/README.md" "$build" >/dev/null 2>&1 || fail "--check fails after --trace"
"$script" --trace --runs 0 --readme "$work/README.md" "$build" 2>"$work/err" && fail "--runs 0 accepted"
grep -q 'is not a count' "$work/err" || fail "--runs 0 not named: $(cat "$work/err")"
echo "PASS: the README's trace example"
