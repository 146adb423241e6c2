#!/usr/bin/env bash
# Sets up a fresh machine, builds the driver and the command-line host, and
# runs the host: by default `morvane info`, which loads libmorvane.so with
# dlopen as a host would and prints what the driver reports.
#
#   bash scripts/run.sh [morvane arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >&2
cmake --preset default >&2
cmake --build --preset default -j "$(nproc)" --target morvane_cli >&2
if [ $# -eq 0 ]; then set -- info; fi
exec build/tools/morvane "$@"
