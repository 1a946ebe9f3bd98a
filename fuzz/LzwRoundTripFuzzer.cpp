// Arbitrary bytes through the encoder and back: exact round trip, any chunk size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "LzwCodec.h"

namespace {

struct Source {
    const uint8_t* data;
    size_t size;
    size_t position;
    std::vector<uint8_t> stream;
    uint32_t chunk;
};

int ReadByte(uint8_t* byte, void* ctx)
{
    Source* s = static_cast<Source*>(ctx);
    if (s->position >= s->size)
        return 0;
    *byte = s->data[s->position++];
    return 1;
}

int WriteBlock(const uint8_t* block, uint32_t length, void* ctx)
{
    Source* s = static_cast<Source*>(ctx);
    s->stream.insert(s->stream.end(), block, block + length);
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > 1u << 13)
        return 0;
    // The first two bytes choose the chunk size; the rest is the input.
    uint32_t chunk = (static_cast<uint32_t>(data[0]) << 8 | data[1]) % 2048 + 1;
    Source source{data + 2, size - 2, 0, {}, chunk};
    LzwEncoder encoder;
    if (encoder.Compress(static_cast<uint32_t>(source.size), ReadByte, WriteBlock, &source, chunk) != 1)
        std::abort();
    encoder.Finish(WriteBlock, &source);
    if (encoder.GetCompressedSize() != source.stream.size())
        std::abort();

    std::vector<uint8_t> reference;
    if (!LzwEncodeBuffer(source.data, static_cast<uint32_t>(source.size), &reference) || reference != source.stream)
        std::abort();

    std::vector<uint8_t> out(source.size + 1);
    uint32_t produced = 0;
    if (LzwDecodeBuffer(source.stream.data(), static_cast<uint32_t>(source.stream.size()), out.data(),
                        static_cast<uint32_t>(source.size), &produced) != 1 ||
        produced != source.size || std::memcmp(out.data(), source.data, source.size) != 0)
        std::abort();
    return 0;
}
