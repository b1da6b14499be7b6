#!/usr/bin/env bash
# scripts/check-size in a scratch tree: check_size.sh SOURCE_ROOT. Each case plants one thing and
# expects the check's verdict on it, so that a reader that loses count of braces (a brace in a
# string, a comment or a raw string; a lambda; a class's member) fails here.
set -u
root=$1
check=$root/scripts/check-size
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# A function of `lines` lines in all, its body padded with statements, after `prefix`.
function_of() {
  local lines=$1 prefix=${2:-}
  printf '%sint F() {\n' "$prefix"
  for ((i = 0; i < lines - 2; i++)); do printf '  x();\n'; done
  printf '}\n'
}

# plant NAME EXPECTED_STATUS: checks the scratch tree holding only tools/t.cpp as written.
verdict() {
  local name=$1 expected=$2
  "$check" "$work" >"$work/out" 2>&1
  local status=$?
  [ "$status" -eq "$expected" ] || fail "$name: status $status, not $expected: $(cat "$work/out")"
}

mkdir -p "$work/tools" "$work/tests"
function_of 60 >"$work/tools/t.cpp"
verdict "a function of exactly 60 lines" 0
function_of 61 >"$work/tools/t.cpp"
verdict "a function of 61 lines" 1
grep -q 't.cpp:1: 61 lines' "$work/out" || fail "the long function not named by its first line: $(cat "$work/out")"
{ printf 'const char* s = "}}}";\n// }\n/* } */\nconst char* r = R"x(}})x";\n'; function_of 61; } >"$work/tools/t.cpp"
verdict "braces in strings and comments before a long function" 1
{ printf 'namespace n {\nclass C {\n public:\n'; function_of 61 '  '; printf '};\n}  // namespace n\n'; } >"$work/tools/t.cpp"
verdict "a long member function inside a namespace and a class" 1
{ printf 'enum class E { kA, kB };\nconst int table[] = {1, 2};\n'; function_of 30; function_of 30; } >"$work/tools/t.cpp"
verdict "two short functions after an enum and an initializer" 0
: >"$work/tools/t.cpp"
seq 501 | sed 's/^/# /' >"$work/tests/long.sh"
verdict "a test script of 501 lines" 1
seq 500 | sed 's/^/# /' >"$work/tests/long.sh"
verdict "a test script of 500 lines" 0
"$check" "$root" >"$work/out" 2>&1 || fail "this tree has offenders: $(cat "$work/out")"
echo "PASS"
