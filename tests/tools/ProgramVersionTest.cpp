// The file version read from a version block built byte by byte, whole, damaged and cut short.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ProgramVersion.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

namespace {

void PutU16(std::vector<uint8_t>& b, uint16_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t>& b, uint32_t v)
{
    PutU16(b, static_cast<uint16_t>(v));
    PutU16(b, static_cast<uint16_t>(v >> 16));
}

// A VS_VERSIONINFO block with its fixed part (file version ms.ls) and a
// string-table child after it, as resource compilers lay it out.
std::vector<uint8_t> VersionBlock(uint32_t ms, uint32_t ls, const char* key = "VS_VERSION_INFO",
                                  uint32_t signature = 0xFEEF04BD)
{
    std::vector<uint8_t> b;
    PutU16(b, 0);   // wLength, set below
    PutU16(b, 52);  // wValueLength
    PutU16(b, 0);   // wType: binary
    for (const char* p = key;; ++p) {
        PutU16(b, static_cast<uint8_t>(*p));
        if (*p == '\0')
            break;
    }
    while (b.size() % 4)
        b.push_back(0);
    for (uint32_t v : {signature, 0x00010000u, ms, ls, ms, ls, 0x3Fu, 0u, 0x40004u, 1u, 0u, 0u, 0u})
        PutU32(b, v);
    b.resize(b.size() + 24, 0x55);  // a child the reader has no business with
    b[0] = static_cast<uint8_t>(b.size());
    b[1] = static_cast<uint8_t>(b.size() >> 8);
    return b;
}

std::string Version(const std::vector<uint8_t>& b)
{
    return FileVersionOfBlock(ByteView(b.data(), static_cast<uint32_t>(b.size())));
}

TEST(ProgramVersion, TheFixedFileVersionInItsFourParts)
{
    EXPECT_EQ(Version(VersionBlock(0x00020000, 0x00000000)), "2.0.0.0");
    EXPECT_EQ(Version(VersionBlock(0x00010002, 0xFFFF0004)), "1.2.65535.4");
}

TEST(ProgramVersion, ABlockThatIsNotAVersionBlockHasNone)
{
    EXPECT_EQ(Version(VersionBlock(0x00020000, 0, "VS_VERSION_INFX")), "");
    EXPECT_EQ(Version(VersionBlock(0x00020000, 0, "VS_VERSION")), "");
    EXPECT_EQ(Version(VersionBlock(0x00020000, 0, "VS_VERSION_INFO", 0xFEEF04BC)), "");
    std::vector<uint8_t> noFixedPart = VersionBlock(0x00020000, 0);
    noFixedPart[2] = 0;  // wValueLength 0: no fixed part
    EXPECT_EQ(Version(noFixedPart), "");
    EXPECT_EQ(Version({}), "");
}

TEST(ProgramVersion, ABlockCutShortAnywhereHasNone)
{
    const std::vector<uint8_t> whole = VersionBlock(0x00020000, 0);
    const size_t fixedEnd = 40 + 52;
    for (size_t n = 0; n < fixedEnd; ++n) {
        // Cut in the bytes given (each in a buffer of its own size, so that
        // the sanitizers see any read past it) ...
        std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(Version(cut), "") << n << " bytes";
        // ... and by the block's own length, with the bytes still there.
        std::vector<uint8_t> shortLength = whole;
        shortLength[0] = static_cast<uint8_t>(n);
        shortLength[1] = 0;
        EXPECT_EQ(Version(shortLength), "") << "wLength " << n;
    }
}

TEST(ProgramVersion, AFileThatIsNotAProgramHasNone)
{
    test_support::ScratchFolder folder;
    const std::string path = folder / "text.exe";
    ASSERT_TRUE(test_support::WriteBytes(path, "MZ but not a program"));
    EXPECT_EQ(ReadProgramFileVersion(path), "");
    EXPECT_EQ(ReadProgramFileVersion(folder / "missing.exe"), "");
}

}  // namespace
