// SHA-256 throughput of both engines on a 64 KiB and a 4 MiB buffer.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "Sha256.h"

namespace {

std::vector<uint8_t> Buffer(size_t size)
{
    std::vector<uint8_t> b(size);
    uint32_t x = 1;
    for (uint8_t& v : b) {
        x = x * 1664525u + 1013904223u;
        v = static_cast<uint8_t>(x >> 24);
    }
    return b;
}

template <Sha256::Engine kEngine>
void BM_Sha256(benchmark::State& state)
{
    const std::vector<uint8_t> bytes = Buffer(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        Sha256Digest digest = Sha256Of(bytes.data(), bytes.size(), kEngine);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
    state.SetLabel(Sha256(kEngine).UsesHardware() ? "sha-ni" : "portable");
}

}  // namespace

BENCHMARK_TEMPLATE(BM_Sha256, Sha256::Engine::kBest)->Arg(64 << 10)->Arg(4 << 20)->UseRealTime();
BENCHMARK_TEMPLATE(BM_Sha256, Sha256::Engine::kPortable)->Arg(64 << 10)->Arg(4 << 20)->UseRealTime();
BENCHMARK_MAIN();
