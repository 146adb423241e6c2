#!/usr/bin/env bash
# Sets up a fresh machine, builds the driver and the command-line host, and
# runs the host. By default: `morvane info` (libmorvane.so loaded with dlopen
# as a host would, and what it reports), then gates of every kind written
# into the data blocks of the PLC simulator embedded in the host and read
# back, over 3964R on a pseudo-terminal.
#
#   bash scripts/run.sh [morvane arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
# Only the compiler, CMake and Ninja: a first run needs no test framework,
# no Wine, no cross compilers and no fuzzing tools.
bash scripts/setup.sh --main >&2
# A build of its own without the tests, so that GoogleTest is not needed.
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_BUILD_TESTS=OFF >&2
cmake --build build-run -j "$(nproc)" --target morvane_cli >&2
if [ $# -gt 0 ]; then exec build-run/tools/morvane "$@"; fi
build-run/tools/morvane info
echo
exec build-run/tools/morvane --log-level 32 \
  write --protocol 3964R 001002 0x1234 \
  then write 001010F 3.25 \
  then write 001020L -123456 \
  then write 001030S20 "Hello PLC" \
  then write 00100405 1 \
  then write 001040 100 200 300 400 \
  then read 001002 \
  then read 001010F \
  then read 001020L \
  then read 001030S20 \
  then read 00100405 \
  then read 001040 4
