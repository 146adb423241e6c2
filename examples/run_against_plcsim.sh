#!/bin/sh
# Runs a host program against plcsim on a pseudo-terminal, 3964R chosen by
# the channel's file in a scratch directory:
#   run_against_plcsim.sh PLCSIM HOST [ARGS...]   runs HOST PORT [ARGS...]
# where PORT is the simulator's device without "/dev/" ("pts/N" fits the
# driver's 11-character port name).
set -eu
# A relative path still names the program after the change of directory.
absolute() {
  case $1 in
  /*) echo "$1" ;;
  */*) echo "$PWD/$1" ;;
  *) command -v "$1" ;;
  esac
}
plcsim=$(absolute "$1")
host=$(absolute "$2")
shift 2
# Named as the tests' scratch directories are: should this script be
# killed, the next test program removes it.
dir=$(mktemp -d "${TMPDIR:-/tmp}/morvane-test-$$-XXXXXX")
pid=
trap '[ -z "$pid" ] || kill "$pid" 2>/dev/null; rm -rf "$dir"' EXIT
trap 'exit 1' HUP INT TERM
cd "$dir"
printf 'PROTOCOL=3964R\n' >ZIDIV01.INT
"$plcsim" --3964r --no-trace >device.txt 2>plcsim.err &
pid=$!
tries=0
until [ -s device.txt ]; do # the simulator prints its device path first
  tries=$((tries + 1))
  if [ "$tries" -gt 200 ]; then
    echo "plcsim printed no device path" >&2
    cat plcsim.err >&2
    exit 1
  fi
  sleep 0.05
done
device=$(head -n 1 device.txt)
"$host" "${device#/dev/}" "$@"
