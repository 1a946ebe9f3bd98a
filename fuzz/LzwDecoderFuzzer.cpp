// Arbitrary bytes as an LZW stream: the decoders (callbacks, buffer, pieces) stay in bounds and agree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "LzwCodec.h"

namespace {

// Output kept per input; a stream may expand about a thousandfold.
constexpr uint32_t kOutputCap = 1u << 18;

struct Run {
    const uint8_t* data;
    size_t size;
    size_t position;
    std::vector<uint8_t> output;
    uint64_t produced;
};

int ReadBlock(uint8_t* buffer, uint32_t count, void* ctx)
{
    Run* run = static_cast<Run*>(ctx);
    for (uint32_t i = 0; i < count; ++i, ++run->position)
        buffer[i] = run->position < run->size ? run->data[run->position] : 0;
    return 1;
}

int WriteByte(uint8_t value, void* ctx)
{
    Run* run = static_cast<Run*>(ctx);
    if (run->output.size() < kOutputCap)
        run->output.push_back(value);
    ++run->produced;
    return 1;
}

// The streaming decode's pieces, checked against the buffer decode's output.
struct Pieces {
    const uint8_t* expected;
    uint64_t produced;
};

bool TakePiece(const uint8_t* data, uint32_t length, void* ctx)
{
    Pieces* pieces = static_cast<Pieces*>(ctx);
    if (length == 0 || length > kLzwPieceSize)
        std::abort();
    for (uint32_t i = 0; i < length; ++i, ++pieces->produced) {
        if (pieces->produced < kOutputCap && pieces->expected[pieces->produced] != data[i])
            std::abort();
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1u << 16)
        return 0;
    Run run{data, size, 0, {}, 0};
    run.output.reserve(4096);
    LzwDecoder decoder;
    int viaCallbacks = decoder.Decompress(static_cast<uint32_t>(size), ReadBlock, WriteByte, &run, kLzwChunkSize, 0);
    if (run.position > size)
        std::abort();  // asked for input beyond the compressed length

    static std::vector<uint8_t> out(kOutputCap);
    uint32_t produced = 0;
    int viaBuffer = LzwDecodeBuffer(data, static_cast<uint32_t>(size), out.data(), kOutputCap, &produced);
    if (viaBuffer != viaCallbacks || produced != run.produced)
        std::abort();
    size_t stored = produced < kOutputCap ? produced : kOutputCap;
    if (stored > 0 && std::memcmp(out.data(), run.output.data(), stored) != 0)
        std::abort();

    Pieces pieces{out.data(), 0};
    uint32_t streamed = 0;
    if (LzwDecodePieces(data, static_cast<uint32_t>(size), TakePiece, &pieces, &streamed) != viaBuffer ||
        streamed != produced || pieces.produced != produced)
        std::abort();

    // Whatever a well-formed stream decodes to must survive our own round trip.
    if (viaBuffer == 1 && produced <= kOutputCap) {
        std::vector<uint8_t> again;
        if (!LzwEncodeBuffer(out.data(), produced, &again))
            std::abort();
        std::vector<uint8_t> back(produced + 1);
        uint32_t backLength = 0;
        if (LzwDecodeBuffer(again.data(), static_cast<uint32_t>(again.size()), back.data(), produced, &backLength) != 1 ||
            backLength != produced || std::memcmp(back.data(), out.data(), produced) != 0)
            std::abort();
    }
    return 0;
}
