// The piece index: writing it, reading it through a bounds-checked view, and finding a stream in it.
#include "PieceIndex.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kTag[4] = {'O', 'I', 'D', 'X'};

}  // namespace

void PieceIndex::Add(IndexedStream stream)
{
    if (stream.pieces.size() < 2)
        return;
    const auto at = std::upper_bound(streams_.begin(), streams_.end(), stream.offset,
                                     [](uint32_t offset, const IndexedStream& s) { return offset < s.offset; });
    streams_.insert(at, std::move(stream));
}

std::vector<uint8_t> PieceIndex::Encode() const
{
    size_t size = kPieceIndexHeaderSize;
    for (const IndexedStream& s : streams_)
        size += kPieceIndexStreamSize + kPieceIndexPieceSize * s.pieces.size();
    std::vector<uint8_t> bytes(size, 0);
    ByteSpan out(bytes.data(), static_cast<uint32_t>(size));
    (void)out.WriteBytes(0, kTag, sizeof kTag);
    (void)out.WriteU16(4, kPieceIndexVersion);
    (void)out.WriteU16(6, static_cast<uint16_t>(kPieceIndexHeaderSize));
    (void)out.WriteU32(8, static_cast<uint32_t>(streams_.size()));
    uint32_t at = kPieceIndexHeaderSize;
    for (const IndexedStream& s : streams_) {
        (void)out.WriteU32(at, s.offset);
        (void)out.WriteU32(at + 4, s.length);
        (void)out.WriteU32(at + 8, static_cast<uint32_t>(s.pieces.size()));
        at += kPieceIndexStreamSize;
        for (const LzwPieceBounds& piece : s.pieces) {
            (void)out.WriteU32(at, static_cast<uint32_t>(piece.startBit));
            (void)out.WriteU32(at + 4, static_cast<uint32_t>(piece.startBit >> 32));
            (void)out.WriteU32(at + 8, piece.length);
            at += kPieceIndexPieceSize;
        }
    }
    return bytes;
}

bool PieceIndex::Decode(const ByteView& bytes, PieceIndex* index)
{
    index->streams_.clear();
    const uint8_t* tag = nullptr;
    uint16_t version = 0, headerSize = 0;
    uint32_t count = 0, reserved = 0;
    if (!bytes.Bytes(0, sizeof kTag, &tag) || std::memcmp(tag, kTag, sizeof kTag) != 0 ||
        !bytes.ReadU16(4, &version) || !bytes.ReadU16(6, &headerSize) || !bytes.ReadU32(8, &count) ||
        !bytes.ReadU32(12, &reserved) || version != kPieceIndexVersion || headerSize != kPieceIndexHeaderSize ||
        reserved != 0)
        return false;
    // Every stream takes at least its own record: a count beyond that is a lie, refused before any allocation.
    if (count > (bytes.Size() - kPieceIndexHeaderSize) / kPieceIndexStreamSize)
        return false;
    std::vector<IndexedStream> streams(count);
    uint32_t at = kPieceIndexHeaderSize;
    for (uint32_t i = 0; i < count; ++i) {
        IndexedStream& s = streams[i];
        uint32_t pieces = 0;
        if (!bytes.ReadU32(at, &s.offset) || !bytes.ReadU32(at + 4, &s.length) || !bytes.ReadU32(at + 8, &pieces) ||
            !bytes.ReadU32(at + 12, &reserved) || reserved != 0 || pieces < 2)
            return false;
        at += kPieceIndexStreamSize;
        if (pieces > (bytes.Size() - at) / kPieceIndexPieceSize)
            return false;
        if (i > 0 && s.offset <= streams[i - 1].offset)
            return false;
        s.pieces.resize(pieces);
        for (LzwPieceBounds& piece : s.pieces) {
            uint32_t low = 0, high = 0;
            (void)bytes.ReadU32(at, &low);
            (void)bytes.ReadU32(at + 4, &high);
            (void)bytes.ReadU32(at + 8, &piece.length);
            piece.startBit = uint64_t{high} << 32 | low;
            at += kPieceIndexPieceSize;
        }
    }
    if (at != bytes.Size())
        return false;
    index->streams_ = std::move(streams);
    return true;
}

const IndexedStream* PieceIndex::Find(uint32_t offset, uint32_t length) const
{
    const auto at = std::lower_bound(streams_.begin(), streams_.end(), offset,
                                     [](const IndexedStream& s, uint32_t o) { return s.offset < o; });
    if (at == streams_.end() || at->offset != offset || at->length != length)
        return nullptr;
    return &*at;
}
