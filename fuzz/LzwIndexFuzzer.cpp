// A split LZW stream against a damaged or lying piece index: the indexed decode gives what the sequential one gives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ByteView.h"
#include "LzwCodec.h"
#include "LzwIndexedDecode.h"
#include "PieceIndex.h"

namespace {

struct Taken {
    std::vector<uint8_t> bytes;
};

bool Take(const uint8_t* data, uint32_t length, void* ctx)
{
    if (length == 0 || length > kLzwPieceSize)
        std::abort();
    auto* taken = static_cast<Taken*>(ctx);
    taken->bytes.insert(taken->bytes.end(), data, data + length);
    return true;
}

int8_t Signed(uint8_t b) { return static_cast<int8_t>(b); }

}  // namespace

// Input: 8 control bytes, then the content. The content is coded split at a
// piece size from the control bytes, with its index; the control bytes then
// move a start bit, change a length, drop or repeat a piece and flip a bit of
// the stream. The raw input is also read as an index record, which must
// write back to the same bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1u << 16)
        return 0;
    PieceIndex record;
    if (PieceIndex::Decode(ByteView(data, static_cast<uint32_t>(size)), &record)) {
        const std::vector<uint8_t> again = record.Encode();
        // A record that reads is written back as it was (streams of fewer
        // than two pieces never read).
        if (again.size() != size || std::memcmp(again.data(), data, size) != 0)
            std::abort();
    }
    if (size < 8)
        return 0;
    const uint8_t* control = data;
    const uint8_t* content = data + 8;
    const uint32_t length = static_cast<uint32_t>(size - 8);
    const uint32_t pieceSize = 1 + (control[0] | control[1] << 8) % 2048;
    std::vector<uint8_t> stream;
    std::vector<LzwPieceBounds> index;
    if (!LzwEncodeBuffer(content, length, &stream, pieceSize, &index))
        std::abort();

    const bool lie = (control[2] & 1) != 0;
    const bool damage = (control[2] & 2) != 0;
    if (lie && !index.empty()) {
        LzwPieceBounds& piece = index[control[3] % index.size()];
        piece.startBit += Signed(control[4]);
        piece.length += Signed(control[5]);
        if (control[2] & 4)
            index.erase(index.begin() + control[6] % index.size());
        if ((control[2] & 8) && !index.empty()) {
            const LzwPieceBounds copy = index[control[7] % index.size()];
            index.insert(index.begin() + control[6] % index.size(), copy);
        }
    }
    if (damage && !stream.empty()) {
        const size_t bit = (static_cast<size_t>(control[6]) << 8 | control[7]) % (stream.size() * 8);
        stream[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
    }

    Taken sequential, indexed;
    uint32_t sequentialProduced = 0, indexedProduced = 0;
    const int sequentialResult = LzwDecodePieces(stream.data(), static_cast<uint32_t>(stream.size()), Take,
                                                 &sequential, &sequentialProduced);
    const int indexedResult =
        LzwDecodeIndexed(stream.data(), static_cast<uint32_t>(stream.size()), index.data(),
                         static_cast<uint32_t>(index.size()), 2, Take, &indexed, &indexedProduced);
    if (sequentialResult != indexedResult || sequentialProduced != indexedProduced ||
        sequential.bytes != indexed.bytes)
        std::abort();
    if (!damage && (indexedResult != 1 || indexed.bytes.size() != length ||
                    (length > 0 && std::memcmp(indexed.bytes.data(), content, length) != 0)))
        std::abort();
    return 0;
}
