#!/usr/bin/env bash
# Compares the speedup tool's whole output for fixed inputs with the recorded one:
#   golden.sh TOOL CASE           passes when standard output, standard error and the exit status
#                                 are those in tests/golden/CASE.txt, to the byte
#   golden.sh TOOL CASE --update  records them anew, on purpose (MATBENCH_UPDATE_GOLDEN=1 too)
# An argument EXPORT stands for a file the tool writes; its contents are recorded too.
# Runs in the inputs folder, so the file names in the outputs are short and the same everywhere.
set -u
tool=$(realpath "$1")
case_name=$2
update=${MATBENCH_UPDATE_GOLDEN:-0}
[ "${3:-}" = --update ] && update=1
here=$(cd "$(dirname "$0")" && pwd)
golden=$here/golden/$case_name.txt
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fleet=(fleet-n1.json fleet-n2.json fleet-n3.json fleet-n4.json fleet-empty.json)
case $case_name in
  session_table) args=(--input base.json) ;;
  session_csv) args=(--input base.json --csv) ;;
  session_long_csv) args=(--input base.json --long-csv) ;;
  session_json) args=(--input base.json --json) ;;
  new_table) args=(--input new.json) ;;
  few_runs_table) args=(--input few.json) ;;
  few_runs_json) args=(--input few.json --json) ;;
  reports_table) args=(--input reports.txt --processors 2) ;;
  reports_long_csv) args=(--input reports.txt --processors 2 --long-csv) ;;
  compare_table) args=(compare base.json new.json) ;;
  compare_csv) args=(compare base.json new.json --csv) ;;
  compare_json) args=(compare base.json new.json --json) ;;
  compare_faster) args=(compare new.json base.json) ;;
  compare_fail_if_slower) args=(compare base.json new.json --fail-if-slower 5%) ;;
  merge_table) args=(merge "${fleet[@]}") ;;
  merge_csv) args=(merge "${fleet[@]}" --csv) ;;
  merge_json) args=(merge "${fleet[@]}" --json) ;;
  merge_nothing_readable) args=(merge 'no-such-folder/*.json') ;;
  refuses_foreign_json) args=(--input foreign.json) ;;
  refuses_future_version) args=(compare base.json future.json) ;;
  session_markdown) args=(--input base.json --export-markdown EXPORT) ;;
  few_runs_markdown) args=(--input few.json --csv --export-markdown EXPORT) ;;
  help) args=(--help) ;;
  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac

cd "$here/golden/inputs" || exit 1
"$tool" "${args[@]/#EXPORT/$work/export}" >"$work/out" 2>"$work/err" </dev/null
status=$?
# One file per case: the command, standard output, standard error and the exit status, each
# marked where it does not end in a line feed so that no byte is hidden.
section() {
  printf -- '-- %s\n' "$1"
  cat "$2"
  [ -z "$(tail -c 1 "$2")" ] || printf '\n-- (no line feed at the end)\n'
}
{
  printf -- '-- matbench-speedup %s\n' "${args[*]}"
  section stdout "$work/out"
  section stderr "$work/err"
  [[ " ${args[*]} " != *" EXPORT "* ]] || section EXPORT "$work/export"
  printf -- '-- exit status %d\n' "$status"
} >"$work/actual"

if [ "$update" = 1 ]; then
  cp "$work/actual" "$golden"
  echo "recorded $golden"
  exit 0
fi
[ -f "$golden" ] || {
  echo "FAIL: no recorded output $golden (record it with --update)" >&2
  exit 1
}
diff -u "$golden" "$work/actual" >&2 || {
  echo "FAIL: the output of '${args[*]}' differs from $golden" >&2
  exit 1
}
