// LZW codec: exact streams, code widths, resets, chunked delivery, round trips and malformed input.
#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "LzwCodec.h"
#include "ProgressHook.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

// --- Callback plumbing ------------------------------------------------------

struct EncodeRun {
    const Bytes* input = nullptr;
    size_t position = 0;
    size_t failAt = SIZE_MAX;  // read-byte fails when asked for this index
    Bytes output;
    std::vector<uint32_t> blocks;
    std::vector<std::pair<uint32_t, uint32_t>> progress;
};

int ReadByteCb(uint8_t* byte, void* ctx)
{
    auto* run = static_cast<EncodeRun*>(ctx);
    if (run->position == run->failAt || run->position >= run->input->size())
        return 0;
    *byte = (*run->input)[run->position++];
    return 1;
}

int WriteBlockCb(const uint8_t* data, uint32_t length, void* ctx)
{
    auto* run = static_cast<EncodeRun*>(ctx);
    run->output.insert(run->output.end(), data, data + length);
    run->blocks.push_back(length);
    return 1;
}

void EncodeProgressCb(uint32_t done, uint32_t total, void* ctx)
{
    static_cast<EncodeRun*>(ctx)->progress.emplace_back(done, total);
}

Bytes Encode(const Bytes& input, uint32_t chunk = kLzwChunkSize, EncodeRun* details = nullptr)
{
    EncodeRun local;
    EncodeRun& run = details ? *details : local;
    run.input = &input;
    LzwEncoder encoder;
    EXPECT_EQ(1, encoder.Compress(static_cast<uint32_t>(input.size()), ReadByteCb, WriteBlockCb, &run, chunk,
                                  EncodeProgressCb, &run));
    encoder.Finish(WriteBlockCb, &run);
    EXPECT_EQ(run.output.size(), encoder.GetCompressedSize());
    return run.output;
}

struct DecodeRun {
    const Bytes* input = nullptr;
    size_t position = 0;
    uint64_t requested = 0;
    std::vector<uint32_t> requests;
    Bytes output;
    std::vector<std::pair<uint32_t, uint32_t>> progress;
};

int ReadBlockCb(uint8_t* buffer, uint32_t count, void* ctx)
{
    auto* run = static_cast<DecodeRun*>(ctx);
    run->requested += count;
    run->requests.push_back(count);
    // Past the end of the stream the callback delivers zeros, like an unused memory block.
    for (uint32_t i = 0; i < count; ++i, ++run->position)
        buffer[i] = run->position < run->input->size() ? (*run->input)[run->position] : 0;
    return 1;
}

int WriteByteCb(uint8_t value, void* ctx)
{
    static_cast<DecodeRun*>(ctx)->output.push_back(value);
    return 1;
}

void DecodeProgressCb(uint32_t done, uint32_t total, void* ctx)
{
    static_cast<DecodeRun*>(ctx)->progress.emplace_back(done, total);
}

int Decode(const Bytes& stream, Bytes* output, uint32_t chunk = kLzwChunkSize, DecodeRun* details = nullptr,
           uint32_t compressedLength = UINT32_MAX)
{
    DecodeRun local;
    DecodeRun& run = details ? *details : local;
    run.input = &stream;
    if (compressedLength == UINT32_MAX)
        compressedLength = static_cast<uint32_t>(stream.size());
    LzwDecoder decoder;
    int result = decoder.Decompress(compressedLength, ReadBlockCb, WriteByteCb, &run, chunk, 1234, DecodeProgressCb,
                                    &run);
    EXPECT_EQ(run.output.size(), decoder.GetOutputLength());
    *output = run.output;
    return result;
}

// --- An independent bit packer for building expected and malformed streams ---

struct Code {
    uint32_t value;
    uint32_t width;
};

Bytes Pack(const std::vector<Code>& codes)
{
    Bytes out;
    uint64_t bits = 0;
    for (const Code& c : codes) {
        for (int b = static_cast<int>(c.width) - 1; b >= 0; --b, ++bits) {
            if (bits % 8 == 0)
                out.push_back(0);
            if ((c.value >> b) & 1)
                out.back() |= static_cast<uint8_t>(0x80 >> (bits % 8));
        }
    }
    return out;
}

uint32_t Width(uint32_t n) { return n < 512 ? 9 : n < 1024 ? 10 : n < 2048 ? 11 : 12; }

// Bytes whose adjacent pairs are all different: 0, d, 2d, ... for odd steps d.
// No pair ever repeats, so every code the encoder writes is a single byte.
Bytes DistinctPairs(size_t length)
{
    Bytes out;
    for (uint32_t d = 1; out.size() < length; d += 2)
        for (uint32_t k = 0; k < 256 && out.size() < length; ++k)
            out.push_back(static_cast<uint8_t>(k * d));
    return out;
}

