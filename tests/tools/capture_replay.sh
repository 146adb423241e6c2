#!/bin/sh
# A trace written as a capture (a file named *.mcap), by morvane on its side
# of the line and by plcsim on its own, decodes through morvane monitor
# --replay to the transfers that crossed the line.
#   capture_replay.sh MORVANE PLCSIM
set -u
plcsim=$2
. "$(dirname "$0")/plcsim_session.sh"
start_plcsim --trace-file sim.mcap
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
