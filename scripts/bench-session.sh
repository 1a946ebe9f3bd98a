# Sourced by the benchmark scripts: a Wine session of the benchmark's own. Call
# bench_session_start once (a second call, also from a script the first one
# calls, does nothing); what it started stops at the caller's exit.
#
# Its own prefix and server (so no other user of the shared prefix can restart
# it mid-run), its own X display with a window manager, and one long-lived
# window keeping Wine's desktop process up, as on a real desktop. Without a
# window manager Wine waits 2 s for every closed top-level window to be
# withdrawn, and without a live desktop every launch pays for starting
# explorer.exe: neither happens on Windows.

BENCH_ROOT="${BENCH_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
bench_helpers=()

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
  export WINEPREFIX="$BENCH_ROOT/build/bench-prefix"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  trap bench_stop_helpers EXIT
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  bench_helpers+=($!)
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  bench_start_twm
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating prefix $WINEPREFIX"
    wineboot --init </dev/null >/dev/null 2>&1 || true
    wineserver -w
  fi
  # Persistent while the benchmark runs; it leaves by itself a minute after the last program.
  wineserver -p60 </dev/null >/dev/null 2>&1 || true
  wine notepad </dev/null >/dev/null 2>&1 &
  bench_helpers+=($!)
  sleep 2
  export BENCH_SESSION="$BENCH_ROOT"
}
