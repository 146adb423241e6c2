#!/bin/sh
# morvane browse in a tmux pane, as a user runs it: with --json the address
# line stays out of the stream, and a Ctrl-C sent twice (kill -INT) while the
# dialog is open leaves the terminal's screen and cursor as they were.
# usage: browse_in_tmux.sh MORVANE
set -u
morvane=$1
command -v tmux >/dev/null || { echo "tmux is not installed: skipped"; exit 0; }
dir=$(mktemp -d)
# A server each run: a new one on a socket just let go may not start.
tmux="tmux -S $dir/first -f /dev/null"
trap 'tmux -S $dir/first kill-server 2>/dev/null; tmux -S $dir/second kill-server 2>/dev/null; rm -rf "$dir"' EXIT
fail() { echo "browse_in_tmux: $*"; exit 1; }
# Waits (5 s at most) until the pane shows text.
shows() {
  i=0
  while [ $i -lt 250 ]; do
    $tmux capture-pane -p -t b 2>/dev/null | grep -q "$1" && return 0
    sleep 0.02; i=$((i + 1))
  done
  return 1
}

$tmux new-session -d -s b -x 80 -y 24 "cd $dir && $morvane browse --json >out 2>err; echo done >rc; sleep 30"
shows "Tag Format" || fail "no dialog"
$tmux send-keys -t b Enter
i=0; while [ ! -s "$dir/rc" ] && [ $i -lt 250 ]; do sleep 0.02; i=$((i + 1)); done
head -c 1 "$dir/out" | grep -q '{' || fail "the JSON stream starts with: $(head -n 1 "$dir/out")"
grep -q "address: 000000" "$dir/err" || fail "no address line on standard error: $(cat "$dir/err")"
$tmux kill-server
tmux="tmux -S $dir/second -f /dev/null"

$tmux new-session -d -s b -x 80 -y 24 "$morvane browse; sleep 30"
shows "Tag Format" || fail "no dialog the second time"
pid=$(pgrep -n -f "$morvane browse\$")
kill -INT "$pid"; sleep 0.2; kill -INT "$pid"
i=0; while kill -0 "$pid" 2>/dev/null && [ $i -lt 250 ]; do sleep 0.02; i=$((i + 1)); done
kill -0 "$pid" 2>/dev/null && fail "a second Ctrl-C did not end the dialog"
state=$($tmux display -p -t b 'alternate=#{alternate_on} cursor=#{cursor_flag}')
[ "$state" = "alternate=0 cursor=1" ] || fail "the terminal was left with $state"
echo "browse kept its stream and the terminal"
