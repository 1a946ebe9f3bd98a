#!/usr/bin/env bash
# What the vendor's identity costs oempack make: make with every identity option against
# make without, the same 1 MiB package, whole process (start to exit), alternated rounds
# (without, with, without, ...) after one warm-up each; prints both medians and their difference.
# Environment: BRAND_ROUNDS (default 41), BRAND_OEMPACK (default: the native Release build in
# build/bench, built here), BRAND_LAUNCHER (default: the launcher of the Windows build
# build/win-x64, else build/win-x86).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
ROUNDS="${BRAND_ROUNDS:-41}"
OEMPACK="${BRAND_OEMPACK:-}"
if [ -z "$OEMPACK" ]; then
  cmake -S "$ROOT" -B "$ROOT/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOEM_BENCH=ON -DOEM_SANITIZE=OFF >/dev/null
  cmake --build "$ROOT/build/bench" -j2 --target oempack >/dev/null
  OEMPACK="$ROOT/build/bench/tools/oempack/oempack"
fi
LAUNCHER="${BRAND_LAUNCHER:-}"
for build in win-x64 win-x86; do
  [ -n "$LAUNCHER" ] || [ ! -f "$ROOT/build/$build/launcher/Setup.exe" ] || LAUNCHER="$ROOT/build/$build/launcher/Setup.exe"
done
[ -n "$LAUNCHER" ] || { echo "bench-brand: no launcher (BRAND_LAUNCHER, or scripts/win-build.sh x64)"; exit 1; }
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
# An installer make takes (a Windows program: the launcher itself) with 1 MiB of
# incompressible bytes behind it (the package is stored, not compressed).
{ cat "$LAUNCHER"; head -c $((1024 * 1024)) /dev/urandom; } >"$WORK/installer.exe"
convert -size 16x16 xc:red "$WORK/s16.png" && convert -size 48x48 xc:blue "$WORK/s48.png" &&
  convert -size 256x256 xc:green "$WORK/s256.png" &&
  icotool -c -o "$WORK/vendor.ico" "$WORK/s16.png" "$WORK/s48.png" -r "$WORK/s256.png"
plain=("$OEMPACK" make --no-progress --installer "$WORK/installer.exe" --launcher "$LAUNCHER" -o "$WORK/Plain.exe")
branded=("$OEMPACK" make --no-progress --installer "$WORK/installer.exe" --launcher "$LAUNCHER" -o "$WORK/Branded.exe"
  --product-name "Contoso Suite 契约套件" --company "Contoso Ltd." --description "Contoso Suite Setup"
  --copyright "© 2026 Contoso Ltd." --product-version 5.2 --file-version 5.2.1.7 --execution-level asInvoker
  --icon "$WORK/vendor.ico" --progress-text "正在安装 Contoso 套件，请稍候…")
printf '%s\0' "${plain[@]}" >"$WORK/plain.args"
printf '%s\0' "${branded[@]}" >"$WORK/branded.args"
echo "oempack make, 1 MiB package, launcher $(basename "$(dirname "$(dirname "$LAUNCHER")")")/launcher/Setup.exe, $ROUNDS alternated rounds:"
python3 - "$WORK" "$ROUNDS" <<'PY'
import statistics, subprocess, sys, time
work, rounds = sys.argv[1], int(sys.argv[2])
commands = {name: open("%s/%s.args" % (work, name), "rb").read().decode().split("\0")[:-1]
            for name in ("plain", "branded")}
def once(argv):
    start = time.perf_counter_ns()
    # The launcher as installer asks for administrator: the warning of every run is not shown.
    subprocess.run(argv, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return (time.perf_counter_ns() - start) / 1e6
for argv in commands.values():
    once(argv)
times = {name: [] for name in commands}
for _ in range(rounds):
    for name, argv in commands.items():
        times[name].append(once(argv))
plain, branded = statistics.median(times["plain"]), statistics.median(times["branded"])
print("  without identity options: median %.1f ms (min %.1f, max %.1f)" % (plain, min(times["plain"]), max(times["plain"])))
print("  with every identity option: median %.1f ms (min %.1f, max %.1f)" % (branded, min(times["branded"]), max(times["branded"])))
print("  difference of the medians: %+.1f ms" % (branded - plain))
PY
