#!/bin/sh
# plcsim --save takes only a regular file it may write, and says so before
# it serves the line: a FIFO, a directory or a read-only file is refused.
#   save_refusals.sh PLCSIM
set -u
# Named as the tests' scratch directories are: should this script be
# killed, the next test program removes it.
dir=$(mktemp -d "${TMPDIR:-/tmp}/morvane-test-$$-XXXXXX")
trap 'rm -rf "$dir"' EXIT
trap 'exit 1' HUP INT TERM
mkfifo "$dir/fifo"
mkdir "$dir/directory"
echo "DB1 1: 0005" >"$dir/read-only"
chmod 0444 "$dir/read-only"
for file in fifo directory read-only; do
  if timeout 5 "$1" --save "$dir/$file" >"$dir/out" 2>&1; then
    echo "$file taken"; exit 1
  fi
  grep -q "plcsim: --save: $dir/$file is" "$dir/out" || { cat "$dir/out"; exit 1; }
done
[ -p "$dir/fifo" ] && grep -q "DB1 1: 0005" "$dir/read-only" || { echo "changed"; exit 1; }
echo "non-files refused"
