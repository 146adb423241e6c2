#!/bin/sh
# The first Ctrl-C during a long transfer says the tool stops after it; the
# transfer ends, its values are printed, and the exit status is 130.
#   long_transfer_interrupt.sh MORVANE
set -u
# Named as the tests' scratch directories are: should this script be
# killed, the next test program removes it.
dir=$(mktemp -d "${TMPDIR:-/tmp}/morvane-test-$$-XXXXXX")
trap 'rm -rf "$dir"' EXIT
trap 'exit 1' HUP INT TERM
# 100 words paced at 1200 baud take about 2 s.
"$1" --log-level 33 read --pace --baud 1200 001000 100 >"$dir/out" 2>"$dir/err" &
pid=$!
sleep 0.3
kill -INT "$pid"
wait "$pid"
code=$?
cat "$dir/err"
[ "$code" -eq 130 ] || { echo "exit code $code"; exit 1; }
grep -q "stopping after this transfer" "$dir/err" || { echo "no word of the stop"; exit 1; }
grep -q "^001000\[99\] = 0 " "$dir/out" || { echo "the transfer did not end"; exit 1; }
echo "long transfer finished, then stopped"
