#!/usr/bin/env bash
# Launches of big packages under Wine, checked and measured; the launch section of bench/RESULTS.md.
#
# For every case of BENCH_SIZES it makes a Setup.exe with the native oempack (the bench
# installer, bench/launch/BenchInstaller.cpp, plus a payload of zeros) and launches it ROUNDS
# times with `/S`: the installer must run with that switch, its exit code (42) must come back
# as Setup.exe's, the work folder must be gone. The launcher's process is sampled from /proc
# (bench/launch/launch_sizes.py). Cases in NSIS_SIZES alternate with the NSIS installer doing
# the same job (bench/launch/nsis-same-job.nsi) for NSIS_ROUNDS rounds after one warm-up each; for
# an lzw-SIZE or code-SIZE case NSIS compresses the installer with zlib (SetCompressor zlib), for a
# codelzma-SIZE case with LZMA (SetCompressor lzma).
#
# Cases (BENCH_SIZES, default "1M 64M 256M 1G 1.5G lzw-256M entries-65535 groups-65532"):
#   SIZE          a stored package of SIZE bytes (numfmt --from=iec: 1M, 1.5G)
#   lzw-SIZE      one installer entry of SIZE bytes (the installer padded with zeros), --compress
#   code-SIZE     one installer entry of SIZE bytes of machine code, --compress: the bench
#                 installer with the mingw-w64 runtime DLLs and Wine's own DLLs of the
#                 architecture behind it, cut at SIZE
#   codelzma-SIZE the same package, against NSIS compressing with LZMA
#   entries-N     N entries: CONFIG.INI, the installer and N-2 files of 16 bytes
#   groups-N      N groups: Config, Commonfiles and N-2 folders of one 16-byte file each
# Environment: OEM_BENCH_ARCH (x86 or x64; default x86 where the host runs it, else x64: see
# scripts/bench-session.sh), ROUNDS (default 3), NSIS_SIZES (default "256M 1G"; none: no NSIS),
# NSIS_ROUNDS (default 5), LAUNCH_TIMEOUT (s per launch, default 120), OEM_BENCH_BUILD (Windows
# build, default build/bench-win-ARCH), OEM_BENCH_OEMPACK (the native oempack that makes the
# packages, default the one built in build/bench), BENCH_SECTION (write the section there instead
# of into bench/RESULTS.md), OEM_BENCH_SLEEP_MS (the bench installer sleeps that long before it
# exits), OEM_BENCH_BEFORE (another Setup.exe of the same architecture, e.g. main's: every case's
# package also goes into it, made with the same SOURCE_DATE_EPOCH, and its launches alternate with
# ours after one warm-up each, ROUNDS rounds), BENCH_INSTALLER (gui, the default: the bench
# installer is a program of the Windows subsystem, as installers are; console: the same program
# as a console one, which the launcher starts in a console window of its own and NSIS does not,
# as every figure before 2026-12-09 was taken). The NSIS installer is of the same architecture (x64:
# Unicode, target amd64-unicode).
# Quick run: BENCH_SIZES="1M 64M lzw-16M entries-2000" NSIS_SIZES=64M ROUNDS=1 NSIS_ROUNDS=2
# The cost of a change to the launcher, on the long case (a 1.5 GiB compressed installer):
#   OEM_BENCH_BEFORE=<main's Setup.exe> BENCH_SIZES=lzw-1.5G ROUNDS=7 scripts/bench-launch.sh
# Big files live in build/bench-launch-tmp and are deleted as each case ends; the per-case JSON
# stays in build/bench-launch-results-ARCH (`bench/launch/launch_sizes.py report` remakes the section).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
if [ -z "${BENCH_SESSION:-}" ]; then
  bash scripts/bootstrap.sh >/dev/null
fi
source "$ROOT/scripts/bench-session.sh"
bench_arch_decide
BUILD="$BENCH_BUILD"
HOST="$ROOT/build/bench"
TMP="$ROOT/build/bench-launch-tmp"
RESULTS="$ROOT/build/bench-launch-results-$BENCH_ARCH"
BENCH_SIZES="${BENCH_SIZES:-1M 64M 256M 1G 1.5G lzw-256M entries-65535 groups-65532}"
NSIS_SIZES="${NSIS_SIZES:-256M 1G}"
ROUNDS="${ROUNDS:-3}"
NSIS_ROUNDS="${NSIS_ROUNDS:-5}"
LAUNCH_TIMEOUT="${LAUNCH_TIMEOUT:-120}"
PY="python3 $ROOT/bench/launch/launch_sizes.py"
BEFORE="${OEM_BENCH_BEFORE:-}"
if [ -n "$BEFORE" ]; then
  [ -f "$BEFORE" ] || { echo "bench-launch: OEM_BENCH_BEFORE names no file: $BEFORE"; exit 1; }
  BEFORE="$(cd "$(dirname "$BEFORE")" && pwd)/$(basename "$BEFORE")"
  export OEM_BENCH_BEFORE_NAME="${OEM_BENCH_BEFORE_NAME:-$BEFORE}"