// The stream the encoder must give for input made only of single-byte codes:
// 256 in 9 bits, each byte in w(N), a 12-bit clear whenever N reaches 4093, the
// end code in w(N + 1).
std::vector<Code> SingleByteSchedule(const Bytes& input)
{
    std::vector<Code> codes{{256, 9}};
    uint32_t n = 258;
    for (size_t i = 0; i < input.size(); ++i) {
        codes.push_back({input[i], Width(n)});
        if (i + 1 == input.size())
            break;
        ++n;
        if (n >= 4093) {
            codes.push_back({256, 12});
            n = 258;
        }
    }
    codes.push_back({257, Width(n + 1)});
    return codes;
}

// The code sequence by the definition of the stream alone, with the plainest
// dictionary: a map from (code, byte) to code. The longest match is written in
// w(N) when the next byte does not extend it, and match + byte becomes N; a
// 12-bit clear and an empty dictionary follow when N reaches 4093.
// With pieceSize, the input is also split every pieceSize bytes: the match
// in progress is written, then a clear code in w(N + 1), and the next piece
// starts from an empty dictionary; but not where the pieces on both sides
// are each one byte value repeated, the same one.
std::vector<Code> ReferenceCodes(const Bytes& input, size_t pieceSize = 0)
{
    auto oneValue = [&](size_t from, size_t to) {
        return std::all_of(input.begin() + from, input.begin() + to, [&](uint8_t b) { return b == input[from]; });
    };
    auto split = [&](size_t i) {
        if (pieceSize == 0 || i == 0 || i % pieceSize != 0)
            return false;
        const size_t end = std::min(i + pieceSize, input.size());
        return !(oneValue(i - pieceSize, i) && oneValue(i, end) && input[i - 1] == input[i]);
    };
    std::map<std::pair<uint32_t, uint8_t>, uint32_t> dictionary;
    std::vector<Code> codes{{256, 9}};
    uint32_t n = 258;
    uint32_t match = UINT32_MAX;  // none before the first byte
    for (size_t i = 0; i < input.size(); ++i) {
        const uint8_t byte = input[i];
        if (split(i)) {
            codes.push_back({match, Width(n)});
            codes.push_back({256, Width(n + 1)});
            dictionary.clear();
            n = 258;
            match = UINT32_MAX;
        }
        auto found = dictionary.find({match, byte});
        if (match == UINT32_MAX || found != dictionary.end()) {
            match = match == UINT32_MAX ? byte : found->second;
            continue;
        }
        codes.push_back({match, Width(n)});
        dictionary[{match, byte}] = n++;
        if (n >= 4093) {
            codes.push_back({256, 12});
            dictionary.clear();
            n = 258;
        }
        match = byte;
    }
    if (match != UINT32_MAX)
        codes.push_back({match, Width(n)});
    codes.push_back({257, Width(n + 1)});
    return codes;
}

Bytes RandomBytes(size_t length, uint32_t seed)
{
    std::mt19937 gen(seed);
    Bytes out(length);
    for (auto& b : out)
        b = static_cast<uint8_t>(gen());
    return out;
}

Bytes Text(size_t length)
{
    static const char* words[] = {"setup ", "package ", "the ", "container ", "entry ", "group ", "\r\n",
                                  "Commonfiles", "=", "ORG.SETUP.EXE ", "language ", "0x1F "};
    std::mt19937 gen(7);
    std::string s;
    while (s.size() < length)
        s += words[gen() % (sizeof(words) / sizeof(words[0]))];
    s.resize(length);
    return FromText(s);
}

// Pieces of a streaming decode, appended; refuses the piece numbered refuseAt.
struct PieceRun {
    Bytes output;
    size_t pieces = 0;
    size_t refuseAt = SIZE_MAX;
    bool oversized = false;
};

bool PieceCb(const uint8_t* data, uint32_t length, void* ctx)
{
    auto* run = static_cast<PieceRun*>(ctx);
    if (run->pieces++ == run->refuseAt)
        return false;
    run->oversized = run->oversized || length == 0 || length > kLzwPieceSize;
    run->output.insert(run->output.end(), data, data + length);
    return true;
}

int DecodePieces(const Bytes& stream, PieceRun* run, uint32_t* produced)
{
    return LzwDecodePieces(stream.data(), static_cast<uint32_t>(stream.size()), PieceCb, run, produced);
}

void ExpectRoundTrip(const Bytes& input, const char* what)
{
    SCOPED_TRACE(std::string(what) + " length " + std::to_string(input.size()));
    Bytes stream = Encode(input);
    Bytes viaCallbacks;
    EXPECT_EQ(1, Decode(stream, &viaCallbacks));
    EXPECT_TRUE(viaCallbacks == input);

    Bytes viaBuffer(input.size() + 1, 0xEE);
    uint32_t produced = 0;
    EXPECT_EQ(1, LzwDecodeBuffer(stream.data(), static_cast<uint32_t>(stream.size()), viaBuffer.data(),
                                 static_cast<uint32_t>(input.size()), &produced));
    EXPECT_EQ(input.size(), produced);
    EXPECT_EQ(0xEE, viaBuffer.back()) << "wrote past the capacity";
    viaBuffer.pop_back();
    EXPECT_TRUE(viaBuffer == input);

    PieceRun pieces;
    produced = 0;
    EXPECT_EQ(1, DecodePieces(stream, &pieces, &produced));
    EXPECT_EQ(input.size(), produced);
    EXPECT_FALSE(pieces.oversized);
    EXPECT_TRUE(pieces.output == input);

    Bytes viaEncodeBuffer;
    EXPECT_EQ(1, LzwEncodeBuffer(input.data(), static_cast<uint32_t>(input.size()), &viaEncodeBuffer));
    EXPECT_TRUE(viaEncodeBuffer == stream);
}

}  // namespace

