# Sourced by the benchmark scripts: the Windows architecture they measure and a
# Wine session of the benchmark's own. Call bench_arch_decide before building
# (it sets BENCH_ARCH, BENCH_TOOLCHAIN and BENCH_BUILD), then bench_session_start
# once (a second call, also from a script the first one calls, does nothing);
# what it started stops at the caller's exit.
#
# The architecture: OEM_BENCH_ARCH (x86 or x64; one this host cannot run is an
# error), else x86 where the host runs it and x64 where it does not. Its loader
# runs every program ($WINELOADER, never the wine wrappers, which pick the 32-bit
# loader), in the benchmark's own prefix of that architecture
# (build/bench-prefixes/wineprefix-ARCH); its Windows build is build/bench-win-ARCH
# unless OEM_BENCH_BUILD names another.
#
# Its own prefix and server (so no other user of the shared prefix can restart
# it mid-run), its own X display with a window manager, and one long-lived
# window keeping Wine's desktop process up, as on a real desktop. Without a
# window manager Wine waits 2 s for every closed top-level window to be
# withdrawn, and without a live desktop every launch pays for starting
# explorer.exe: neither happens on Windows.

BENCH_ROOT="${BENCH_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
OEM_ROOT="$BENCH_ROOT"
# shellcheck source=wine-arches.sh
source "$BENCH_ROOT/scripts/wine-arches.sh"
export OEM_WINEPREFIX_ROOT="$BENCH_ROOT/build/bench-prefixes"
bench_helpers=()

# Decides the architecture once (a script started by another that decided takes
# its decision) and exports OEM_BENCH_ARCH, BENCH_ARCH, BENCH_TOOLCHAIN and
# BENCH_BUILD. Returns 2 with a message when the architecture asked for is not
# one, or cannot run here, or when the host runs neither.
bench_arch_decide() {
  if [ "${BENCH_ARCH_DECIDED:-}" != "${OEM_BENCH_ARCH:-}" ] || [ -z "${OEM_BENCH_ARCH:-}" ]; then
    local asked="${OEM_BENCH_ARCH:-}"
    case "$asked" in
      ""|x86|x64) ;;
      *) echo "OEM_BENCH_ARCH='$asked' is not a Windows architecture (x86 or x64)" >&2; return 2 ;;
    esac
    if [ -n "$asked" ]; then
      if ! wine_probe "$asked"; then
        echo "OEM_BENCH_ARCH=$asked, but this host cannot run $asked Windows programs: $OEM_PROBE_WHY" >&2
        return 2
      fi
    else
      OEM_WINDOWS_ARCHES="" wine_arches_decide || return 2
      case " $OEM_ARCHES_RUN " in
        *" x86 "*) asked=x86 ;;
        *" x64 "*) asked=x64 ;;
        *) wine_arches_none_sentence >&2; return 2 ;;
      esac
    fi
    OEM_BENCH_ARCH="$asked"
    export OEM_BENCH_ARCH BENCH_ARCH_DECIDED="$OEM_BENCH_ARCH"
  fi
  export BENCH_ARCH="$OEM_BENCH_ARCH"
  case "$BENCH_ARCH" in
    x86) export BENCH_TOOLCHAIN="$BENCH_ROOT/cmake/mingw-i686.cmake" ;;
    x64) export BENCH_TOOLCHAIN="$BENCH_ROOT/cmake/mingw-x86_64.cmake" ;;
  esac
  export BENCH_BUILD="${OEM_BENCH_BUILD:-$BENCH_ROOT/build/bench-win-$BENCH_ARCH}"
  echo "== benchmarks for $BENCH_ARCH Windows programs (Wine loader $(wine_arch_loader "$BENCH_ARCH"))"
}

# Configures (once) and builds TARGETS of the benchmark's Windows build.
bench_win_build() {
  if [ ! -f "$BENCH_BUILD/build.ninja" ]; then
    mkdir -p "$(dirname "$BENCH_BUILD")"
    cmake -S "$BENCH_ROOT" -B "$BENCH_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOEM_BENCH=ON \
      -DCMAKE_TOOLCHAIN_FILE="$BENCH_TOOLCHAIN" >"$BENCH_BUILD.configure.log" 2>&1 \
      || { cat "$BENCH_BUILD.configure.log"; return 1; }
  fi
  cmake --build "$BENCH_BUILD" -j2 --target "$@" >/dev/null
}

bench_stop_helpers() {
  local pid
  for pid in "${bench_helpers[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${bench_helpers[@]}"; do wait "$pid" 2>/dev/null || true; done
  bench_helpers=()
}

# (Re)starts twm on the session's display; twm_pid and BENCH_TWM_PID are its PID.
bench_start_twm() {
  twm -f "$BENCH_ROOT/bench/launch/twmrc" </dev/null >/dev/null 2>&1 &
  twm_pid=$!
  bench_helpers+=($twm_pid)
  export BENCH_TWM_PID=$twm_pid
}

# Without its window manager Wine waits 2 s whenever a window closes: true (and a
# new twm started) when the session's twm has ended since the last call.
bench_twm_restarted() {
  if [ -n "${BENCH_TWM_PID:-}" ] && ! kill -0 "$BENCH_TWM_PID" 2>/dev/null; then
    bench_start_twm
    return 0
  fi
  return 1
}

bench_session_start() {
  if [ "${BENCH_SESSION:-}" = "$BENCH_ROOT" ]; then return 0; fi
  bench_arch_decide >/dev/null || return 2
  wine_arch_select "$BENCH_ARCH" || return 2
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  trap bench_stop_helpers EXIT
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  bench_helpers+=($!)
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  bench_start_twm
  wine_prefix_init
  # Persistent while the benchmark runs; it leaves by itself a minute after the last program.
  "$WINESERVER" -p60 </dev/null >/dev/null 2>&1 || true
  "$WINELOADER" notepad </dev/null >/dev/null 2>&1 &
  bench_helpers+=($!)
  sleep 2
  export BENCH_SESSION="$BENCH_ROOT"
}
