#!/usr/bin/env bash
# Checks a kit folder made by scripts/windows-kit.sh: the PE checks of
# check-pe.sh, every file there, MORVANE.DLL without debug information but
# linked to MORVANE.DLL.debug, which holds it, a host linked with the import
# library, and (where Wine runs programs of
# that width) morvane.exe from the kit loading the kit's DLL.
#
#   scripts/windows-kit-check.sh KIT_DIR 32|64
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
kit=$1
bits=$2
objdump=$([ "$bits" = 64 ] && echo x86_64 || echo i686)-w64-mingw32-objdump
failed=0
fail() { echo "windows-kit-check: $*" >&2; failed=1; }

bash scripts/check-pe.sh "$kit" "$bits" || failed=1
for file in MORVANE.DLL MORVANE.DLL.debug OSTREL.dll morvane.exe INTEGRATION.md \
  lib/libMORVANE.dll.a lib/MORVANE.def \
  include/morvane/morvane.h include/morvane/ostrel.h include/morvane/platform_api.h; do
  [ -f "$kit/$file" ] || fail "$kit/$file is missing"
done
[ $failed -eq 0 ] || exit 1

sections=$("$objdump" -h "$kit/MORVANE.DLL")
! grep -q ' \.debug_' <<<"$sections" || fail "MORVANE.DLL still holds debug information"
grep -q ' \.gnu_debuglink ' <<<"$sections" || fail "MORVANE.DLL names no symbols file"
"$objdump" -h "$kit/MORVANE.DLL.debug" | grep -q ' \.debug_info ' ||
  fail "MORVANE.DLL.debug holds no debug information"
dwarf=$("$objdump" --dwarf=info "$kit/MORVANE.DLL.debug" 2>/dev/null)
grep -q 'tev_main\.cpp' <<<"$dwarf" || fail "MORVANE.DLL.debug holds no symbols of the driver's own code"

# A host linked with the import library imports TevMain from MORVANE.DLL.
host=$(mktemp -d)
cat >"$host/host.c" <<'HOST'
#include <morvane/morvane.h>
int main(void) {
    TevRequest request = {0};
    return TevMain(&request) == MORVANE_LINE_FAILED ? 0 : 1;
}
HOST
cc=${objdump%objdump}gcc
"$cc" -std=c99 -Wall -Wextra -Werror -I"$kit/include" "$host/host.c" -o "$host/host.exe" \
  -L"$kit/lib" -lMORVANE || fail "a host does not link with the kit's import library"
imports=$("$objdump" -p "$host/host.exe" 2>/dev/null)
grep -q 'DLL Name: MORVANE.DLL' <<<"$imports" && grep -q ' TevMain$' <<<"$imports" ||
  fail "a host linked with the import library does not import TevMain from MORVANE.DLL"
rm -rf "$host"

say() { echo "windows-kit-check: $*"; }
source scripts/wine-lib.sh
wine_use "$bits"
trap wine_stop EXIT
if [ "$bits" = 64 ] || wine_runs_32bit; then
  wine_prefix_ready
  # Into a file: Wine's services keep an inherited pipe open after the program.
  out=$(mktemp)
  (cd "$kit" && DISPLAY="" timeout 60 "$WINELOADER" ./morvane.exe info >"$out" 2>&1) ||
    fail "morvane.exe info from the kit failed"
  grep -q 'channel area: *4135 bytes' "$out" || fail "morvane.exe info from the kit: $(cat "$out")"
  rm -f "$out"
fi

[ $failed -eq 0 ] && say "$kit is complete, its DLL stripped and linked to its symbols"
exit $failed
