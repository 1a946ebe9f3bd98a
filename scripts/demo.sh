#!/usr/bin/env bash
# Builds the Windows programs, makes a demo Setup.exe from the sample installer with oempack, runs it under Wine.
set -uo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
BUILD="${OEM_DEMO_BUILD:-$ROOT/build/win}"
JOBS="$(nproc)"

bash scripts/bootstrap.sh || exit 1

echo "== Windows build (mingw-w64 i686) in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" >"$BUILD.configure.log" 2>&1 \
  || { cat "$BUILD.configure.log"; exit 1; }
cmake --build "$BUILD" -j"$JOBS" || { echo "demo: the build failed"; exit 1; }

OEMPACK="$BUILD/tools/oempack/oempack.exe"
INSTALLER="$BUILD/tools/SampleInstaller/SampleInstaller.exe"
for f in "$OEMPACK" "$BUILD/tools/oempack/Setup.exe" "$INSTALLER"; do
  [ -f "$f" ] || { echo "demo: $f was not built"; exit 1; }
done

# The demo's own folder: a small payload next to the installer, and the results.
DEMO="$BUILD/demo"
rm -rf "$DEMO"
mkdir -p "$DEMO/payload/Readme"
printf 'This file travels in group "Readme" of the demo package.\r\n' >"$DEMO/payload/Readme/readme.txt"

source scripts/wine-env.sh
# A Wine server that was already running belongs to someone else: leave it running.
own_wine=1
pgrep -f 'wineserver' >/dev/null 2>&1 && own_wine=0
wine_env_start
[ "$own_wine" -eq 1 ] && trap wine_env_stop EXIT

winpath() {  # a POSIX path as Wine's drive Z: shows it
  printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"
}
oempack() { bash scripts/wine-run.sh "$OEMPACK" "$@"; }

echo
echo "== oempack make"
oempack make --installer "$(winpath "$INSTALLER")" --payload "$(winpath "$DEMO/payload")" \
  -o "$(winpath "$DEMO/Setup.exe")" || { echo "demo: oempack make failed"; exit 1; }

LOG="$WINEPREFIX/drive_c/Vizoror.log"
log_before=0
[ -f "$LOG" ] && log_before=$(wc -c <"$LOG")

echo
echo "== running Setup.exe /S under Wine"
export OEM_SAMPLE_REPORT="$(winpath "$DEMO/sample-report.txt")"
export OEM_SAMPLE_EXIT=0
bash scripts/wine-run.sh "$DEMO/Setup.exe" /S </dev/null >"$DEMO/setup-output.txt" 2>&1
status=$?
echo "Setup.exe exit code: $status"

echo
echo "== sample installer report"
if [ -s "$DEMO/sample-report.txt" ]; then
  tr -d '\r' <"$DEMO/sample-report.txt"
else
  echo "(none: the installer did not run)"
fi

echo
echo "== install log ($LOG)"
if [ -f "$LOG" ] && [ "$(wc -c <"$LOG")" -gt "$log_before" ]; then
  tail -c +"$((log_before + 1))" "$LOG" | tr -d '\r'
else
  echo "(no new entries)"
fi

[ -s "$DEMO/sample-report.txt" ]
