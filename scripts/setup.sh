#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine: the
# compilers and CMake with Ninja, clang for the fuzz targets, clang-format
# for the format check, GoogleTest and Google Benchmark, tmux for the
# terminal dialog's test, pkg-config and dpkg-shlibdeps for the kit check
# and the Debian package, and the Windows cross-compilers with Wine.
#
#   scripts/setup.sh           everything the test command uses
#   scripts/setup.sh --main    only what building the Linux tool needs
#
# A package index that fails to update (a mirror in the middle of a sync)
# does not stop the set-up: it installs what can be installed and says in one
# line what could not. The test command skips or narrows what is missing.
set -uo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
if [ "${1:-}" != "--main" ]; then
  command -v clang++ >/dev/null || need+=(clang)
  command -v clang-format >/dev/null || need+=(clang-format)
  command -v i686-w64-mingw32-g++ >/dev/null || need+=(g++-mingw-w64-i686)
  [ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
  [ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
  command -v tmux >/dev/null || need+=(tmux)
  command -v pkg-config >/dev/null || need+=(pkgconf)
  command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
  # The Windows builds and their checks under Wine on a virtual display.
  command -v x86_64-w64-mingw32-g++ >/dev/null || need+=(g++-mingw-w64-x86-64)
  command -v wine >/dev/null || need+=(wine)
  [ -x /usr/lib/wine/wine ] || need+=(wine32:i386)
  [ -x /usr/lib/wine/wine64 ] || need+=(wine64)
  command -v Xvfb >/dev/null || need+=(xvfb)
  command -v xdotool >/dev/null || need+=(xdotool)
fi
[ ${#need[@]} -eq 0 ] && exit 0
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
if [[ " ${need[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
# apt-get update fails as a whole when one index does; the others are still
# fresh, so go on and let each install say whether it can be done.
$SUDO apt-get update -qq || echo "setup: a package index failed to update; installing from what was read" >&2
install() { DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$@"; }
if ! install "${need[@]}" >/dev/null 2>&1; then
  # One package that cannot be had must not keep the others out.
  missing=()
  for package in "${need[@]}"; do
    install "$package" >/dev/null 2>&1 || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] || echo "setup: could not install: ${missing[*]}" >&2
fi
# What the build itself needs must be there.
for tool in cmake ninja g++; do
  command -v $tool >/dev/null || { echo "setup: $tool is missing; nothing can be built" >&2; exit 1; }
done
exit 0
