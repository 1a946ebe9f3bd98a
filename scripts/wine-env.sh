# Sourced by the test and demo commands: the project's own Wine prefix for one
# Windows architecture, a display and a persistent wineserver. Call
# wine_env_start ARCH first (x86 or x64) and wine_env_stop at the end (also from
# an EXIT trap: a second call does nothing); wine_env_start with another
# architecture stops the previous one first.
# It runs in its caller's shell and does not change its options: it works with and
# without `set -euo pipefail`, and stays safe to source in an interactive shell.
#
# Each architecture has its own loader and prefix (see wine-arches.sh):
#   x86: /usr/lib/wine/wine   (OEM_WINE_LOADER_X86), build/wineprefix-x86, a 32-bit prefix
#   x64: /usr/lib/wine/wine64 (OEM_WINE_LOADER_X64), build/wineprefix-x64
# Debian's `wine` and `wineboot` wrappers are never used: with wine32 installed
# they pick the 32-bit loader even for 64-bit programs, which fails on a host
# that cannot run 32-bit programs.

OEM_ROOT="${OEM_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
# shellcheck source=wine-arches.sh
source "$OEM_ROOT/scripts/wine-arches.sh"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
OEM_XVFB_PID=""        # the Xvfb wine_env_start started, if it started one
OEM_WINESERVER_OWN=0   # 1 when wine_env_start started the prefix's server itself
OEM_WINE_STARTED=0     # 1 between wine_env_start and wine_env_stop

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

# wine_env_start ARCH: selects the architecture (exports OEM_WINE_ARCH, WINELOADER,
# WINEPREFIX, WINESERVER), makes its prefix if needed, starts a display when there
# is none, and a persistent server.
wine_env_start() {
  local arch="${1:?wine_env_start needs an architecture: x86 or x64}"
  [ "$OEM_WINE_STARTED" = 1 ] && wine_env_stop
  wine_arch_select "$arch" || return 1
  OEM_WINE_STARTED=1
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
  wine_prefix_init
  # A persistent server keeps every later wine start fast. Its output goes
  # nowhere: a captured pipe would stay open for as long as it lives.
  "$WINESERVER" -p </dev/null >/dev/null 2>&1 &
  sleep 0.5
  # The first program of a session starts Wine's own services, which then live
  # as long as the server: start them here, away from any caller's pipes.
  "$WINELOADER" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# Stops what wine_env_start started, and nothing else.
wine_env_stop() {
  if [ "$OEM_WINESERVER_OWN" = 1 ]; then
    "${WINESERVER:-wineserver}" -k </dev/null >/dev/null 2>&1 || true
    OEM_WINESERVER_OWN=0
  fi
  if [ -n "$OEM_XVFB_PID" ]; then
    kill "$OEM_XVFB_PID" 2>/dev/null || true
    wait "$OEM_XVFB_PID" 2>/dev/null || true
    OEM_XVFB_PID=""
    unset DISPLAY
  fi
  OEM_WINE_STARTED=0
}
