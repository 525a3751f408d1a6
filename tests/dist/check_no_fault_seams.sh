#!/usr/bin/env bash
# The shipped programs hold none of the fault points of a replacement, while the test program that
# plants faults does (so the symbols are looked for where they can be seen at all), and no switch
# named for tests ("...ForTest").
# Usage: check_no_fault_seams.sh TEST_PROGRAM SHIPPED_PROGRAM...
set -euo pipefail
seams='quorvel::(ReplaceFaultAt|ReachReplacePoint|PlantReplaceFailure|SetReplacePointHook)\b'
symbols() {
  local out
  out=$(nm -C "$1") || { echo "nm cannot read $1" >&2; exit 1; }
  grep -q 'quorvel::ReplaceFilesAtomically' <<<"$out" || {
    echo "$1: no quorvel::ReplaceFilesAtomically among its symbols; stripped?" >&2
    exit 1
  }
  printf '%s\n' "$out"
}
test_program=$1
shift
test_symbols=$(symbols "$test_program")
if ! grep -qE "$seams" <<<"$test_symbols"; then
  echo "$test_program: the fault points are missing; the pattern no longer names them" >&2
  exit 1
fi
status=0
for program in "$@"; do
  program_symbols=$(symbols "$program")
  if found=$(grep -E "$seams|ForTest\b" <<<"$program_symbols"); then
    echo "$program holds fault points:" >&2
    echo "$found" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "no fault points in: $*"
exit "$status"
