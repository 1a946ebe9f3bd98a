#!/usr/bin/env bash
# Every benchmark, side by side with its reference, into bench/RESULTS.md:
#   launch   Setup.exe against an NSIS installer doing the same job (1, 64, 256 MiB),
#            silent and with its window
#   pack     oempack make against makensis; oempack create against tar cf
#   codec    the LZW codec against compress/uncompress (scripts/bench-lzw.sh)
#   package  the launcher's package path on the host (bench/package, Google Benchmark)
# Environment: RUNS (alternations for 1 and 64 MiB, default 7), BIG_RUNS (256 MiB,
# default 5), PACK_RUNS (default 3), SIZES (MiB, default "1 64 256"),
# OEM_BENCH_BUILD (Windows build folder, default build/bench-win), SKIP_CODEC=1,
# PACK_ONLY=1 (only the packaging jobs; their table is printed, RESULTS.md is left alone).
# oempack itself is the native (Linux, Release) build in build/bench.
# Big files live in build/bench-tmp and are deleted at the end.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
BUILD="${OEM_BENCH_BUILD:-$ROOT/build/bench-win}"
TMP="$ROOT/build/bench-tmp"
RUNS="${RUNS:-7}"
BIG_RUNS="${BIG_RUNS:-5}"
PACK_RUNS="${PACK_RUNS:-3}"
SIZES="${SIZES:-1 64 256}"
PY="python3 $ROOT/bench/launch/side_by_side.py"
MiB=$((1024 * 1024))

bash scripts/bootstrap.sh >/dev/null
echo "== Windows build (Release, benchmarks on) in $BUILD"
mkdir -p "$(dirname "$BUILD")"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOEM_BENCH=ON \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" >"$BUILD.configure.log" 2>&1 \
  || { cat "$BUILD.configure.log"; exit 1; }
cmake --build "$BUILD" -j2 --target Setup oempack oempack_launcher BenchInstaller >/dev/null
LAUNCHER="$BUILD/tools/oempack/Setup.exe"
INSTALLER="$BUILD/bench/launch/BenchInstaller.exe"
PACK_ONLY="${PACK_ONLY:-0}"
echo "== host build (Release) in build/bench"
HOST_BENCH="$ROOT/build/bench"
cmake -S "$ROOT" -B "$HOST_BENCH" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOEM_BENCH=ON -DOEM_SANITIZE=OFF >/dev/null
cmake --build "$HOST_BENCH" -j2 --target oempack >/dev/null
OEMPACK="$HOST_BENCH/tools/oempack/oempack"

