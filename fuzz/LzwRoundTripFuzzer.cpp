// Arbitrary bytes through the encoders (callback, block, split): the reference stream, an exact round trip both ways.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
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

// The stream by its definition, with a map for the dictionary and one bit at a
// time: clear code in 9 bits; the longest match in w(N) when the next byte does
// not extend it, match + byte becoming N; a clear code in w(N) and an empty
// dictionary when N reaches 4093; the last match; the end code in w(N + 1).
// With pieceSize, the input is also cut every pieceSize bytes (but not between
// two pieces that repeat one same byte): the last match, a clear code in
// w(N + 1), and an empty dictionary.
std::vector<uint8_t> ReferenceStream(const uint8_t* data, size_t size, size_t pieceSize = 0)
{
    std::vector<uint8_t> out;
    uint64_t bits = 0;
    auto put = [&](uint32_t code, uint32_t n) {
        uint32_t width = n < 512 ? 9 : n < 1024 ? 10 : n < 2048 ? 11 : 12;
        for (uint32_t b = width; b-- > 0; ++bits) {
            if (bits % 8 == 0)
                out.push_back(0);
            if ((code >> b) & 1)
                out.back() |= static_cast<uint8_t>(0x80 >> (bits % 8));
        }
    };
    std::map<std::pair<uint32_t, uint8_t>, uint32_t> dictionary;
    uint32_t next = 258;
    put(256, next);
    for (size_t i = 0; i < size; ++i) {
        uint32_t match = data[i];
        std::map<std::pair<uint32_t, uint8_t>, uint32_t>::iterator found;
        // Cut at every pieceSize bytes, but not between two pieces of one same byte.
        auto same = [&](size_t from, size_t to) {
            for (size_t k = from; k < to; ++k)
                if (data[k] != data[from])
                    return false;
            return true;
        };
        auto cut = [&](size_t at) {
            if (pieceSize == 0 || at % pieceSize != 0)
                return false;
            const size_t end = at + pieceSize < size ? at + pieceSize : size;
            return !(same(at - pieceSize, at) && same(at, end) && data[at - 1] == data[at]);
        };
        while (i + 1 < size && !cut(i + 1) && (found = dictionary.find({match, data[i + 1]})) != dictionary.end()) {
            match = found->second;
            ++i;
        }
        put(match, next);
        if (i + 1 < size && cut(i + 1)) {
            put(256, next + 1);
            dictionary.clear();
            next = 258;
        } else if (i + 1 < size) {
            dictionary[{match, data[i + 1]}] = next++;
            if (next >= 4093) {
                put(256, next);
                dictionary.clear();
                next = 258;
            }
        }
    }
    put(257, next + 1);
    return out;
}

// The decoder's callbacks: a stream held in a Source read in blocks, output appended to its stream.
int ReadBlock(uint8_t* buffer, uint32_t count, void* ctx)
{
    Source* s = static_cast<Source*>(ctx);
    if (count > s->size - s->position)
        std::abort();  // asked for input beyond the compressed length
    std::memcpy(buffer, s->data + s->position, count);
    s->position += count;
    return 1;
}

int WriteByte(uint8_t value, void* ctx)
{
    static_cast<Source*>(ctx)->stream.push_back(value);
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
    if (ReferenceStream(source.data, source.size) != source.stream)
        std::abort();

    std::vector<uint8_t> reference;
    if (!LzwEncodeBuffer(source.data, static_cast<uint32_t>(source.size), &reference) || reference != source.stream)
        std::abort();

    // The split stream: the reference with clears, decoding back through both decoders.
    const uint32_t pieceSize = chunk * 7 % 5000 + 50;
    std::vector<uint8_t> split;
    if (!LzwEncodeBuffer(source.data, static_cast<uint32_t>(source.size), &split, pieceSize) ||
        split != ReferenceStream(source.data, source.size, source.size > pieceSize ? pieceSize : 0))
        std::abort();
    for (const std::vector<uint8_t>* stream : {&source.stream, &split}) {
        std::vector<uint8_t> out(source.size + 1);
        uint32_t produced = 0;
        if (LzwDecodeBuffer(stream->data(), static_cast<uint32_t>(stream->size()), out.data(),
                            static_cast<uint32_t>(source.size), &produced) != 1 ||
            produced != source.size || std::memcmp(out.data(), source.data, source.size) != 0)
            std::abort();
        Source back{stream->data(), stream->size(), 0, {}, chunk};
        LzwDecoder decoder;
        if (decoder.Decompress(static_cast<uint32_t>(stream->size()), ReadBlock, WriteByte, &back, chunk, 0) != 1 ||
            back.stream.size() != source.size ||
            (source.size && std::memcmp(back.stream.data(), source.data, source.size) != 0))
            std::abort();
    }

    // The run coder: the bits of coding as many copies of the first byte, as every kind of piece.
    if (source.size > 0) {
        const std::vector<uint8_t> run(source.size, source.data[0]);
        const LzwPiece where{(chunk & 1) != 0, (chunk & 2) != 0};
        std::vector<uint8_t> coded, worked;
        uint64_t codedBits = 0, workedBits = 0;
        if (!LzwEncodeBuffer(run.data(), static_cast<uint32_t>(run.size()), &coded, where, &codedBits) ||
            !LzwEncodeRun(source.data[0], static_cast<uint32_t>(run.size()), &worked, where, &workedBits) ||
            codedBits != workedBits || coded != worked)
            std::abort();
    }
    return 0;
}
