#!/usr/bin/env bash
# scripts/check-layers.sh on a copy of the driver's folders: it passes on the
# tree as it is and fails, naming file and include, on each planted include
# that points up, sideways or out of the driver.
set -euo pipefail
source_dir=$1
# Named as the tests' scratch directories are: should this script be
# killed, the next test program removes it.
work=$(mktemp -d "${TMPDIR:-/tmp}/morvane-test-$$-XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
failures=0

fresh_copy() {
  rm -rf "${work:?}/tree"
  mkdir -p "$work/tree/scripts"
  cp -r "$source_dir"/{entry,serial,link,gates,browse} "$work/tree/"
  cp "$source_dir/scripts/check-layers.sh" "$work/tree/scripts/"
}

fresh_copy
if ! bash "$work/tree/scripts/check-layers.sh" >/dev/null; then
  echo "FAIL: the tree as it is does not pass"
  failures=$((failures + 1))
fi

# file that gets the include | the include
while IFS='|' read -r file include; do
  fresh_copy
  echo "#include \"$include\"" >>"$work/tree/$file"
  if output=$(bash "$work/tree/scripts/check-layers.sh" 2>&1); then
    echo "FAIL: $file including $include passed"
    failures=$((failures + 1))
  elif [[ "$output" != *"$file:"*"\"$include\""* ]]; then
    echo "FAIL: $file including $include: the report does not name both: $output"
    failures=$((failures + 1))
  fi
done <<'PLANTED'
gates/write_encoder.cpp|link/rk512_fetch.h
gates/plc_float.cpp|entry/lifecycle.h
gates/byte_order.h|serial/serial_port.h
serial/serial_read.cpp|link/quiet_line.h
link/quiet_line.cpp|link/rk512_exchange.h
link/rk512_exchange.cpp|gates/transfer_plan.h
gates/read_commands.cpp|browse/browse_command.h
browse/browse_command.cpp|entry/command_table.h
link/link3964.cpp|tests/support/pty_pair.h
PLANTED

[ "$failures" -eq 0 ] && echo "layer check: passes the tree, refuses every planted include"
exit "$failures"
