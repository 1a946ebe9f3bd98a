#!/usr/bin/env bash
# Builds every libFuzzer target declared in fuzz/ with clang-14 and runs each one briefly.
# Target <prefix>_..._fuzzer starts from the seed corpus fuzz/corpus/<prefix>/ (when present);
# new inputs go to a scratch folder, so the committed corpus stays as it is.
# Exits non-zero when a target is missing, fails to build, or reports a finding.
# FUZZ_SECONDS sets the run time per target (default 25).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
BUILD="$ROOT/build/fuzz"
SECONDS_PER_TARGET="${FUZZ_SECONDS:-25}"
JOBS="${JOBS:-2}"

# Every target declared through oem_add_fuzzer(NAME x ...) or add_executable(x ...).
targets=$(grep -hoE '(NAME|add_executable\() *[A-Za-z0-9_]+_fuzzer\b' fuzz/CMakeLists.txt \
  | grep -oE '[A-Za-z0-9_]+_fuzzer$' | sort -u) || true
if [ -z "$targets" ]; then
  echo "fuzz-smoke: no *_fuzzer targets declared in fuzz/CMakeLists.txt"; exit 1
fi

mkdir -p "$(dirname "$BUILD")"
CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOEM_FUZZ=ON \
  >"$BUILD.configure.log" 2>&1 || { cat "$BUILD.configure.log"; exit 1; }
# shellcheck disable=SC2086
cmake --build "$BUILD" -j"$JOBS" --target $targets || { echo "fuzz-smoke: build failed"; exit 1; }

status=0
for target in $targets; do
  exe=$(find "$BUILD" -type f -name "$target" -perm -u+x -print -quit)
  if [ -z "$exe" ]; then
    echo "fuzz-smoke: $target was not built"; status=1; continue
  fi
  prefix="${target%%_*}"
  work="$BUILD/work/$target"
  artifacts="$BUILD/artifacts/$target/"
  rm -rf "$work"
  mkdir -p "$work" "$artifacts"
  corpus=()
  if [ -d "fuzz/corpus/$prefix" ]; then corpus+=("fuzz/corpus/$prefix"); fi
  log="$BUILD/$target.log"
  echo "== $target (${SECONDS_PER_TARGET}s, corpus ${corpus[*]:-none})"
  if "$exe" -max_total_time="$SECONDS_PER_TARGET" -rss_limit_mb=2048 -timeout=20 -print_final_stats=1 \
       -artifact_prefix="$artifacts" "$work" "${corpus[@]}" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^Done ' "$log" | tail -2 || true
  else
    echo "fuzz-smoke: $target reported a finding (log $log, artifacts $artifacts)"
    tail -40 "$log"
    status=1
  fi
done
exit $status