// --- Exact streams --------------------------------------------------------------

TEST(LzwExactStreams, KnownInputsGiveKnownBytes)
{
    struct Case {
        const char* input;
        Bytes stream;
    } cases[] = {
        {"", {0x80, 0x40, 0x40}},
        {"abc", {0x80, 0x18, 0x4C, 0x46, 0x38, 0x08}},
        {"ABABABA", {0x80, 0x10, 0x48, 0x50, 0x28, 0x24, 0x04}},  // 260 is used before it is defined
        {"A", {0x80, 0x10, 0x60, 0x20}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        Bytes input = FromText(c.input);
        EXPECT_EQ(c.stream, Encode(input));
        Bytes decoded;
        EXPECT_EQ(1, Decode(c.stream, &decoded));
        EXPECT_EQ(input, decoded);
    }
}

TEST(LzwExactStreams, MatchTheReferenceThroughManyResetsInBothPaths)
{
    // Runs of three symbols: long matches beside short ones, as in program files.
    // Each input resets the dictionary at least the given number of times.
    const uint8_t symbols[] = {0x00, 0xFF, 'A'};
    std::mt19937 gen(5);
    Bytes runs;
    while (runs.size() < 120000)
        runs.insert(runs.end(), 1 + gen() % 12, symbols[gen() % 3]);
    // Text, random, text: the buffer path changes its coding loop between generations.
    Bytes mixed = Text(60000);
    Bytes noise = RandomBytes(20000, 4);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    mixed.insert(mixed.end(), runs.begin(), runs.begin() + 60000);
    // Long runs: generations of 16 bytes or more per code, opening with a
    // run, then text between them, so the coding loop changes both ways.
    Bytes longRuns(3000, 0x00);
    while (longRuns.size() < 400000)
        longRuns.insert(longRuns.end(), 30 + gen() % 400, symbols[gen() % 3]);
    Bytes text = Text(40000);
    longRuns.insert(longRuns.end(), text.begin(), text.end());
    longRuns.insert(longRuns.end(), 200000, 'A');
    longRuns.insert(longRuns.end(), text.begin(), text.end());
    struct Case {
        const char* what;
        Bytes input;
        size_t resets;
    } cases[] = {{"random", RandomBytes(40000, 3), 10},
                 {"text", Text(300000), 3},
                 {"runs", runs, 2},
                 {"text, random, runs", mixed, 6},
                 {"long runs, text", longRuns, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Code> codes = ReferenceCodes(c.input);
        size_t resets = std::count_if(codes.begin() + 1, codes.end(), [](const Code& k) { return k.value == 256; });
        ASSERT_GE(resets, c.resets);
        Bytes expected = Pack(codes);
        EXPECT_TRUE(Encode(c.input, 1) == expected);
        EXPECT_TRUE(Encode(c.input) == expected);
        Bytes viaBuffer;
        EXPECT_EQ(1, LzwEncodeBuffer(c.input.data(), static_cast<uint32_t>(c.input.size()), &viaBuffer));
        EXPECT_TRUE(viaBuffer == expected);
    }
}

TEST(LzwExactStreams, PaddingIsIgnoredAndADoubleClearDefinesNothing)
{
    // "abc" uses 45 bits: the low 3 bits of the last byte are padding.
    for (uint8_t padding = 0; padding < 8; ++padding) {
        Bytes decoded;
        EXPECT_EQ(1, Decode({0x80, 0x18, 0x4C, 0x46, 0x38, static_cast<uint8_t>(0x08 | padding)}, &decoded));
        EXPECT_EQ(FromText("abc"), decoded);
    }
    // After the second clear, 'x' defines nothing, so 258 is still free for "xy".
    Bytes decoded;
    EXPECT_EQ(1, Decode(Pack({{256, 9}, {256, 9}, {'x', 9}, {'y', 9}, {258, 9}, {257, 9}}), &decoded));
    EXPECT_EQ(FromText("xyxy"), decoded);
}

// --- Code widths and dictionary resets ---------------------------------------------

TEST(LzwWidths, SingleByteCodesFollowTheWidthSchedule)
{
    // n distinct-pair bytes: the final data code is written with N = 257 + n, so
    // the end code widens at 254, 766 and 1790 bytes; 3840 bytes pass the
    // reset (a 12-bit clear when N reaches 4093, then 9-bit codes again) and
    // 12000 bytes pass it three times.
    struct Case {
        size_t length;
        uint32_t endWidth;
    } cases[] = {{1, 9}, {253, 9}, {254, 10}, {766, 11}, {1790, 12}, {3840, 9}, {12000, 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        Bytes input = DistinctPairs(c.length);
        std::vector<Code> expected = SingleByteSchedule(input);
        ASSERT_EQ(c.endWidth, expected.back().width);
        Bytes stream = Encode(input);
        EXPECT_EQ(Pack(expected), stream);
        Bytes decoded;
        EXPECT_EQ(1, Decode(stream, &decoded));
        EXPECT_EQ(input, decoded);
    }
    std::vector<Code> schedule = SingleByteSchedule(DistinctPairs(3840));
    EXPECT_EQ(256u, schedule[3836].value);
    EXPECT_EQ(12u, schedule[3836].width);
    EXPECT_EQ(12u, schedule[3835].width);
    EXPECT_EQ(9u, schedule[3837].width);
}

// --- Round trips ------------------------------------------------------------------

TEST(LzwRoundTrip, EveryLengthClassAndDataKind)
{
    const size_t lengths[] = {0, 1, 2, 3, 4, 5, 99, 100, 101, 511, 1023, 1024, 1025, 2049, 4093, 65537};
    for (size_t length : lengths) {
        ExpectRoundTrip(RandomBytes(length, static_cast<uint32_t>(length)), "random");
        ExpectRoundTrip(Text(length), "text");
        ExpectRoundTrip(Bytes(length, 0xFF), "constant");
        Bytes pattern(length);
        for (size_t i = 0; i < length; ++i)
            pattern[i] = static_cast<uint8_t>("ABAB\x80\xFF"[i % 6]);
        ExpectRoundTrip(pattern, "pattern");
    }
    // Random bytes reset the dictionary about every 4 KB; one long run builds
    // the longest strings (3835 bytes) and the deepest trie chain.
    ExpectRoundTrip(RandomBytes(200000, 1), "random, ~50 resets");
    ExpectRoundTrip(Bytes(7400000, 0), "one long run");
}

// --- Chunks and callbacks ---------------------------------------------------------

TEST(LzwChunks, BlocksAndRequestsFollowTheLow16BitsOfTheChunkSize)
{
    Bytes input = Text(20000);
    Bytes reference = Encode(input);
    for (uint32_t chunk : {1u, 2u, 3u, 7u, 1024u, 65535u, 0x10000u + 100u}) {
        SCOPED_TRACE(chunk);
        uint32_t effective = chunk & 0xFFFF;
        EncodeRun encoded;
        EXPECT_EQ(reference, Encode(input, chunk, &encoded));
        for (size_t i = 0; i + 1 < encoded.blocks.size(); ++i)
            ASSERT_EQ(effective, encoded.blocks[i]) << "block " << i;
        EXPECT_LE(encoded.blocks.back(), effective + 5);

        DecodeRun decoded;
        Bytes output;
        EXPECT_EQ(1, Decode(reference, &output, chunk, &decoded));
        EXPECT_EQ(input, output);
        EXPECT_EQ(reference.size(), decoded.requested);
        for (size_t i = 0; i + 1 < decoded.requests.size(); ++i)
            ASSERT_EQ(effective, decoded.requests[i]);
    }
    // Chunk size 0 cannot make progress: refused before any callback.
    DecodeRun run;
    Bytes output;
    EXPECT_EQ(0, Decode(reference, &output, 0x10000, &run));
    EXPECT_TRUE(run.requests.empty() && run.progress.empty());
    EncodeRun encodeRun;
    encodeRun.input = &input;
    LzwEncoder encoder;
    EXPECT_EQ(0, encoder.Compress(3, ReadByteCb, WriteBlockCb, &encodeRun, 0));
    encoder.Finish(WriteBlockCb, &encodeRun);
    EXPECT_TRUE(encodeRun.output.empty());
}

TEST(LzwCallbacks, ProgressReportsStartEveryHundredAndEnd)
{
    Bytes input = Text(350);
    EncodeRun run;
    Bytes stream = Encode(input, kLzwChunkSize, &run);
    std::vector<std::pair<uint32_t, uint32_t>> expected{{0, 350}, {100, 350}, {200, 350}, {300, 350}, {350, 350}};
    EXPECT_EQ(expected, run.progress);

    DecodeRun decodeRun;
    Bytes decoded;
    Decode(stream, &decoded, kLzwChunkSize, &decodeRun);
    std::vector<std::pair<uint32_t, uint32_t>> decodeExpected{{0, 1234}, {1234, 1234}};
    EXPECT_EQ(decodeExpected, decodeRun.progress);
}

TEST(LzwCallbacks, ReadFailureStopsCompressAndTheObjectsServeTheNextStream)
{
    Bytes input = RandomBytes(5000, 9);
    EncodeRun run;
    run.input = &input;
    run.failAt = 3000;
    LzwEncoder encoder;
    EXPECT_EQ(0, encoder.Compress(5000, ReadByteCb, WriteBlockCb, &run, 1024, EncodeProgressCb, &run));
    // Whole chunks delivered before the failure stay delivered; no final progress call.
    EXPECT_FALSE(run.blocks.empty());
    EXPECT_EQ(run.blocks.size() * 1024, run.output.size());
    EXPECT_EQ(run.output.size(), encoder.GetCompressedSize());
    EXPECT_EQ(2900u, run.progress.back().first);
    encoder.Finish(WriteBlockCb, &run);
    EXPECT_EQ(run.blocks.size() * 1024, run.output.size());

    // A fresh stream from the same encoder, then two streams through one decoder.
    EncodeRun again;
    again.input = &input;
    EXPECT_EQ(1, encoder.Compress(5000, ReadByteCb, WriteBlockCb, &again, 1024));
    encoder.Finish(WriteBlockCb, &again);
    EXPECT_EQ(Encode(input), again.output);
    Bytes second = Text(9000);
    Bytes streams[2] = {again.output, Encode(second)};
    const Bytes* inputs[2] = {&input, &second};
    LzwDecoder decoder;
    for (int i = 0; i < 2; ++i) {
        DecodeRun decodeRun;
        decodeRun.input = &streams[i];
        EXPECT_EQ(1, decoder.Decompress(static_cast<uint32_t>(streams[i].size()), ReadBlockCb, WriteByteCb,
                                        &decodeRun, kLzwChunkSize, 0));
        EXPECT_TRUE(decodeRun.output == *inputs[i]) << i;
    }
}

// --- Malformed streams ---------------------------------------------------------------

TEST(LzwMalformed, UndefinedCodesStopDecoding)
{
    struct Case {
        const char* what;
        std::vector<Code> codes;
        int result;
        const char* output;
    } cases[] = {
        {"code beyond the next free code", {{256, 9}, {'A', 9}, {300, 9}, {257, 9}}, 0, "A"},
        {"string code right after the first clear", {{256, 9}, {258, 9}, {257, 9}}, 0, ""},
        {"self-reference without a previous string", {{256, 9}, {256, 9}, {258, 9}, {257, 9}}, 0, ""},
        {"string code right after a clear", {{256, 9}, {'A', 9}, {'B', 9}, {256, 9}, {258, 9}, {257, 9}}, 0, "AB"},
        {"end code missing", {{256, 9}, {'A', 9}, {'B', 9}}, 0, "AB"},
        {"end code without a clear code first", {{257, 9}}, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes stream = Pack(c.codes);
        Bytes decoded;
        EXPECT_EQ(c.result, Decode(stream, &decoded));
        EXPECT_EQ(FromText(c.output), decoded);
        uint32_t produced = 99;
        Bytes out(16, 0);
        EXPECT_EQ(c.result,
                  LzwDecodeBuffer(stream.data(), static_cast<uint32_t>(stream.size()), out.data(), 16, &produced));
        EXPECT_EQ(std::strlen(c.output), produced);
    }
}

TEST(LzwMalformed, StreamThatNeverResetsStopsAtTheTableEnd)
{
    // Single-byte codes without the reset: definitions reach slot 4095, and the
    // code that would define 4096 is refused before it is output.
    Bytes input = DistinctPairs(3900);
    std::vector<Code> codes{{256, 9}};
    uint32_t n = 258;  // the decoder's next free code
    for (size_t i = 0; i < input.size(); ++i) {
        codes.push_back({input[i], Width(n + 1)});
        if (i > 0)
            ++n;
    }
    codes.push_back({257, 12});
    Bytes stream = Pack(codes);
    Bytes decoded;
    EXPECT_EQ(0, Decode(stream, &decoded));
    ASSERT_EQ(4095u - 258u + 2u, decoded.size());
    EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), input.begin()));
}

TEST(LzwMalformed, TruncatedOrOverlongInputIsReported)
{
    Bytes input = Text(5000);
    Bytes stream = Encode(input);
    Bytes decoded;

    // Cut short: the end code is never met.
    Bytes cut(stream.begin(), stream.end() - 2);
    EXPECT_EQ(0, Decode(cut, &decoded));
    EXPECT_LT(decoded.size(), input.size());

    // A shorter compressed length than the stream: never asks for more than that.
    DecodeRun run;
    EXPECT_EQ(0, Decode(stream, &decoded, 1024, &run, 100));
    EXPECT_EQ(100u, run.requested);

    // A length more than a chunk beyond the end code: the end is met early.
    DecodeRun longRun;
    EXPECT_EQ(0, Decode(stream, &decoded, 1024, &longRun, static_cast<uint32_t>(stream.size()) + 2000));
    EXPECT_EQ(input, decoded);

    uint32_t produced = 0;
    Bytes out(input.size());
    EXPECT_EQ(0, LzwDecodeBuffer(cut.data(), static_cast<uint32_t>(cut.size()), out.data(),
                                 static_cast<uint32_t>(out.size()), &produced));
}

TEST(LzwMalformed, RandomAndMutatedStreamsAgreeBetweenBothDecoders)
{
    std::mt19937 gen(11);
    Bytes base = Encode(Text(3000));
    for (int round = 0; round < 400; ++round) {
        Bytes stream;
        if (round % 2) {
            stream = RandomBytes(gen() % 600, static_cast<uint32_t>(round));
            if (!stream.empty())
                stream[0] = 0x80;  // a clear code first gets the decoder going
        } else {
            stream = base;
            for (int flips = 0; flips < 3; ++flips)
                stream[gen() % stream.size()] ^= static_cast<uint8_t>(1u << (gen() % 8));
        }
        SCOPED_TRACE(round);
        Bytes viaCallbacks;
        int callbackResult = Decode(stream, &viaCallbacks);
        // A small capacity clips the output but not the count.
        Bytes out(64 + 8, 0xA5);
        uint32_t produced = 0;
        int bufferResult = LzwDecodeBuffer(stream.data(), static_cast<uint32_t>(stream.size()), out.data(), 64,
                                           &produced);
        EXPECT_EQ(callbackResult, bufferResult);
        ASSERT_EQ(viaCallbacks.size(), produced);
        PieceRun pieces;
        uint32_t streamed = 0;
        EXPECT_EQ(callbackResult, DecodePieces(stream, &pieces, &streamed));
        EXPECT_EQ(produced, streamed);
        EXPECT_TRUE(pieces.output == viaCallbacks);
        size_t stored = std::min<size_t>(64, produced);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<long>(stored), viaCallbacks.begin()));
        for (size_t i = 64; i < out.size(); ++i)
            ASSERT_EQ(0xA5, out[i]) << "wrote past the capacity";
    }
}

