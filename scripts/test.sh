#!/usr/bin/env bash
# Runs every check: native build and tests, sanitizer build and tests, and the
# 32-bit Windows cross-build with its export and import check.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
passed=0
failed=0
skipped=0
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# Runs one preset's tests and adds its counts to the totals.
run_tests() {
  local log="$logs/$1.log"
  ctest --preset "$1" -j "$jobs" 2>&1 | tee "$log"
  local total bad skip
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  bad=$(sed -n 's/.* \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -1)
  skip=$(grep -c '(Skipped)' "$log" || true)
  passed=$((passed + ${total:-0} - ${bad:-0} - skip))
  failed=$((failed + ${bad:-0}))
  skipped=$((skipped + skip))
}

cmake --preset default
cmake --build --preset default -j "$jobs"
run_tests default

cmake --preset asan
cmake --build --preset asan -j "$jobs"
run_tests asan

cmake --preset mingw32
cmake --build --preset mingw32 -j "$jobs"
bash scripts/check-pe.sh build-mingw32

# The fuzz targets, a short run each from the corpus kept in the repo.
FUZZ_SECONDS="${FUZZ_SECONDS:-15}" bash scripts/fuzz.sh

echo "tests: ${passed} passed, ${failed} failed, ${skipped} skipped"
