#!/usr/bin/env bash
# Runs every test: the demo, host build under the sanitizers, Windows builds under Wine
# (each architecture the host runs), short fuzz runs. Ends with "N passed, N failed" and fails when anything failed.
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
# It also builds build/win-<arch> exactly as the Windows step below does, which then
# finds that part built.
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

# The Windows suite once for every architecture this host runs (OEM_WINDOWS_ARCHES
# narrows it; naming one the host cannot run is an error). Tests that make sense on
# one architecture only carry the label only-<arch>.
source scripts/wine-arches.sh
source scripts/wine-env.sh
trap wine_env_stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
echo "== which Windows programs this host runs under Wine"
arch_report=""
if ! wine_arches_decide; then
  failed=$((failed + 1)); arch_report="none (OEM_WINDOWS_ARCHES is not usable here)"
elif [ -z "$OEM_ARCHES_RUN" ]; then
  wine_arches_none_sentence
  failed=$((failed + 1)); arch_report="none"
fi
for arch in $OEM_ARCHES_RUN; do
  before_passed=$passed before_failed=$failed
  echo "== Windows build ($arch), tests under Wine"
  if bash scripts/win-build.sh "$arch"; then
    wine_env_start "$arch"
    other=x86; [ "$arch" = x86 ] && other=x64
    (cd "build/win-$arch" && ctest --output-on-failure -j"$JOBS" -LE "only-$other") 2>&1 \
      | tee "build/win-$arch-ctest.log" || true
    count "build/win-$arch-ctest.log"
    echo "== native and Windows ($arch) oempack: the same bytes"
    if bash scripts/compare-builds.sh build/host "build/win-$arch"; then
      passed=$((passed + 1))
    else
      echo "native and Windows ($arch) outputs differ"; failed=$((failed + 1))
    fi
    wine_env_stop
  else
    echo "Windows build ($arch) failed"; failed=$((failed + 1))
  fi
  arch_report="${arch_report:+$arch_report; }$arch ran: $((passed - before_passed)) passed, $((failed - before_failed)) failed"
done
while IFS= read -r line; do
  if [ -n "$line" ]; then arch_report="${arch_report:+$arch_report; }${line%%:*} skipped: ${line#*: }"; fi
done <<<"${OEM_ARCHES_SKIPPED:-}"

# The Debian package and the Windows zip, built from the Release builds and tested
# as installed (lintian, an installed make, a launch where the host runs Windows programs).
echo "== packages (scripts/package-test.sh)"
bash scripts/package-test.sh 2>&1 | tee build/package-test.log || true
line=$(grep -E '^oempack packages: [0-9]+ passed, [0-9]+ failed$' build/package-test.log | tail -1) || true
if [ -n "$line" ]; then
  passed=$((passed + $(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$line")))
  failed=$((failed + $(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$line")))
else
  echo "packages: the package test did not finish"; failed=$((failed + 1))
fi

echo "== fuzz smoke runs"
if bash scripts/fuzz-smoke.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

echo
echo "Windows architectures: $arch_report"
echo "${passed} passed, ${failed} failed"
[ "$failed" -eq 0 ]
