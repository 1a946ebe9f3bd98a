// SHA-256 throughput of both engines on a 64 KiB and a 4 MiB buffer.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "Sha256.h"

namespace {

// SHA-256 takes as long whatever the bytes are: any pattern will do.
std::vector<uint8_t> Buffer(size_t size)
{
    std::vector<uint8_t> b(size);
    for (size_t i = 0; i < size; ++i)
        b[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
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
