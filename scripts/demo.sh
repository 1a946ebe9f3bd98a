#!/usr/bin/env bash
# Builds the Windows programs and the native oempack, makes a demo Setup.exe from the sample installer with it,
# runs it under Wine.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
BUILD="${OEM_DEMO_BUILD:-$ROOT/build/win}"
HOST_BUILD="${OEM_DEMO_HOST_BUILD:-$ROOT/build/host}"

bash scripts/bootstrap.sh

# The same configuration as the Windows tests (scripts/test.sh): one build serves both.
bash scripts/win-build.sh "$BUILD" || { echo "demo: the build failed"; exit 1; }

# oempack itself runs natively: only its target of the host build, configured as
# scripts/test.sh configures it, so that the host step there reuses it.
mkdir -p "$(dirname "$HOST_BUILD")"
echo "== native oempack (host build) in $HOST_BUILD"
if ! cmake -S "$ROOT" -B "$HOST_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOEM_SANITIZE=ON \
     >"$HOST_BUILD.configure.log" 2>&1; then
  cat "$HOST_BUILD.configure.log"
  echo "demo: the host configure failed"; exit 1
fi
cmake --build "$HOST_BUILD" -j"${JOBS:-$(nproc)}" --target oempack \
  || { echo "demo: the native oempack build failed"; exit 1; }

OEMPACK="$HOST_BUILD/tools/oempack/oempack"
LAUNCHER="$BUILD/tools/oempack/Setup.exe"
INSTALLER="$BUILD/tools/SampleInstaller/SampleInstaller.exe"
for f in "$OEMPACK" "$LAUNCHER" "$INSTALLER"; do
  [ -f "$f" ] || { echo "demo: $f was not built"; exit 1; }
done

# The demo's own folder: a small payload next to the installer, and the results.
DEMO="$BUILD/demo"
rm -rf "$DEMO"
mkdir -p "$DEMO/payload/Readme"
printf 'This file travels in group "Readme" of the demo package.\r\n' >"$DEMO/payload/Readme/readme.txt"

source scripts/wine-env.sh
# Stops, however the demo ends, the display and Wine server it started itself; a
# server already serving the prefix belongs to someone else and keeps running.
trap wine_env_stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
wine_env_start

winpath() {  # a POSIX path as Wine's drive Z: shows it
  printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"
}

echo
echo "== oempack make (native)"
"$OEMPACK" make --installer "$INSTALLER" --payload "$DEMO/payload" --launcher "$LAUNCHER" \
  -o "$DEMO/Setup.exe" || { echo "demo: oempack make failed"; exit 1; }

LOG="$WINEPREFIX/drive_c/Vizoror.log"
log_before=0
if [ -f "$LOG" ]; then log_before=$(wc -c <"$LOG"); fi

echo
echo "== running Setup.exe /S under Wine"
OEM_SAMPLE_REPORT="$(winpath "$DEMO/sample-report.txt")"
export OEM_SAMPLE_REPORT
export OEM_SAMPLE_EXIT=0
status=0
bash scripts/wine-run.sh "$DEMO/Setup.exe" /S </dev/null >"$DEMO/setup-output.txt" 2>&1 || status=$?
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
