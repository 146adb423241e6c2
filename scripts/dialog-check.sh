#!/usr/bin/env bash
# Drives the "Tag Format" dialog as a user does, under Wine on a virtual X
# display with Wine's default fonts: dialog_host_check.exe asks for an address
# (BrowseAddress0) and this script clicks the data type and the fields and
# types the numbers digit by digit (xdotool), then checks the address the host
# received and how the driver's parse command takes it for the matching gate
# type; an invalid entry must bring up the "Error" box, Esc and Cancel must
# give 53 with the host's buffer untouched. Last, morvane.exe browse against
# plcsim on COM5 reads the gate chosen. Ends with "N passed, N failed".
#
#   scripts/dialog-check.sh [32|64]      (default 32)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bits=${1:-32}
say() { echo "dialog-check ($bits-bit): $*"; }
source scripts/wine-lib.sh
wine_use "$bits"

[ -f "$wine_build/build.ninja" ] || cmake --preset "mingw$bits" >/dev/null
cmake --build --preset "mingw$bits" -j 2 --target morvane ostrel dialog_host_check >/dev/null
wine_prefix_ready

work=$(mktemp -d)
xvfb_pid=""
program_pid=""
cleanup() {
  if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null || true; fi
  wine_stop
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $2 seconds (default 20) for a line matching $1 (a regex) in
# the program's output; with $3 = -x, for the line $1 itself.
await_line() {
  local limit=$((${2:-20} * 10)) mode=${3:-}
  for _ in $(seq "$limit"); do
    if [ "$mode" = -x ]; then
      tr -d '\r' <"$work/out" | grep -qxF -- "$1" && return 0
    else
      tr -d '\r' <"$work/out" | grep -q -- "$1" && return 0
    fi
    sleep 0.1
  done
  say "no line \"$1\" within ${2:-20}s; the program printed:"
  sed "s/^/    /" "$work/out" "$work/wine.err"
  return 1
}

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { say "Xvfb gave no display"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(cat "$work/display")"
unset WAYLAND_DISPLAY
# No window manager runs on the display: Wine then places its windows itself
# instead of waiting in vain (2 s a window) for a manager to take them down.
wine_reg_set user.reg 'Software\\Wine\\X11 Driver' Managed N
# One server for all the dialogs: each program then starts in a moment.
wineserver -p >/dev/null 2>&1

passed=0
failed=0
expect() {
  if tr -d '\r' <"$work/out" | grep -qxF -- "$1"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    say "FAIL in \"$case_name\": expected \"$1\", the program printed:"
    sed 's/^/    /' "$work/out"
  fi
}

declare -A at
programs=()
# Starts the program (parsing for gate type $1) and waits for its dialog.
open_dialog() {
  : >"$work/out"
  (cd "$wine_build" && exec timeout -k 5 60 "$WINELOADER" ./dialog_host_check.exe "$@") \
    >>"$work/out" 2>"$work/wine.err" &
  program_pid=$!
  # The program's line comes first (polled every 0.1 s); xdotool then finds
  # the window on its first look instead of half a second later.
  await_line '^controls done$'
  timeout 20 xdotool search --sync --onlyvisible --name '^Tag Format$' >/dev/null
  local name x y
  while read -r _ name x y; do at[$name]="$x $y"; done < <(grep '^control ' "$work/out")
}
click() {
  # shellcheck disable=SC2086
  xdotool mousemove ${at[$1]} click 1
}
# Clicks into a field, erases what it holds and types the digits one by one.
fill() {
  click "$1"
  xdotool key End BackSpace BackSpace BackSpace
  xdotool type --delay 40 "$2"
}
press() { xdotool key "$1"; }
# Waits for the "Error" box, checks its text and dismisses it.
error_box() {
  await_line "error $1" 20 -x || true
  timeout 20 xdotool search --sync --onlyvisible --name '^Error$' >/dev/null
  expect "error $1"
  press Return
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name '^Error$' >/dev/null || return 0
    sleep 0.1
  done
}
# Waits for the program's last line, which tells what the host received. The
# program is left to end on its own (Wine takes a moment to end a process).
finish() {
  await_line '^\(parse\|buffer\|cannot\) '
  programs+=("$program_pid")
  program_pid=""
}

started=$SECONDS

case_name="16-bit word"
open_dialog 0
click 16bits
fill block 123
fill location 045
press Return
finish
expect "result 0"
expect "address 123045"
expect "parse 0 class I packed 0x007B002D bit -1 width 16"

case_name="32-bit integer"
open_dialog 4
click 32bits
fill block 200
fill location 128
press Return
finish
expect "address 200128L"
expect "parse 0 class L packed 0x00C80040 bit -1 width 32"

case_name="float"
open_dialog 3
click float
fill block 255
fill location 254
press Return
finish
expect "address 255254F"
expect "parse 0 class F packed 0x00FF007F bit -1 width 32"

case_name="string of 40 characters"
open_dialog 7
click string
fill block 100
fill location 120
fill length 40
press Return
finish
expect "address 100120S40"
expect "parse 0 class S packed 0x28640006 bit -1 width 16"

case_name="bit 15"
open_dialog 6
click digital
fill block 010
fill location 250
fill bit 15
press Return
finish
expect "address 01025015"
expect "parse 0 class I packed 0x000A00FA bit 15 width 16"

# Refused entries keep the dialog open; corrected, the address goes through.
case_name="refused, then corrected"
open_dialog 4
click 32bits
fill block 007
fill location 45
press Return
error_box "The Memory Location Within The Data Block Should Be a 3 DIGITS NUMBER!"
fill location 131
press Return
error_box "When Using 32 Bits Analog Type The Memory Location Within The Data Block Should Be An Even Number!"
fill location 130
press Return
finish
expect "address 007130L"
expect "parse 0 class L packed 0x00070041 bit -1 width 32"

case_name="Esc"
open_dialog
fill block 042
press Escape
finish
expect "result 53"
expect "buffer untouched"

case_name="Cancel"
open_dialog
click string
fill length 12
click cancel
finish
expect "result 53"
expect "buffer untouched"

# The command-line host's browse on a COM port served by plcsim: the dialog
# is the same, and so is where it shows its controls.
case_name="morvane.exe browse"
cmake --build --preset "mingw$bits" -j 2 --target morvane_cli >/dev/null
[ -f build/build.ninja ] || cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target plcsim >/dev/null
plcsim_start "$work" --3964r --no-create --db 1:256
wine_map_port COM5 "$sim_device"
wineserver -p >/dev/null 2>&1
: >"$work/out"
(cd "$work" && exec timeout -k 5 60 "$WINELOADER" "$wine_build/morvane.exe" --log-level 33 \
  write --port COM5 --protocol 3964R 001010F 1.25 then browse) >>"$work/out" 2>&1 &
program_pid=$!
timeout 20 xdotool search --sync --onlyvisible --name '^Tag Format$' >/dev/null
click float
fill block 001
fill location 010
press Return
await_line '^001010F = '
programs+=("$program_pid")
program_pid=""
expect "address: 001010F"
expect "001010F = 1.25"

for pid in "${programs[@]}"; do wait "$pid" || say "a program ended with $?"; done
say "9 dialogs in $((SECONDS - started))s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
