#!/usr/bin/env bash
# Runs the 32-bit Windows driver for real: win32_host_check.exe loads
# MORVANE.DLL under Wine and drives COM5, which Wine maps to a pseudo-terminal
# served by plcsim in 3964R. Exits with the program's result (124 when it
# overran its time).
#
#   scripts/wine-check.sh
#
# WINE_CHECK_TIMEOUT   seconds for the program (default 900)
# WINE_CHECK_PREFIX    the Wine prefix, initialised once and kept
#                      (default build-mingw32/wine-prefix)
#
# A kernel without 32-bit emulation (or with it switched off) cannot execute
# Wine's 32-bit loader; the script then runs 32-bit programs through
# qemu-i386 (binfmt_misc, needs root), which makes everything far slower.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
port=COM5
limit=${WINE_CHECK_TIMEOUT:-900}
prefix=${WINE_CHECK_PREFIX:-$root/build-mingw32/wine-prefix}

say() { echo "wine-check: $*"; }
elapsed() { echo $((SECONDS - $1))s; }

# Makes 32-bit programs executable: natively, or through qemu-i386.
ensure_32bit_programs() {
  /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0
  say "32-bit programs do not run natively here; registering qemu-i386"
  [ "$(id -u)" -eq 0 ] || { say "registering needs root"; return 1; }
  [ -x /usr/bin/qemu-i386-static ] ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-user-static
  local misc=/proc/sys/fs/binfmt_misc
  [ -e $misc/register ] || mount -t binfmt_misc binfmt_misc $misc
  [ -e $misc/qemu-i386 ] ||
    echo ':qemu-i386:M::\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' >$misc/register
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

started=$SECONDS
bash scripts/setup.sh
[ -f build/build.ninja ] || cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target plcsim >/dev/null
[ -f build-mingw32/build.ninja ] || cmake --preset mingw32 >/dev/null
cmake --build --preset mingw32 -j 2 --target morvane ostrel win32_host_check >/dev/null
ensure_32bit_programs || { say "cannot run 32-bit programs"; exit 1; }
say "built and ready in $(elapsed $started)"

work=$(mktemp -d)
sim_pid=""
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
  if [ -d "$WINEPREFIX" ]; then timeout 30 wineserver -k >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Data block 1 for the single values, data block 2 holds the words the
# program's block read expects: 0x1010 + 0x0203 * i (DLE bytes included).
{
  echo "DB1 256:$(printf ' 0000%.0s' $(seq 256))"
  printf 'DB2 128:'
  for i in $(seq 0 127); do printf ' %04X' $(((0x1010 + 0x0203 * i) & 0xFFFF)); done
  echo
} >"$work/blocks.txt"
echo "PROTOCOL=3964R" >"$work/ZIDIV.INT"

if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -f "$WINEPREFIX/.initialised" ]; then
  started=$SECONDS
  rm -rf "$WINEPREFIX"
  if ! timeout "${WINE_CHECK_INIT_TIMEOUT:-1200}" sh -c 'wineboot --init && wineserver -w' \
    >"$work/wineboot.log" 2>&1; then
    say "prefix initialisation failed"
    cat "$work/wineboot.log"
    exit 1
  fi
  touch "$WINEPREFIX/.initialised"
  say "prefix initialised in $(elapsed $started)"
fi

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

# Wine takes COM ports from HKLM\Software\Wine\Ports when its device manager
# starts. The value goes straight into the prefix's registry file while its
# server is stopped: "wine reg add" would start the whole prefix once more,
# minutes under qemu-i386.
timeout 60 wineserver -k >/dev/null 2>&1 || true
map_port() {
  awk -v value="\"$1\"=\"$2\"" -v name="\"$1\"=" '
    /^\[Software\\\\Wine\\\\Ports\]/ { print; found = 1; inside = 1; next }
    inside && ($0 == "" || /^\[/) { print value; inside = 0 }
    inside && index($0, name) == 1 { next }
    { print }
    END {
      if (inside) print value
      if (!found) { print ""; print "[Software\\\\Wine\\\\Ports]"; print value }
    }
  ' "$WINEPREFIX/system.reg" >"$work/system.reg" && cp "$work/system.reg" "$WINEPREFIX/system.reg"
}
map_port "$port" "$device"
say "$port is $device (plcsim $sim_pid)"

started=$SECONDS
result=0
# Wine's own messages (and its server's, which inherits the stream) go to a
# file, shown only when the check fails.
(cd "$work" && timeout -k 5 "$limit" wine "$root/build-mingw32/win32_host_check.exe" "$port" \
  2>"$work/wine.err") || result=$?
say "program ran in $(elapsed $started), result $result"
if [ "$result" -ne 0 ]; then
  echo "--- plcsim trace (last 40 lines)"
  tail -n 40 "$work/trace.txt" 2>/dev/null || true
  cat "$work/plcsim.err"
  echo "--- Wine (last 40 lines)"
  tail -n 40 "$work/wine.err"
fi
exit "$result"
