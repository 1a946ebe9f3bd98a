#!/usr/bin/env bash
# Builds the Windows programs and the native oempack, makes a demo Setup.exe from the sample installer with it,
# runs it under Wine. The x86 Setup.exe where this host runs 32-bit Windows programs, else the x64 one
# (OEM_WINDOWS_ARCHES narrows the choice; see scripts/wine-arches.sh).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
HOST_BUILD="${OEM_DEMO_HOST_BUILD:-$ROOT/build/release}"

bash scripts/bootstrap.sh

source scripts/wine-arches.sh
echo "== which Windows programs this host runs under Wine"
wine_arches_decide || { echo "demo: nothing launched"; exit 2; }
case " $OEM_ARCHES_RUN " in
  *" x86 "*) ARCH=x86; why="this host runs 32-bit Windows programs" ;;
  *" x64 "*) ARCH=x64
    if [ -n "${OEM_WINDOWS_ARCHES:-}" ]; then why="OEM_WINDOWS_ARCHES is '$OEM_WINDOWS_ARCHES'"
    else why="this host cannot run the x86 one: $(printf '%s' "$OEM_ARCHES_SKIPPED" | sed -n 's/^x86: //p')"; fi ;;
  *) echo "demo: $(wine_arches_none_sentence)"; exit 1 ;;
esac
echo "demo: making and launching the $ARCH Setup.exe ($why)"
BUILD="${OEM_DEMO_BUILD:-$ROOT/build/win-$ARCH}"

# The same configuration as the Windows tests (scripts/test.sh): one build serves both.
bash scripts/win-build.sh "$ARCH" "$BUILD" || { echo "demo: the build failed"; exit 1; }

# oempack itself runs natively: a Release build without sanitizers, in a folder of
# its own that the benchmarks share (the test build in build/host stays as it is).
mkdir -p "$(dirname "$HOST_BUILD")"
echo "== native oempack (Release) in $HOST_BUILD"
if ! cmake -S "$ROOT" -B "$HOST_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOEM_SANITIZE=OFF \
     "-DOEM_WINDOWS_BUILD_${ARCH^^}=$BUILD" >"$HOST_BUILD.configure.log" 2>&1; then
  cat "$HOST_BUILD.configure.log"
  echo "demo: the host configure failed"; exit 1
fi
cmake --build "$HOST_BUILD" -j"${JOBS:-$(nproc)}" --target oempack \
  || { echo "demo: the native oempack build failed"; exit 1; }

OEMPACK="$HOST_BUILD/tools/oempack/oempack"
LAUNCHER="$BUILD/launcher/Setup.exe"
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
wine_env_start "$ARCH"

winpath() {  # a POSIX path as Wine's drive Z: shows it
  printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"
}

echo
echo "== oempack make --arch $ARCH (native)"
"$OEMPACK" make --arch "$ARCH" --installer "$INSTALLER" --payload "$DEMO/payload" \
  -o "$DEMO/Setup.exe" || { echo "demo: oempack make failed"; exit 1; }

LOG="$WINEPREFIX/drive_c/Vizoror.log"
log_before=0
if [ -f "$LOG" ]; then log_before=$(wc -c <"$LOG"); fi

echo
echo "== running the $ARCH Setup.exe /S under Wine ($WINELOADER)"
OEM_SAMPLE_REPORT="$(winpath "$DEMO/sample-report.txt")"
export OEM_SAMPLE_REPORT
export OEM_SAMPLE_EXIT=0
status=0
bash scripts/wine-run.sh --arch "$ARCH" "$DEMO/Setup.exe" /S </dev/null >"$DEMO/setup-output.txt" 2>&1 || status=$?
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