// --- Streams split into pieces -------------------------------------------------------

// Decodes stream through the callback decoder and the buffer decoder; both must agree.
Bytes DecodeBothWays(const Bytes& stream)
{
    Bytes viaCallbacks;
    EXPECT_EQ(1, Decode(stream, &viaCallbacks));
    Bytes viaBuffer(viaCallbacks.size() + 1);
    uint32_t produced = 0;
    EXPECT_EQ(1, LzwDecodeBuffer(stream.data(), static_cast<uint32_t>(stream.size()), viaBuffer.data(),
                                 static_cast<uint32_t>(viaBuffer.size()), &produced));
    viaBuffer.resize(produced);
    EXPECT_TRUE(viaBuffer == viaCallbacks);
    return viaCallbacks;
}

Bytes SplitStream(const Bytes& input, uint32_t pieceSize)
{
    Bytes stream;
    EXPECT_EQ(1, LzwEncodeBuffer(input.data(), static_cast<uint32_t>(input.size()), &stream, pieceSize));
    return stream;
}

TEST(LzwSplit, PiecesEndWithAClearInTheWidthTheDecoderReadsAtEveryWidth)
{
    // Made only of single-byte codes, a piece of L bytes ends with N = 257 + L:
    // the closing clear is 9 bits for 100, 10 bits at 254 (N = 511), 11 at 766,
    // 12 at 1790 and 2000; 3836 bytes end exactly on a dictionary reset, so the
    // match after the 12-bit clear and the closing clear are 9 bits again.
    for (uint32_t piece : {100u, 253u, 254u, 255u, 300u, 766u, 1000u, 1790u, 2000u, 3835u, 3836u, 3837u}) {
        SCOPED_TRACE(piece);
        Bytes input = DistinctPairs(3 * piece + 17);
        std::vector<Code> codes = ReferenceCodes(input, piece);
        // The first piece: piece - 1 codes and N as many above 258 (less 3835
        // after a reset), the last match, then its clear.
        const uint32_t misses = piece - 1;
        const bool reset = misses >= 3835;
        const uint32_t n = 258 + (reset ? misses - 3835 : misses);
        const size_t closing = 1 + misses + (reset ? 1 : 0) + 1;
        ASSERT_GT(codes.size(), closing);
        EXPECT_EQ(256u, codes[closing].value);
        EXPECT_EQ(Width(n + 1), codes[closing].width);
        Bytes stream = SplitStream(input, piece);
        EXPECT_TRUE(stream == Pack(codes));
        EXPECT_TRUE(DecodeBothWays(stream) == input);
    }
}

