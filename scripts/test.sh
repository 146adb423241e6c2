#!/usr/bin/env bash
# Runs every check: native build and tests, sanitizer build and tests, and the
# 32-bit Windows cross-build with its export and import check.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

cmake --preset default
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

cmake --preset mingw32
cmake --build --preset mingw32 -j "$jobs"
bash scripts/check-pe.sh build-mingw32
