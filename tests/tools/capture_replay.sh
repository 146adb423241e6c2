#!/bin/sh
# A trace written as a capture (a file named *.mcap), by morvane on its side
# of the line and by plcsim on its own, decodes through morvane monitor
# --replay to the transfers that crossed the line.
#   capture_replay.sh MORVANE PLCSIM
set -u
# Named as the tests' scratch directories are: should this script be
# killed, the next test program removes it.
dir=$(mktemp -d "${TMPDIR:-/tmp}/morvane-test-$$-XXXXXX")
sim=
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; rm -rf "$dir"' EXIT
trap 'exit 1' HUP INT TERM
cd "$dir" || exit 1
"$2" --trace-file sim.mcap >sim.out 2>&1 &
sim=$!
tries=0
until [ -s sim.out ]; do
  tries=$((tries + 1))
  [ $tries -le 100 ] || { echo "plcsim gave no port"; exit 1; }
  sleep 0.05
done
port=$(head -n 1 sim.out)
timeout 20 "$1" --port "$port" --trace-file host.mcap write 001002 1234 then read 001002 \
  >host.out 2>&1 || { cat host.out; exit 1; }
kill "$sim"; wait "$sim"; sim=
grep -q "^# line trace of $port" host.mcap || { echo "no header in host.mcap"; exit 1; }
for capture in host sim; do
  timeout 10 "$1" monitor --replay $capture.mcap >$capture.txt 2>&1 || { cat $capture.txt; exit 1; }
  grep -q "SEND DB1 W2 x1 <- 0x04D2  ok" $capture.txt &&
    grep -q "FETCH DB1 W2 x1 -> 0x04D2  ok" $capture.txt &&
    grep -q "summary: 2 transfers, 0 retries" $capture.txt || { cat $capture.txt; exit 1; }
done
echo "captures replayed"
