#!/usr/bin/env bash
# Runs a Windows build of the driver for real: win32_host_check.exe loads
# MORVANE.DLL under Wine and drives COM5, which Wine maps to a pseudo-terminal
# served by plcsim in 3964R. Exits with the program's result (124 when it
# overran its time).
#
#   scripts/wine-check.sh [32|64]      (default 32: the mingw32 build)
#
# WINE_CHECK_TIMEOUT   seconds for the program (default 120)
# MORVANE_WINE_CACHE   where the Wine prefixes are kept (default ~/.cache/morvane)
#
# The 32-bit build needs a kernel that runs 32-bit programs; scripts/test.sh
# runs the 64-bit build alone where it does not.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bits=${1:-32}
port=COM5
limit=${WINE_CHECK_TIMEOUT:-120}
say() { echo "wine-check ($bits-bit): $*"; }
source scripts/wine-lib.sh
wine_use "$bits"
if [ "$bits" = 32 ] && ! wine_runs_32bit; then
  say "this kernel does not run 32-bit programs"
  exit 1
fi

started=$SECONDS
[ -f build/build.ninja ] || cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target plcsim >/dev/null
[ -f "$wine_build/build.ninja" ] || cmake --preset "mingw$bits" >/dev/null
cmake --build --preset "mingw$bits" -j 2 --target morvane ostrel win32_host_check >/dev/null
wine_prefix_ready
say "built and ready in $((SECONDS - started))s"

work=$(mktemp -d)
unset DISPLAY WAYLAND_DISPLAY
trap 'wine_stop; rm -rf "$work"' EXIT

# Data block 1 for the single values, data block 2 holds the words the
# program's block read expects: 0x1010 + 0x0203 * i (DLE bytes included).
{
  echo "DB1 256:$(printf ' 0000%.0s' $(seq 256))"
  printf 'DB2 128:'
  for i in $(seq 0 127); do printf ' %04X' $(((0x1010 + 0x0203 * i) & 0xFFFF)); done
  echo
} >"$work/blocks.txt"
echo "PROTOCOL=3964R" >"$work/ZIDIV.INT"

plcsim_start "$work" --3964r --no-create --load "$work/blocks.txt" --trace-file "$work/trace.txt"
wine_map_port "$port" "$sim_device"
say "$port is $sim_device (plcsim $sim_pid)"

started=$SECONDS
result=0
# Wine's own messages (and its server's, which inherits the stream) go to a
# file, shown only when the check fails.
(cd "$work" && timeout -k 5 "$limit" "$WINELOADER" "$wine_build/win32_host_check.exe" "$port" \
  2>"$work/wine.err") || result=$?
say "program ran in $((SECONDS - started))s, result $result"
if [ "$result" -ne 0 ]; then
  echo "--- plcsim trace (last 40 lines)"
  tail -n 40 "$work/trace.txt" 2>/dev/null || true
  cat "$work/plcsim.err"
  echo "--- Wine (last 40 lines)"
  tail -n 40 "$work/wine.err"
fi
exit "$result"
