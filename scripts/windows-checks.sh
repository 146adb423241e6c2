#!/usr/bin/env bash
# The Windows part of the test command: both cross-builds with their export
# and import checks and their release kits; then under Wine, 32-bit and
# 64-bit, the serial backend at its seam, the host check and morvane.exe on
# a COM port, and the address dialog typed into on a virtual display. Where the kernel runs no 32-bit programs,
# the 64-bit build alone runs under Wine.
# Ends with "windows: N passed, N failed", the checks' own counts added up.
#
#   scripts/windows-checks.sh
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
say() { echo "windows: $*"; }
source scripts/wine-lib.sh
passed=0
failed=0

# Runs one check and counts it: by the "N passed, N failed" line it ends
# with, or as one.
check() {
  local started=$SECONDS log result=0 counts
  log=$(mktemp)
  "$@" 2>&1 | tee "$log" || result=$?
  counts=$(tr -d '\r' <"$log" | sed -n 's/^\([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' | tail -1)
  rm -f "$log"
  if [ -n "$counts" ]; then
    passed=$((passed + ${counts% *}))
    failed=$((failed + ${counts#* }))
    [ "$result" -eq 0 ] || [ "${counts#* }" -ne 0 ] || failed=$((failed + 1))
  elif [ "$result" -eq 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
  [ "$result" -eq 0 ] || say "FAILED: $*"
  say "$* took $((SECONDS - started))s"
}

widths="32 64"
if [ ! -x /usr/lib/wine/wine ]; then
  say "32-bit Wine is not installed (see the set-up's line): the 64-bit Windows build stands in for the 32-bit one under Wine"
  widths="64"
elif ! wine_runs_32bit; then
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
check bash scripts/windows-kit.sh
version=$(sed -n 's/^project(morvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for bits in 32 64; do
  check bash scripts/windows-kit-check.sh "build-kit/morvane-$version-win$bits" "$bits"
done
for bits in $widths; do
  check bash scripts/wine-run.sh "$bits" serial_seam_check
  check bash scripts/wine-check.sh "$bits"
  check bash scripts/morvane-exe-check.sh "$bits"
  check bash scripts/dialog-check.sh "$bits"
done

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
