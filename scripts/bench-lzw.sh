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
