// LZW encode and decode throughput on the data files found in $OEM_BENCH_DATA.
//
// Each regular file there is one data kind, named after the file. Decode runs
// both the buffer path and the callback path bound to MappedFile, as the
// package interface binds it; encode runs the buffer path and the callback path
// bound to memory with a progress callback, as oempack binds it. Bytes
// processed are uncompressed bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <string>
#include <vector>

#include "LzwCodec.h"
#include "MappedFile.h"

namespace {

std::vector<uint8_t> LoadFile(const std::string& path)
{
    std::vector<uint8_t> data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return data;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        data.insert(data.end(), buf, buf + n);
    std::fclose(f);
    return data;
}

struct DataSet {
    std::string name;
    std::vector<uint8_t> plain;
    std::vector<uint8_t> stream;
};

int ReadFromMapping(uint8_t* buffer, uint32_t count, void* ctx)
{
    return static_cast<int>(static_cast<MappedFile**>(ctx)[0]->Read(buffer, count));
}

int WriteToMapping(uint8_t value, void* ctx)
{
    return static_cast<int>(static_cast<MappedFile**>(ctx)[1]->Write(&value, 1));
}

void DecodeBuffer(benchmark::State& state, const DataSet* set)
{
    std::vector<uint8_t> out(set->plain.size());
    for (auto _ : state) {
        uint32_t produced = 0;
        int ok = LzwDecodeBuffer(set->stream.data(), static_cast<uint32_t>(set->stream.size()), out.data(),
                                 static_cast<uint32_t>(out.size()), &produced);
        if (!ok || produced != set->plain.size()) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set->plain.size()));
}

void DecodeCallbacks(benchmark::State& state, const DataSet* set)
{
    MappedFile input(nullptr, static_cast<uint32_t>(set->stream.size()), 0);
    input.Write(set->stream.data(), static_cast<uint32_t>(set->stream.size()));
    for (auto _ : state) {
        MappedFile output(nullptr, static_cast<uint32_t>(set->plain.size()), 0);
        input.Seek(0, MappedFile::kBegin);
        MappedFile* files[2] = {&input, &output};
        LzwDecoder decoder;
        int ok = decoder.Decompress(static_cast<uint32_t>(set->stream.size()), ReadFromMapping, WriteToMapping,
                                    files, kLzwChunkSize, static_cast<uint32_t>(set->plain.size()));
        if (!ok || output.GetPosition() != set->plain.size()) {
            state.SkipWithError("decode failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set->plain.size()));
}

void Encode(benchmark::State& state, const DataSet* set)
{
    std::vector<uint8_t> out;
    for (auto _ : state) {
        LzwEncodeBuffer(set->plain.data(), static_cast<uint32_t>(set->plain.size()), &out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set->plain.size()));
    state.counters["ratio"] = static_cast<double>(set->stream.size()) / static_cast<double>(set->plain.size());
}

struct EncodeInput {
    const uint8_t* data;
    uint32_t position;
    std::vector<uint8_t>* out;
};

int ReadPlainByte(uint8_t* byte, void* ctx)
{
    auto* input = static_cast<EncodeInput*>(ctx);
    *byte = input->data[input->position++];
    return 1;
}

int AppendBlock(const uint8_t* data, uint32_t length, void* ctx)
{
    auto* input = static_cast<EncodeInput*>(ctx);
    input->out->insert(input->out->end(), data, data + length);
    return 1;
}

void CountProgress(uint32_t done, uint32_t, void* ctx) { *static_cast<uint32_t*>(ctx) = done; }

void EncodeCallbacks(benchmark::State& state, const DataSet* set)
{
    std::vector<uint8_t> out;
    uint32_t size = static_cast<uint32_t>(set->plain.size());
    for (auto _ : state) {
        out.clear();
        EncodeInput input{set->plain.data(), 0, &out};
        uint32_t done = 0;
        LzwEncoder encoder;
        if (!encoder.Compress(size, ReadPlainByte, AppendBlock, &input, kLzwChunkSize, CountProgress, &done)) {
            state.SkipWithError("encode failed");
            break;
        }
        encoder.Finish(AppendBlock, &input);
        benchmark::DoNotOptimize(out.data());
    }
    if (out != set->stream)
        state.SkipWithError("callback stream differs from LzwEncodeBuffer's");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set->plain.size()));
}

}  // namespace

int main(int argc, char** argv)
{
    const char* dir = std::getenv("OEM_BENCH_DATA");
    std::string folder = dir ? dir : "bench-data";
    std::vector<std::unique_ptr<DataSet>> sets;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name[0] == '.' || name.find('.') != std::string::npos)
                continue;  // data files have no extension; .Z and the like belong to the script
            auto set = std::make_unique<DataSet>();
            set->name = name;
            set->plain = LoadFile(folder + "/" + name);
            if (set->plain.empty())
                continue;
            LzwEncodeBuffer(set->plain.data(), static_cast<uint32_t>(set->plain.size()), &set->stream);
            sets.push_back(std::move(set));
        }
        closedir(d);
    }
    if (sets.empty()) {
        std::fprintf(stderr, "no data files in %s (set OEM_BENCH_DATA)\n", folder.c_str());
        return 1;
    }
    for (const auto& set : sets) {
        benchmark::RegisterBenchmark(("decode_buffer/" + set->name).c_str(), DecodeBuffer, set.get())
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("decode_callbacks/" + set->name).c_str(), DecodeCallbacks, set.get())
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("encode/" + set->name).c_str(), Encode, set.get())->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("encode_callbacks/" + set->name).c_str(), EncodeCallbacks, set.get())
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
