#!/usr/bin/env bash
# LZW throughput: our codec (Google Benchmark, Release, no sanitizers) beside Debian's
# compress -b 12 / uncompress on the same three data kinds, printed as one table.
# Data (build/bench-data): exe = real ELF and PE binaries, text = documentation
# text, random = seeded pseudo-random bytes; about 4 MB each.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
BUILD="$ROOT/build/bench"
DATA="$ROOT/build/bench-data"
SIZE=$((4 * 1024 * 1024))
RUNS="${RUNS:-5}"

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOEM_BENCH=ON -DOEM_SANITIZE=OFF >/dev/null
cmake --build "$BUILD" -j2 --target lzw_bench >/dev/null

mkdir -p "$DATA"
if [ ! -s "$DATA/exe" ]; then
  {
    head -c $((2 * 1024 * 1024)) "$(ls /usr/lib/gcc/x86_64-linux-gnu/*/cc1plus | head -1)"
    ls /usr/lib/i386-linux-gnu/wine/i386-windows/*.dll 2>/dev/null | sort | xargs -r cat
    ls /usr/i686-w64-mingw32/lib/*.a 2>/dev/null | sort | xargs -r cat
  } 2>/dev/null | head -c "$SIZE" >"$DATA/exe" || true  # the sources outlast head: SIGPIPE
fi
if [ ! -s "$DATA/text" ]; then
  {
    cat "$ROOT"/README.md 2>/dev/null || true
    cat /usr/share/common-licenses/* 2>/dev/null
    find /usr/share/doc -name copyright -type f 2>/dev/null | sort | xargs -r cat
  } 2>/dev/null | head -c "$SIZE" >"$DATA/text" || true
fi
if [ ! -s "$DATA/random" ]; then
  python3 -c "import random,sys; random.seed(12); sys.stdout.buffer.write(random.randbytes($SIZE))" >"$DATA/random"
fi

# WHOLE_ONLY=1 skips the in-process table.
if [ -z "${WHOLE_ONLY:-}" ]; then
json="$BUILD/lzw_bench.json"
OEM_BENCH_DATA="$DATA" "$BUILD/bench/lzw_bench" --benchmark_repetitions="$RUNS" \
  --benchmark_report_aggregates_only=true --benchmark_format=json >"$json" 2>/dev/null

# Least CPU time (user + system, in ns) of RUNS runs of a command: on a shared
# machine CPU time is steadier than wall time, and it is what the benchmark reports.
best_time() {
  local best="" t
  for _ in $(seq "$RUNS"); do
    t=$( { TIMEFORMAT='%3U %3S'; time "$@" >/dev/null 2>&1; } 2>&1 | awk '{printf "%d", ($1 + $2) * 1e9}')
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  echo "$best"
}

rows=""
for kind in exe text random; do
  plain="$DATA/$kind"
  compress -b 12 -c "$plain" >"$DATA/$kind.Z" || true  # exit 2: output larger than input
  size=$(stat -c %s "$plain")
  zsize=$(stat -c %s "$DATA/$kind.Z")
  tz=$(best_time compress -b 12 -c "$plain")
  tu=$(best_time uncompress -c "$DATA/$kind.Z")
  rows+="$kind $size $zsize $tz $tu"$'\n'
done

python3 - "$json" "$rows" <<'PY'
import json, sys
bench = json.load(open(sys.argv[1]))["benchmarks"]
def mbps(name):
    for b in bench:
        if b.get("run_name") == name and b.get("aggregate_name") == "median":
            return b["bytes_per_second"] / 1e6, b.get("ratio")
    return float("nan"), None
print("%-7s %9s %7s %7s | %8s %8s %8s | %8s %8s" % ("data", "bytes", "ratio", "ratio.Z",
      "decode", "decodeCb", "uncomp", "encode", "compress"))
print("%-7s %9s %7s %7s | %8s %8s %8s | %8s %8s" % ("", "", "ours", "compress", "MB/s", "MB/s", "MB/s", "MB/s", "MB/s"))
for line in sys.argv[2].strip().splitlines():
    kind, size, zsize, tz, tu = line.split()
    size, zsize = int(size), int(zsize)
    dec, _ = mbps("decode_buffer/" + kind)
    cb, _ = mbps("decode_callbacks/" + kind)
    enc, ratio = mbps("encode/" + kind)
    print("%-7s %9d %7.3f %7.3f | %8.1f %8.1f %8.1f | %8.1f %8.1f" % (kind, size, ratio or 0, zsize / size,
          dec, cb, size / (int(tu) / 1e9) / 1e6, enc, size / (int(tz) / 1e9) / 1e6))
print("decode = LzwDecodeBuffer, decodeCb = LzwDecoder::Decompress through MappedFile callbacks;")
print("All figures from CPU time: ours the median of the benchmark repetitions, uncomp/compress the least")
print("user+system time of whole runs of uncompress -c / compress -b 12 -c (process start included).")
PY
fi

# Whole process, file to file, as a user meets the codec: oempack create
# --compress (default -j and -j 1) and oempack extract against compress -b 12
# and uncompress, on WHOLE_MIB MiB each of text, Windows program files (the
# mingw-w64 runtime DLLs Debian ships), zeros and random bytes. ROUNDS rounds,
# each running every command once in turn; wall-time medians.
WHOLE_MIB="${WHOLE_MIB:-256}"
ROUNDS="${ROUNDS:-7}"
RELEASE="$ROOT/build/release"
cmake -S . -B "$RELEASE" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOEM_SANITIZE=OFF >/dev/null
cmake --build "$RELEASE" -j2 --target oempack >/dev/null
cmake --build "$BUILD" -j2 --target lzw_split_cost >/dev/null
OEMPACK="$RELEASE/tools/oempack/oempack"
WHOLE="$DATA/whole-$WHOLE_MIB"
mkdir -p "$WHOLE"
repeat_to() {  # repeat_to SIZE OUT < source
  local src; src=$(mktemp "$WHOLE/src.XXXXXX")
  cat >"$src"
  { while cat "$src"; do :; done; } 2>/dev/null | head -c "$1" >"$2" || true
  rm -f "$src"
}
bytes=$((WHOLE_MIB * 1024 * 1024))
[ -s "$WHOLE/text.bin" ] || { cat /usr/share/common-licenses/* 2>/dev/null
  find /usr/share -name copyright -type f 2>/dev/null | sort | xargs -r cat; } | repeat_to "$bytes" "$WHOLE/text.bin"
[ -s "$WHOLE/exe.bin" ] || ls /usr/lib/gcc/*-w64-mingw32/*/*.dll /usr/*-w64-mingw32/lib/*.dll 2>/dev/null | sort |
  xargs -r cat | repeat_to "$bytes" "$WHOLE/exe.bin"
[ -s "$WHOLE/zeros.bin" ] || head -c "$bytes" /dev/zero >"$WHOLE/zeros.bin"
[ -s "$WHOLE/random.bin" ] || python3 -c "
import random, sys
random.seed(13)
for _ in range($bytes >> 20):
    sys.stdout.buffer.write(random.randbytes(1 << 20))" >"$WHOLE/random.bin"

echo
echo "Whole process, $WHOLE_MIB MiB file to file, wall seconds, medians of $ROUNDS alternated rounds"
echo "(load average before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) processors)"
python3 - "$OEMPACK" "$WHOLE" "$ROUNDS" "$BUILD/bench/lzw_split_cost" <<'PY'
import os, shutil, statistics, subprocess, sys, time
oempack, folder, rounds, splitcost = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
work = os.path.join(folder, "run")
def wall(cmd, before=None):
    if before: before()
    t = time.perf_counter()
    subprocess.run(cmd, shell=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - t
def fresh(path):
    def clean():
        shutil.rmtree(path, ignore_errors=True)
        if os.path.exists(path + ".oem"): os.remove(path + ".oem")
    return clean
print("%-7s | %7s %7s %7s %8s %6s | %7s %7s %6s | %s" % ("data", "create", "-j 1", "compr.", "create/", "-j2/-j1",
      "extract", "uncomp", "extr./", "stored as"))
print("%-7s | %7s %7s %7s %8s %6s | %7s %7s %6s |" % ("", "s", "s", "s", "compress", "", "s", "s", "uncomp"))
costs = []
for kind in ["text", "exe", "zeros", "random"]:
    src = os.path.join(folder, kind + ".bin")
    os.makedirs(work, exist_ok=True)
    pkg, z, out, ex = (os.path.join(work, n) for n in ("o.oem", "o.Z", "o.out", "ex"))
    cmds = {
        "create": lambda: wall("%s create %s --no-progress --compress %s" % (oempack, pkg, src)),
        "create1": lambda: wall("%s create %s --no-progress --compress -j 1 %s" % (oempack, pkg, src)),
        "compress": lambda: wall("compress -b 12 -c < %s > %s" % (src, z)),
        "extract": lambda: wall("%s extract %s -C %s" % (oempack, pkg, ex), lambda: shutil.rmtree(ex, ignore_errors=True)),
        "uncompress": lambda: wall("uncompress -c < %s > %s" % (z, out)),
    }
    times = {k: [] for k in cmds}
    for _ in range(rounds):
        for k, run in cmds.items():
            times[k].append(run())
    m = {k: statistics.median(v) for k, v in times.items()}
    listing = subprocess.run([oempack, "list", pkg], capture_output=True, text=True).stdout
    size = os.path.getsize(src)
    stored = os.path.getsize(pkg)
    found = [os.path.join(d, f) for d, _, files in os.walk(ex) for f in files if f == kind + ".bin"]
    with open(found[0], "rb") as a, open(src, "rb") as b:
        same = a.read() == b.read()
    how = "LZW %.3f of input" % (stored / size) if stored < size else "stored (LZW would not shrink it)"
    print("%-7s | %7.2f %7.2f %7.2f %8.2f %6.2f | %7.2f %7.2f %6.2f | %s%s" % (kind, m["create"], m["create1"],
          m["compress"], m["create"] / m["compress"], m["create"] / m["create1"], m["extract"], m["uncompress"],
          m["extract"] / m["uncompress"], how, "" if same else " EXTRACTED BYTES DIFFER"), flush=True)
    if kind != "random":
        n, whole, split = map(int, subprocess.run([splitcost, src, str(4 << 20)], capture_output=True,
                                                  text=True).stdout.split())
        costs.append("%s: %d bytes split every 4 MiB against %d unsplit (%+.3f %%)" % (kind, split, whole,
                     100.0 * (split - whole) / whole))
    shutil.rmtree(work, ignore_errors=True)
print("What the forced clears cost:", "; ".join(costs))
print("(load average after: %s)" % " ".join(open("/proc/loadavg").read().split()[:3]))
PY
