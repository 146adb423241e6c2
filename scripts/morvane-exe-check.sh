#!/usr/bin/env bash
# Runs morvane.exe, the command-line host built for Windows, under Wine
# against plcsim on COM5 (a pseudo-terminal): info, write and read of every
# kind of gate, a block, poll, and the refusals a Windows user meets (no
# --port, an unknown port, a log named as a port). The browse command is typed into by
# scripts/dialog-check.sh. Ends with "N passed, N failed".
#
#   scripts/morvane-exe-check.sh [32|64]      (default 32)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bits=${1:-32}
# From COM10 on a port is reached only in the device namespace (\\.\COM12).
port=COM12
say() { echo "morvane-exe-check ($bits-bit): $*"; }
source scripts/wine-lib.sh
wine_use "$bits"

[ -f build/build.ninja ] || cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target plcsim >/dev/null
[ -f "$wine_build/build.ninja" ] || cmake --preset "mingw$bits" >/dev/null
cmake --build --preset "mingw$bits" -j 2 --target morvane ostrel morvane_cli >/dev/null
wine_prefix_ready

work=$(mktemp -d)
unset DISPLAY WAYLAND_DISPLAY
trap 'wine_stop; rm -rf "$work"' EXIT

plcsim_start "$work" --3964r --no-create --db 1:256 --db 2:256 --trace-file "$work/trace.txt"
wine_map_port "$port" "$sim_device"
wineserver -p >/dev/null 2>&1

passed=0
failed=0
# Runs morvane.exe with the arguments after "--"; the exit code and output
# must match: expect CODE PATTERN -- ARGS... PATTERN is an extended regex
# that the output (standard error too) must hold, its lines joined by ";".
expect() {
  local want=$1 pattern=$2 code=0
  shift 3
  # Into a file, not a pipe: Wine's services started by the program keep
  # their inherited streams open after it ends.
  # A UTF-8 locale: the string value with an accent reaches Windows' own
  # code page as a Windows console's typing would.
  (cd "$work" && LC_ALL=C.UTF-8 timeout -k 5 60 "$WINELOADER" "$wine_build/morvane.exe" --log-level 33 "$@") \
    >"$work/raw" 2>&1 || code=$?
  tr -d '\r' <"$work/raw" | tr '\n' ';' >"$work/out"
  if [ "$code" -eq "$want" ] && grep -Eq -- "$pattern" "$work/out"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    say "FAIL: morvane $* (exit $code, expected $want) printed:"
    tr -d '\r' <"$work/raw" | sed 's/^/    /'
  fi
}

started=$SECONDS
expect 0 'description: +Siemens 3964 with RK512;.*channel area: +4135 bytes' -- info
expect 0 "usage: morvane .*;On Windows: give the PLC's port with --port COM1.*browse" -- --help
expect 1 "give the PLC's port with --port \(COM1" -- read 001004
expect 6 'cannot open port COM9' -- read --port COM9 001004
# Every kind of gate on one channel, as the port is opened once: Wine cannot
# set the line of a pseudo-terminal that was opened and closed before.
# 100 words take two telegrams each way; the read of a missing data block,
# refused by the PLC with its error number, ends the steps.
expect 4 "^001010F <- 1 value;001020S08 <- 1 value;001040 <- 2 values;00100403 <- 1 value;\
002000 <- 100 values;\
001010F = -2\.5;001020S08 = \"PLCé\";001040\[0\] = 7 \(0x0007\);001040\[1\] = 4112 \(0x1010\);\
001004 = 8 \(0x0008\);\
002000\[0\] = 1 \(0x0001\);(002000\[[0-9]+\] = [^;]*;){63}002000\[64\] = 65 \(0x0041\);\
(002000\[[0-9]+\] = [^;]*;){34}002000\[99\] = 100 \(0x0064\);\
[0-9:.]+  001004 = 8 \(0x0008\);[0-9:.]+  001004 = 8 \(0x0008\);\
poll: 2 transfers, 2 good, 0 failed, 0 retries, time min/mean/max [0-9./]+ ms;\
morvane: reading 009000: PLC refused: error 0x14: data block does not exist \(4 attempts\)" -- \
  write --port $port --protocol 3964R 001010F -2.5 then write 001020S08 PLCé \
  then write 001040 7 0x1010 then write 00100403 1 then write 002000 $(seq 1 100) \
  then read 001010F then read 001020S08 then read 001040 2 then read 001004 \
  then read 002000 100 then poll 001004 --every 50 --times 2 then read 009000

# A log named as a port (here the session's, spelled as a device) is
# refused before anything opens: it would go onto the line.
expect 2 'is a device, not a file' -- read --port $port --log '\\.\COM12' 001004

say "6 runs in $((SECONDS - started))s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
