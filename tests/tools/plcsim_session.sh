# Sourced by the tests that run plcsim beside morvane: a scratch directory
# (named as the tests' own are: should a script be killed, the next test
# program removes it) that is the current one, and start_plcsim ARGS...,
# which starts plcsim with its output in sim.out and its errors in sim.err
# and sets $sim (its process) and $port (the line it serves).
dir=$(mktemp -d "${TMPDIR:-/tmp}/morvane-test-$$-XXXXXX")
sim=
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; rm -rf "$dir"' EXIT
trap 'exit 1' HUP INT TERM
cd "$dir" || exit 1

start_plcsim() {
  "$plcsim" "$@" >sim.out 2>sim.err &
  sim=$!
  tries=0
  until [ -s sim.out ]; do
    tries=$((tries + 1))
    [ $tries -le 100 ] || { echo "plcsim gave no port"; exit 1; }
    sleep 0.05
  done
  port=$(head -n 1 sim.out)
}