TEST(LzwSplit, MatchTheReferenceForEveryKindOfDataAndAnEmptyLastPiece)
{
    Bytes text = Text(70000), runs(50000, 'z'), random = RandomBytes(30000, 3);
    Bytes mixed = text;
    mixed.insert(mixed.end(), random.begin(), random.end());
    mixed.insert(mixed.end(), runs.begin(), runs.end());
    for (const Bytes* input : {&text, &runs, &random, &mixed}) {
        // 10000 divides the text and the runs: no empty piece, no clear before the end code.
        for (uint32_t piece : {4096u, 10000u, 65536u, 1u << 20}) {
            SCOPED_TRACE(piece);
            Bytes stream = SplitStream(*input, piece);
            EXPECT_TRUE(stream == Pack(ReferenceCodes(*input, piece)));
            EXPECT_TRUE(DecodeBothWays(stream) == *input);
        }
    }
    // Pieces of one and two bytes: a clear after every code or two.
    Bytes head(text.begin(), text.begin() + 600);
    for (uint32_t piece : {1u, 2u, 7u}) {
        SCOPED_TRACE(piece);
        Bytes stream = SplitStream(head, piece);
        EXPECT_TRUE(stream == Pack(ReferenceCodes(head, piece)));
        EXPECT_TRUE(DecodeBothWays(stream) == head);
    }
    // Below or at the piece size, the stream is the unsplit one.
    EXPECT_TRUE(SplitStream(text, 70000) == SplitStream(text, 0));
    Bytes whole;
    ASSERT_EQ(1, LzwEncodeBuffer(text.data(), static_cast<uint32_t>(text.size()), &whole));
    EXPECT_TRUE(SplitStream(text, 70000) == whole);
    // A clear just before the end code, as a split after the last byte would give, decodes as well.
    EXPECT_TRUE(DecodeBothWays(Pack({{256, 9}, {'a', 9}, {'b', 9}, {256, 9}, {257, 9}})) == FromText("ab"));
}