fi
BENCH_INSTALLER="${BENCH_INSTALLER:-gui}"
case "$BENCH_INSTALLER" in
  gui) installer_target=BenchInstaller ;;
  console) installer_target=BenchConsoleInstaller ;;
  *) echo "bench-launch: BENCH_INSTALLER is gui or console, not $BENCH_INSTALLER"; exit 1 ;;
esac
export BENCH_COMMAND="${BEFORE:+OEM_BENCH_BEFORE=$OEM_BENCH_BEFORE_NAME }BENCH_INSTALLER=$BENCH_INSTALLER OEM_BENCH_ARCH=$BENCH_ARCH BENCH_SIZES=\"$BENCH_SIZES\" NSIS_SIZES=\"$NSIS_SIZES\" ROUNDS=$ROUNDS NSIS_ROUNDS=$NSIS_ROUNDS scripts/bench-launch.sh"

echo "== builds: Windows (Release, $BENCH_ARCH) in $BUILD, native oempack ${OEM_BENCH_OEMPACK:-in $HOST}"
bench_win_build Setup oempack_launcher "$installer_target"
OEMPACK="${OEM_BENCH_OEMPACK:-$HOST/tools/oempack/oempack}"
if [ -z "${OEM_BENCH_OEMPACK:-}" ]; then
  if [ ! -f "$HOST/build.ninja" ]; then
    cmake -S "$ROOT" -B "$HOST" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOEM_BENCH=ON -DOEM_SANITIZE=OFF >/dev/null
  fi
  cmake --build "$HOST" -j2 --target oempack >/dev/null
fi
LAUNCHER="$BUILD/tools/oempack/Setup.exe"
INSTALLER="$BUILD/bench/launch/$installer_target.exe"
[ -f "$LAUNCHER" ] && [ -f "$INSTALLER" ] || { echo "bench-launch: no Setup.exe or $installer_target.exe in $BUILD"; exit 1; }

bench_session_start

rm -rf "$TMP" "$RESULTS"
mkdir -p "$TMP" "$RESULTS"
trap 'rm -rf "$TMP"; bench_stop_helpers' EXIT
installer_size=$(stat -c %s "$INSTALLER")
chunk=$((256 * 1024 * 1024))

# Zero-filled files (sparse on disk) in $1 totalling $2 bytes, at most 256 MiB each.
zeros() {
  local left=$2 i=0 n
  mkdir -p "$1"
  while [ "$left" -gt 0 ]; do
    n=$((left < chunk ? left : chunk))
    truncate -s "$n" "$1/zeros$(printf %03d $i).bin"
    left=$((left - n)); i=$((i + 1))
  done
}

