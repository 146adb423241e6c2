#!/bin/sh
# Ctrl-C (or SIGTERM, SIGHUP: a `timeout`, a closed terminal) ends a poll
# that has no --times, and the steps after it; the session still ends as
# usual: the port is closed, the simulator's blocks are saved, the poll's
# statistics printed; the exit status is 128 plus the signal's number.
# PIPE: the reader of the output goes (head -n 2) instead of a signal
# being sent; the statistics then go to standard error.
#   poll_interrupt.sh MORVANE [INT|TERM|HUP|PIPE]
set -u
morvane=$1
signal=${2:-INT}
# Named as the tests' scratch directories are: should this script be
# killed, the next test program removes it.
dir=$(mktemp -d "${TMPDIR:-/tmp}/morvane-test-$$-XXXXXX")
trap 'rm -rf "$dir"' EXIT
trap 'exit 1' HUP INT TERM
out="$dir/out"
if [ "$signal" = PIPE ]; then
  mkfifo "$dir/pipe"
  head -n 2 <"$dir/pipe" >"$dir/head" &
  out="$dir/pipe"
fi
"$morvane" --log-level 33 write --sim-blocks "$dir/blocks" 001002 0x4D2 \
  then poll 001002 --every 5 then write 001002 0 >"$out" 2>>"$dir/out" &
pid=$!
if [ "$signal" = PIPE ]; then
  # Bounded: a poll that never stops is ended by CTest's time-out.
  wait "$pid"
  code=$?
  cat "$dir/head" "$dir/out"
  grep -q "001002 = 1234" "$dir/head" || { echo "no polled value"; exit 1; }
  [ "$code" -eq 141 ] || { echo "exit code $code, not 141"; exit 1; }
  grep -q "^poll: [0-9]* transfers" "$dir/out" || { echo "no statistics"; exit 1; }
  grep -qi "04D2" "$dir/blocks" || { echo "blocks not saved"; exit 1; }
  echo "poll ended by SIGPIPE, blocks saved"
  exit 0
fi
# Wait (bounded) for the first polled value, then interrupt.
tries=0
until grep -q "001002 = 1234" "$dir/out"; do
  tries=$((tries + 1))
  if [ "$tries" -gt 200 ]; then echo "no polled value"; kill "$pid"; exit 1; fi
  sleep 0.01
done
kill -"$signal" "$pid"
# A stop request comes twice as timeout(1) sends it (to the program and to
# its group): still one request. Only a second Ctrl-C means "at once".
[ "$signal" = INT ] || kill -"$signal" "$pid" 2>/dev/null
wait "$pid"
code=$?
cat "$dir/out"
case $signal in HUP) number=1 ;; TERM) number=15 ;; *) number=2 ;; esac
expected=$((128 + number))
[ "$code" -eq "$expected" ] || { echo "exit code $code, not $expected"; exit 1; }
grep -q "^poll: [0-9]* transfers" "$dir/out" || { echo "no statistics"; exit 1; }
grep -qi "04D2" "$dir/blocks" || { echo "blocks not saved"; exit 1; }
echo "poll ended by SIG$signal, blocks saved"
