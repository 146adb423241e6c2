#!/usr/bin/env bash
# Checks the 32-bit Windows build: MORVANE.DLL is a 32-bit PE exporting only
# TevMain, undecorated, and importing exactly the four host library functions
# from OSTREL.dll; the stand-in OSTREL.dll exports those four.
#
#   scripts/check-pe.sh [BUILD_DIR]      (default: build-mingw32)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-mingw32}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
host_functions="OstGetOstrelVer OstMkClient OstRmClient err"
failed=0

fail() { echo "check-pe: $*" >&2; failed=1; }

# Names in the export name table of a PE file, one per line, sorted.
exports() {
  "$objdump" -p "$1" | awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next}
                            on && NF == 0 {on=0}
                            on {print $NF}' | sort
}

# Names a PE file imports from one DLL, one per line, sorted.
imports_from() {
  "$objdump" -p "$1" | awk -v dll="$2" '
    /DLL Name:/ {on = (tolower($3) == tolower(dll)); next}
    on && NF == 0 {on=0}
    on && $1 ~ /^[0-9a-f]+$/ && NF >= 3 {print $NF}' | sort
}

check_pe32() {
  [ -f "$1" ] || { fail "$1 is missing"; return 1; }
  "$objdump" -f "$1" | grep -q 'file format pei-i386' || fail "$1 is not a 32-bit PE (pei-i386)"
}

driver=$dir/MORVANE.DLL
host=$dir/OSTREL.dll
check_pe32 "$driver" || true
check_pe32 "$host" || true
[ $failed -eq 0 ] || exit 1

driver_exports=$(exports "$driver")
[ "$driver_exports" = "TevMain" ] ||
  fail "MORVANE.DLL must export exactly TevMain, exports: $(echo $driver_exports)"

driver_imports=$(imports_from "$driver" OSTREL.dll)
expected=$(printf '%s\n' $host_functions | sort)
missing=$(comm -13 <(echo "$driver_imports") <(echo "$expected") | xargs)
extra=$(comm -23 <(echo "$driver_imports") <(echo "$expected") | xargs)
[ -z "$missing" ] || fail "MORVANE.DLL does not import from OSTREL.dll: $missing"
[ -z "$extra" ] || fail "MORVANE.DLL imports more from OSTREL.dll: $extra"

host_exports=$(exports "$host")
for name in $host_functions; do
  grep -qx "$name" <<<"$host_exports" || fail "OSTREL.dll does not export $name"
done

if [ $failed -eq 0 ]; then
  echo "check-pe: MORVANE.DLL and OSTREL.dll are 32-bit PE files with the agreed exports and imports"
fi
exit $failed
