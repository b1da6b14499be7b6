#!/usr/bin/env bash
# What `make run` shows a person, and how the build folders follow the compiler:
# make_run.sh SOURCE_DIR BENCHMARK CASE
set -u
root=$1
program=$2
case_name=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

runner=$root/scripts/run-benchmark
# What the runner does to a report is the point of most cases: the stand-in prints the
# benchmark's exact bytes in no time. The real program where its own waiting is.
stand_in=$(cd "$(dirname "$0")" && pwd)/stand_in_benchmark
closing_utf8=$(printf ' Завершено')
closing_cp1251=$(printf ' Завершено' | iconv -f UTF-8 -t CP1251)

case $case_name in
report_is_readable_on_a_utf8_terminal)
  LC_ALL=C.UTF-8 "$runner" "$stand_in" </dev/null >"$work/out" 2>"$work/err"
  [ $? -eq 0 ] || fail "exit status $?"
  grep -q -F "ParallelMulti ( 20 потоков )" "$work/out" || fail "not converted: $(head -3 "$work/out")"
  grep -q -F "$closing_utf8" "$work/out" || fail "closing text not converted"
  # The conversion is iconv's, byte for byte.
  "$stand_in" </dev/null | iconv -f CP1251 -t UTF-8 >"$work/iconv"
  [ "$(sed 's/= *[0-9.]*/= T/' "$work/out")" = "$(sed 's/= *[0-9.]*/= T/' "$work/iconv")" ] ||
    fail "the conversion differs from iconv's"
  ;;
bytes_are_the_programs_elsewhere)
  LC_ALL=C "$runner" "$stand_in" </dev/null >"$work/out" 2>/dev/null || fail "exit status $?"
  grep -q -F "$closing_cp1251" "$work/out" || fail "the program's bytes were changed outside UTF-8"
  ;;
says_that_it_waits_for_enter)
  LC_ALL=C.UTF-8 "$runner" "$stand_in" </dev/null >/dev/null 2>"$work/err" || fail "exit status $?"
  grep -q 'waits for Enter' "$work/err" || fail "no word of the wait: $(cat "$work/err")"
  ;;
closing_text_is_visible_before_the_wait)
  # The program reads a fifo that stays open, so it waits; its output goes through a pipe.
  mkfifo "$work/keys"
  exec 3<>"$work/keys"
  LC_ALL=C.UTF-8 "$runner" "$program" <"$work/keys" 2>/dev/null | cat >"$work/out" &
  for _ in $(seq 600); do
    grep -q -F "$closing_utf8" "$work/out" && break
    sleep 0.1
  done
  grep -q -F "$closing_utf8" "$work/out" || fail "closing text not shown while the program waits"
  echo >&3
  wait
  ;;
closed_stdin_and_exit_status_pass_through)
  LC_ALL=C.UTF-8 "$runner" "$stand_in" <&- >"$work/out" 2>/dev/null
  [ $? -eq 0 ] || fail "exit status $? with standard input closed"
  grep -q -F "$closing_utf8" "$work/out" || fail "report cut with standard input closed"
  # "Тест" in Windows-1251, then a failure.
  printf '#!/bin/sh\nprintf "\\322\\345\\361\\362\\n"\nexit 3\n' >"$work/failing"
  chmod +x "$work/failing"
  LC_ALL=C.UTF-8 "$runner" "$work/failing" </dev/null >"$work/out" 2>/dev/null
  [ $? -eq 3 ] || fail "the program's exit status 3 was lost"
  [ "$(cat "$work/out")" = "Тест" ] || fail "not converted: $(cat "$work/out")"
  ;;
build_folder_follows_the_compiler)
  # make chooses the folder by the compiler and shows what it would do without doing it. It runs
  # in a clean environment: the caller's BUILD_DIR, CXX or MAKEFLAGS (make test's own) would
  # choose for it.
  clean() { env -i PATH="$PATH" HOME="$HOME" "$@"; }
  clean make -s -n -C "$root" run | grep -q 'scripts/build build programs' ||
    fail "default not in build/"
  clean CXX=clang++-19 make -s -n -C "$root" run | grep -q 'scripts/build build-clang programs' ||
    fail "CXX=clang++-19 not in build-clang/"
  clean make -s -n -C "$root" run CXX=clang++-19 | grep -q 'scripts/build build-clang programs' ||
    fail "make CXX=clang++-19 not in build-clang/"
  clean BUILD_DIR=elsewhere make -s -n -C "$root" run | grep -q 'scripts/build elsewhere programs' ||
    fail "BUILD_DIR=elsewhere not followed"
  ;;
