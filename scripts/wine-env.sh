# Sourced by the test and demo commands: the project's own Wine prefix, a display
# and a persistent wineserver. Call wine_env_start first and wine_env_stop at the end.

OEM_ROOT="${OEM_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
export OEM_WINEPREFIX="${OEM_WINEPREFIX:-$OEM_ROOT/build/wineprefix}"
export WINEPREFIX="$OEM_WINEPREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
OEM_XVFB_PID=""

wine_env_start() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ -z "${DISPLAY:-}" ]; then
    local n=97
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    OEM_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating prefix $WINEPREFIX"
    wineboot --init </dev/null >/dev/null 2>&1 || true
    wineserver -w
  fi
  # A persistent server keeps every later wine start fast. Its output goes
  # nowhere: a captured pipe would stay open for as long as it lives.
  wineserver -p </dev/null >/dev/null 2>&1 &
  sleep 0.5
  # The first program of a session starts Wine's own services, which then live
  # as long as the server: start them here, away from any caller's pipes.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_env_stop() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  if [ -n "$OEM_XVFB_PID" ]; then
    kill "$OEM_XVFB_PID" 2>/dev/null || true
    wait "$OEM_XVFB_PID" 2>/dev/null || true
  fi
}
