#!/usr/bin/env bash
# Every run path entry of every ELF program and library under the given
# directories is absolute or relative to the file ($ORIGIN). An empty entry
# (CMake pads a build-tree run path with them) or a relative one makes the
# dynamic loader search the working directory, where any library planted
# there would be loaded.
set -euo pipefail
bad=0
while IFS= read -r -d '' file; do
  [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
  runpath=$(readelf -d "$file" 2>/dev/null | sed -n 's/.*(\(RPATH\|RUNPATH\)).*\[\(.*\)\]/\2/p')
  [ -n "$runpath" ] || continue
  # read drops one trailing empty field: the ':' added keeps the run path's own.
  IFS=: read -r -a entries <<<"$runpath:"
  for entry in "${entries[@]}"; do
    # shellcheck disable=SC2016 # the loader's $ORIGIN, no shell variable
    case $entry in
    /* | '$ORIGIN' | '$ORIGIN/'* | '${ORIGIN}' | '${ORIGIN}/'*) ;;
    *)
      echo "check-runpath: $file: run path $runpath has the entry '$entry'" >&2
      bad=1
      break
      ;;
    esac
  done
done < <(find "$@" -type f \( -name '*.so' -o -name '*.so.*' -o -perm -u+x \) -print0)
[ "$bad" -eq 0 ] || exit 1
echo "check-runpath: no run path searches the working directory"
