#!/usr/bin/env bash
# The bash completion offers every option that --help lists, and no other, for the session,
# compare, merge and trace, and completes charts in a shell without extglob:
# completion.sh TOOL COMPLETION_SCRIPT
set -u
tool=$1
script=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# A user's shell need not have extglob: a pattern that needs it fails to load or to match.
shopt -u extglob
# shellcheck source=/dev/null
source "$script" || fail "the completion script does not load"

# The long options --help lists for `command` (empty: the session), short forms left out.
listed() {
  "$tool" ${1:+"$1"} --help | grep -o -E '^  (-[a-zA-Z],)?--[a-z0-9-]+' | sed 's/^ *-[a-zA-Z],//; s/^ *//' |
    sort -u
}
# What completion offers for the words after the program name, the last being completed.
offered() {
  COMP_WORDS=(matbench-speedup "$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _matbench_speedup
  printf '%s\n' ${COMPREPLY[@]+"${COMPREPLY[@]}"} | sort -u
}
# trace was left out once, and its help and completion drifted apart.
for command in "" compare merge trace; do
  diff <(listed "$command") <(offered ${command:+"$command"} --) >&2 ||
    fail "completion and --help disagree for '${command:-the session}' (< help, > completion)"
done
[ "$(offered co)" = compare ] || fail "the compare command is not completed: $(offered co)"

# Charts: .svg and .png files and folders, nothing else.
mkdir "$work/charts"
touch "$work/a.svg" "$work/b.png" "$work/c.txt"
for option in --plot "trace --timeline"; do
  # shellcheck disable=SC2086
  got=$(offered $option "$work/" | tr '\n' ' ')
  [ "$got" = "$work/a.svg $work/b.png $work/charts " ] ||
    fail "$option completes '$got', not the charts and the folder"
done
echo "PASS: completion offers what --help lists"
