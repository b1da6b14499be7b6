#!/usr/bin/env bash
# The layering check passes on this tree and fails on each kind of include that breaks the
# direction of the arrows, planted in a copy: layers.sh SOURCE_ROOT
set -u
root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

"$root/scripts/check-layers" "$root" >/dev/null || fail "the tree itself breaks the layers"

# room file, planted include, why it must be refused
cases=(
  'stats/figures.cpp|present/words.h|stats reaches up to the presentation'
  'present/words.cpp|measure/sysinfo.h|present sees measure'
  'measure/sysinfo.cpp|present/context_lines.h|measure sees present'
  'base/text.cpp|session/session.h|base reaches up'
  'session/inputs.cpp|commands/options.h|session reaches up to the commands'
  'present/chart.cpp|bench/run.h|the benchmark code, not its report contract'
  'stats/fleet.cpp|matrix/matrix.h|the benchmark matrices'
  'stats/fleet.cpp|figures.h|a bare name that hides its room'
)
for entry in "${cases[@]}"; do
  IFS='|' read -r file include why <<<"$entry"
  rm -rf "$work/tree" && mkdir -p "$work/tree/tools" "$work/tree/scripts"
  cp -r "$root/tools/speedup" "$work/tree/tools/" && cp "$root/scripts/check-layers" "$work/tree/scripts/"
  printf '#include "%s"\n' "$include" >>"$work/tree/tools/speedup/$file"
  if out=$("$work/tree/scripts/check-layers" "$work/tree" 2>&1); then
    fail "an include of $include in $file passed ($why)"
  fi
  grep -q -F "$file" <<<"$out" || fail "the refusal does not name $file: $out"
done
echo "every planted upward include was refused"
