#!/usr/bin/env bash
# one_row_routine.sh PROGRAM: fails unless SerialMulti and the OpenMP region both call one
# out-of-line row routine whose inner loops each start on a 64-byte boundary and end inside that
# block. Two copies of the row code, or a loop across two blocks, made one thread slower than
# the serial product although the two ran the same instructions.
set -u
program=$1

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

for tool in nm objdump; do
  command -v "$tool" >/dev/null || fail "$tool (binutils) is not installed: cannot read the code"
done
[ -f "$program" ] || fail "no such program: $program"

# Defined functions as "address size name", addresses and sizes in hex, names mangled.
functions=$(nm --defined-only --print-size "$program" | awk '$3 ~ /^[tTwW]$/ {print $1, $2, $4}')

# Row routine names are mangled as ...11MultiplyRow...; GCC's clones add suffixes to the name.
rows=$(grep -E '[0-9]MultiplyRow' <<<"$functions")
row_count=$(grep -c . <<<"$rows")
[ "$row_count" -ge 1 ] || fail "no out-of-line MultiplyRow: the row code was inlined"
[ "$row_count" -eq 1 ] || fail "$row_count copies of the row routine:"$'\n'"$(c++filt <<<"$rows")"
read -r row_address row_size row_name <<<"$rows"

# disassemble ADDRESS SIZE: one "address mnemonic operands" line per instruction.
disassemble() {
  objdump -d --no-show-raw-insn --start-address=$((16#$1)) --stop-address=$((16#$1 + 16#$2)) \
    "$program" | awk -F'\t' '/^ *[0-9a-f]+:\t/ {sub(/:$/, "", $1); gsub(/ /, "", $1); print $1, $2}'
}

# Hexadecimal to number, for any awk (mawk has no strtonum).
hex='function hex(s,  n, i) {n = 0; for (i = 1; i <= length(s); ++i) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1; return n}'

# calls_row ADDRESS SIZE: true when the function there calls the row routine.
calls_row() {
  disassemble "$1" "$2" | awk -v row=$((16#$row_address)) "$hex"'
    $2 ~ /^call/ && hex($3) == row {found = 1}
    END {exit !found}'
}

serial=$(grep -E ' _Z11SerialMultiv$' <<<"$functions")
[ -n "$serial" ] || fail "SerialMulti not found"
read -r serial_address serial_size _ <<<"$serial"
calls_row "$serial_address" "$serial_size" || fail "SerialMulti does not call the row routine"

# GCC names the OpenMP region's function ParallelMulti(int) [clone ._omp_fn.N], Clang
# .omp_outlined. (with a ._debug__ twin under -g).
outlined=$(grep -E '_omp_fn\.[0-9]+$|omp_outlined' <<<"$functions")
[ -n "$outlined" ] || fail "no OpenMP outlined function found"
region_calls=no
while read -r address size _; do
  calls_row "$address" "$size" && region_calls=yes
done <<<"$outlined"
[ "$region_calls" = yes ] || fail "no OpenMP outlined function calls the row routine"

# A loop is a backward jump and its target; an inner loop holds no other loop. Each must start
# on a 64-byte boundary and end, with its jump, before the next one.
disassemble "$row_address" "$row_size" |
  awk -v name="$row_name" -v stop=$((16#$row_address + 16#$row_size)) "$hex"'
  {address[NR] = hex($1); mnemonic[NR] = $2; operand[NR] = $3}
  END {
    address[NR + 1] = stop
    for (n = 1; n <= NR; ++n) {
      if (mnemonic[n] !~ /^j/ || operand[n] !~ /^[0-9a-f]+$/) continue
      target = hex(operand[n])
      if (target <= address[n]) {start[++loops] = target; end[loops] = address[n + 1]}
    }
    if (!loops) {print "FAIL: no loop found in " name > "/dev/stderr"; exit 1}
    for (a = 1; a <= loops; ++a) {
      inner = 1
      for (b = 1; b <= loops; ++b)
        if (b != a && start[b] >= start[a] && end[b] <= end[a] && end[b] - start[b] < end[a] - start[a])
          inner = 0
      if (!inner) continue
      if (int(start[a] / 64) != int((end[a] - 1) / 64)) {
        printf "FAIL: inner loop %x..%x of the row routine crosses a 64-byte boundary\n",
               start[a], end[a] - 1 > "/dev/stderr"
        bad = 1
      } else if (start[a] % 64 != 0) {
        printf "FAIL: inner loop %x..%x of the row routine is not 64-byte aligned\n",
               start[a], end[a] - 1 > "/dev/stderr"
        bad = 1
      }
    }
    exit bad
  }' || exit 1
echo "PASS: one row routine, called by both kernels, inner loops inside 64-byte blocks"
