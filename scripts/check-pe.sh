#!/usr/bin/env bash
# Checks a Windows build (or a kit folder): MORVANE.DLL is a PE file of the
# expected architecture exporting only TevMain, undecorated, and importing
# exactly the four host library functions from OSTREL.dll and otherwise only
# system DLLs; the stand-in OSTREL.dll exports those four and imports system
# DLLs only.
#
#   scripts/check-pe.sh [DIR [32|64]]   (default: build-mingw32; the width
#                                        defaults to 64 for a DIR ending in 64)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-mingw32}
bits=${2:-$([[ $dir == *64 ]] && echo 64 || echo 32)}
case $bits in
  32) format=pei-i386 objdump=${OBJDUMP:-i686-w64-mingw32-objdump} ;;
  64) format=pei-x86-64 objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump} ;;
  *) echo "check-pe: width must be 32 or 64" >&2; exit 2 ;;
esac
host_functions="OstGetOstrelVer OstMkClient OstRmClient err"
# What a stock Windows installation provides; nothing else may be needed.
system_dlls="kernel32.dll user32.dll msvcrt.dll"
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

# The DLLs a PE file imports from that are neither system DLLs nor `allowed`.
foreign_dlls() {
  local name
  for name in $("$objdump" -p "$1" | awk '/DLL Name:/ {print tolower($3)}'); do
    [[ " $system_dlls $2 " == *" $name "* ]] || echo "$name"
  done
}

check_pe() {
  [ -f "$1" ] || { fail "$1 is missing"; return 1; }
  "$objdump" -f "$1" | grep -q "file format $format\$" || fail "$1 is not a $bits-bit PE ($format)"
}

driver=$dir/MORVANE.DLL
host=$dir/OSTREL.dll
check_pe "$driver" || true
check_pe "$host" || true
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
foreign=$(foreign_dlls "$driver" ostrel.dll | xargs)
[ -z "$foreign" ] || fail "MORVANE.DLL imports from DLLs a host does not have: $foreign"

host_exports=$(exports "$host")
for name in $host_functions; do
  grep -qx "$name" <<<"$host_exports" || fail "OSTREL.dll does not export $name"
done
foreign=$(foreign_dlls "$host" "" | xargs)
[ -z "$foreign" ] || fail "OSTREL.dll imports from DLLs a host does not have: $foreign"

if [ $failed -eq 0 ]; then
  echo "check-pe: $dir: MORVANE.DLL and OSTREL.dll are $bits-bit PE files with the agreed exports and imports"
fi
exit $failed
