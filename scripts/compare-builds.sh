#!/usr/bin/env bash
# The native and the Windows oempack make the same bytes: create and make (plain and with
# every identity option) with the same inputs and SOURCE_DATE_EPOCH through both, then cmp. Needs both builds and, for the
# Windows program, a running Wine environment (scripts/wine-env.sh).
# Usage: compare-builds.sh HOST_BUILD WIN_BUILD (of either architecture: the launcher is that build's)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
HOST="$1"
WIN="$2"
NATIVE="$HOST/tools/oempack/oempack"
WINDOWS="$WIN/tools/oempack/oempack.exe"
LAUNCHER="$WIN/launcher/Setup.exe"
INSTALLER="$WIN/tools/SampleInstaller/SampleInstaller.exe"
for f in "$NATIVE" "$WINDOWS" "$LAUNCHER" "$INSTALLER"; do
  [ -f "$f" ] || { echo "compare-builds: $f was not built"; exit 1; }
done

WORK="$WIN/compare-builds"
rm -rf "$WORK"
mkdir -p "$WORK/payload/Docs" "$WORK/payload/Extra" "$WORK/native" "$WORK/windows"
printf 'read me\r\n' >"$WORK/payload/Docs/readme.txt"
for i in $(seq 1 2000); do echo "line $i of a text that compresses well"; done >"$WORK/payload/Docs/long.txt"
head -c 50000 /dev/urandom >"$WORK/payload/Extra/random.bin"
printf 'loose file\r\n' >"$WORK/payload/loose.txt"
# Above 8 MiB: coded in pieces, so that make writes a piece index (OEMDATA/INDEX) too.
for i in $(seq 1 250000); do echo "line $i of an entry that is split into pieces"; done >"$WORK/payload/Extra/big.txt"
# Every time of the inputs is later than the epoch: clamped alike, whatever each
# platform reports as creation and access times.
export SOURCE_DATE_EPOCH=1600000000

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }
wine_oempack() { bash "$ROOT/scripts/wine-run.sh" "$WINDOWS" "$@"; }

# The number of compressing jobs differs too (one each side, several on the other).
"$NATIVE" create "$WORK/native/pkg.oem" --compress -j 1 --from-dir "$WORK/payload" >/dev/null
"$NATIVE" make --installer "$INSTALLER" --payload "$WORK/payload" --compress -j 3 --launcher "$LAUNCHER" \
  -o "$WORK/native/Setup.exe" >/dev/null
wine_oempack create "$(winpath "$WORK/windows/pkg.oem")" --compress -j 3 --from-dir "$(winpath "$WORK/payload")" >/dev/null
wine_oempack make --installer "$(winpath "$INSTALLER")" --payload "$(winpath "$WORK/payload")" --compress -j 1 \
  --launcher "$(winpath "$LAUNCHER")" -o "$(winpath "$WORK/windows/Setup.exe")" >/dev/null

# A vendor's Setup.exe: every identity option, text beyond the ANSI code page included.
convert -size 16x16 xc:red "$WORK/s16.png" && convert -size 256x256 xc:blue "$WORK/s256.png" &&
  icotool -c -o "$WORK/vendor.ico" "$WORK/s16.png" -r "$WORK/s256.png"
branding=(--product-name "Contoso 套件" --company "Contoso Ltd." --description "Contoso Suite Setup"
  --copyright "© 2026 Contoso" --product-version 5.2 --file-version 5.2.1.7 --execution-level asInvoker
  --progress-text "正在安装 Contoso 套件…")
"$NATIVE" make --installer "$INSTALLER" --launcher "$LAUNCHER" --icon "$WORK/vendor.ico" "${branding[@]}" \
  -o "$WORK/native/Branded.exe" >/dev/null
LANG=C.UTF-8 LC_ALL=C.UTF-8 wine_oempack make --installer "$(winpath "$INSTALLER")" \
  --launcher "$(winpath "$LAUNCHER")" --icon "$(winpath "$WORK/vendor.ico")" "${branding[@]}" \
  -o "$(winpath "$WORK/windows/Branded.exe")" >/dev/null

same=0
for f in pkg.oem Setup.exe Branded.exe; do
  if cmp "$WORK/native/$f" "$WORK/windows/$f"; then
    echo "compare-builds: $f identical ($(stat -c %s "$WORK/native/$f") bytes)"
  else
    same=1
  fi
done
if ! LC_ALL=C grep -qaP 'OIDX\x01\x00\x10\x00' "$WORK/native/Setup.exe"; then
  echo "compare-builds: Setup.exe has no piece index, though an entry is above 8 MiB"
  same=1
fi
exit "$same"
