#!/usr/bin/env bash
# Runs every test: host build under the sanitizers, Windows build under Wine, short fuzz runs.
set -uo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"

bash scripts/bootstrap.sh || exit 1
mkdir -p build
JOBS="$(nproc)"
passed=0
failed=0

count() {  # count <ctest log>
  local line
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -1)
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

echo "== host build (ASan + UBSan)"
cmake -S . -B build/host -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOEM_SANITIZE=ON >build/host-configure.log 2>&1 \
  || { cat build/host-configure.log; exit 1; }
if cmake --build build/host -j"$JOBS"; then
  (cd build/host && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$JOBS") 2>&1 | tee build/host-ctest.log
  count build/host-ctest.log
else
  echo "host build failed"; failed=$((failed + 1))
fi

echo "== Windows build (mingw-w64 i686), tests under Wine"
cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" >build/win-configure.log 2>&1 \
  || { cat build/win-configure.log; exit 1; }
if cmake --build build/win -j"$JOBS"; then
  source scripts/wine-env.sh
  wine_env_start
  (cd build/win && ctest --output-on-failure -j"$JOBS") 2>&1 | tee build/win-ctest.log
  count build/win-ctest.log
  wine_env_stop
else
  echo "Windows build failed"; failed=$((failed + 1))
fi

if [ -x scripts/fuzz-smoke.sh ]; then
  echo "== fuzz smoke runs"
  if bash scripts/fuzz-smoke.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
fi

echo
echo "${passed} passed, ${failed} failed"
[ "$failed" -eq 0 ]
