#!/usr/bin/env bash
# Configures and builds every Windows program (mingw-w64, Release) of one architecture
# in one build folder. The demo and the Windows tests both build through here, so they
# share one configuration and whichever runs second finds its build already done.
# Usage: win-build.sh ARCH [build folder, default build/win-ARCH]; ARCH is x86 or x64.
# JOBS: parallel jobs (default nproc).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
ARCH="${1:?usage: win-build.sh x86|x64 [build folder]}"
case "$ARCH" in
  x86) TOOLCHAIN="$ROOT/cmake/mingw-i686.cmake" ;;
  x64) TOOLCHAIN="$ROOT/cmake/mingw-x86_64.cmake" ;;
  *) echo "win-build.sh: '$ARCH' is not a Windows architecture (x86 or x64)" >&2; exit 2 ;;
esac
BUILD="${2:-$ROOT/build/win-$ARCH}"
JOBS="${JOBS:-$(nproc)}"

mkdir -p "$(dirname "$BUILD")"
echo "== Windows build ($ARCH, $(basename "$TOOLCHAIN" .cmake)) in $BUILD"
if ! cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
     -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" >"$BUILD.configure.log" 2>&1; then
  cat "$BUILD.configure.log"
  exit 1
fi
cmake --build "$BUILD" -j"$JOBS"
