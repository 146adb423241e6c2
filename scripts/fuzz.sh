#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each one from
# its seed corpus in fuzz/corpus/<target>/ for FUZZ_SECONDS (default 15), or
# for FUZZ_RUNS executions when that is set. FUZZ_TARGETS names the targets
# to run (default: all). New inputs go to a scratch directory; the corpus in
# the repository is only read. Exits non-zero on the first finding, whose
# input is kept in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
# clang and its runtime libraries (libFuzzer, the sanitizers); the runtime is
# only recommended by clang's package, so a minimal install may lack it.
if ! command -v clang++ >/dev/null || ! compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq || true  # one stale index must not keep the rest out
  if ! DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang libclang-rt-dev; then
    echo "fuzz: clang's fuzzer runtime cannot be installed here: the fuzz targets are not run"
    exit 0
  fi
fi
seconds=${FUZZ_SECONDS:-15}
targets=${FUZZ_TARGETS:-address_parser plc_float reply_decoder line config_file monitor_capture}
if [ -n "${FUZZ_RUNS:-}" ]; then limit=(-runs="$FUZZ_RUNS"); else limit=(-max_total_time="$seconds"); fi
jobs=$(nproc)

cmake --preset fuzz
cmake --build --preset fuzz -j "$jobs" --target fuzz_targets

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Absolute: the driver fuzzers enter a directory of their own around the
# calls that read channel files.
artifacts="$PWD/build-fuzz/artifacts"
mkdir -p "$artifacts"
for target in $targets; do
  mkdir -p "$scratch/$target"
  echo "== $target: ${limit[*]}"
  "build-fuzz/fuzz/${target}_fuzzer" "${limit[@]}" -print_final_stats=1 \
    -artifact_prefix="$artifacts/${target}-" "$scratch/$target" "fuzz/corpus/$target"
done