# A Wine session of the benchmark's own: its own prefix and server (so no other
# user of the shared prefix can restart it mid-run), its own X display with a
# window manager, and one long-lived window keeping Wine's desktop process up,
# as on a real desktop. Without a window manager Wine waits 2 s for every
# closed top-level window to be withdrawn, and without a live desktop every
# launch pays for starting explorer.exe: neither happens on Windows.
export WINEPREFIX="$ROOT/build/bench-prefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
helpers=()
stop_helpers() {
  local pid
  for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${helpers[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap stop_helpers EXIT
n=90
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
helpers+=($!)
export DISPLAY=":$n"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
start_twm() {
  twm -f "$ROOT/bench/launch/twmrc" </dev/null >/dev/null 2>&1 &
  twm_pid=$!
  helpers+=($twm_pid)
}
start_twm
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine: creating prefix $WINEPREFIX"
  wineboot --init </dev/null >/dev/null 2>&1 || true
  wineserver -w
fi
# Persistent while the benchmark runs; it leaves by itself a minute after the last program.
wineserver -p60 </dev/null >/dev/null 2>&1 || true
wine notepad </dev/null >/dev/null 2>&1 &
helpers+=($!)
sleep 2

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }

rm -rf "$TMP"
mkdir -p "$TMP/results"
# Executable-like bytes: Wine's own Windows DLLs, end to end.
ls /usr/lib/i386-linux-gnu/wine/i386-windows/*.dll | sort | xargs cat 2>/dev/null \
  | head -c $((128 * MiB)) >"$TMP/pool" || true

installer_size=$(stat -c %s "$INSTALLER")
for size in $SIZES; do
  dir="$TMP/launch-$size"
  mkdir -p "$dir/payload"
  # The package totals SIZE MiB: the installer plus payload files of at most 8 MiB.
  payload=$((size * MiB - installer_size))
  nfiles=$(( (payload + 8 * MiB - 1) / (8 * MiB) ))
  $PY data "$TMP/pool" "$dir/payload" "$payload" "$nfiles"

  ours="$dir/ours.exe"
  nsis="$dir/nsis.exe"
  make_ours=("$OEMPACK" make --no-progress --installer "$INSTALLER" --payload "$dir/payload"
             --launcher "$LAUNCHER" -o "$ours")
  make_nsis=(makensis -V1 "-DOUTFILE=$nsis" "-DINSTALLER=$INSTALLER" "-DPAYLOAD=$dir/payload"
             "$ROOT/bench/launch/nsis-same-job.nsi")
  echo "== pack $size MiB: oempack make against makensis"
  $PY pack --label "make-$size" --runs "$PACK_RUNS" --json "$TMP/results/pack-$size.json" \
    --clean "$ours:$nsis" --ours "${make_ours[@]}" --other "${make_nsis[@]}"
  [ -s "$ours" ] && [ -s "$nsis" ] || { echo "bench: a package was not made"; exit 1; }
  if [ "$PACK_ONLY" = 1 ]; then
    rm -rf "$dir"
    continue
  fi

  # The same NSIS installer showing its window, as Setup.exe shows its own.
  nsisw="$dir/nsis-window.exe"
  makensis -V1 -DWINDOW "-DOUTFILE=$nsisw" "-DINSTALLER=$INSTALLER" "-DPAYLOAD=$dir/payload" \
    "$ROOT/bench/launch/nsis-same-job.nsi"

  runs=$RUNS
  [ "$size" -ge 256 ] && runs=$BIG_RUNS
  echo "== launch $size MiB: Setup.exe against NSIS, $runs alternations"
  $PY launch --label "$size" --ours "$ours" --nsis "$nsis" --nsis-window "$nsisw" --runs "$runs" \
    --stamp "$dir/stamp.txt" --json "$TMP/results/launch-$size.json"
  # Without its window manager Wine waits 2 s whenever a window closes: say so.
  if ! kill -0 "$twm_pid" 2>/dev/null; then
    echo "The window manager had ended by the end of the $size MiB launches; their exit times include Wine's 2 s wait for withdrawn windows." >>"$TMP/results/warnings.txt"
    start_twm
  fi
  rm -rf "$dir"
done

echo "== create: oempack create against tar cf, 2000 files, 256 MiB"
tree="$TMP/tree"
$PY tree "$TMP/pool" "$tree" 2000 $((256 * MiB)) 40
rm -f "$TMP/pool"
$PY pack --label "create" --runs "$PACK_RUNS" --json "$TMP/results/create.json" \
  --clean "$TMP/tree.oem:$TMP/tree.tar" \
  --ours "$OEMPACK" create "$TMP/tree.oem" --no-progress --from-dir "$tree" \
  --other tar cf "$TMP/tree.tar" -C "$tree" .
rm -rf "$tree" "$TMP/tree.oem" "$TMP/tree.tar"

if [ "$PACK_ONLY" = 1 ]; then
  $PY report "$TMP/results" "$TMP/results/RESULTS.md"
  sed -n '/^## Packaging/,/^## [^P]/p' "$TMP/results/RESULTS.md" | sed '$d'
  exit 0
fi

if [ "${SKIP_CODEC:-0}" != 1 ]; then
  echo "== codec: scripts/bench-lzw.sh"
  bash scripts/bench-lzw.sh | tee "$TMP/results/codec.txt"
fi

echo "== package path on the host: open into memory, extract the installer"
cmake --build "$HOST_BENCH" -j2 --target package_bench >/dev/null
TMPDIR="$TMP" "$HOST_BENCH/bench/package/package_bench" 2>/dev/null | tee "$TMP/results/package.txt"

$PY report "$TMP/results" "$ROOT/bench/RESULTS.md"
echo "written bench/RESULTS.md"
