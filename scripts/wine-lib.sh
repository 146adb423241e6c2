# Helpers for the scripts that run the Windows builds under Wine; sourced.
#
#   wine_use 32|64        selects the build and a Wine prefix of that width,
#                         and waits for other runs using that prefix to end
#   wine_prefix_ready     makes the prefix once per machine (kept, outside the
#                         source tree: ${MORVANE_WINE_CACHE:-~/.cache/morvane})
#   wine_reg_set FILE KEY NAME VALUE  sets a registry value (stops the server)
#   wine_map_port COM DEV maps a COM port to a device (stops the prefix's server)
#   plcsim_start DIR ARGS starts plcsim in DIR, sets sim_pid and sim_device
#   wine_stop             stops plcsim and the prefix's server
#
# The caller sets `root` (the source tree) and defines `say` (its messages).

# Whether this kernel runs 32-bit programs (and so Wine's 32-bit loader).
wine_runs_32bit() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

wine_use() {
  wine_bits=$1
  wine_build=$root/build-mingw$1
  local cache=${MORVANE_WINE_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/morvane}
  export WINEPREFIX=$cache/wine-prefix-$1
  # One script at a time on a prefix (other work trees' test runs too): the
  # scripts stop its server to map ports. Held until the script ends.
  mkdir -p "$cache"
  exec 9>"$WINEPREFIX.lock"
  if ! flock -w "${WINE_LOCK_TIMEOUT:-900}" 9; then
    say "the Wine prefix $WINEPREFIX stayed in use by another run"
    return 1
  fi
  if [ "$1" = 64 ]; then
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
  else
    export WINEARCH=win32 WINELOADER=/usr/lib/wine/wine
  fi
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe="
}

wine_prefix_ready() {
  [ -f "$WINEPREFIX/system.reg" ] && [ -f "$WINEPREFIX/.initialised" ] && return 0
  local started=$SECONDS log
  log=$(mktemp)
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  # Through the chosen loader, not the wineboot wrapper: the wrapper takes
  # the 32-bit loader whenever it is installed, also where this kernel
  # cannot run it ("Exec format error").
  if ! DISPLAY="" timeout "${WINE_INIT_TIMEOUT:-300}" sh -c '"$WINELOADER" wineboot --init && wineserver -w' \
    >"$log" 2>&1; then
    say "prefix initialisation failed"
    cat "$log"
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
  touch "$WINEPREFIX/.initialised"
  say "Wine prefix $WINEPREFIX made in $((SECONDS - started))s"
}

# Sets a string value in one of the prefix's registry files (system.reg for
# HKLM, user.reg for HKCU) while its server is stopped: quicker than starting
# the prefix for "wine reg add". Keys and names as the file writes them
# (backslashes doubled).
wine_reg_set() {
  timeout 60 wineserver -k >/dev/null 2>&1 || true
  local edited
  edited=$(mktemp)
  REG_KEY="[$2]" REG_NAME="\"$3\"=" REG_VALUE="\"$3\"=\"$4\"" awk '
    BEGIN { key = ENVIRON["REG_KEY"]; name = ENVIRON["REG_NAME"]; value = ENVIRON["REG_VALUE"] }
    index($0, key) == 1 { print; found = 1; inside = 1; next }
    inside && ($0 == "" || /^\[/) { print value; inside = 0 }
    inside && index($0, name) == 1 { next }
    { print }
    END {
      if (inside) print value
      if (!found) { print ""; print key; print value }
    }
  ' "$WINEPREFIX/$1" >"$edited" && cp "$edited" "$WINEPREFIX/$1"
  rm -f "$edited"
}

# Wine takes COM ports from HKLM\Software\Wine\Ports when its device manager
# starts.
wine_map_port() {
  wine_reg_set system.reg 'Software\\Wine\\Ports' "$1" "$2"
}

sim_pid=""
sim_device=""
plcsim_start() {
  local dir=$1
  shift
  : >"$dir/plcsim.out"
  "$root/build/sim/plcsim" "$@" >>"$dir/plcsim.out" 2>"$dir/plcsim.err" &
  sim_pid=$!
  for _ in $(seq 50); do
    sim_device=$(head -n 1 "$dir/plcsim.out")
    [ -n "$sim_device" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -c "$sim_device" ] || { say "plcsim gave no device"; cat "$dir/plcsim.err"; return 1; }
}

wine_stop() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
  sim_pid=""
  if [ -d "${WINEPREFIX:-}" ]; then timeout 30 wineserver -k >/dev/null 2>&1 || true; fi
}
