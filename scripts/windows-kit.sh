#!/usr/bin/env bash
# Builds the kit for Windows host integrators, one folder and one zip per
# architecture, under build-kit/:
#   morvane-VERSION-win32/ and .zip (the mingw32 preset)
#   morvane-VERSION-win64/ and .zip (the mingw64 preset)
# Each holds MORVANE.DLL without debug information and its symbols in
# MORVANE.DLL.debug (linked by .gnu_debuglink), the OSTREL.dll stand-in,
# morvane.exe, the public headers, import library and export list, and the
# integrator's guide.
#
#   scripts/windows-kit.sh [32|64 ...]      (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
version=$(sed -n 's/^project(morvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
out=$root/build-kit
mkdir -p "$out"

widths=("$@")
[ $# -gt 0 ] || widths=(32 64)
for bits in "${widths[@]}"; do
  case $bits in
    32) tools=i686-w64-mingw32 name=win32 ;;
    64) tools=x86_64-w64-mingw32 name=win64 ;;
    *) echo "windows-kit: width must be 32 or 64" >&2; exit 2 ;;
  esac
  build=$root/build-mingw$bits
  [ -f "$build/build.ninja" ] || cmake --preset "mingw$bits" >/dev/null
  cmake --build --preset "mingw$bits" -j 2 --target morvane ostrel morvane_cli >/dev/null

  kit=$out/morvane-$version-$name
  rm -rf "$kit" "$kit.zip"
  mkdir -p "$kit/include/morvane" "$kit/lib"
  # The symbols go to their own file; the shipped DLL keeps only a link to it.
  "$tools-objcopy" --only-keep-debug "$build/MORVANE.DLL" "$kit/MORVANE.DLL.debug"
  "$tools-objcopy" --strip-all "$build/MORVANE.DLL" "$kit/MORVANE.DLL"
  (cd "$kit" && "$tools-objcopy" --add-gnu-debuglink=MORVANE.DLL.debug MORVANE.DLL)
  "$tools-objcopy" --strip-all "$build/OSTREL.dll" "$kit/OSTREL.dll"
  "$tools-objcopy" --strip-all "$build/morvane.exe" "$kit/morvane.exe"
  cp include/morvane/morvane.h include/morvane/ostrel.h include/morvane/platform_api.h \
    "$kit/include/morvane/"
  # Linking without GetProcAddress: mingw's import library, and the export
  # list from which Visual C++ makes its own (lib /def:MORVANE.def).
  cp "$build/libMORVANE.dll.a" "$kit/lib/"
  cp entry/morvane.def "$kit/lib/MORVANE.def"
  cp docs/windows-integration.md "$kit/INTEGRATION.md"
  (cd "$out" && cmake -E tar cf "$kit.zip" --format=zip "$(basename "$kit")")
  echo "windows-kit: $kit.zip"
done
