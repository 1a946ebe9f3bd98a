#!/usr/bin/env bash
# Runs every test: the demo, host build under the sanitizers, Windows build under Wine,
# short fuzz runs. Ends with "N passed, N failed" and fails when anything failed.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
JOBS="${JOBS:-$(nproc)}"
passed=0
failed=0

count() {  # count <ctest log>: its tests into the totals, or one failure when ctest did not finish
  local line
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -1) || true
  if [ -n "$line" ]; then
    local total fails
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    fails=$(sed -E 's/.*, ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$((passed + total - fails))
    failed=$((failed + fails))
  else
    failed=$((failed + 1))
  fi
}

bash scripts/bootstrap.sh

# First, before anything here makes build/: the demo must work from a fresh clone.
# It also builds build/win exactly as the Windows step below does, and the native
# oempack in build/host as the host step does: both then find that part built.
echo "== demo (scripts/demo.sh)"
if bash scripts/demo.sh; then passed=$((passed + 1)); else echo "demo failed"; failed=$((failed + 1)); fi

mkdir -p build

echo "== host build (ASan + UBSan)"
if ! cmake -S . -B build/host -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOEM_SANITIZE=ON >build/host-configure.log 2>&1; then
  cat build/host-configure.log
  echo "host configure failed"; failed=$((failed + 1))
elif cmake --build build/host -j"$JOBS"; then
  (cd build/host && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$JOBS") 2>&1 \
    | tee build/host-ctest.log || true
  count build/host-ctest.log
else
  echo "host build failed"; failed=$((failed + 1))
fi

echo "== Windows build (mingw-w64 i686), tests under Wine"
if bash scripts/win-build.sh build/win; then
  source scripts/wine-env.sh
  trap wine_env_stop EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  wine_env_start
  (cd build/win && ctest --output-on-failure -j"$JOBS") 2>&1 | tee build/win-ctest.log || true
  count build/win-ctest.log
  echo "== native and Windows oempack: the same bytes"
  if bash scripts/compare-builds.sh build/host build/win; then
    passed=$((passed + 1))
  else
    echo "native and Windows outputs differ"; failed=$((failed + 1))
  fi
  wine_env_stop
else
  echo "Windows build failed"; failed=$((failed + 1))
fi

echo "== fuzz smoke runs"
if bash scripts/fuzz-smoke.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

echo
echo "${passed} passed, ${failed} failed"
[ "$failed" -eq 0 ]
