// CRC-32C: known values, pieces against the whole, the instruction against the tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Crc32c.h"

namespace {

std::vector<uint8_t> Pattern(size_t size)
{
    std::vector<uint8_t> bytes(size);
    uint32_t x = 0x12345678;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return bytes;
}

}  // namespace

TEST(Crc32c, KnownValues)
{
    const std::string check = "123456789";
    EXPECT_EQ(0xE3069283u, Crc32c(check.data(), check.size()));
    EXPECT_EQ(0xE3069283u, Crc32cExtendPortable(0, check.data(), check.size()));
    EXPECT_EQ(0u, Crc32c(nullptr, 0));
    // RFC 3720 B.4: 32 bytes of zeros, of 0xFF, and ascending 0..31.
    const std::vector<uint8_t> zeros(32, 0), ones(32, 0xFF);
    std::vector<uint8_t> ascending(32);
    for (size_t i = 0; i < ascending.size(); ++i)
        ascending[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(0x8A9136AAu, Crc32c(zeros.data(), zeros.size()));
    EXPECT_EQ(0x62A8AB43u, Crc32c(ones.data(), ones.size()));
    EXPECT_EQ(0x46DD794Eu, Crc32c(ascending.data(), ascending.size()));
}

TEST(Crc32c, PiecesGiveTheWholeAndBothWaysAgree)
{
    const std::vector<uint8_t> bytes = Pattern(100003);
    const uint32_t whole = Crc32c(bytes.data(), bytes.size());
    EXPECT_EQ(whole, Crc32cExtendPortable(0, bytes.data(), bytes.size()));
    // Cuts at every alignment and piece sizes around the 4- and 8-byte strides.
    for (size_t piece : {1u, 3u, 7u, 8u, 9u, 4096u, 65537u}) {
        uint32_t crc = 0, portable = 0;
        for (size_t at = 0; at < bytes.size(); at += piece) {
            const size_t n = std::min(piece, bytes.size() - at);
            crc = Crc32cExtend(crc, bytes.data() + at, n);
            portable = Crc32cExtendPortable(portable, bytes.data() + at, n);
        }
        EXPECT_EQ(whole, crc) << "pieces of " << piece;
        EXPECT_EQ(whole, portable) << "pieces of " << piece;
    }
    for (size_t start = 0; start < 16; ++start)
        for (size_t size : {0u, 1u, 5u, 15u, 33u})
            EXPECT_EQ(Crc32cExtendPortable(0, bytes.data() + start, size), Crc32c(bytes.data() + start, size))
                << start << "+" << size;
}
