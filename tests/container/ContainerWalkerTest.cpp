// The container walk: what it finds in a valid image, and the diagnosis of each kind of damage.
#include <gtest/gtest.h>

#include "ContainerImage.h"
#include "ContainerWalker.h"

using namespace test_support;

namespace {

// Header 0..21 (two slots); group 0 "Config" at 22 (0x16) with CONFIG.INI at
// 38; group 1 "Commonfiles" at 91 (0x5B): name at 95, count at 106, table at
// 108 (0x6C); its entry 0 a.txt at 120, entry 1 (kind 0x1234) at 166, entry 2
// setup.exe at 210 (0xD2) with its name at 250 (0xFA), data at 259 (0x103).
const std::string kSample = ContainerBytes(
    {{"Config", {StoredEntry("CONFIG.INI", "[x]")}},
     {"Commonfiles",
      {StoredEntry("a.txt", "1"), EntryBytes("odd", "x", 1, 0, 0x1234), StoredEntry("setup.exe", "installer")}}});

void Put16(std::string& image, size_t at, uint16_t value)
{
    image[at] = static_cast<char>(value);
    image[at + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& image, size_t at, uint32_t value)
{
    Put16(image, at, static_cast<uint16_t>(value));
    Put16(image, at + 2, static_cast<uint16_t>(value >> 16));
}

Status Walk(const std::string& image, ContainerCheck check, WalkedContainer* contents = nullptr)
{
    return ContainerWalker(ByteView(Data(image), Size(image)), check).Walk(contents);
}

}  // namespace

TEST(ContainerWalk, FindsGroupsAndFileEntriesInTableOrderWithTheirSlots)
{
    ASSERT_EQ(268u, kSample.size());
    ASSERT_EQ(91u, U32At(kSample, 18));
    ASSERT_EQ(210u - 91u, U32At(kSample, 108 + 8));

    std::string image = kSample;
    Put16(image, 22, 0);  // group 0 loses its signature
    WalkedContainer contents;
    ASSERT_TRUE(Walk(image, ContainerCheck::kLoad, &contents).IsOk());
    EXPECT_EQ(268u, contents.imageSize);
    EXPECT_EQ(2u, contents.header.groupCount);
    EXPECT_EQ(1u, contents.skippedGroups);
    ASSERT_EQ(1u, contents.groups.size());
    const WalkedGroup& group = contents.groups[0];
    EXPECT_EQ(1u, group.slot);
    EXPECT_EQ("Commonfiles", group.name);
    EXPECT_EQ(91u, group.record.offset);
    EXPECT_EQ(1u, group.skippedChildren);
    ASSERT_EQ(2u, group.entries.size());
    EXPECT_EQ(0u, group.entries[0].slot);
    EXPECT_EQ(2u, group.entries[1].slot);
    EXPECT_EQ("setup.exe", group.entries[1].name);
    EXPECT_EQ(210u, group.entries[1].record.offset);
    EXPECT_EQ(259u, group.entries[1].record.dataOffset);
    EXPECT_EQ(58u, group.entries[1].record.entryLength);
    EXPECT_EQ(2u, contents.fileEntries);
    EXPECT_EQ("entry 2 \"setup.exe\" of group 1 \"Commonfiles\" at offset 0xD2",
              DescribeEntry(group, group.entries[1]));
    EXPECT_EQ("group 1 \"Commonfiles\" at offset 0x5B", DescribeGroup(group));

    // The reader's walk refuses what the loader's skipped, and leaves nothing behind.
    const Status refused = Walk(image, ContainerCheck::kRead, &contents);
    EXPECT_EQ(kErrorInvalidData, refused.Code());
    EXPECT_EQ("group 0 at offset 0x16: signature 0x0000 is not 0xFCEC", refused.Message());
    EXPECT_TRUE(contents.groups.empty());
    EXPECT_EQ(0u, contents.imageSize);
}

struct Damage {
    const char* what;
    std::string image;
    ContainerCheck check;
    uint32_t code;
    std::string diagnosis;
};

std::string Damaged(void (*damage)(std::string&))
{
    std::string image = kSample;
    damage(image);
    return image;
}

class WalkDiagnosis : public ::testing::TestWithParam<Damage> {};

TEST_P(WalkDiagnosis, NamesWhatIsWrongAndWhere)
{
    const Damage& d = GetParam();
    const Status status = Walk(d.image, d.check);
    EXPECT_EQ(d.code, status.Code()) << d.what;
    EXPECT_EQ(d.diagnosis, status.Message()) << d.what;
    // The other consumer refuses the damage as well, with the same words,
    // unless only the reader checks it.
    const ContainerCheck other = d.check == ContainerCheck::kLoad ? ContainerCheck::kRead : ContainerCheck::kLoad;
    if (d.check == ContainerCheck::kLoad)
        EXPECT_EQ(d.diagnosis, Walk(d.image, other).Message()) << d.what;
    else
        EXPECT_TRUE(Walk(d.image, other).IsOk()) << d.what;
}

INSTANTIATE_TEST_SUITE_P(
    EachKindOfDamage, WalkDiagnosis,
    ::testing::Values(
        Damage{"magic", Damaged([](std::string& i) { i[3] = 'N'; }), ContainerCheck::kLoad, kErrorBadFormat,
               "header at offset 0x0: the image does not start with \"BOEM\""},
        Damage{"magic cut", "BOE", ContainerCheck::kLoad, kErrorBadFormat,
               "header at offset 0x0: the image does not start with \"BOEM\""},
        Damage{"header cut", kSample.substr(0, 10), ContainerCheck::kLoad, kErrorInvalidData,
               "header at offset 0x0: the image (10 bytes) ends inside the 14-byte header"},
        Damage{"group table", Damaged([](std::string& i) { Put16(i, 12, 64); }), ContainerCheck::kLoad,
               kErrorInvalidData,
               "group table at offset 0xE: the table (64 slots, 256 bytes) reaches past the end of the image "
               "(268 bytes)"},
        Damage{"group table cut", kSample.substr(0, 16), ContainerCheck::kLoad, kErrorInvalidData,
               "group table at offset 0xE: the table (2 slots, 8 bytes) reaches past the end of the image "
               "(16 bytes)"},
        Damage{"group offset", Damaged([](std::string& i) { Put32(i, 18, 0xFFFFFFFE); }), ContainerCheck::kLoad,
               kErrorInvalidData,
               "group 1 at offset 0xFFFFFFFE: the record reaches past the end of the image (268 bytes)"},
        Damage{"group name length", Damaged([](std::string& i) { Put16(i, 93, 260); }), ContainerCheck::kLoad,
               kErrorInvalidData, "group 1 at offset 0x5B: name of 260 bytes is longer than 259 bytes"},
        Damage{"group name", Damaged([](std::string& i) { Put16(i, 93, 250); }), ContainerCheck::kLoad,
               kErrorInvalidData,
               "group 1 at offset 0x5B: name (250 bytes at 0x5F) reaches past the end of the image (268 bytes)"},
        Damage{"entry table", Damaged([](std::string& i) { Put16(i, 106, 60); }), ContainerCheck::kLoad,
               kErrorInvalidData,
               "group 1 \"Commonfiles\" at offset 0x5B: entry table (60 slots, 240 bytes at 0x6C) reaches past "
               "the end of the image (268 bytes)"},
        Damage{"entry offset", Damaged([](std::string& i) { Put32(i, 116, 0xFFFFFFF0); }), ContainerCheck::kLoad,
               kErrorInvalidData,
               "entry 2 of group 1 \"Commonfiles\" at offset 0x10000004B: the record reaches past the end of the "
               "image (268 bytes)"},
        Damage{"entry record", kSample.substr(0, 230), ContainerCheck::kLoad, kErrorInvalidData,
               "entry 2 of group 1 \"Commonfiles\" at offset 0xD2: the record (40 bytes) reaches past the end of "
               "the image (230 bytes)"},
        Damage{"entry name length", Damaged([](std::string& i) { Put16(i, 248, 260); }), ContainerCheck::kLoad,
               kErrorInvalidData,
               "entry 2 of group 1 \"Commonfiles\" at offset 0xD2: name of 260 bytes is longer than 259 bytes"},
        Damage{"entry name", kSample.substr(0, 255), ContainerCheck::kLoad, kErrorInvalidData,
               "entry 2 of group 1 \"Commonfiles\" at offset 0xD2: name (9 bytes at 0xFA) reaches past the end of "
               "the image (255 bytes)"},
        Damage{"stored data", Damaged([](std::string& i) { Put32(i, 216, 5000); }), ContainerCheck::kLoad,
               kErrorInvalidData,
               "entry 2 \"setup.exe\" of group 1 \"Commonfiles\" at offset 0xD2: stored data (5000 bytes at 0x103) "
               "reaches past the end of the image (268 bytes)"},
        Damage{"compressed data", Damaged([](std::string& i) { Put32(i, 220, 10); }), ContainerCheck::kLoad,
               kErrorInvalidData,
               "entry 2 \"setup.exe\" of group 1 \"Commonfiles\" at offset 0xD2: stored data (10 bytes at 0x103) "
               "reaches past the end of the image (268 bytes)"},
        Damage{"version", ContainerBytes({{"G", {}}}, 0x0201), ContainerCheck::kRead, kErrorNotSupported,
               "header at offset 0x0: version 0x0201 is not supported (only 0x0200)"},
        Damage{"signature", Damaged([](std::string& i) { Put16(i, 91, 0xFCED); }), ContainerCheck::kRead,
               kErrorInvalidData, "group 1 at offset 0x5B: signature 0xFCED is not 0xFCEC"}));

TEST(WalkDiagnosis, EntriesThatShareBytesAreNamedWhereTheyOverflowTheImage)
{
    // Three slots naming one 42-byte entry in an image of 79 bytes.
    Bytes b;
    b.Text("BOEM").U16(0x0200).U16(3).U32(0).U16(1).U32(18);
    b.U16(0xFCEC).U16(1).Text("G").U16(3).U32(19).U32(19).U32(19).Text(StoredEntry("a", "1"));
    ASSERT_EQ(79u, b.data.size());
    EXPECT_EQ("entry 1 \"a\" of group 0 \"G\" at offset 0x25: file entries take 84 bytes up to this one, more than "
              "the whole image (79 bytes), so entries share bytes",
              Walk(b.data, ContainerCheck::kLoad).Message());
}

TEST(WalkDiagnosis, EntrySlotsBeyond65535AreNamedAtTheGroupThatCrossesTheLimit)
{
    // Two groups of 40000 slots each; every slot names its own group record,
    // whose signature is not a file entry's kind, so the first group passes.
    Bytes b;
    b.Text("BOEM").U16(0x0200).U16(0).U32(0).U16(2).U32(0).U32(0);
    for (uint32_t slot = 0; slot < 2; ++slot) {
        b.U32At(14 + 4 * slot, static_cast<uint32_t>(b.data.size()));
        b.U16(0xFCEC).U16(1).Text(slot ? "B" : "A").U16(40000);
        b.data.append(4 * 40000, '\0');
    }
    ASSERT_EQ(22u + 160007u, U32At(b.data, 18));
    EXPECT_EQ("group 1 \"B\" at offset 0x2711D: 40000 entry slots bring the groups' total to 80000, more than the "
              "65535 a container can hold",
              Walk(b.data, ContainerCheck::kLoad).Message());
}

TEST(WalkDiagnosis, NamesShowControlBytesEscapedAndAreKeptUpToTheirFirstZeroByte)
{
    std::string image = ContainerBytes({{std::string("a\x01", 2), {StoredEntry(std::string("b\0c", 3), "x")}}});
    WalkedContainer contents;
    ASSERT_TRUE(Walk(image, ContainerCheck::kRead, &contents).IsOk());
    EXPECT_EQ("b", contents.groups[0].entries[0].name);
    // Group at 18, its entry at 18 + 12 = 30 with its uncompressed size at 36
    // and its data at 30 + 40 + 3 = 73.
    Put32(image, 36, 100);
    EXPECT_EQ("entry 0 \"b\\x00c\" of group 0 \"a\\x01\" at offset 0x1E: stored data (100 bytes at 0x49) reaches "
              "past the end of the image (74 bytes)",
              Walk(image, ContainerCheck::kRead).Message());
}

TEST(WalkDiagnosis, AnEntryOnItsOwnIsNamedWithoutGroup)
{
    const std::string entry = StoredEntry("a.txt", "hello");
    EntryRecord record;
    ASSERT_TRUE(ContainerWalker::ReadEntry(ByteView(Data(entry), Size(entry)), 0, &record).IsOk());
    EXPECT_EQ(50u, record.entryLength);
    const std::string cut = entry.substr(0, 48);
    const Status status = ContainerWalker::ReadEntry(ByteView(Data(cut), Size(cut)), 0, &record);
    EXPECT_EQ("entry \"a.txt\" at offset 0x0: stored data (5 bytes at 0x2D) reaches past the end of the image "
              "(48 bytes)",
              status.Message());
    EXPECT_EQ(50u, record.entryLength);  // left as it was
}

TEST(ContainerLookup, FirstMatchIgnoringCaseWinsAndLaterEqualNamesAreUnreachable)
{
    const std::string image = ContainerBytes(
        {{"Bin", {StoredEntry("a", "1"), StoredEntry("B", "2"), StoredEntry("A", "3")}},
         {"bin", {StoredEntry("c", "4")}},
         {"Other", {}}});
    WalkedContainer contents;
    ASSERT_TRUE(Walk(image, ContainerCheck::kRead, &contents).IsOk());
    EXPECT_EQ(&contents.groups[0], FindWalkedGroup(contents, "BIN"));
    EXPECT_EQ(nullptr, FindWalkedGroup(contents, "Missing"));
    EXPECT_EQ(nullptr, FindWalkedGroup(contents, nullptr));
    EXPECT_EQ(&contents.groups[0].entries[0], FindWalkedEntry(contents.groups[0], "A"));
    EXPECT_EQ(nullptr, FindWalkedEntry(contents.groups[0], "c"));
    EXPECT_EQ((std::vector<bool>{true, false, true}), ReachableGroups(contents));
    EXPECT_EQ((std::vector<bool>{true, true, false}), ReachableEntries(contents.groups[0]));
}