# The DLLs whose machine code fills a code-SIZE installer, in a fixed order.
case "$BENCH_ARCH" in
  x64) code_dlls=(/usr/lib/gcc/x86_64-w64-mingw32/*-win32/*.dll /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/*.dll) ;;
  *) code_dlls=(/usr/lib/gcc/i686-w64-mingw32/*-win32/*.dll /usr/lib/i386-linux-gnu/wine/i386-windows/*.dll) ;;
esac

for case in $BENCH_SIZES; do
  dir="$TMP/$case"
  mkdir -p "$dir"
  installer="$INSTALLER"
  compress=()
  payload="$dir/payload"
  nsis_compressor=zlib
  case "$case" in
    code-* | codelzma-*)
      kind=code-zlib
      [ "${case%%-*}" = codelzma ] && { kind=code-lzma; nsis_compressor=lzma; }
      nominal=$(numfmt --from=iec "${case#*-}")
      installer="$dir/installer/setup.exe"
      mkdir -p "$dir/installer"
      # Bytes after the image do not stop it running.
      cat "$INSTALLER" "${code_dlls[@]}" 2>/dev/null | head -c "$nominal" >"$installer" || true
      [ "$(stat -c %s "$installer")" = "$nominal" ] || { echo "bench-launch: too few DLL bytes for $case"; exit 1; }
      compress=(--compress)
      payload=""
      ;;
    lzw-*)
      kind=compressed
      nominal=$(numfmt --from=iec "${case#lzw-}")
      # In a folder of its own: makensis matches file names without regard to case, and
      # would take Setup.exe beside it for a second file.
      installer="$dir/installer/setup.exe"
      mkdir -p "$dir/installer"
      cp "$INSTALLER" "$installer"
      truncate -s "$nominal" "$installer"  # zeros after the image: it still runs
      compress=(--compress)
      payload=""
      ;;
    entries-*)
      kind=entries
      nominal=${case#entries-}
      $PY entries "$payload" $((nominal - 2)) 0
      ;;
    groups-*)
      kind=groups
      nominal=${case#groups-}
      $PY entries "$payload" $((nominal - 2)) $((nominal - 2))
      ;;
    *)
      kind=stored
      nominal=$(numfmt --from=iec "$case")
      zeros "$payload" $((nominal - installer_size))
      ;;
  esac
  ours="$dir/Setup.exe"
  echo "== $case: make"
  # The same package for the launcher before, byte for byte: the same time in CONFIG.INI.
  [ -z "$BEFORE" ] || export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(date +%s)}"
  if ! "$OEMPACK" make --installer "$installer" ${payload:+--payload "$payload"} "${compress[@]}" \
      --launcher "$LAUNCHER" -o "$ours" >"$dir/make.log" 2>&1; then
    echo "bench-launch: oempack make failed for $case:"; cat "$dir/make.log"
    $PY unmade --arch "$BENCH_ARCH" --label "$case" --kind "$kind" --nominal "$nominal" --json "$RESULTS/size-$case.json" \
      --reason "oempack make: $(tail -1 "$dir/make.log")"
    rm -rf "$dir"
    continue
  fi
  before_args=()
  if [ -n "$BEFORE" ]; then
    if "$OEMPACK" make --installer "$installer" ${payload:+--payload "$payload"} "${compress[@]}" \
        --launcher "$BEFORE" -o "$dir/before.exe" >"$dir/make-before.log" 2>&1 &&
        [ "$(grep -o 'package [0-9]* bytes' "$dir/make.log")" = "$(grep -o 'package [0-9]* bytes' "$dir/make-before.log")" ]; then
      before_args=(--before "$dir/before.exe")
    else
      echo "bench-launch: the package for the launcher before could not be made the same for $case:"
      cat "$dir/make-before.log"
    fi
  fi
  nsis_args=()
  rounds=$ROUNDS
  for n in $NSIS_SIZES; do
    if [ "$n" = "$case" ]; then
      # The same installer and payload; a compressed case against NSIS compressing with zlib
      # (codelzma-SIZE: LZMA).
      nsis_defines=()
      [ "${#compress[@]}" = 0 ] || nsis_defines=("-DCOMPRESSOR=$nsis_compressor")
      if makensis -V1 "-DARCH=$BENCH_ARCH" "${nsis_defines[@]}" "-DOUTFILE=$dir/nsis.exe" \
          "-DINSTALLER=$installer" ${payload:+"-DPAYLOAD=$payload"} "$ROOT/bench/launch/nsis-same-job.nsi"; then
        nsis_args=(--nsis "$dir/nsis.exe")
        rounds=$NSIS_ROUNDS
      else
        echo "bench-launch: makensis failed for $case: Setup.exe alone"
      fi
    fi
  done
  rm -rf "$payload"  # Setup.exe and nsis.exe carry it now
  echo "== $case: $rounds launches${nsis_args:+, alternated with NSIS}"
  $PY run --arch "$BENCH_ARCH" --label "$case" --kind "$kind" --bytes "$(stat -c %s "$ours")" --nominal "$nominal" \
    --ours "$ours" "${nsis_args[@]}" "${before_args[@]}" --rounds "$rounds" --stamp "$dir/stamp.txt" \
    --timeout "$LAUNCH_TIMEOUT" --json "$RESULTS/size-$case.json"
  if bench_twm_restarted; then
    echo "The window manager had ended by the end of the $case launches; their exit times include Wine's 2 s wait for withdrawn windows." >>"$RESULTS/warnings.txt"
  fi
  rm -rf "$dir"
done

section="$RESULTS/section.md"
$PY report "$RESULTS" "$section"
if [ -n "${BENCH_SECTION:-}" ]; then
  cp "$section" "$BENCH_SECTION"
else
  $PY splice "$ROOT/bench/RESULTS.md" "$section"
  echo "written the launch section of bench/RESULTS.md"
fi
cat "$section"
