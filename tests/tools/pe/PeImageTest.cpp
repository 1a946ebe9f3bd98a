// PeImage: damaged headers are refused with a message that names the field and where it points.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "PeFormat.h"
#include "PeImage.h"
#include "PeTestImage.h"

using namespace petest;

namespace {

Status Parse(std::vector<uint8_t> bytes, PeImage* image = nullptr)
{
    PeImage local;
    return PeImage::Parse(std::move(bytes), image ? image : &local);
}

void SaveFile(const char* path, const std::vector<uint8_t>& bytes)
{
    std::FILE* file = std::fopen(path, "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
}

}  // namespace

TEST(PeImage, ReadsHeadersSectionsAndDirectories)
{
    for (bool plus : {false, true}) {
        ImageLayout shape = LauncherLike(LauncherResources(), true);
        shape.pe32Plus = plus;
        shape.overlay = "SYMBOLS";
        shape.symbolsAt = 0;
        Image built = BuildImage(shape);
        PeImage image;
        ASSERT_TRUE(Parse(built.bytes, &image)) << Parse(built.bytes).Message();
        EXPECT_EQ(image.IsPe32Plus(), plus);
        ASSERT_EQ(image.Sections().size(), 3u);
        EXPECT_EQ(image.Sections()[1].name, ".rsrc");
        EXPECT_EQ(image.Sections()[1].pointerToRawData, built.sectionFileOffsets[1]);
        EXPECT_EQ(image.Directory(pe::kResourceDirectoryIndex).address, 0x2000u);
        EXPECT_EQ(image.Directory(40).address, 0u);
        EXPECT_EQ(image.SectionDataEnd(), built.bytes.size() - 7);
        EXPECT_EQ(image.SymbolTableOffset(), image.SectionDataEnd());
        uint32_t offset = 0;
        EXPECT_TRUE(image.RvaToFileOffset(0x2010, 4, &offset));
        EXPECT_EQ(offset, built.sectionFileOffsets[1] + 0x10);
        // Past the file-backed part of .text (0x180 bytes mapped) and between sections.
        EXPECT_FALSE(image.RvaToFileOffset(0x1170, 0x20, &offset));
        EXPECT_FALSE(image.RvaToFileOffset(0x1800, 1, &offset));
    }
}

TEST(PeImage, RefusesDamagedHeadersSayingWhatAndWhere)
{
    const Image good = BuildImage(LauncherLike(LauncherResources(), false));
    const uint32_t opt = good.optionalHeader;
    const uint32_t rsrcHeader = good.sectionTable + 40;
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>*)> damage;
        const char* message;
    };
    const Case cases[] = {
        {"truncated to 40 bytes", [](std::vector<uint8_t>* b) { b->resize(40); },
         "not a Windows program: the file is 40 bytes, too short for an MZ header"},
        {"not MZ", [](std::vector<uint8_t>* b) { (*b)[0] = 'Z'; }, "no MZ signature"},
        {"e_lfanew outside", [](std::vector<uint8_t>* b) { PutU32(b, 0x3C, 0x7FFFFFF0); },
         "the PE header at 0x7FFFFFF0 (e_lfanew) lies outside the file"},
        {"no PE signature", [](std::vector<uint8_t>* b) { (*b)[0x81] = 'X'; }, "no PE signature at 0x80"},
        {"optional header cut off", [](std::vector<uint8_t>* b) { b->resize(0x100); },
         "the optional header (224 bytes at 0x98) reaches past the end of the file (256 bytes)"},
        {"unknown magic", [opt](std::vector<uint8_t>* b) { PutU16(b, opt, 0x107); }, "has magic 0x107"},
        {"too many directories", [opt](std::vector<uint8_t>* b) { PutU32(b, opt + 92, 0x40000000); },
         "too short for its 1073741824 data directories"},
        {"odd FileAlignment", [opt](std::vector<uint8_t>* b) { PutU32(b, opt + 36, 0x300); },
         "FileAlignment 0x300 is not a power of two"},
        {"SizeOfHeaders past the end", [opt](std::vector<uint8_t>* b) { PutU32(b, opt + 60, 0x100000); },
         "SizeOfHeaders 0x100000 reaches past the end of the file"},
        {"section table past SizeOfHeaders", [](std::vector<uint8_t>* b) { PutU16(b, 0x86, 40); },
         "the section table (40 sections at 0x178) ends at 0x7B8, past SizeOfHeaders (0x400)"},
        {"raw data past the end", [rsrcHeader](std::vector<uint8_t>* b) { PutU32(b, rsrcHeader + 20, 0x10000); },
         "section 2 (.rsrc): raw data at 0x10000 (1024 bytes) reaches past the end of the file"},
        {"truncated inside .rsrc", [](std::vector<uint8_t>* b) { b->resize(0x700); },
         "section 2 (.rsrc): raw data at 0x600 (1024 bytes) reaches past the end of the file (1792 bytes)"},
        {"raw data inside the headers", [rsrcHeader](std::vector<uint8_t>* b) { PutU32(b, rsrcHeader + 20, 0x200); },
         "section 2 (.rsrc): raw data at 0x200 overlaps the headers"},
        {"overlapping sections", [rsrcHeader](std::vector<uint8_t>* b) { PutU32(b, rsrcHeader + 12, 0x1100); },
         "section 2 (.rsrc) at RVA 0x1100 overlaps section 1 (.text)"},
        {"section passing 4 GiB", [rsrcHeader](std::vector<uint8_t>* b) { PutU32(b, rsrcHeader + 12, 0xFFFFFF00); },
         "section 2 (.rsrc): RVA 0xFFFFFF00 plus size 0x3D7 passes 4 GiB"},
        {"symbol table past the end", [](std::vector<uint8_t>* b) { PutU32(b, 0x8C, 0x50000); },
         "the COFF symbol table offset 0x50000 lies past the end of the file"},
        {"certificate past the end", [opt](std::vector<uint8_t>* b) { PutU32(b, opt + 96 + 32, 0x700); PutU32(b, opt + 100 + 32, 0x1000); },
         "the certificate table at 0x700 (4096 bytes) reaches past the end of the file"},
        {"certificate over section data", [opt](std::vector<uint8_t>* b) { PutU32(b, opt + 96 + 32, 0x600); PutU32(b, opt + 100 + 32, 0x10); },
         "the certificate table at 0x600 overlaps the sections' data, which ends at 0xA00"},
    };
    // From a file, reading the whole of it or only its headers: the same refusal.
    const char* path = "pe_image_test_damaged.exe";
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = good.bytes;
        c.damage(&bytes);
        Status s = Parse(bytes);
        EXPECT_EQ(s.Code(), kErrorBadExeFormat) << c.what;
        EXPECT_NE(s.Message().find(c.message), std::string::npos) << c.what << ": " << s.Message();
        SaveFile(path, bytes);
        PeImage loaded, opened;
        const Status load = PeImage::Load(path, &loaded);
        const Status open = PeImage::Open(path, &opened);
        EXPECT_EQ(open.Code(), kErrorBadExeFormat) << c.what;
        EXPECT_EQ(open.Message(), load.Message()) << c.what;
        EXPECT_EQ(open.Message(), std::string(path) + ": " + s.Message()) << c.what;
    }
    std::remove(path);
}

