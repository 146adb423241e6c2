#!/usr/bin/env bash
# Runs every check: native build and tests, sanitizer build and tests, the
# Windows cross-builds with their export and import checks, run under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
# The driver's includes point down its layers only (instant; bash and awk).
bash scripts/check-layers.sh
bash scripts/setup.sh
jobs=$(nproc)
passed=0
failed=0
skipped=0
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# Runs an optional part when what it needs is there (a command or a file);
# otherwise one line says what is missing, and the part counts as skipped.
# The set-up's own line said what could not be installed.
optional() {
  local what=$1 need=$2
  shift 2
  if command -v "$need" >/dev/null || [ -e "$need" ]; then
    "$@"
  else
    echo "skipped: $what ($need is not installed)"
    skipped=$((skipped + 1))
  fi
}

optional "the format check" clang-format bash scripts/check-format.sh

# Runs one preset's tests (under the command in run_prefix, if any) and adds
# its counts to the totals. A failing preset does not stop the run: the
# later ones still run and the summary counts it; the script fails at its end.
run_prefix=()
run_tests() {
  local log="$logs/$1.log" status=0
  "${run_prefix[@]}" ctest --preset "$1" -j "$jobs" 2>&1 | tee "$log" || status=$?
  local total bad skip
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  bad=$(sed -n 's/.* \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -1)
  skip=$(grep -c '(Skipped)' "$log" || true)
  # A run that failed without counting (no tests found, a crash) counts as one failure.
  if [ "$status" -ne 0 ] && [ "${bad:-0}" -eq 0 ]; then bad=1; total=$((${total:-0} + 1)); fi
  passed=$((passed + ${total:-0} - ${bad:-0} - skip))
  failed=$((failed + ${bad:-0}))
  skipped=$((skipped + skip))
  # The failing tests' names, kept for the last lines of the run where a
  # shortened CI log still shows them.
  sed -n '/The following tests FAILED:/,/^Errors while running/p' "$log" |
    sed -n "s/^[[:space:]]*[0-9]* - \(.*\)/  $1: \1/p" >>"$logs/failed-names" || true
}

cmake --preset default
cmake --build --preset default -j "$jobs"
run_tests default

# The host developer's kit from that build: installed and moved, the example
# host built against it with pkg-config and run, the Debian package (~5 s).
optional "the kit check" dpkg-shlibdeps optional "the kit check" pkg-config bash scripts/kit-check.sh

cmake --preset asan
cmake --build --preset asan -j "$jobs"
run_tests asan

# The threaded channel tests under ThreadSanitizer; the preset builds only
# their program. gcc 12's ThreadSanitizer cannot place its shadow memory
# under the wider address randomisation of newer kernels: there the tests
# run without randomisation.
cmake --preset tsan
cmake --build --preset tsan -j "$jobs"
if [ "$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 28)" -gt 28 ]; then
  run_prefix=(setarch "$(uname -m)" -R)
fi
run_tests tsan
run_prefix=()

# The Windows builds (32-bit and 64-bit) and their checks under Wine.
windows_log="$logs/windows.log"
windows_result=0
windows_checks() {
  bash scripts/windows-checks.sh 2>&1 | tee "$windows_log" || windows_result=$?
  windows_passed=$(sed -n 's/^windows: \([0-9]*\) passed.*/\1/p' "$windows_log" | tail -1)
  windows_failed=$(sed -n 's/^windows: [0-9]* passed, \([0-9]*\) failed.*/\1/p' "$windows_log" | tail -1)
  passed=$((passed + ${windows_passed:-0}))
  failed=$((failed + ${windows_failed:-1}))
  sed -n 's/^windows: FAILED: /  windows: /p' "$windows_log" >>"$logs/failed-names"
}
optional "the Windows checks" x86_64-w64-mingw32-g++ optional "the Windows checks" /usr/lib/wine/wine64 \
  windows_checks

# The fuzz targets, a short run each from the corpus kept in the repo.
optional "the fuzz targets" clang++ env FUZZ_SECONDS="${FUZZ_SECONDS:-15}" bash scripts/fuzz.sh

# The benchmarks: built, and each run once briefly (a few seconds). They
# fail only when one cannot run at all, never on timing.
optional "the benchmarks" /usr/include/benchmark/benchmark.h bash scripts/bench.sh --quick

if [ -s "$logs/failed-names" ]; then
  echo "failed tests:"
  cat "$logs/failed-names"
fi
echo "tests: ${passed} passed, ${failed} failed, ${skipped} skipped"
[ "$failed" -eq 0 ] && [ "$windows_result" -eq 0 ]
