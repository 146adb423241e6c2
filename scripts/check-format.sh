#!/usr/bin/env bash
# Fails, naming the files, when a C or C++ source of the tree differs from
# what clang-format makes of it with the repository's .clang-format.
# Fix with: clang-format -i FILE...
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "format: clang-format is missing (scripts/setup.sh)" >&2; exit 1; }
mapfile -t sources < <(git ls-files '*.c' '*.cpp' '*.h')
# One run for all files; each difference is a warning naming its file.
report=$(clang-format --dry-run "${sources[@]}" 2>&1 || true)
mapfile -t unformatted < <(sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: warning:.*/\1/p' <<<"$report" | sort -u)
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "format: ${#unformatted[@]} of ${#sources[@]} sources differ from clang-format:" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
echo "format: ${#sources[@]} sources as clang-format writes them"
