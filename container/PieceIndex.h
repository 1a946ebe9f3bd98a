// The piece index of a stamped package (resource OEMDATA/INDEX): where the split compressed streams' pieces start.
//
// A compressed entry above the split size is coded in pieces, each from an
// empty dictionary, whose starts cannot be found without decoding everything
// before them. The index records them so that readers can decode the pieces
// at the same time. It lives beside the package, not in it: the container
// format and its readers do not change, and a package without an index (or
// with one that does not fit its streams) decodes one code after the other,
// to the same bytes.
//
// Layout, little-endian, every field at a fixed place:
//   header, 16 bytes:
//     offset 0,  4 bytes  tag "OIDX"
//     offset 4,  2 bytes  version, 1; any other version is not read
//     offset 6,  2 bytes  header size, 16
//     offset 8,  4 bytes  number of streams
//     offset 12, 4 bytes  0
//   then per stream, in the order of their offsets:
//     offset 0,  4 bytes  offset of the stream's first byte in the package
//     offset 4,  4 bytes  the stream's length in bytes (the entry's compressed size)
//     offset 8,  4 bytes  number of pieces, at least 2
//     offset 12, 4 bytes  0
//     then per piece, 12 bytes:
//       offset 0, 8 bytes  the bit of the stream its codes start at (the first at 0)
//       offset 8, 4 bytes  the bytes it decodes to
// An index of any other size, or with a field out of its range, is
// malformed and read as no index at all. Whether the pieces fit the stream is
// found out by decoding them (LzwDecodeIndexed), not trusted.
#pragma once

#include <cstdint>
#include <vector>

#include "ByteView.h"
#include "LzwCodec.h"

inline constexpr uint32_t kPieceIndexHeaderSize = 16;
inline constexpr uint32_t kPieceIndexStreamSize = 16;
inline constexpr uint32_t kPieceIndexPieceSize = 12;
inline constexpr uint16_t kPieceIndexVersion = 1;

// One split stream of the package.
struct IndexedStream {
    uint32_t offset = 0;
    uint32_t length = 0;
    std::vector<LzwPieceBounds> pieces;
};

class PieceIndex {
public:
    // Adds a stream; those of fewer than two pieces are left out (nothing to gain).
    void Add(IndexedStream stream);
    bool Empty() const { return streams_.empty(); }
    const std::vector<IndexedStream>& Streams() const { return streams_; }

    // The index's bytes.
    std::vector<uint8_t> Encode() const;
    // Reads an index; false (and *index empty) when it is malformed.
    static bool Decode(const ByteView& bytes, PieceIndex* index);

    // The stream of length bytes at offset in the package, or null.
    const IndexedStream* Find(uint32_t offset, uint32_t length) const;

private:
    std::vector<IndexedStream> streams_;
};
