#!/usr/bin/env bash
# Every benchmark, side by side with its reference, into bench/RESULTS.md:
#   launch   scripts/bench-launch.sh: big packages (to 1.5 GiB), a compressed installer,
#            65,535 entries, 65,532 groups; memory by kind; against NSIS at 256 MiB and 1 GiB
#   pack     oempack make against makensis; oempack create against tar cf
#   brand    oempack make with every identity option against make without (scripts/bench-brand.sh)
#   codec    the LZW codec against compress/uncompress (scripts/bench-lzw.sh)
#   package  the launcher's package path on the host (bench/package, Google Benchmark)
# Environment: OEM_BENCH_ARCH (the Windows architecture, x86 or x64; default x86 where the host
# runs it, else x64: see scripts/bench-session.sh), PACK_RUNS (default 3), SIZES (MiB of the make
# jobs, default "1 64 256"), BENCH_SIZES, ROUNDS, NSIS_ROUNDS (the launch section: see
# scripts/bench-launch.sh), OEM_BENCH_BUILD (Windows build folder, default build/bench-win-ARCH),
# SKIP_CODEC=1,
# PACK_ONLY=1 (only the packaging jobs; their table is printed, RESULTS.md is left alone).
# oempack itself is the native (Linux, Release) build in build/bench.
# Big files live in build/bench-tmp and are deleted at the end.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
TMP="$ROOT/build/bench-tmp"
PACK_RUNS="${PACK_RUNS:-3}"
SIZES="${SIZES:-1 64 256}"
PY="python3 $ROOT/bench/launch/side_by_side.py"
MiB=$((1024 * 1024))

bash scripts/bootstrap.sh >/dev/null
source "$ROOT/scripts/bench-session.sh"
bench_arch_decide
BUILD="$BENCH_BUILD"
echo "== Windows build (Release, $BENCH_ARCH, benchmarks on) in $BUILD"
bench_win_build Setup oempack oempack_launcher BenchInstaller
LAUNCHER="$BUILD/tools/oempack/Setup.exe"
INSTALLER="$BUILD/bench/launch/BenchInstaller.exe"
PACK_ONLY="${PACK_ONLY:-0}"
echo "== host build (Release) in build/bench"
HOST_BENCH="$ROOT/build/bench"
cmake -S "$ROOT" -B "$HOST_BENCH" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOEM_BENCH=ON -DOEM_SANITIZE=OFF >/dev/null
cmake --build "$HOST_BENCH" -j2 --target oempack >/dev/null
OEMPACK="$HOST_BENCH/tools/oempack/oempack"

bench_session_start

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }

rm -rf "$TMP"
mkdir -p "$TMP/results"
# Executable-like bytes: Wine's own Windows DLLs of the architecture, end to end.
case "$BENCH_ARCH" in
  x86) dlls=/usr/lib/i386-linux-gnu/wine/i386-windows ;;
  x64) dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows ;;
esac
ls "$dlls"/*.dll | sort | xargs cat 2>/dev/null \
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
  make_nsis=(makensis -V1 "-DARCH=$BENCH_ARCH" "-DOUTFILE=$nsis" "-DINSTALLER=$INSTALLER" "-DPAYLOAD=$dir/payload"
             "$ROOT/bench/launch/nsis-same-job.nsi")
  echo "== pack $size MiB: oempack make against makensis"
  $PY pack --label "make-$size" --runs "$PACK_RUNS" --json "$TMP/results/pack-$size.json" \
    --clean "$ours:$nsis" --ours "${make_ours[@]}" --other "${make_nsis[@]}"
  [ -s "$ours" ] && [ -s "$nsis" ] || { echo "bench: a package was not made"; exit 1; }
  rm -rf "$dir"
done

echo "== brand: scripts/bench-brand.sh"
BRAND_OEMPACK="$OEMPACK" BRAND_LAUNCHER="$LAUNCHER" bash scripts/bench-brand.sh | tee "$TMP/results/brand.txt"

if [ "$PACK_ONLY" != 1 ]; then
  echo "== launch: scripts/bench-launch.sh (sizes: ${BENCH_SIZES:-default})"
  BENCH_SECTION="$TMP/results/section-launch.md" bash "$ROOT/scripts/bench-launch.sh"
fi

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
