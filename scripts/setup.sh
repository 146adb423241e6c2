#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine: the
# compilers and CMake with Ninja, clang for the fuzz targets, clang-format
# for the format check, GoogleTest and Google Benchmark, tmux for the
# terminal dialog's test, pkg-config and dpkg-shlibdeps for the kit check
# and the Debian package.
set -euo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
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
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
if [[ " ${need[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
if [ ${#need[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi
