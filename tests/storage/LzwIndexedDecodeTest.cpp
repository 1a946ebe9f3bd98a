// Indexed LZW decoding: the index's pieces on several threads, and every damaged or lying index falling back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "LzwCodec.h"
#include "LzwIndexedDecode.h"
#include "ProgressHook.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Index = std::vector<LzwPieceBounds>;

constexpr uint32_t kPiece = 40000;

// Text, noise, a run of zeros over several pieces (coded as one) and text
// again: pieces of every kind, split every kPiece bytes.
Bytes MixedInput()
{
    std::mt19937 gen(5);
    Bytes out;
    const std::string words = "setup package entry group Commonfiles ORG.SETUP.EXE language \r\n";
    while (out.size() < 3 * kPiece + 1234)
        out.push_back(static_cast<uint8_t>(words[gen() % words.size()]));
    while (out.size() < 5 * kPiece)
        out.push_back(static_cast<uint8_t>(gen()));
    out.resize(out.size() + 3 * kPiece, 0);
    while (out.size() < 9 * kPiece + 99)
        out.push_back(static_cast<uint8_t>(words[gen() % words.size()]));
    return out;
}

// What a decode handed over: the bytes, the pieces' sizes, the progress told.
struct Outcome : ProgressHook {
    Bytes bytes;
    uint32_t produced = 0;
    int result = -1;
    bool oversized = false;
    uint64_t told = 0;
    size_t refuseAfter = SIZE_MAX;
    size_t pieces = 0;
    void Advance(uint64_t n) override { told += n; }
};

bool Collect(const uint8_t* data, uint32_t length, void* context)
{
    Outcome& o = *static_cast<Outcome*>(context);
    if (o.pieces++ >= o.refuseAfter)
        return false;
    o.oversized = o.oversized || length == 0 || length > kLzwPieceSize;
    o.bytes.insert(o.bytes.end(), data, data + length);
    return true;
}

Outcome Sequential(const Bytes& stream, size_t refuseAfter = SIZE_MAX)
{
    Outcome o;
    o.refuseAfter = refuseAfter;
    o.result = LzwDecodePieces(stream.data(), static_cast<uint32_t>(stream.size()), Collect, &o, &o.produced, &o);
    return o;
}

Outcome Indexed(const Bytes& stream, const Index& index, unsigned threads, size_t refuseAfter = SIZE_MAX)
{
    Outcome o;
    o.refuseAfter = refuseAfter;
    o.result = LzwDecodeIndexed(stream.data(), static_cast<uint32_t>(stream.size()), index.data(),
                                static_cast<uint32_t>(index.size()), threads, Collect, &o, &o.produced, &o);
    return o;
}

void ExpectSame(const Outcome& expected, const Outcome& got, const std::string& what)
{
    SCOPED_TRACE(what);
    EXPECT_EQ(expected.result, got.result);
    EXPECT_EQ(expected.produced, got.produced);
    EXPECT_TRUE(expected.bytes == got.bytes) << expected.bytes.size() << " bytes expected, " << got.bytes.size()
                                             << " handed over";
    EXPECT_EQ(expected.told, got.told);
    EXPECT_FALSE(got.oversized);
}

}  // namespace

TEST(LzwIndexedDecode, TheEncodersIndexDecodesToTheInputOnAnyNumberOfThreads)
{
    const Bytes input = MixedInput();
    Bytes stream;
    Index index;
    ASSERT_EQ(1, LzwEncodeBuffer(input.data(), static_cast<uint32_t>(input.size()), &stream, kPiece, &index));
    // Ten pieces of input, of which the three of zeros are coded as one.
    ASSERT_EQ(8u, index.size());
    EXPECT_EQ(3 * kPiece, index[5].length);
    uint64_t total = 0;
    for (const LzwPieceBounds& piece : index)
        total += piece.length;
    EXPECT_EQ(input.size(), total);

    const Outcome reference = Sequential(stream);
    ASSERT_EQ(1, reference.result);
    ASSERT_TRUE(reference.bytes == input);
    for (unsigned threads : {0u, 1u, 2u, 3u, 8u})
        ExpectSame(reference, Indexed(stream, index, threads), std::to_string(threads) + " threads");

    // Each piece also decodes on its own, to exactly its length; not one bit short of its end.
    for (size_t k = 0; k < index.size(); ++k) {
        const bool last = k + 1 == index.size();
        const uint64_t end = last ? uint64_t{stream.size()} * 8 : index[k + 1].startBit;
        uint32_t produced = 0;
        EXPECT_EQ(1, LzwDecodeSpanPieces(stream.data(), static_cast<uint32_t>(stream.size()), index[k].startBit, end,
                                         last, nullptr, nullptr, &produced))
            << k;
        EXPECT_EQ(index[k].length, produced) << k;
        EXPECT_EQ(0, LzwDecodeSpanPieces(stream.data(), static_cast<uint32_t>(stream.size()), index[k].startBit,
                                         end - 1, last, nullptr, nullptr, &produced))
            << k;
    }
}

TEST(LzwIndexedDecode, ALyingIndexGivesTheSequentialResult)
{
    const Bytes input = MixedInput();
    Bytes stream;
    Index index;
    ASSERT_EQ(1, LzwEncodeBuffer(input.data(), static_cast<uint32_t>(input.size()), &stream, kPiece, &index));
    const Outcome reference = Sequential(stream);
    ASSERT_TRUE(reference.bytes == input);
    const uint64_t streamBits = uint64_t{stream.size()} * 8;

    std::vector<std::pair<std::string, Index>> lies;
    auto lie = [&](const std::string& what, const std::function<void(Index&)>& change) {
        Index changed = index;
        change(changed);
        lies.emplace_back(what, changed);
    };
    lie("no pieces", [](Index& i) { i.clear(); });
    lie("one piece left", [](Index& i) { i.resize(1); });
    lie("last piece missing", [](Index& i) { i.pop_back(); });
    lie("a piece missing", [](Index& i) { i.erase(i.begin() + 2); });
    lie("a piece twice", [](Index& i) { i.insert(i.begin() + 3, i[3]); });
    lie("a piece more at the end", [&](Index& i) { i.push_back(LzwPieceBounds{streamBits - 9, 1}); });
    lie("out of order", [](Index& i) { std::swap(i[2], i[3]); });
    lie("first not at 0", [](Index& i) { i[0].startBit = 1; });
    lie("past the stream", [&](Index& i) { i[5].startBit = streamBits + 100; });
    lie("last at the stream's end", [&](Index& i) { i.back().startBit = streamBits; });
    for (size_t k = 1; k < index.size(); ++k) {
        lie("piece " + std::to_string(k) + " one bit early", [k](Index& i) { i[k].startBit -= 1; });
        lie("piece " + std::to_string(k) + " one bit late", [k](Index& i) { i[k].startBit += 1; });
    }
    for (size_t k = 0; k < index.size(); ++k) {
        lie("piece " + std::to_string(k) + " one byte long", [k](Index& i) { i[k].length += 1; });
        lie("piece " + std::to_string(k) + " one byte short", [k](Index& i) { i[k].length -= 1; });
    }
    lie("lengths moved between pieces", [](Index& i) {
        i[1].length += 1000;
        i[2].length -= 1000;
    });
    lie("lengths past 32 bits", [](Index& i) { i[1].length = UINT32_MAX; });
    for (const auto& [what, lying] : lies)
        ExpectSame(reference, Indexed(stream, lying, 3), what);
}

TEST(LzwIndexedDecode, DamagedStreamsAndRefusingSinksEndAsTheSequentialDecodeDoes)
{
    const Bytes input = MixedInput();
    Bytes stream;
    Index index;
    ASSERT_EQ(1, LzwEncodeBuffer(input.data(), static_cast<uint32_t>(input.size()), &stream, kPiece, &index));

    // A flipped bit anywhere, a cut stream, trailing bytes: the index is true
    // to the original stream, not to the damaged one.
    std::mt19937 gen(11);
    for (int round = 0; round < 40; ++round) {
        Bytes damaged = stream;
        const size_t bit = gen() % (damaged.size() * 8);
        damaged[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
        ExpectSame(Sequential(damaged), Indexed(damaged, index, 2), "bit " + std::to_string(bit));
    }
    Bytes cut(stream.begin(), stream.end() - 3);
    const Outcome cutReference = Sequential(cut);
    EXPECT_EQ(0, cutReference.result);
    ExpectSame(cutReference, Indexed(cut, index, 2), "cut");
    Bytes longer = stream;
    longer.resize(stream.size() + 5000, 0x55);
    ExpectSame(Sequential(longer), Indexed(longer, index, 2), "trailing bytes");

    // A sink that refuses: nothing more is handed over.
    for (size_t after : {size_t{0}, size_t{1}, size_t{5}}) {
        const Outcome refused = Indexed(stream, index, 2, after);
        EXPECT_EQ(0, refused.result) << after;
        EXPECT_EQ(after + 1, refused.pieces) << "asked again after a refusal";
        EXPECT_TRUE(Bytes(input.begin(), input.begin() + refused.bytes.size()) == refused.bytes) << after;
    }
}

TEST(LzwIndexedDecode, APieceTooLongToHoldIsDecodedStraightToTheSinkAndMayStillLie)
{
    // Text, a run of zeros longer than a piece held in memory, text.
    Bytes input(kLzwMaxBufferedPiece + 4 * kLzwPieceSize, 0);
    for (uint32_t i = 0; i < 2 * kLzwPieceSize; ++i)
        input[i] = static_cast<uint8_t>("abcdefghij"[i % 7 + i % 3]);
    input.resize(input.size() + kLzwPieceSize + 17, 'x');
    for (uint32_t i = static_cast<uint32_t>(input.size()) - kLzwPieceSize; i < input.size(); i += 3)
        input[i] = static_cast<uint8_t>(i);
    Bytes stream;
    Index index;
    ASSERT_EQ(1, LzwEncodeBuffer(input.data(), static_cast<uint32_t>(input.size()), &stream, 2 * kLzwPieceSize,
                                 &index));
    ASSERT_EQ(3u, index.size());
    ASSERT_GT(index[1].length, kLzwMaxBufferedPiece);
    const Outcome reference = Sequential(stream);
    ASSERT_TRUE(reference.bytes == input);
    ExpectSame(reference, Indexed(stream, index, 2), "true index");
    // Found out only after its bytes went to the sink: they are not handed over twice.
    for (int64_t change : {-1, 1}) {
        Index lying = index;
        lying[1].length = static_cast<uint32_t>(lying[1].length + change);
        ExpectSame(reference, Indexed(stream, lying, 2), "long piece length " + std::to_string(change));
        lying = index;
        lying[2].startBit = static_cast<uint64_t>(static_cast<int64_t>(lying[2].startBit) + change);
        ExpectSame(reference, Indexed(stream, lying, 2), "piece after it " + std::to_string(change) + " bit");
    }
}
