# Sourced by the test and demo commands: the project's own Wine prefix, a display
# and a persistent wineserver. Call wine_env_start first and wine_env_stop at the end
# (also from an EXIT trap: a second call does nothing).
# It runs in its caller's shell and does not change its options: it works with and
# without `set -euo pipefail`, and stays safe to source in an interactive shell.

OEM_ROOT="${OEM_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
export OEM_WINEPREFIX="${OEM_WINEPREFIX:-$OEM_ROOT/build/wineprefix}"
export WINEPREFIX="$OEM_WINEPREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
OEM_XVFB_PID=""        # the Xvfb wine_env_start started, if it started one
OEM_WINESERVER_OWN=0   # 1 when wine_env_start started the prefix's server itself

# True when a wineserver of this user serves $WINEPREFIX right now. A server works
# in a folder named server-<device>-<inode> (hex) after its prefix; servers of other
# prefixes, and other users' servers (whose folder cannot be read), do not count.
wine_server_running() {
  [ -d "$WINEPREFIX" ] || return 1
  local tag proc comm dir
  tag="server-$(stat -c %D "$WINEPREFIX")-$(printf '%x' "$(stat -c %i "$WINEPREFIX")")"
  for proc in /proc/[0-9]*; do
    comm="$(cat "$proc/comm" 2>/dev/null)" || continue
    case "$comm" in wineserver*) ;; *) continue ;; esac
    dir="$(readlink "$proc/cwd" 2>/dev/null)" || continue
    if [ "${dir##*/}" = "$tag" ]; then return 0; fi
  done
  return 1
}

wine_env_start() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  # A server already serving the prefix belongs to whoever started it: use it,
  # and leave it running at the end.
  if wine_server_running; then OEM_WINESERVER_OWN=0; else OEM_WINESERVER_OWN=1; fi
  if [ -z "${DISPLAY:-}" ]; then
    local n=97
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    OEM_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do
      if [ -e "/tmp/.X11-unix/X$n" ]; then break; fi
      sleep 0.1
    done
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating prefix $WINEPREFIX"
    wineboot --init </dev/null >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  # A persistent server keeps every later wine start fast. Its output goes
  # nowhere: a captured pipe would stay open for as long as it lives.
  wineserver -p </dev/null >/dev/null 2>&1 &
  sleep 0.5
  # The first program of a session starts Wine's own services, which then live
  # as long as the server: start them here, away from any caller's pipes.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# Stops what wine_env_start started, and nothing else.
wine_env_stop() {
  if [ "$OEM_WINESERVER_OWN" = 1 ]; then
    wineserver -k </dev/null >/dev/null 2>&1 || true
    OEM_WINESERVER_OWN=0
  fi
  if [ -n "$OEM_XVFB_PID" ]; then
    kill "$OEM_XVFB_PID" 2>/dev/null || true
    wait "$OEM_XVFB_PID" 2>/dev/null || true
    OEM_XVFB_PID=""
  fi
}
