#!/usr/bin/env bash
# The Windows part of the test command: both cross-builds with their export
# and import checks, then under Wine, 32-bit and 64-bit, the host check and
# morvane.exe on a COM port, and the address dialog typed into on a virtual
# display. Where
# the kernel runs no 32-bit programs the 64-bit build alone is run.
# Ends with "windows: N passed, N failed" (one per check script).
#
#   scripts/windows-checks.sh
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
say() { echo "windows: $*"; }
source scripts/wine-lib.sh
passed=0
failed=0

# Runs one check and counts it.
check() {
  local started=$SECONDS
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    say "FAILED: $*"
  fi
  say "$* took $((SECONDS - started))s"
}

widths="32 64"
if ! wine_runs_32bit; then
  say "this kernel runs no 32-bit programs: the 64-bit Windows build stands in for the 32-bit one under Wine"
  widths="64"
fi

[ -f build/build.ninja ] || cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target plcsim >/dev/null
for bits in 32 64; do
  cmake --preset "mingw$bits" >/dev/null
  check cmake --build --preset "mingw$bits" -j 2
  check bash scripts/check-pe.sh "build-mingw$bits" "$bits"
done
for bits in $widths; do
  check bash scripts/wine-check.sh "$bits"
  check bash scripts/morvane-exe-check.sh "$bits"
  check bash scripts/dialog-check.sh "$bits"
done

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
