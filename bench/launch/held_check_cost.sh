#!/usr/bin/env bash
# What the launcher's check of the held installer costs: launch times of two builds of Setup.exe, alternated.
#
# Usage: bench/launch/held_check_cost.sh BEFORE_SETUP_EXE AFTER_SETUP_EXE [SIZE]
# Both launchers are stamped (with OEMPACK, a Windows oempack.exe) with the same package: one
# installer entry of SIZE bytes (default 256M, numfmt --from=iec), the sample installer padded
# with zeros, stored (COMPRESS=1: --compress). Then ROUNDS (default 7) rounds each launch the
# two with `/S`, in alternating order (before first in odd rounds), after one warm-up launch of
# each. A launch counts only when the installer ran and its exit code (42) came back. Prints
# every time and the medians in ms. Runs under the 64-bit Wine loader of scripts/wine-env.sh.
# Environment: OEMPACK (default build/win-x64/tools/oempack/oempack.exe), INSTALLER (default
# build/win-x64/tools/SampleInstaller/SampleInstaller.exe), ROUNDS, COMPRESS, WORK (default
# build/held-check-cost: the stamped launchers and the padded installer, deleted at the end).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BEFORE="$(realpath "${1:?usage: held_check_cost.sh BEFORE_SETUP_EXE AFTER_SETUP_EXE [SIZE]}")"
AFTER="$(realpath "${2:?usage: held_check_cost.sh BEFORE_SETUP_EXE AFTER_SETUP_EXE [SIZE]}")"
SIZE="${3:-256M}"
OEMPACK="$(realpath "${OEMPACK:-$ROOT/build/win-x64/tools/oempack/oempack.exe}")"
INSTALLER="$(realpath "${INSTALLER:-$ROOT/build/win-x64/tools/SampleInstaller/SampleInstaller.exe}")"
ROUNDS="${ROUNDS:-7}"
WORK="${WORK:-$ROOT/build/held-check-cost}"
BYTES="$(numfmt --from=iec "$SIZE")"

source "$ROOT/scripts/wine-env.sh"
mkdir -p "$WORK"
cleanup() {
  rm -f "$WORK/installer.exe" "$WORK/before.exe" "$WORK/after.exe" "$WORK/report.txt"
  wine_env_stop
}
trap cleanup EXIT
wine_env_start x64

cp "$INSTALLER" "$WORK/installer.exe"
truncate -s "$BYTES" "$WORK/installer.exe"
# Written whole, so that no launch reads a sparse file.
dd if="$WORK/installer.exe" of="$WORK/installer.dense" bs=1M status=none conv=fsync
mv "$WORK/installer.dense" "$WORK/installer.exe"
compress=()
[ "${COMPRESS:-0}" = 1 ] && compress=(--compress)
for which in before after; do
  launcher="$BEFORE"
  [ "$which" = after ] && launcher="$AFTER"
  "$WINELOADER" "$OEMPACK" make --installer "Z:$WORK/installer.exe" "${compress[@]}" \
    --launcher "Z:$launcher" -o "Z:$WORK/$which.exe" >/dev/null
done
rm -f "$WORK/installer.exe"

# One launch: prints its wall time in ms; fails unless the installer ran and its code came back.
launch() {
  rm -f "$WORK/report.txt"
  local start end code=0
  start=$(date +%s%N)
  OEM_SAMPLE_REPORT="Z:$WORK/report.txt" OEM_SAMPLE_EXIT=42 "$WINELOADER" "$WORK/$1.exe" /S \
    </dev/null >/dev/null 2>&1 || code=$?
  end=$(date +%s%N)
  if [ "$code" != 42 ] || ! grep -q '^exit code: 42$' "$WORK/report.txt"; then
    echo "held_check_cost: $1 launch failed (exit $code)" >&2
    return 1
  fi
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

launch before >/dev/null
launch after >/dev/null
times_before=()
times_after=()
for round in $(seq "$ROUNDS"); do
  if [ $((round % 2)) = 1 ]; then order="before after"; else order="after before"; fi
  for which in $order; do
    ms="$(launch "$which")"
    if [ "$which" = before ]; then times_before+=("$ms"); else times_after+=("$ms"); fi
  done
  echo "round $round: before ${times_before[-1]} ms, after ${times_after[-1]} ms"
done
mb="$(printf '%s\n' "${times_before[@]}" | median)"
ma="$(printf '%s\n' "${times_after[@]}" | median)"
echo "installer $SIZE ($BYTES bytes)${compress:+, compressed}, $ROUNDS rounds: median before $mb ms, after $ma ms, difference $((ma - mb)) ms"
