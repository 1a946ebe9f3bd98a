// CRC-32C throughput over a 64 MiB buffer: the instruction (where present) and the tables.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "Crc32c.h"

namespace {

const std::vector<uint8_t>& Buffer()
{
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(64u << 20);
        uint32_t x = 1;
        for (uint8_t& v : b) {
            x = x * 1664525u + 1013904223u;
            v = static_cast<uint8_t>(x >> 24);
        }
        return b;
    }();
    return bytes;
}

// In 1 MiB pieces, as the launcher feeds it.
template <uint32_t (*Extend)(uint32_t, const void*, size_t)>
void BM_Crc32c(benchmark::State& state)
{
    const std::vector<uint8_t>& bytes = Buffer();
    constexpr size_t kPiece = 1u << 20;
    for (auto _ : state) {
        uint32_t crc = 0;
        for (size_t at = 0; at < bytes.size(); at += kPiece)
            crc = Extend(crc, bytes.data() + at, kPiece);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
    state.SetLabel(Extend == &Crc32cExtend && Crc32cUsesHardware() ? "sse4.2" : "tables");
}

}  // namespace

BENCHMARK_TEMPLATE(BM_Crc32c, Crc32cExtend)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_Crc32c, Crc32cExtendPortable)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