TEST(PeImage, OpenReadsTheHeadersOnlyAndTheRestOnDemand)
{
    ImageLayout shape = LauncherLike(LauncherResources(), true);
    shape.overlay = std::string(5000, 'o');
    const Image built = BuildImage(shape);
    const char* path = "pe_image_test_open.exe";
    SaveFile(path, built.bytes);
    PeImage image;
    const Status s = PeImage::Open(path, &image);
    ASSERT_TRUE(s) << s.Message();
    EXPECT_EQ(image.Size(), built.bytes.size());
    EXPECT_EQ(image.Bytes().Size(), image.SizeOfHeaders());
    ASSERT_EQ(image.Sections().size(), 3u);
    EXPECT_EQ(image.Sections()[1].pointerToRawData, built.sectionFileOffsets[1]);
    // Any range of the file, across the end of the headers and into the overlay.
    for (uint32_t at : {0u, image.SizeOfHeaders() - 3, built.sectionFileOffsets[1] + 5,
                        static_cast<uint32_t>(built.bytes.size()) - 100}) {
        std::vector<uint8_t> got(100);
        ASSERT_TRUE(image.ReadAt(at, got.data(), 100)) << at;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), built.bytes.begin() + at)) << at;
    }
    std::vector<uint8_t> past(8);
    EXPECT_EQ(image.ReadAt(static_cast<uint32_t>(built.bytes.size()) - 4, past.data(), 8).Code(), kErrorInvalidParameter);
    // A file that cannot be opened keeps Load's message.
    PeImage missing;
    EXPECT_EQ(PeImage::Open("pe_image_test_missing.exe", &missing).Message(),
              PeImage::Load("pe_image_test_missing.exe", &missing).Message());
    std::remove(path);
}
