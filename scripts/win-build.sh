#!/usr/bin/env bash
# Configures and builds every Windows program (mingw-w64 i686, Release) in one build folder.
# The demo and the Windows tests both build through here, so they share one configuration
# and whichever runs second finds its build already done.
# Usage: win-build.sh [build folder, default build/win]. JOBS: parallel jobs (default nproc).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$ROOT/build/win}"
JOBS="${JOBS:-$(nproc)}"

mkdir -p "$(dirname "$BUILD")"
echo "== Windows build (mingw-w64 i686) in $BUILD"
if ! cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
     -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" >"$BUILD.configure.log" 2>&1; then
  cat "$BUILD.configure.log"
  exit 1
fi
cmake --build "$BUILD" -j"$JOBS"