TEST(LzwSplit, RunsOfOneByteAcrossPiecesStayOnePiece)
{
    // Pieces of 1000 bytes: text, text and zeros, four of zeros, one of
    // 0xFF, two and a half of zeros. Only pieces of zeros after a piece of
    // zeros join the piece before.
    Bytes input = Text(1500);
    input.insert(input.end(), 500 + 3 * 1000 + 400, 0x00);
    input.resize(6000, 0x00);
    input.insert(input.end(), 1000, 0xFF);
    input.insert(input.end(), 2500, 0x00);
    std::vector<Code> codes = ReferenceCodes(input, 1000);
    // Unjoined, every boundary but the one at 0 would add a clear.
    const size_t clears = std::count_if(codes.begin() + 1, codes.end(), [](const Code& c) { return c.value == 256; });
    EXPECT_EQ(clears, 4u);  // at 1000 and 2000 (no run before them), before 0xFF and after it
    Bytes stream = SplitStream(input, 1000);
    EXPECT_TRUE(stream == Pack(codes));
    EXPECT_TRUE(DecodeBothWays(stream) == input);
    // A run from the start is the unsplit stream.
    Bytes zeros(5500, 0x00);
    EXPECT_TRUE(SplitStream(zeros, 1000) == SplitStream(zeros, 0));
}

