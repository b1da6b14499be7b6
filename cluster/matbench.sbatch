#!/usr/bin/env bash
# One matbench-speedup session on every node of the job, each given the whole node:
#
#   sbatch -N 4 [site options] cluster/matbench.sbatch [matbench-speedup options]
#   matbench-speedup merge matbench-results/JOBID/*.json
#
# The arguments go to every session unchanged, e.g. --runs 20, --precision 2%, --time-limit 10m;
# each session prints its JSON into MATBENCH_RESULTS/JOBID/JOBID-NODE.json and its messages into
# JOBID-NODE.log beside it. A session that is cancelled keeps the runs it had finished; one that
# is killed leaves its file empty, and the merge names it.
#
# Environment:
#   MATBENCH_RESULTS  where the job's folder goes, on a file system every node sees
#                     (default: matbench-results in the folder the job was submitted from)
#   MATBENCH_SPEEDUP  the tool (default: matbench-speedup on PATH, else build/ of the
#                     submit folder)
#   MATBENCH_IN_TURN  1: one node after the other, for nodes that share processors or power
#SBATCH --job-name=matbench
#SBATCH --ntasks-per-node=1
#SBATCH --exclusive
#SBATCH --output=matbench-%j.out
set -u

complain() {
  echo "matbench.sbatch: $*" >&2
  exit 2
}

[ -n "${SLURM_JOB_ID:-}" ] || complain "submit this with sbatch; it runs one session per node of a Slurm job"
submit_dir=${SLURM_SUBMIT_DIR:-$PWD}

tool=${MATBENCH_SPEEDUP:-}
if [ -z "$tool" ]; then
  tool=$(command -v matbench-speedup) || tool=$submit_dir/build/matbench-speedup
fi
[ -x "$tool" ] || complain "no matbench-speedup at $tool: install it, build it, or set MATBENCH_SPEEDUP"

results=${MATBENCH_RESULTS:-$submit_dir/matbench-results}/$SLURM_JOB_ID
mkdir -p -- "$results" || complain "cannot create the results folder $results"

# Each task may use every processor of its node: the job has the node to itself, and no
# binding narrows it. The node's shell opens its files before the session starts, so a node that
# dies early still leaves an empty file for the merge to name; srun's own file patterns name the
# host, which nodes sharing one would overwrite. The shell's text is fixed: the tool and its
# arguments reach it as arguments.
export MATBENCH_JOB_FOLDER=$results
step=(--ntasks-per-node=1 --whole --cpu-bind=none --kill-on-bad-exit=0)
session=(bash -c 'out=$MATBENCH_JOB_FOLDER/$SLURM_JOB_ID-$SLURMD_NODENAME
  exec "$@" --json >"$out.json" 2>"$out.log"' matbench-session "$tool" "$@")

status=0
if [ "${MATBENCH_IN_TURN:-0}" = 1 ]; then
  for node in $(scontrol show hostnames "$SLURM_JOB_NODELIST"); do
    srun "${step[@]}" --nodes=1 --ntasks=1 --nodelist="$node" "${session[@]}" || status=1
  done
else
  srun "${step[@]}" --nodes="$SLURM_JOB_NUM_NODES" "${session[@]}" || status=1
fi

echo "sessions in $results; merge them with: $tool merge $results/*.json"
exit "$status"
