// Split LZW streams: pieces of input coded one after the other, the bits of one piece decoded.
#include "LzwPieces.h"

#include <cstring>

#include "LzwBitJoiner.h"
#include "LzwEncoder.h"

bool LzwIsRun(const uint8_t* in, uint32_t n)
{
    return n > 0 && (n == 1 || std::memcmp(in, in + 1, n - 1) == 0);
}

namespace {

// Whether a split stream codes piece together with the piece before it: both
// are runs of the same byte.
bool JoinsRun(const uint8_t* before, uint32_t beforeLength, const uint8_t* piece, uint32_t length)
{
    return LzwIsRun(before, beforeLength) && LzwIsRun(piece, length) && before[0] == piece[0];
}

}  // namespace

int LzwEncodeBuffer(const uint8_t* in, uint32_t n, std::vector<uint8_t>* out, uint32_t pieceSize,
                    std::vector<LzwPieceBounds>* bounds)
{
    if (bounds)
        bounds->clear();
    if (pieceSize == 0 || n <= pieceSize) {
        if (bounds)
            bounds->push_back(LzwPieceBounds{0, n});
        return LzwEncodeBuffer(in, n, out);
    }
    out->clear();
    LzwBitJoiner joiner;
    std::vector<uint8_t> bits;
    uint64_t at = 0;
    while (at < n) {
        // A piece, and the pieces after it as long as each repeats the byte of a run before it.
        uint64_t end = at + pieceSize < n ? at + pieceSize : n;
        while (end < n) {
            const uint32_t next = static_cast<uint32_t>(n - end < pieceSize ? n - end : pieceSize);
            if (!JoinsRun(in + end - pieceSize, pieceSize, in + end, next))
                break;
            end += next;
        }
        uint64_t bitLength = 0;
        LzwEncodeBuffer(in + at, static_cast<uint32_t>(end - at), &bits, LzwPiece{at == 0, end == n}, &bitLength);
        if (bounds)
            bounds->push_back(LzwPieceBounds{joiner.BitCount(), static_cast<uint32_t>(end - at)});
        joiner.Append(bits.data(), bitLength, out);
        at = end;
    }
    joiner.Finish(out);
    return 1;
}

namespace {

// The bits of one piece made into a whole stream: a clear code in front of any
// but the first, an end code (read after a clear, so in 9 bits) behind any but
// the last. false when that stream would not fit 4 GB.
bool StreamOfPiece(const uint8_t* bits, uint64_t bitLength, LzwPiece piece, std::vector<uint8_t>* stream)
{
    static const uint8_t kOpen[2] = {0x80, 0x00};
    static const uint8_t kClose[2] = {0x80, 0x80};
    stream->clear();
    stream->reserve(static_cast<size_t>(bitLength / 8) + 4);
    LzwBitJoiner joiner;
    if (!piece.first)
        joiner.Append(kOpen, 9, stream);
    joiner.Append(bits, bitLength, stream);
    if (!piece.last)
        joiner.Append(kClose, 9, stream);
    joiner.Finish(stream);
    return stream->size() <= UINT32_MAX;
}

}  // namespace

int LzwDecodeBuffer(const uint8_t* bits, uint64_t bitLength, LzwPiece piece, uint8_t* out, uint32_t outCapacity,
                    uint32_t* produced)
{
    std::vector<uint8_t> stream;
    if (!StreamOfPiece(bits, bitLength, piece, &stream)) {
        *produced = 0;
        return 0;
    }
    return LzwDecodeBuffer(stream.data(), static_cast<uint32_t>(stream.size()), out, outCapacity, produced);
}

int LzwDecodePieces(const uint8_t* bits, uint64_t bitLength, LzwPiece piece, LzwPieceSink sink, void* context,
                    uint32_t* produced)
{
    std::vector<uint8_t> stream;
    if (!StreamOfPiece(bits, bitLength, piece, &stream)) {
        if (produced)
            *produced = 0;
        return 0;
    }
    return LzwDecodePieces(stream.data(), static_cast<uint32_t>(stream.size()), sink, context, produced);
}