TEST(LzwSplit, TheRunCoderGivesTheBitsOfCodingTheRun)
{
    // A generation of one byte value ends on a reset after 3835 codes of 1 to
    // 3835 bytes, and the byte that opens the first match: 1 + 3835 * 3836 / 2.
    const uint32_t generation = 1 + 3835u * 3836u / 2u;
    for (uint32_t n : {1u, 2u, 3u, 4u, 300u, 70000u, generation - 1, generation, generation + 1, 2 * generation + 5}) {
        for (uint8_t value : {uint8_t{0x00}, uint8_t{0xFF}}) {
            const Bytes run(n, value);
            for (LzwPiece where : {LzwPiece{true, true}, LzwPiece{true, false}, LzwPiece{false, true},
                                   LzwPiece{false, false}}) {
                SCOPED_TRACE(std::to_string(n) + " of " + std::to_string(value) + ", first " +
                             std::to_string(where.first) + ", last " + std::to_string(where.last));
                Bytes expected;
                uint64_t expectedBits = 0;
                ASSERT_EQ(1, LzwEncodeBuffer(run.data(), n, &expected, where, &expectedBits));
                Bytes got;
                uint64_t bits = 0;
                ASSERT_EQ(1, LzwEncodeRun(value, n, &got, where, &bits));
                EXPECT_EQ(expectedBits, bits);
                EXPECT_TRUE(got == expected);
            }
        }
    }
}

TEST(LzwSplit, EachPieceDecodesOnItsOwnAndTheJoinedBitsAreTheStream)
{
    Bytes input = Text(9000);
    input.insert(input.end(), 3000, 'q');
    const uint32_t piece = 2500;
    Bytes joined;
    LzwBitJoiner joiner;
    uint64_t total = 0;
    for (uint32_t at = 0; at < input.size(); at += piece) {
        const uint32_t length = std::min<uint32_t>(piece, static_cast<uint32_t>(input.size()) - at);
        const LzwPiece where{at == 0, at + length == input.size()};
        Bytes bits;
        uint64_t bitLength = 0;
        ASSERT_EQ(1, LzwEncodeBuffer(input.data() + at, length, &bits, where, &bitLength));
        EXPECT_EQ((bitLength + 7) / 8, bits.size());
        Bytes back(length);
        uint32_t produced = 0;
        EXPECT_EQ(1, LzwDecodeBuffer(bits.data(), bitLength, where, back.data(), length, &produced));
        EXPECT_EQ(length, produced);
        EXPECT_TRUE(std::equal(back.begin(), back.end(), input.begin() + at));
        // The streaming form gives the same bytes, and both refuse the piece
        // once a bit of it is flipped.
        PieceRun streamed;
        EXPECT_EQ(1, LzwDecodePieces(bits.data(), bitLength, where, PieceCb, &streamed, &produced));
        EXPECT_EQ(length, produced);
        EXPECT_TRUE(streamed.output == back);
        Bytes damaged = bits;
        damaged[damaged.size() / 2] ^= 0x10;
        PieceRun fromDamaged;
        const int wellFormed = LzwDecodePieces(damaged.data(), bitLength, where, PieceCb, &fromDamaged, &produced);
        EXPECT_FALSE(wellFormed == 1 && fromDamaged.output == back);
        const int wellFormedBuffer = LzwDecodeBuffer(damaged.data(), bitLength, where, back.data(), length, &produced);
        EXPECT_EQ(wellFormed, wellFormedBuffer);
        joiner.Append(bits.data(), bitLength, &joined);
        total += bitLength;
    }
    EXPECT_EQ(total, joiner.BitCount());
    joiner.Finish(&joined);
    EXPECT_EQ((total + 7) / 8, joined.size());
    EXPECT_TRUE(joined == SplitStream(input, piece));
    Bytes stream;
    uint64_t bits = 0;
    ASSERT_EQ(1, LzwEncodeBuffer(input.data(), static_cast<uint32_t>(input.size()), &stream, LzwPiece{true, true},
                                 &bits));
    EXPECT_TRUE(stream == SplitStream(input, 0));
}

