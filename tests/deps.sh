#!/usr/bin/env bash
# The dependency step on a fake system whose programs, headers, pkg-config modules, packages and
# user each case sets: deps.sh SOURCE_DIR CASE
set -u
root=$1
case_name=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The real tools the step itself uses, and nothing else of this machine's.
mkdir "$work/bin"
for tool in bash env cat cut sort tr grep awk sed mktemp rm head wc uniq; do
  ln -s "$(command -v "$tool")" "$work/bin/$tool"
done
# fake NAME BODY: a program of the fake system.
fake() {
  printf '#!%s\n%s\n' "$(command -v bash)" "$2" >"$work/bin/$1"
  chmod +x "$work/bin/$1"
}
for program in cmake make ninja help2man gnuplot gzip objdump otf2-print chromium; do
  fake "$program" 'exit 0'
done
# The compiler finds a header listed in $work/headers, and links OpenMP unless told not to.
fake g++ "source=\$(cat)
case \" \$* \" in
  *' -E '*) header=\$(sed -n 's/#include <\\(.*\\)>/\\1/p' <<<\"\$source\")
    grep -qxF \"\$header\" '$work/headers' ;;
  *-fopenmp*) [ ! -e '$work/no-openmp' ] ;;
esac"
printf '%s\n' nlohmann/json.hpp CLI/CLI.hpp gtest/gtest.h >"$work/headers"
fake pkg-config "[ \"\$1\" = --exists ] && grep -qxF \"\$2\" '$work/modules'"
printf '%s\n' hwloc otf2 >"$work/modules"
# Debian's tools: every package installed but those in $work/absent; apt-get logs its arguments.
fake dpkg-query "package=\${!#}; grep -qxF \"\$package\" '$work/absent' || printf installed"
touch "$work/absent"
fake apt-get "echo \"\$*\" >>'$work/apt.log'"
fake id 'echo 0'
mkdir -p "$work/llvm/lib"
touch "$work/llvm/lib/libomp.so.5"

# deps [ARGS...]: the step on the fake system; its status, standard error in $work/err.
deps() {
  PATH=$work/bin CXX= MATBENCH_LLVM_19=$work/llvm bash "$root/scripts/install-deps" "$@" >"$work/out" 2>"$work/err"
}
installed_by_apt() { grep 'install' "$work/apt.log" 2>/dev/null | grep -v -- '--no-install' || true; }

case $case_name in
all_present_installs_nothing)
  deps || fail "status $? with everything present: $(cat "$work/err")"
  [ ! -s "$work/err" ] || fail "said something with everything present: $(cat "$work/err")"
  [ ! -e "$work/apt.log" ] || fail "apt-get ran: $(cat "$work/apt.log")"
  ;;
optional_missing_goes_on)
  # A cluster without apt, dpkg or root, without Ninja, help2man and gnuplot: make run can go on.
  rm "$work/bin/apt-get" "$work/bin/dpkg-query" "$work/bin/ninja" "$work/bin/help2man" \
    "$work/bin/gnuplot"
  fake id 'echo 1000'
  deps || fail "refused (status $?) for optional needs: $(cat "$work/err")"
  for named in ninja help2man gnuplot; do
    grep -q "without $named" "$work/err" || fail "$named not named: $(cat "$work/err")"
  done
  ! grep -q 'needs' "$work/err" || fail "called needed: $(cat "$work/err")"
  # GoogleTest serves the tests alone.
  sed -i '/gtest/d' "$work/headers"
  deps || fail "make run refused for want of GoogleTest: $(cat "$work/err")"
  deps --build && fail "the tests' build went on without GoogleTest"
  grep -q 'gtest/gtest.h' "$work/err" || fail "GoogleTest not named: $(cat "$work/err")"
  ;;
required_missing_stops_without_root)
  sed -i '/CLI/d' "$work/headers"
  sed -i '/hwloc/d' "$work/modules"
  fake id 'echo 1000'
  deps && fail "went on without CLI11 and hwloc"
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "not one line: $(cat "$work/err")"
  for named in CLI/CLI.hpp hwloc libcli11-dev libhwloc-dev "without root"; do
    grep -q -F "$named" "$work/err" || fail "$named not named: $(cat "$work/err")"
  done
  [ ! -e "$work/apt.log" ] || fail "apt-get ran without root: $(cat "$work/apt.log")"
  ;;
installs_only_what_the_command_needs)
  # As root with apt: make run installs help2man, not GoogleTest, which only the tests need.
  sed -i '/gtest/d' "$work/headers"
  rm "$work/bin/help2man"
  deps || fail "status $?: $(cat "$work/err")"
  [ "$(installed_by_apt)" = "install -y -qq help2man" ] ||
    fail "make run installed: $(installed_by_apt)"
  rm "$work/apt.log"
  deps --build || fail "status $?: $(cat "$work/err")"
  [ "$(installed_by_apt)" = "install -y -qq help2man libgtest-dev" ] ||
    fail "the tests' build installed: $(installed_by_apt)"
  # Two LLVM OpenMP packages cannot stay side by side: never swapped behind the user's back.
  rm "$work/apt.log" "$work/llvm/lib/libomp.so.5"
  fake dpkg-query "case \"\$*\" in *'libomp-*dev'*) echo 'libomp-dev installed' ;;
    *) package=\${!#}; grep -qxF \"\$package\" '$work/absent' || printf installed ;; esac"
  deps --test && fail "went on to install libomp-19-dev beside libomp-dev"
  grep -q "libomp-dev is installed and cannot stay beside it" "$work/err" ||
    fail "the clash is not named: $(cat "$work/err")"
  ;;
*)
  echo "unknown case $case_name" >&2
  exit 2
  ;;
esac
echo "PASS: $case_name"
