#!/usr/bin/env bash
# The bash completion offers every option that --help lists, and no other, for the session,
# compare and merge: completion.sh TOOL COMPLETION_SCRIPT
set -u
tool=$1
script=$2
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
shopt -s extglob
# shellcheck source=/dev/null
source "$script" || fail "the completion script does not load"

# The options --help lists for `command` (empty: the session).
listed() {
  "$tool" ${1:+"$1"} --help | grep -o -E '^  (-h,)?--[a-z-]+' | sed 's/^ *-h,//; s/^ *//' | sort -u
}
# The options completion offers after `command` for "--".
offered() {
  COMP_WORDS=(matbench-speedup ${1:+"$1"} --)
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _matbench_speedup
  printf '%s\n' "${COMPREPLY[@]}" | sort -u
}
for command in "" compare merge; do
  diff <(listed "$command") <(offered "$command") >&2 ||
    fail "completion and --help disagree for '${command:-the session}' (< help, > completion)"
done
COMP_WORDS=(matbench-speedup co)
COMP_CWORD=1
_matbench_speedup
[ "${COMPREPLY[*]}" = compare ] || fail "the compare command is not completed: ${COMPREPLY[*]}"
echo "PASS: completion offers what --help lists"
