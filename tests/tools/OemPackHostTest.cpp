// The packaging tool's container walk on damaged images, run natively under the sanitizers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ContainerImage.h"
#include "MappedFile.h"
#include "PackageExtractor.h"
#include "PackageListing.h"
#include "PackagePlan.h"
#include "PackageWriter.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

namespace {

std::vector<uint8_t> SampleImage()
{
    PackagePlan plan;
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += "entry text " + std::to_string(i % 9) + "\n";
    EXPECT_TRUE(plan.AddContent("Config", "CONFIG.INI", "[Commonfiles]\r\nORG.SETUP.EXE=s.exe\r\n"));
    EXPECT_TRUE(plan.AddContent("Commonfiles", "s.exe", text));
    EXPECT_TRUE(plan.AddContent("Commonfiles", "empty", ""));
    MappedFile image;
    WriteStats stats;
    const Status built = BuildPackageImage(plan, true, image, nullptr, &stats);
    EXPECT_TRUE(built) << built.Message();
    EXPECT_EQ(stats.compressedEntries, 1u);
    return std::vector<uint8_t>(image.GetData(), image.GetData() + image.GetSize());
}

// Walks, verifies and decodes whatever the bytes hold; the sanitizers catch
// any access outside them. Returns whether verification found no fault.
bool Examine(const std::vector<uint8_t>& bytes)
{
    // A copy of exactly this size, so that a read past the end is detected.
    std::vector<uint8_t> exact(bytes);
    ByteView view(exact.empty() ? nullptr : exact.data(), static_cast<uint32_t>(exact.size()));
    PackageListing listing;
    std::string fault;
    if (ReadPackageListing(view, false, &listing, &fault)) {
        for (const ListedGroup& g : listing.groups)
            for (const ListedEntry& e : g.entries) {
                std::vector<uint8_t> data;
                if (DecodeEntry(view, e.record, &data)) {
                    EXPECT_EQ(data.size(), e.record.uncompressedSize);
                }
            }
    } else {
        EXPECT_FALSE(fault.empty());
    }
    VerifyReport report;
    VerifyPackageImage(view, &report);
    return report.faults.empty();
}

}  // namespace

TEST(ToolsHostImage, EveryTruncationIsAFault)
{
    const std::vector<uint8_t> image = SampleImage();
    ASSERT_TRUE(Examine(image));
    for (size_t cut = 0; cut < image.size(); ++cut)
        EXPECT_FALSE(Examine(std::vector<uint8_t>(image.begin(), image.begin() + static_cast<long>(cut)))) << cut;
}

TEST(ToolsHostImage, EveryByteMayBeDamagedWithoutHarm)
{
    const std::vector<uint8_t> image = SampleImage();
    size_t faults = 0;
    for (size_t i = 0; i < image.size(); ++i) {
        for (uint8_t mask : {uint8_t(0x01), uint8_t(0x80), uint8_t(0xFF)}) {
            std::vector<uint8_t> damaged = image;
            damaged[i] = static_cast<uint8_t>(damaged[i] ^ mask);
            if (!Examine(damaged))
                ++faults;
        }
    }
    // Names, times, attributes and stored bytes of plain entries carry no
    // check; the structure and the compressed stream do.
    EXPECT_GT(faults, image.size() / 10);
}

