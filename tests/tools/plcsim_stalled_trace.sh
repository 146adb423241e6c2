#!/bin/sh
# plcsim's trace going into a FIFO nobody reads, as a pager held on one
# screen: the simulator goes on answering every transfer, and at the end
# says how much of the trace was lost, with status 1.
#   plcsim_stalled_trace.sh MORVANE PLCSIM
set -u
plcsim=$2
. "$(dirname "$0")/plcsim_session.sh"
mkfifo trace
exec 3<>trace  # held open for reading, never read
start_plcsim --trace-file trace
timeout 30 "$1" --port "$port" poll 001000 64 --times 300 --every 1 >poll.out 2>&1
grep -q "poll: 300 transfers, 300 good, 0 failed" poll.out || { tail -n 3 poll.out; exit 1; }
kill -TERM "$sim"
status=0
wait "$sim" || status=$?
sim=
[ "$status" -eq 1 ] && grep -q "plcsim: the trace trace: [0-9]* bytes not written: its reader" sim.err ||
  { echo "status $status"; cat sim.err; exit 1; }
echo "the line outlasted its trace's reader"
