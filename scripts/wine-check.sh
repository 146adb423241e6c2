#!/usr/bin/env bash
# Runs the 32-bit Windows driver for real: win32_host_check.exe loads
# MORVANE.DLL under Wine and drives COM5, which Wine maps to a pseudo-terminal
# served by plcsim in 3964R. Exits with the program's result (124 when it
# overran its time).
#
#   scripts/wine-check.sh          (WINE_CHECK_TIMEOUT: seconds, default 120)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
port=COM5
limit=${WINE_CHECK_TIMEOUT:-120}

bash scripts/setup.sh
[ -f build/build.ninja ] || cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target plcsim >/dev/null
[ -f build-mingw32/build.ninja ] || cmake --preset mingw32 >/dev/null
cmake --build --preset mingw32 -j 2 --target morvane ostrel win32_host_check >/dev/null

work=$(mktemp -d)
sim_pid=""
export WINEPREFIX="$work/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  [ -d "$WINEPREFIX" ] && timeout 10 wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

say() { echo "wine-check: $*"; }
elapsed() { echo $((SECONDS - $1))s; }

# Data block 1 for the single values, data block 2 holds the words the
# program's block read expects: 0x1010 + 0x0203 * i (DLE bytes included).
{
  echo "DB1 256:$(printf ' 0000%.0s' $(seq 256))"
  printf 'DB2 128:'
  for i in $(seq 0 127); do printf ' %04X' $(((0x1010 + 0x0203 * i) & 0xFFFF)); done
  echo
} >"$work/blocks.txt"
echo "PROTOCOL=3964R" >"$work/ZIDIV.INT"

started=$SECONDS
timeout 120 wineboot --init >"$work/wineboot.log" 2>&1 ||
  { say "prefix initialisation failed"; cat "$work/wineboot.log"; exit 1; }
say "prefix initialised in $(elapsed $started)"

build/sim/plcsim --3964r --no-create --load "$work/blocks.txt" \
  --trace-file "$work/trace.txt" >"$work/plcsim.out" 2>"$work/plcsim.err" &
sim_pid=$!
device=""
for _ in $(seq 50); do
  device=$(head -n 1 "$work/plcsim.out")
  [ -n "$device" ] && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
[ -c "$device" ] || { say "plcsim gave no device"; cat "$work/plcsim.err"; exit 1; }

# Wine takes COM ports from the registry when its device manager starts:
# set the mapping, then restart the prefix's server so that the run sees it.
timeout 60 wine reg add 'HKLM\Software\Wine\Ports' /v "$port" /d "$device" /f >/dev/null
timeout 10 wineserver -k || true
say "$port is $device (plcsim $sim_pid)"

started=$SECONDS
result=0
(cd "$work" && timeout -k 5 "$limit" wine "$root/build-mingw32/win32_host_check.exe" "$port") ||
  result=$?
say "program ran in $(elapsed $started), result $result"
if [ "$result" -ne 0 ]; then
  echo "--- plcsim trace (last 40 lines)"
  tail -n 40 "$work/trace.txt" 2>/dev/null || true
  cat "$work/plcsim.err"
fi
exit "$result"
