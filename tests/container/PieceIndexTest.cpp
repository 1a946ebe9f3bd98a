// The piece index record: its pinned layout, and every malformed record read as no index.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "PieceIndex.h"

namespace {

PieceIndex TwoStreams()
{
    PieceIndex index;
    // Added out of order, and a stream of one piece that is left out.
    index.Add(IndexedStream{0x9000, 700, {{0, 4096}, {0x1234567890ull, 77}}});
    index.Add(IndexedStream{0x20, 300, {{0, 10}, {19, 20}, {41, 5}}});
    index.Add(IndexedStream{0x5000, 100, {{0, 10}}});
    return index;
}

std::vector<uint8_t> Encoded() { return TwoStreams().Encode(); }

bool Reads(const std::vector<uint8_t>& bytes)
{
    PieceIndex index = TwoStreams();
    const bool read = PieceIndex::Decode(ByteView(bytes.data(), static_cast<uint32_t>(bytes.size())), &index);
    EXPECT_EQ(!read, index.Empty()) << "a refused record leaves no index behind";
    return read;
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

TEST(PieceIndex, TheLayoutIsPinnedAndReadsBack)
{
    const std::vector<uint8_t> bytes = Encoded();
    ASSERT_EQ(16u + (16 + 3 * 12) + (16 + 2 * 12), bytes.size());
    const std::vector<uint8_t> header = {'O', 'I', 'D', 'X', 1, 0, 16, 0, 2, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(header, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 16));
    // The first stream is the one at the lower offset; the 64-bit start bit low word first.
    const std::vector<uint8_t> firstStream = {0x20, 0, 0, 0, 0x2C, 1, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(firstStream, std::vector<uint8_t>(bytes.begin() + 16, bytes.begin() + 32));
    const size_t lastPiece = bytes.size() - 12;
    const std::vector<uint8_t> piece = {0x90, 0x78, 0x56, 0x34, 0x12, 0, 0, 0, 77, 0, 0, 0};
    EXPECT_EQ(piece, std::vector<uint8_t>(bytes.begin() + lastPiece, bytes.end()));

    PieceIndex read;
    ASSERT_TRUE(PieceIndex::Decode(ByteView(bytes.data(), static_cast<uint32_t>(bytes.size())), &read));
    ASSERT_EQ(2u, read.Streams().size());
    const IndexedStream* found = read.Find(0x9000, 700);
    ASSERT_NE(nullptr, found);
    ASSERT_EQ(2u, found->pieces.size());
    EXPECT_EQ(0x1234567890ull, found->pieces[1].startBit);
    EXPECT_EQ(77u, found->pieces[1].length);
    EXPECT_NE(nullptr, read.Find(0x20, 300));
    // Only the offset and the length together name a stream.
    EXPECT_EQ(nullptr, read.Find(0x9000, 701));
    EXPECT_EQ(nullptr, read.Find(0x20 + 1, 300));
    EXPECT_EQ(nullptr, read.Find(0x5000, 100));
    EXPECT_TRUE(PieceIndex().Encode().size() == 16);
}

TEST(PieceIndex, AMalformedRecordIsNoIndex)
{
    const std::vector<uint8_t> good = Encoded();
    ASSERT_TRUE(Reads(good));
    for (size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(Reads(std::vector<uint8_t>(good.begin(), good.begin() + cut))) << cut;
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    EXPECT_FALSE(Reads(longer));

    struct Change {
        const char* what;
        size_t at;
        uint32_t value;
    };
    const Change changes[] = {
        {"tag", 0, 0x58444950},
        {"version 2", 4, 0x00100002},
        {"header size", 4, 0x00200001},
        {"reserved header field", 12, 1},
        {"one stream more than there are", 8, 3},
        {"a count beyond any record", 8, 0xFFFFFFFF},
        {"a stream of one piece", 16 + 8, 1},
        {"a piece count beyond the record", 16 + 8, 0x40000000},
        {"reserved stream field", 16 + 12, 1},
        {"streams out of order", 16 + 52, 0x10},
        {"two streams at one offset", 16 + 52, 0x20},
    };
    for (const Change& change : changes) {
        std::vector<uint8_t> bytes = good;
        Put32(bytes, change.at, change.value);
        EXPECT_FALSE(Reads(bytes)) << change.what;
    }
}
