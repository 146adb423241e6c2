#!/usr/bin/env bash
# Builds the benchmarks and runs them all, printing their tables: the
# simulator's line pacing, line efficiency through the driver, many channels
# at once, the driver's CPU time per read, what the time-critical raise buys
# under load, the driver beside a bare client, block transfers through
# TevMain and the micro-benchmarks. About seven minutes on a quiet 2-core
# machine.
#
#   bash scripts/bench.sh            # the full run bench/README.md quotes
#   bash scripts/bench.sh --quick    # each benchmark once, briefly (CI)
#
# Benchmarks measure; nothing here passes or fails on timing. A benchmark
# that cannot run at all (no pseudo-terminal, a transfer refused) fails.
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
[ "${1:-}" = "--quick" ] && quick=1

# The build's output only when it fails: the tables are what this prints.
if ! log=$(cmake --preset bench 2>&1 && cmake --build --preset bench -j2 2>&1); then
  echo "$log"
  exit 1
fi
bin=build-bench/bench

echo "$(nproc) cores, $(uname -sr), load average $(cut -d' ' -f1-3 /proc/loadavg)"
section() { printf '\n== %s\n' "$1"; }

if [ "$quick" = 1 ]; then
  section "line pacing";          "$bin/pacing_bench" --repeats 1 --bytes 64
  section "line efficiency";      "$bin/line_bench" --quick
  section "channels";             "$bin/channels_bench" --quick
  section "driver CPU per read";  "$bin/cpu_bench" --quick
  section "priority under load";  "$bin/priority_bench" --quick
  section "driver beside a bare client"; "$bin/bare_bench" --quick
  section "block transfers";      "$bin/exchange_bench" --quick
  section "micro-benchmarks";     "$bin/micro_bench" --benchmark_min_time=0.001
  section "line monitor";         "$bin/monitor_bench" --quick
else
  section "line pacing";          "$bin/pacing_bench" --repeats 3
  section "line efficiency";      "$bin/line_bench" --repeats 5
  section "channels";             "$bin/channels_bench" --seconds 3
  section "driver CPU per read";  "$bin/cpu_bench"
  section "priority under load";  "$bin/priority_bench"
  section "driver beside a bare client"; "$bin/bare_bench"
  section "block transfers";      "$bin/exchange_bench"
  section "micro-benchmarks";     "$bin/micro_bench"
  section "line monitor";         "$bin/monitor_bench"
fi
echo
echo "load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
