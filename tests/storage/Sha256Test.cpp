// SHA-256: published digests, every length at the padding boundaries, pieces against the whole, both engines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "Sha256.h"

namespace {

constexpr Sha256::Engine kEngines[] = {Sha256::Engine::kBest, Sha256::Engine::kPortable};

std::string Hex(const Sha256Digest& digest)
{
    std::string text;
    char two[3];
    for (uint8_t b : digest.bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        text += two;
    }
    return text;
}

std::string HexOf(const std::string& message, Sha256::Engine engine)
{
    return Hex(Sha256Of(reinterpret_cast<const uint8_t*>(message.data()), message.size(), engine));
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    std::mt19937 random(seed);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

// The digest of bytes given to Update in pieces whose lengths come from the random source
// (up to maxPiece, zero-length pieces included).
Sha256Digest InPieces(const std::vector<uint8_t>& bytes, Sha256::Engine engine, std::mt19937& random, size_t maxPiece)
{
    Sha256 hash(engine);
    size_t at = 0;
    while (at < bytes.size()) {
        const size_t piece = std::min<size_t>(random() % (maxPiece + 1), bytes.size() - at);
        hash.Update(bytes.data() + at, piece);
        at += piece;
    }
    return hash.Final();
}

}  // namespace

TEST(Sha256, PublishedDigests)
{
    // FIPS 180-2 appendix B and the NIST examples.
    const struct {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (Sha256::Engine engine : kEngines)
        for (const auto& c : cases)
            EXPECT_EQ(c.digest, HexOf(c.message, engine))
                << c.message.size() << " bytes, engine " << static_cast<int>(engine);
}

TEST(Sha256, PaddingBoundaries)
{
    // 'a' repeated n times, digests as coreutils' sha256sum gives them: the 0x80 byte
    // last in a block, the length no longer fitting, and an exact block, once and twice.
    const struct {
        size_t length;
        const char* digest;
    } cases[] = {
        {55, "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {56, "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {63, "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {64, "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {119, "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
        {120, "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
    };
    for (Sha256::Engine engine : kEngines)
        for (const auto& c : cases)
            EXPECT_EQ(c.digest, HexOf(std::string(c.length, 'a'), engine))
                << c.length << " bytes, engine " << static_cast<int>(engine);
}

TEST(Sha256, EveryLengthSameDigestWhateverThePiecesAndEngine)
{
    const std::vector<uint8_t> all = Pattern(300, 1);
    std::mt19937 random(2);
    for (size_t length = 0; length <= all.size(); ++length) {
        const std::vector<uint8_t> bytes(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(length));
        const Sha256Digest expected = Sha256Of(bytes.data(), length, Sha256::Engine::kPortable);
        for (Sha256::Engine engine : kEngines) {
            SCOPED_TRACE("length " + std::to_string(length) + ", engine " + std::to_string(static_cast<int>(engine)));
            EXPECT_EQ(expected, Sha256Of(bytes.data(), length, engine));
            Sha256 byteAtATime(engine);
            for (uint8_t b : bytes)
                byteAtATime.Update(&b, 1);
            EXPECT_EQ(expected, byteAtATime.Final());
            for (size_t maxPiece : {3u, 70u, 200u})
                EXPECT_EQ(expected, InPieces(bytes, engine, random, maxPiece)) << "pieces up to " << maxPiece;
        }
    }
}

TEST(Sha256, LongMessagesInPiecesAgreeAcrossEngines)
{
    // Many blocks per call, cut at random offsets, so the pending bytes meet every alignment.
    const std::vector<uint8_t> bytes = Pattern(1000003, 3);
    const Sha256Digest expected = Sha256Of(bytes.data(), bytes.size(), Sha256::Engine::kPortable);
    std::mt19937 random(4);
    for (Sha256::Engine engine : kEngines) {
        EXPECT_EQ(expected, Sha256Of(bytes.data(), bytes.size(), engine));
        EXPECT_EQ(expected, InPieces(bytes, engine, random, 5000));
        EXPECT_EQ(expected, InPieces(bytes, engine, random, 200000));
    }
}

TEST(Sha256, FinalStartsOver)
{
    for (Sha256::Engine engine : kEngines) {
        Sha256 hash(engine);
        hash.Update(reinterpret_cast<const uint8_t*>("something else"), 14);
        hash.Final();
        hash.Update(nullptr, 0);
        EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", Hex(hash.Final()));
        hash.Update(reinterpret_cast<const uint8_t*>("abc"), 3);
        EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", Hex(hash.Final()));
    }
    Sha256Digest a = Sha256Of(nullptr, 0), b = a;
    EXPECT_TRUE(a == b);
    b.bytes[kSha256DigestSize - 1] ^= 1;
    EXPECT_TRUE(a != b);
}

TEST(Sha256, BestUsesTheProcessorsInstructionsWhereItHasThem)
{
    EXPECT_FALSE(Sha256(Sha256::Engine::kPortable).UsesHardware());
    EXPECT_EQ(Sha256::HardwareAvailable(), Sha256(Sha256::Engine::kBest).UsesHardware());
#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
    // The kernel's own reading of the processor: the "sha_ni" flag.
    FILE* cpuinfo = std::fopen("/proc/cpuinfo", "r");
    ASSERT_NE(nullptr, cpuinfo);
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, cpuinfo)) > 0)
        text.append(buffer, n);
    std::fclose(cpuinfo);
    const bool kernelSaysSha = text.find(" sha_ni") != std::string::npos;
    EXPECT_EQ(kernelSaysSha, Sha256::HardwareAvailable());
    std::printf("SHA instructions: %s\n", kernelSaysSha ? "present and used" : "absent");
#endif
}
