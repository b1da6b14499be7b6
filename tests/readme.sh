#!/usr/bin/env bash
# The README's examples are what the tool prints for their inputs, and the check sees a hand's
# edit: readme.sh SOURCE_DIR BUILD_DIR
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

"$script" --check "$build" || fail "the README's examples are not what the tool prints"
# A figure or a verdict changed by hand, a line removed: each is caught and the example named.
edits=(
  "report:s/^    SerialMulti =  [0-9.]*/    SerialMulti =  9.999000/"
  "speedup:/^<!-- example speedup -->/{n;s/[0-9]/7/}"
  "compare:/^<!-- example compare -->/,/end of example/{/^     serial/s/slower/faster/}"
  "cluster:/^    fleet: serial median/d"
)
# The project's own charts and pictures, which a copy's --write must leave alone.
pictures() { stat -c "%n %i %Y" "$root"/docs/*.svg "$root"/docs/*.png 2>/dev/null; }
pictures_before=$(pictures)
for edit in "${edits[@]}"; do
  name=${edit%%:*}
  sed -e "${edit#*:}" "$root/README.md" >"$work/README.md"
  ! cmp -s "$work/README.md" "$root/README.md" || fail "the edit of $name changed nothing"
  "$script" --check --readme "$work/README.md" "$build" >"$work/out" 2>"$work/err" &&
    fail "a hand's edit of the $name example passed the check"
  grep -q "examples $name differ" "$work/err" || fail "the $name example not named: $(tail -3 "$work/err")"
  # --write makes it anew, to the byte.
  "$script" --write --readme "$work/README.md" "$build" >/dev/null 2>&1 || fail "--write failed"
  cmp -s "$work/README.md" "$root/README.md" || fail "--write did not make the $name example anew"
done
[ "$(pictures)" = "$pictures_before" ] || fail "--write of a copy redrew the project's pictures"
grep -v '^<!-- end of example -->' "$root/README.md" >"$work/README.md"
"$script" --check --readme "$work/README.md" "$build" 2>"$work/err" && fail "lost end markers passed"
grep -q 'has no end marker' "$work/err" || fail "lost end markers not named: $(cat "$work/err")"
echo "PASS: the README's examples"
