#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine.
set -euo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
command -v clang++ >/dev/null || need+=(clang)
command -v i686-w64-mingw32-g++ >/dev/null || need+=(g++-mingw-w64-i686)
command -v clang-format >/dev/null || need+=(clang-format)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/gmock/gmock.h ] || need+=(libgmock-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
[ -f /usr/include/ncurses.h ] || need+=(libncurses-dev)
command -v tmux >/dev/null || need+=(tmux)
command -v pkg-config >/dev/null || need+=(pkgconf)
command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi
