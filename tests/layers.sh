#!/usr/bin/env bash
# The speedup tool's rooms see only their own and lower rooms' headers, and link only lower rooms.
# In a scratch copy of the tree, each kind of breach is planted in turn and must be refused:
# by scripts/check-layers, and where the compiler can see it, by preprocessing the one planted
# file (the include roots hold each room to its floor) or the link of the one planted room (each
# room a shared library that may leave nothing undefined).
#   layers.sh SOURCE_ROOT CXX_COMPILER SESSION_LIBRARY
# SESSION_LIBRARY is the real build's session room, which must define the function the planted
# upward call names, so that the failed link proves the layering and not a misspelt name.
set -u
root=$1
compiler=$2
session_library=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

"$root/scripts/check-layers" "$root" >/dev/null || fail "the tree itself breaks the layers"

tree=$work/tree
mkdir -p "$tree"
# The top-level files (the build reads some, such as the licence), the code and the check.
find "$root" -maxdepth 1 -type f -exec cp {} "$tree/" \;
cp -r "$root/src" "$root/tools" "$root/scripts" "$tree/"
# Without precompiled headers: one object is compiled alone, and Clang needs the header's
# precompiled file, which only a whole build makes. Each file alone, not in a unity unit, so that
# the planted file has a compile command of its own. No optimisation: only the link is proved.
cmake -S "$tree" -B "$tree/build" -DCMAKE_CXX_COMPILER="$compiler" -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=None -DMATBENCH_ROOMS_SHARED=ON -DMATBENCH_UNITY_BUILD=OFF \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON \
  >"$work/configure.log" 2>&1 ||
  fail "the scratch copy does not configure: $(tail -n 5 "$work/configure.log")"
tool=$tree/tools/speedup

# compile FILE: preprocesses one source file of the tool with the build's own command: the
# include roots, which refuse a higher room's header, are all that is tried (compiling the rest
# took most of this test's minute).
compile() {
  python3 - "$tree/build/compile_commands.json" "$tool/$1" >"$work/compile.sh" <<'EOF' ||
import json, shlex, sys
for entry in json.load(open(sys.argv[1])):
    if entry["file"] == sys.argv[2]:
        words = iter(shlex.split(entry["command"]))
        # The object, its dependency file and -c give way to preprocessing alone.
        kept = [w for w in words if w not in ("-c", "-MD") and
                not (w in ("-o", "-MT", "-MF") and next(words, None) is not None)]
        print("cd %s && %s -E -o /dev/null" % (shlex.quote(entry["directory"]),
                                               " ".join(shlex.quote(w) for w in kept)))
        sys.exit(0)
sys.exit(1)
EOF
    fail "no compile command for $1"
  bash "$work/compile.sh"
}

# room file | planted line | whether the compiler must refuse it too | why it must be refused
cases=(
  'stats/figures.cpp|#include "present/words.h"|yes|stats reaches up to the presentation'
  'stats/figures.cpp|#include "../present/words.h"|no|a path up past the include roots'
  'stats/figures.cpp|#include "./present/words.h"|yes|a path from here into a higher room'
  'stats/figures.cpp|#include <present/words.h>|yes|angle brackets into a higher room'
  'stats/figures.cpp|#include <../present/words.h>|yes|angle brackets and a path up'
  'present/words.cpp|#include "measure/sysinfo.h"|yes|present sees measure'
  'measure/sysinfo.cpp|#include "present/context_lines.h"|yes|measure sees present'
  'base/text.cpp|#include "session/session.h"|yes|base reaches up'
  'session/inputs.cpp|#include "commands/options.h"|yes|session reaches up to the commands'
  'present/chart.cpp|#include "bench/run.h"|yes|the benchmark code, not its report contract'
  'stats/fleet.cpp|#include <matrix/matrix.h>|yes|the benchmark matrices'
  'stats/fleet.cpp|#include "figures.h"|no|a bare name that hides its room'
)
for entry in "${cases[@]}"; do
  IFS='|' read -r file planted compiler_sees why <<<"$entry"
  cp "$root/tools/speedup/$file" "$tool/$file"
  printf '%s\n' "$planted" >>"$tool/$file"
  if out=$("$tree/scripts/check-layers" "$tree" 2>&1); then
    fail "$planted in $file passed the check ($why)"
  fi
  grep -q -F "$file" <<<"$out" || fail "the refusal does not name $file: $out"
  if [ "$compiler_sees" = yes ]; then
    included=$(sed 's/.*["<]\(.*\)[">].*/\1/' <<<"$planted")
    if out=$(compile "$file" 2>&1); then
      fail "$planted in $file compiled ($why)"
    fi
    grep -q -F "$included" <<<"$out" || fail "$file failed to compile for another reason: $out"
  fi
  cp "$root/tools/speedup/$file" "$tool/$file"
done

# An upward call through a declaration of its own: base calls the session's IsTime. The include
# check cannot see it; base, linked alone, must leave it undefined and fail.
called='speedup::IsTime(double)'
nm -C --defined-only "$session_library" 2>/dev/null | grep -q -F " $called" ||
  fail "$session_library does not define $called: the planted call would prove nothing"
cat >>"$tool/base/text.cpp" <<'EOF'
namespace speedup {
bool IsTime(double seconds);
bool PlantedUpwardCall(double seconds) { return IsTime(seconds); }
}  // namespace speedup
EOF
"$tree/scripts/check-layers" "$tree" >/dev/null || fail "the check refuses a call it cannot see"
if out=$(cmake --build "$tree/build" --target speedup_base 2>&1); then
  fail "base linked alone with a call up to the session room"
fi
grep -q -F "$called" <<<"$out" || fail "base failed to link for another reason: $out"

echo "every planted upward include and call was refused"
