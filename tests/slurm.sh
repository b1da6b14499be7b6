#!/usr/bin/env bash
# The shipped job script on a real three-node Slurm cluster started on this machine:
# slurm.sh TOOL CASE. Exits 77 (skipped) with the reason where Slurm cannot run here.
set -u
tool=$(realpath -- "$1")  # the job runs in another folder
case_name=$2
root=$(cd "$(dirname "$0")/.." && pwd)
stand_in=$root/tests/stand_in_benchmark
source "$root/tests/slurm_cluster.sh"

if reason=$(slurm_cluster_skip_reason); then
  echo "SKIPPED: $case_name: $reason"
  exit 77
fi
work=$(mktemp -d)
trap 'slurm_cluster_stop; rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  for log in "$work"/results/*/*.log "$work"/matbench-*.out; do
    [ -s "$log" ] && echo "--- $log" >&2 && tail -n 5 "$log" >&2
  done
  exit 1
}

slurm_cluster_start "$work/cluster" || fail "the test cluster did not start"
export MATBENCH_SPEEDUP=$tool MATBENCH_RESULTS=$work/results

# submit [sbatch options] -- [session options]: the job's id, once its script has been accepted.
submit() {
  local options=()
  while [ "$1" != -- ]; do
    options+=("$1")
    shift
  done
  shift
  sbatch --parsable --chdir="$work" "${options[@]}" "$root/cluster/matbench.sbatch" "$@"
}

# A fake benchmark: the stand-in's report with every time scaled by `factor` on the node named
# `slow_node` and by a random factor in [1, 1.05] everywhere, after running `extra` shell code.
fake_bench() {
  "$stand_in" >"$work/report.txt" || fail "the stand-in benchmark failed"
  cat >"$work/fake" <<FAKE
#!/bin/sh
$3
F=1
[ "\$SLURMD_NODENAME" = "$1" ] && F=$2
export F
exec perl -pe 'BEGIN { srand(\$\$) } s/(= +)(\d+\.\d{6})/\$1 . sprintf("%.6f", \$2 * \$ENV{F} * (1 + 0.05 * rand()))/e' "$work/report.txt"
FAKE
  chmod +x "$work/fake"
}

merge() {
  "$tool" merge "$@" >"$work/merged" 2>"$work/merge.err"
}

# The verdict line under the row of node $1 in the merged table.
verdict() {
  grep -A1 "^$1 " "$work/merged" | tail -n 1
}

case $case_name in
job_script_runs_one_whole_node_session_per_node)
  # Three sessions at once share this machine's two cores: their speedups say nothing about the
  # nodes, so only who ran where, and on what, is checked, and one run each shows it.
  job=$(submit -N 3 --wait -- --runs 1) || fail "the job failed"
  for node in n1 n2 n3; do
    file=$work/results/$job/$job-$node.json
    [ -s "$file" ] || fail "no session from $node"
    python3 - "$file" "$node" "$job" <<'PY' || fail "the session of $node does not record its job"
import json, os, sys
context = json.load(open(sys.argv[1]))["context"]
assert context["slurm_node"] == sys.argv[2], context
assert context["slurm_job_id"] == sys.argv[3], context
assert context["slurm_nodelist"] == "n[1-3]", context
assert context["processors"] == context["slurm_cpus_on_node"] == os.cpu_count(), context
PY
  done
  merge "$work/results/$job"/*.json || fail "merge exit status $?: $(cat "$work/merge.err")"
  grep -q '^matbench fleet: 3 of 3 sessions merged' "$work/merged" || fail "not three sessions: $(cat "$work/merged")"
  for node in n1 n2 n3; do
    verdict $node | grep -q "Slurm job $job: " || fail "$node not shown with its job"
  done
  ;;
slow_node_is_named_slower)
  fake_bench n2 1.5 ""
  job=$(submit -N 3 --wait -- --bench "$work/fake" --runs 8) || fail "the job failed"
  merge "$work/results/$job"/*.json || fail "merge exit status $?: $(cat "$work/merge.err")"
  verdict n2 | grep -Eq "Slurm job $job: slower: serial ×1\.[45][0-9]" || fail "n2 not named slower: $(cat "$work/merged")"
  [ "$(grep -c "Slurm job $job: like the fleet" "$work/merged")" -eq 2 ] || fail "n1 and n3 not like the fleet: $(cat "$work/merged")"
  ;;
killed_session_is_named_failed)
  # On n3 the benchmark kills the session that ran it, which so writes nothing at all.
  fake_bench none 1 '[ "$SLURMD_NODENAME" = n3 ] && kill -KILL $PPID'
  job=$(submit -N 3 --wait -- --bench "$work/fake" --runs 6)
  [ $? -ne 0 ] || fail "a job with a killed session succeeded"
  [ -n "$job" ] || fail "the job was not accepted"
  merge "$work/results/$job"/*.json
  [ $? -eq 1 ] || fail "a failed node must give merge exit status 1"
  grep -q "^matbench fleet: 2 of 3 sessions merged" "$work/merged" || fail "n1 and n2 not merged: $(cat "$work/merged")"
  grep -q "^failed: .*$job-n3.json: empty" "$work/merged" || fail "n3 not named failed: $(cat "$work/merged")"
  ;;
cancelled_job_keeps_the_finished_nodes)
  # n3 hangs in its fourth run; once n1 and n2 are done the job is cancelled.
  fake_bench none 1 "[ \"\$SLURMD_NODENAME\" = n3 ] && echo >>'$work/n3-runs' && [ \$(wc -l <'$work/n3-runs') -gt 3 ] && sleep 600"
  job=$(submit -N 3 -- --bench "$work/fake" --runs 6) || fail "the job was not accepted"
  for _ in $(seq 300); do
    [ -s "$work/results/$job/$job-n1.json" ] && [ -s "$work/results/$job/$job-n2.json" ] &&
      [ "$(wc -l <"$work/n3-runs" 2>/dev/null)" = 4 ] && break
    sleep 0.2
  done
  scancel "$job" || fail "scancel failed"
  for _ in $(seq 150); do
    squeue --noheader --jobs="$job" 2>/dev/null | grep -q . || break
    sleep 0.2
  done
  merge "$work/results/$job"/*.json
  [ $? -eq 1 ] || fail "a cancelled node must give merge exit status 1: $(cat "$work/merged")"
  grep -q "^matbench fleet: 3 of 3 sessions merged" "$work/merged" || fail "the finished runs were not all merged: $(cat "$work/merged")"
  grep -q "^cut short: n3 .*interrupted by SIGTERM after 3 runs" "$work/merged" || fail "n3 not named cut short: $(cat "$work/merged")"
  ;;
*)
  fail "unknown case $case_name"
  ;;
esac
echo "PASS: $case_name"
