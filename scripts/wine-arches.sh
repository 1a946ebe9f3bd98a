# Which Windows architectures this host runs under Wine, found out by running a
# program of each, never guessed. Sourced by wine-env.sh, wine-run.sh and the
# demo and test commands; run directly it prints its decision:
#   bash scripts/wine-arches.sh     -> one line per architecture that runs, then
#                                      "skipped <arch>: <why>" lines; exit 0, or 2
#                                      when OEM_WINDOWS_ARCHES is bad or names an
#                                      architecture the host cannot run
# Settings (environment):
#   OEM_WINDOWS_ARCHES   "x86", "x64" or "x86 x64": the architectures to use; an
#                        architecture named here that cannot run is an error.
#                        Unset or empty: every architecture that runs.
#   OEM_WINE_LOADER_X86  the 32-bit loader (default /usr/lib/wine/wine)
#   OEM_WINE_LOADER_X64  the 64-bit loader (default /usr/lib/wine/wine64)
#   OEM_WINESERVER       the server (default wineserver64, else wineserver32)
#   OEM_WINEPREFIX_ROOT  the folder of the prefixes wineprefix-x86 and wineprefix-x64
#                        (default build/ of the checkout)
# Works with and without `set -euo pipefail` in the caller.

OEM_ROOT="${OEM_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
OEM_KNOWN_ARCHES="x86 x64"

wine_arch_loader() {  # wine_arch_loader ARCH
  case "$1" in
    x86) printf '%s' "${OEM_WINE_LOADER_X86:-/usr/lib/wine/wine}" ;;
    x64) printf '%s' "${OEM_WINE_LOADER_X64:-/usr/lib/wine/wine64}" ;;
    *) return 1 ;;
  esac
}

wine_arch_package() {  # the Debian package that brings ARCH's loader
  case "$1" in x86) printf 'wine32:i386' ;; x64) printf 'wine64' ;; esac
}

wine_server_program() {
  if [ -n "${OEM_WINESERVER:-}" ]; then printf '%s' "$OEM_WINESERVER"
  elif [ -x /usr/lib/wine/wineserver64 ]; then printf '/usr/lib/wine/wineserver64'
  else printf '/usr/lib/wine/wineserver32'
  fi
}

# wine_arch_select ARCH: exports what Wine needs to run ARCH's programs in ARCH's prefix.
wine_arch_select() {
  local loader
  loader="$(wine_arch_loader "$1")" || { echo "unknown Windows architecture '$1' (x86 or x64)" >&2; return 2; }
  export OEM_WINE_ARCH="$1"
  export WINELOADER="$loader"
  export WINESERVER
  WINESERVER="$(wine_server_program)"
  export WINEPREFIX="${OEM_WINEPREFIX_ROOT:-$OEM_ROOT/build}/wineprefix-$1"
  # A 64-bit prefix for x64; for x86 the 32-bit loader decides, as it always has.
  if [ "$1" = x64 ]; then export WINEARCH=win64; else unset WINEARCH; fi
}

# Makes the selected prefix when it does not exist yet.
wine_prefix_init() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating prefix $WINEPREFIX" >&2
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$WINELOADER" wineboot --init </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
  fi
}

# wine_probe ARCH: runs Wine's own cmd.exe of ARCH in ARCH's prefix. Returns 0 when it
# ran; otherwise 1, with the reason in OEM_PROBE_WHY.
wine_probe() {
  local arch="$1" loader out status
  OEM_PROBE_WHY=""
  loader="$(wine_arch_loader "$arch")"
  if [ ! -e "$loader" ]; then
    OEM_PROBE_WHY="$loader is not installed (package $(wine_arch_package "$arch"))"
    return 1
  fi
  # In a subshell: the probe leaves the caller's environment as it was.
  out="$( (
    wine_arch_select "$arch" >/dev/null 2>&1 || exit 2
    export WINEDEBUG=-all
    wine_prefix_init 2>/dev/null
    # Through bash, which names a loader this host cannot execute ("Exec format
    # error"); timeout's own exec would hand such a file to /bin/sh.
    timeout 300 bash -c '"$0" "$@"' "$WINELOADER" cmd /c exit 0 </dev/null 2>&1
    status=$?
    # A server the probe started goes with it, so that nobody mistakes it for theirs.
    "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
    exit "$status"
  ) )" && return 0
  status=$?
  out="$(printf '%s' "$out" | tr -d '\r' | grep -v '^[[:space:]]*$' | head -n 1 | cut -c1-200)"
  [ -n "$out" ] || out="nothing"
  OEM_PROBE_WHY="$loader exited with $status and printed: $out"
  return 1
}

# wine_arches_decide: probes the architectures asked for (OEM_WINDOWS_ARCHES, else all).
# Sets OEM_ARCHES_RUN (space-separated) and OEM_ARCHES_SKIPPED (one "arch: why" line
# each). Returns 2 with a message on stderr when OEM_WINDOWS_ARCHES is bad or names an
# architecture that cannot run here.
wine_arches_decide() {
  local asked="${OEM_WINDOWS_ARCHES:-}" explicit=1 arch seen=" "
  OEM_ARCHES_RUN=""
  OEM_ARCHES_SKIPPED=""
  if [ -z "${asked//[[:space:]]/}" ]; then asked="$OEM_KNOWN_ARCHES"; explicit=0; fi
  for arch in $asked; do
    case " $OEM_KNOWN_ARCHES " in
      *" $arch "*) ;;
      *) echo "OEM_WINDOWS_ARCHES='$OEM_WINDOWS_ARCHES': '$arch' is not a Windows architecture (x86 or x64)" >&2
         return 2 ;;
    esac
  done
  for arch in $asked; do
    case "$seen" in *" $arch "*) continue ;; esac
    seen="$seen$arch "
    if wine_probe "$arch"; then
      OEM_ARCHES_RUN="${OEM_ARCHES_RUN:+$OEM_ARCHES_RUN }$arch"
    elif [ "$explicit" = 1 ]; then
      echo "OEM_WINDOWS_ARCHES names $arch, but this host cannot run $arch Windows programs: $OEM_PROBE_WHY" >&2
      return 2
    else
      OEM_ARCHES_SKIPPED="$OEM_ARCHES_SKIPPED$arch: $OEM_PROBE_WHY"$'\n'
    fi
  done
  return 0
}

# One plain sentence for a host that runs no Windows architecture.
wine_arches_none_sentence() {
  local line sentence="" arch why
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    arch="${line%%:*}"
    why="${line#*: }"
    sentence="${sentence:+$sentence; }for $arch, $why"
  done <<<"$OEM_ARCHES_SKIPPED"
  printf 'This host runs no Windows programs under Wine: %s.\n' "$sentence"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  wine_arches_decide || exit 2
  for a in $OEM_ARCHES_RUN; do echo "$a"; done
  printf '%s' "$OEM_ARCHES_SKIPPED" | sed 's/^/skipped /'
  exit 0
fi