TEST(LzwBuffer, OutputClipsAtCapacityButCountsEverything)
{
    Bytes input = Text(10000);
    Bytes stream = Encode(input);
    for (uint32_t capacity : {0u, 1u, 4999u, 9999u}) {
        SCOPED_TRACE(capacity);
        Bytes out(capacity + 4, 0x5A);
        uint32_t produced = 0;
        EXPECT_EQ(1, LzwDecodeBuffer(stream.data(), static_cast<uint32_t>(stream.size()), out.data(), capacity,
                                     &produced));
        EXPECT_EQ(input.size(), produced);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + capacity, input.begin()));
        for (uint32_t i = capacity; i < out.size(); ++i)
            ASSERT_EQ(0x5A, out[i]);
    }
}

TEST(LzwPieces, LongOutputComesInBoundedPiecesAndARefusalStopsIt)
{
    // Long runs make strings that reach back across piece boundaries.
    Bytes input = Text(300000);
    for (size_t i = 100000; i < 180000; ++i)
        input[i] = 'z';
    Bytes stream = Encode(input);
    PieceRun whole;
    uint32_t produced = 0;
    ASSERT_EQ(1, DecodePieces(stream, &whole, &produced));
    EXPECT_TRUE(whole.output == input);
    EXPECT_GE(whole.pieces, input.size() / kLzwPieceSize);
    EXPECT_FALSE(whole.oversized);

    // A sink that refuses the second piece: the first stays delivered, the
    // result is 0 and nothing follows.
    PieceRun refused;
    refused.refuseAt = 1;
    EXPECT_EQ(0, DecodePieces(stream, &refused, nullptr));
    EXPECT_EQ(2u, refused.pieces);
    EXPECT_TRUE(std::equal(refused.output.begin(), refused.output.end(), input.begin()));
    EXPECT_LT(refused.output.size(), input.size());

    // No sink: only checked and counted.
    produced = 0;
    EXPECT_EQ(1, LzwDecodePieces(stream.data(), static_cast<uint32_t>(stream.size()), nullptr, nullptr, &produced));
    EXPECT_EQ(input.size(), produced);
    stream.pop_back();
    EXPECT_EQ(0, LzwDecodePieces(stream.data(), static_cast<uint32_t>(stream.size()), nullptr, nullptr, nullptr));
}

namespace {

// Every Advance, in order.
struct RecordedProgress : ProgressHook {
    std::vector<uint64_t> steps;
    void Advance(uint64_t bytes) override { steps.push_back(bytes); }
    uint64_t Total() const
    {
        uint64_t total = 0;
        for (uint64_t step : steps)
            total += step;
        return total;
    }
};

}  // namespace

TEST(LzwPieces, ProgressIsToldOfEveryPieceDeliveredOrCheckedAndOfNothingRefused)
{
    Bytes input = Text(300000);
    Bytes stream = Encode(input);
    const uint32_t length = static_cast<uint32_t>(stream.size());

    PieceRun whole;
    RecordedProgress delivered;
    ASSERT_EQ(1, LzwDecodePieces(stream.data(), length, PieceCb, &whole, nullptr, &delivered));
    EXPECT_EQ(whole.pieces, delivered.steps.size());
    EXPECT_EQ(input.size(), delivered.Total());

    // Checked without a sink: the same pieces are counted.
    RecordedProgress checked;
    ASSERT_EQ(1, LzwDecodePieces(stream.data(), length, nullptr, nullptr, nullptr, &checked));
    EXPECT_EQ(delivered.steps, checked.steps);

    // The refused second piece is not done: only the first is told.
    PieceRun refused;
    refused.refuseAt = 1;
    RecordedProgress stopped;
    EXPECT_EQ(0, LzwDecodePieces(stream.data(), length, PieceCb, &refused, nullptr, &stopped));
    EXPECT_EQ(std::vector<uint64_t>{refused.output.size()}, stopped.steps);
}
