#!/usr/bin/env bash
# What tests/hermetic lets through from a caller: hermetic_test.sh SOURCE_DIR
set -u
hermetic=$1/tests/hermetic

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# A caller with every kind of setting that once changed a test's outcome.
seen=$(env CXX=clang++-19 BUILD_DIR=elsewhere MAKEFLAGS=BUILD_DIR=x OMP_NUM_THREADS=3 \
  OMP_PROC_BIND=true GOMP_SPINCOUNT=0 LC_ALL=C LANGUAGE=ru TERM=xterm COLUMNS=40 \
  ASAN_OPTIONS=detect_leaks=1 MATBENCH_UPDATE_GOLDEN=1 \
  "$hermetic" bash -c 'env; [ -t 0 ] && echo "stdin is a terminal"; read -r line && echo "read $line"' \
  <<<"from the caller")
for gone in CXX BUILD_DIR MAKEFLAGS OMP_NUM_THREADS OMP_PROC_BIND GOMP_SPINCOUNT LC_ALL LANGUAGE \
  TERM COLUMNS; do
  ! grep -q "^$gone=" <<<"$seen" || fail "$gone reached the test: $(grep "^$gone=" <<<"$seen")"
done
for kept in "PATH=$PATH" "HOME=$HOME" "ASAN_OPTIONS=detect_leaks=1" "MATBENCH_UPDATE_GOLDEN=1" \
  "LANG=C.UTF-8"; do
  grep -q -x -F "$kept" <<<"$seen" || fail "$kept did not reach the test"
done
! grep -q '^read ' <<<"$seen" || fail "the test read the caller's standard input"
echo "PASS: the caller's environment stays out"