folder_of_another_compiler_is_refused)
  # A folder whose cache names another compiler is said in one line and never reused.
  mkdir "$work/build"
  printf 'CMAKE_CXX_COMPILER:FILEPATH=/usr/bin/true\n' >"$work/build/CMakeCache.txt"
  (cd "$root" && CXX= bash scripts/build "$work/build" programs) >"$work/out" 2>"$work/err"
  [ $? -ne 0 ] || fail "a folder configured for another compiler was reused"
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "not one line: $(cat "$work/err")"
  grep -q "was configured with /usr/bin/true, not the default compiler" "$work/err" ||
    fail "the compilers are not named: $(cat "$work/err")"
  [ "$(cat "$work/build/CMakeCache.txt")" = "CMAKE_CXX_COMPILER:FILEPATH=/usr/bin/true" ] ||
    fail "the folder was touched"
  (cd "$root" && CXX=no-such-compiler bash scripts/build "$work/other" programs) 2>"$work/err"
  [ $? -ne 0 ] && grep -q "compiler no-such-compiler not found" "$work/err" ||
    fail "a missing compiler is not named: $(cat "$work/err")"
  ;;
says_again_that_it_waits_on_a_terminal)
  # On a terminal the report pushes the first word out of sight: it is said after the report.
  # A stand-in prints a report's end in the program's bytes and waits for Enter, as it does.
  command -v script >/dev/null || { echo "SKIP: script(1) missing"; exit 77; }
  printf '#!/bin/sh\nprintf "x\\n%s"\nread -r line\n' "$closing_cp1251" >"$work/waiting"
  chmod +x "$work/waiting"
  # Enter once the word is there; standard input then stays open, as a terminal's does.
  LC_ALL=C.UTF-8 timeout 60 script -qec "bash '$runner' '$work/waiting'" /dev/null \
    < <(for _ in $(seq 300); do grep -q 'press Enter' "$work/out" 2>/dev/null && break; sleep 0.1; done
      echo
      sleep 5) >"$work/out" 2>&1
  tr -d '\r' <"$work/out" | grep -A1 -F "$closing_utf8" | grep -q 'press Enter to exit' ||
    fail "the wait is not said again after the report: $(tail -c 300 "$work/out")"
  # Off a terminal nothing is added.
  LC_ALL=C.UTF-8 "$runner" "$work/waiting" </dev/null >/dev/null 2>"$work/err"
  ! grep -q 'press Enter' "$work/err" || fail "said again off a terminal"
  ;;
programs_make_what_install_needs)
  # `make run` builds the programs target alone; installing must then find every file.
  build=$(dirname "$program")
  rm -f "$build"/man/*.gz "$build/changelog.gz"
  cmake --build "$build" --target programs >"$work/log" 2>&1 || fail "programs: $(tail "$work/log")"
  cmake --install "$build" --prefix "$work/prefix" >"$work/log" 2>&1 ||
    fail "install after the programs target: $(tail -3 "$work/log")"
  for file in share/man/man1/matbench.1.gz share/man/man1/matbench-fine.1.gz share/doc/matbench/changelog.gz \
    share/bash-completion/completions/matbench-speedup; do
    [ -s "$work/prefix/$file" ] || fail "$file not installed"
  done
  ;;
package_builds_no_tests)
  # make package packs what the programs target built; cpack's own step builds nothing more.
  make -s -n -C "$root" package | grep -q 'scripts/build build programs' ||
    fail "make package does not build the programs alone"
  ! make -s -n -C "$root" package | grep -q 'scripts/build build$' ||
    fail "make package builds everything"
  build=$(dirname "$program")
  if [ -f "$build/build.ninja" ]; then
    # The install step, which cpack runs too, lists what it builds first: never all.
    query=$(ninja -C "$build" -t query CMakeFiles/install.util) || fail "no install step: $query"
    ! sed -n '/input:/,/outputs:/p' <<<"$query" | grep -qw all ||
      fail "installing or packing builds every target, the tests too"
  fi
  ;;
*)
  echo "unknown case $case_name" >&2
  exit 2
  ;;
esac
