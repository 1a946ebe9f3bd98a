// The packaging tool's container walk on damaged images, run natively under the sanitizers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "MappedFile.h"
#include "PackageListing.h"
#include "PackagePlan.h"
#include "PackageWriter.h"

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