namespace {

void Put32(std::vector<uint8_t>& image, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        image[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::string HexOffset(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

}  // namespace

TEST(ToolsHostImage, ListingAndVerificationSayWhatIsDamagedAndWhere)
{
    std::vector<uint8_t> image = SampleImage();
    PackageListing listing;
    std::string fault;
    const ByteView good(image.data(), static_cast<uint32_t>(image.size()));
    ASSERT_TRUE(ReadPackageListing(good, true, &listing, &fault));
    const ListedGroup* group = nullptr;
    for (const ListedGroup& g : listing.groups)
        if (g.name == "Commonfiles")
            group = &g;
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->entries.size(), 2u);
    const ListedEntry empty = group->entries[1];
    ASSERT_EQ(empty.name, "empty");
    const std::string place = "entry 1 \"empty\" of group " + std::to_string(group->slot) +
                              " \"Commonfiles\" at offset " + HexOffset(empty.record.offset) + ": ";

    Put32(image, empty.record.offset + 6, 0x7FFFFFFF);  // its uncompressed size
    const ByteView damaged(image.data(), static_cast<uint32_t>(image.size()));
    const std::string expected = "damaged: " + place + "stored data (2147483647 bytes at " +
                                 HexOffset(empty.record.dataOffset) + ") reaches past the end of the image (" +
                                 std::to_string(image.size()) + " bytes)";
    EXPECT_FALSE(ReadPackageListing(damaged, false, &listing, &fault));
    EXPECT_EQ(fault, expected);
    VerifyReport report;
    VerifyPackageImage(damaged, &report);
    EXPECT_EQ(report.faults, std::vector<std::string>{expected});

    image[0] = 'X';
    EXPECT_FALSE(ReadPackageListing(damaged, false, &listing, &fault));
    EXPECT_EQ(fault, "not a package: header at offset 0x0: the image does not start with \"BOEM\"");
}

TEST(ToolsHostImage, VerificationNotesEntriesThatReadersNeverReach)
{
    // One group "G" holding a.txt, A.TXT and b, stored; entries follow the
    // 19-byte group record at 18.
    std::vector<uint8_t> image = {'B', 'O', 'E', 'M', 0, 2, 3, 0, 0, 0, 0, 0, 1, 0, 18, 0, 0, 0};
    auto u16 = [&image](uint32_t v) { image.push_back(uint8_t(v)); image.push_back(uint8_t(v >> 8)); };
    auto u32 = [&u16](uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
    u16(0xFCEC);
    u16(1);
    image.push_back('G');
    u16(3);
    const std::vector<std::string> names = {"a.txt", "A.TXT", "b"};
    uint32_t relative = 19;
    for (const std::string& name : names) {
        u32(relative);
        relative += 40 + static_cast<uint32_t>(name.size()) + 1;
    }
    for (const std::string& name : names) {
        u16(0xFFFF);
        u32(0x20);
        u32(1);
        u32(0);
        for (int t = 0; t < 6; ++t)
            u32(0);
        u16(static_cast<uint32_t>(name.size()));
        image.insert(image.end(), name.begin(), name.end());
        image.push_back('x');
    }
    VerifyReport report;
    VerifyPackageImage(ByteView(image.data(), static_cast<uint32_t>(image.size())), &report);
    EXPECT_TRUE(report.faults.empty());
    // 18 + 19 + (40 + 5 + 1) = 83 = 0x53.
    EXPECT_NE(std::find(report.notes.begin(), report.notes.end(),
                        "entry 1 \"A.TXT\" of group 0 \"G\" at offset 0x53: an earlier entry has the same name; "
                        "readers find only the first"),
              report.notes.end());
    EXPECT_EQ(report.notes.size(), 2u);  // and the package is under 1024 bytes
}

TEST(ToolsHostImage, AFullGroupExtractsTheFirstOfEachNameOnly)
{
    // 65,535 entries in one group; three share a name in different cases, far apart.
    std::vector<std::string> entries;
    for (int i = 0; i < 65531; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "e%05d", i);
        entries.push_back(test_support::StoredEntry(name, "x"));
        if (i == 7)
            entries.push_back(test_support::StoredEntry("Dup.txt", "first"));
        if (i == 40000)
            entries.push_back(test_support::StoredEntry("DUP.TXT", "second"));
    }
    entries.push_back(test_support::StoredEntry("dup.txt", "third"));
    entries.push_back(test_support::StoredEntry("last", "z"));
    ASSERT_EQ(entries.size(), 65535u);
    const std::string bytes = test_support::ContainerBytes({{"G", entries}});
    ByteView view(test_support::Data(bytes), test_support::Size(bytes));

    VerifyReport report;
    VerifyPackageImage(view, &report);
    EXPECT_TRUE(report.faults.empty());
    EXPECT_EQ(report.notes.size(), 2u);  // the two later "dup.txt"

    test_support::ScratchFolder dir;
    ExtractRequest request;
    request.destination = dir / "out";
    request.entries = {"dup.txt", "last", "e65530"};
    ExtractOutcome outcome;
    ASSERT_TRUE(ExtractPackage(view, request, &outcome, nullptr));
    EXPECT_TRUE(outcome.errors.empty());
    EXPECT_EQ(outcome.written, 3u);
    ASSERT_EQ(outcome.warnings.size(), 2u);
    EXPECT_EQ(outcome.warnings[0], "G" + std::string(1, kPathSeparator) + "DUP.TXT: a second entry of this name; skipped");
    const std::string folder = dir / "out" + std::string(1, kPathSeparator) + "G" + std::string(1, kPathSeparator);
    EXPECT_EQ(test_support::ReadBytes(folder + "Dup.txt"), "first");
    EXPECT_EQ(test_support::ReadBytes(folder + "last"), "z");
    EXPECT_EQ(test_support::ListFolder(folder).size(), 3u);
}

TEST(ToolsHostImage, ADamagedStreamIsNotExtractedAndLeavesWhatWasThere)
{
    std::string content;
    for (int i = 0; i < 40000; ++i)
        content += "line " + std::to_string(i % 97) + "\n";
    test_support::ImageEntry packed = test_support::PackedEntry("a.txt", content);
    packed.stored[packed.stored.size() - 30] ^= 0x5A;
    test_support::ImageEntry fresh = packed;
    fresh.name = "b.txt";
    const std::string bytes = test_support::ContainerBytes({{"G", {packed, fresh}}});
    ByteView view(test_support::Data(bytes), test_support::Size(bytes));

    test_support::ScratchFolder dir;
    const std::string folder = dir / "out" + std::string(1, kPathSeparator) + "G";
    ASSERT_TRUE(CreateFolder((dir / "out").c_str()));
    ASSERT_TRUE(CreateFolder(folder.c_str()));
    const std::string existing = folder + kPathSeparator + "a.txt";
    ASSERT_TRUE(test_support::WriteBytes(existing, "previous"));
    ExtractRequest request;
    request.destination = dir / "out";
    ExtractOutcome outcome;
    ASSERT_TRUE(ExtractPackage(view, request, &outcome, nullptr));
    EXPECT_EQ(outcome.written, 0u);
    const std::string sep(1, kPathSeparator);
    EXPECT_EQ(outcome.errors, (std::vector<std::string>{"G" + sep + "a.txt: the compressed data is damaged; not extracted",
                                                        "G" + sep + "b.txt: the compressed data is damaged; not extracted"}));
    EXPECT_EQ(test_support::ReadBytes(existing), "previous");
    EXPECT_EQ(test_support::ListFolder(folder), std::vector<std::string>{"a.txt"});
}
