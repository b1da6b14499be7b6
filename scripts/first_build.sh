#!/usr/bin/env bash
# What a fresh clone's `make run` costs: first_build.sh [COMMIT] [MAKE ARGS...]
# Copies COMMIT (default HEAD; "worktree" for the files as they are now, uncommitted changes
# included) into a scratch folder, runs `make run </dev/null` there with ccache disabled, and
# prints the wall-clock and CPU time (user + system of every process it started, by GNU time),
# the CPU model
# and the load average before and after. The dependency step runs too, as for a new user; on a
# machine where something is missing it installs it first, so run it twice to time the build.
# KEEP=DIR keeps the copy, built, in DIR (which must not exist) for a look afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
commit=${1:-HEAD}
shift || true
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -n "${KEEP:-}" ]; then
  mkdir "$KEEP"
  work=$(cd "$KEEP" && pwd)
  trap - EXIT
fi

if [ "$commit" = worktree ]; then
  git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$work"
else
  git archive "$commit" | tar -x -C "$work"
fi

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
echo "CPU: ${cpu:-unknown}, $(nproc) processors"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
export CCACHE_DISABLE=1
status=0
# GNU time counts every process that make waited for, the compilers included.
(cd "$work" && /usr/bin/time -f '%e %U %S' -o "$work/time" make run "$@" </dev/null \
  >"$work/run.log" 2>&1) || status=$?
read -r wall user system < <(tail -n 1 "$work/time") || true
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$status" -ne 0 ]; then
  tail -n 30 "$work/run.log" >&2
  echo "make run failed (status $status)" >&2
  exit "$status"
fi
grep -q -a 'ParallelMulti ( 20 ' "$work/run.log" ||
  { echo "make run did not finish the report" >&2; exit 1; }
awk -v w="$wall" -v u="$user" -v y="$system" \
  'BEGIN { printf "fresh make run: %.1f s wall, %.1f s CPU (%.1f user, %.1f system)\n", w, u + y, u, y }'
