#!/usr/bin/env bash
# Builds one Windows test program and runs it under Wine; exits with its
# result (124 when it overran its time).
#
#   scripts/wine-run.sh 32|64 TARGET
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bits=$1
target=$2
say() { echo "wine-run ($bits-bit $target): $*"; }
source scripts/wine-lib.sh
wine_use "$bits"
[ -f "$wine_build/build.ninja" ] || cmake --preset "mingw$bits" >/dev/null
cmake --build --preset "mingw$bits" -j 2 --target "$target" >/dev/null
wine_prefix_ready
unset DISPLAY WAYLAND_DISPLAY
log=$(mktemp)
trap 'rm -f "$log"' EXIT
result=0
(cd "$wine_build" && timeout -k 5 60 "$WINELOADER" "./$target.exe" 2>"$log") || result=$?
[ "$result" -eq 0 ] || { say "result $result"; tail -n 20 "$log"; }
exit "$result"
