#!/usr/bin/env bash
# The driver's includes point one way, down this stack (docs/layers.md):
#
#   5 entry      entry/
#   4 commands   gates/*_commands.*, gates/transfer_plan.*   4 browse   browse/
#   3 rk512      link/rk512_*
#   2 procedure  the rest of link/ (3964, framing, quiet line, thread priority)
#   1 serial     serial/                                     1 codec    the rest of gates/
#   0 public     include/morvane/
#
# A file may include its own layer and any layer of a lower rank; layers of
# one rank stand beside each other and include nothing of one another (the
# codec includes nothing of link/ or entry/, nor of serial/). An include
# from outside the driver (tests/, sim/, tools/, ...) is refused too.
# Prints each offending file and include and exits 1; exits 0 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

files=$(find entry serial link gates browse -type f \
  \( -name '*.h' -o -name '*.cpp' -o -name '*.c' -o -name '*.rc' \) | sort)

# shellcheck disable=SC2086  # one argument a file
awk '
function layer(path) {
    if (path ~ /^morvane\//) return "public"
    if (path ~ /^serial\//) return "serial"
    if (path ~ /^link\/rk512_/) return "rk512"
    if (path ~ /^link\//) return "procedure"
    if (path ~ /^gates\/[^\/]*_commands\.[a-z]+$/ || path ~ /^gates\/transfer_plan\./)
        return "commands"
    if (path ~ /^gates\//) return "codec"
    if (path ~ /^browse\//) return "browse"
    if (path ~ /^entry\//) return "entry"
    return ""
}
BEGIN {
    rank["public"] = 0
    rank["serial"] = 1; rank["codec"] = 1
    rank["procedure"] = 2
    rank["rk512"] = 3
    rank["commands"] = 4; rank["browse"] = 4
    rank["entry"] = 5
}
/^[ \t]*#[ \t]*include[ \t]*"/ {
    target = $0
    sub(/^[^"]*"/, "", target)
    sub(/".*$/, "", target)
    # A bare name is a file of the including file'"'"'s own folder.
    if (target !~ /\//) {
        folder = FILENAME
        sub(/[^\/]*$/, "", folder)
        target = folder target
    }
    ++includes
    from = layer(FILENAME)
    to = layer(target)
    if (to == "") {
        printf "%s:%d: includes \"%s\", which is not part of the driver\n", FILENAME, FNR, target
        ++bad
    } else if (from != to && rank[to] >= rank[from]) {
        printf "%s:%d: %s (layer %s) includes \"%s\" (layer %s)\n", FILENAME, FNR, FILENAME,
               from, target, to
        ++bad
    }
}
END {
    if (bad > 0) {
        printf "layers: %d include(s) point up or sideways\n", bad
        exit 1
    }
    printf "layers: %d includes in %d files, none pointing up or sideways\n", includes, ARGC - 1
}
' $files
