// The in-memory directory: editing, ownership, group order and image round trips.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ContainerFormat.h"
#include "ContainerTestSupport.h"
#include "LzwCodec.h"
#include "PackageDirectory.h"
#include "StringKeyMap.h"

using namespace testing_support;

namespace {

EntryBuffer* MemoryEntry(const std::string& content, const char* name)
{
    EntryBuffer* entry = new EntryBuffer;
    EXPECT_EQ(1, BuildMemoryEntry(content, name, *entry));
    return entry;
}

std::vector<uint8_t> Image(const PackageDirectory& directory)
{
    MappedFile block;
    EXPECT_EQ(1, BuildContainerImage(directory, block));
    return std::vector<uint8_t>(block.GetData(), block.GetData() + block.GetLength());
}

std::string Stored(const EntryBuffer* entry)
{
    return std::string(reinterpret_cast<const char*>(entry->GetStoredData()), entry->GetStoredLength());
}

uint16_t U16At(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
uint32_t U32At(const std::vector<uint8_t>& b, size_t at) { return U16At(b, at) | (U16At(b, at + 2) << 16); }

// Group names in the order of an image's group table.
std::vector<std::string> GroupOrder(const std::vector<uint8_t>& image)
{
    std::vector<std::string> names;
    for (uint32_t i = 0; i < U16At(image, 12); ++i) {
        const uint32_t record = U32At(image, 14 + 4 * i);
        names.emplace_back(reinterpret_cast<const char*>(image.data()) + record + 4, U16At(image, record + 2));
    }
    return names;
}

}  // namespace

TEST(DirectoryEditing, AddReplacesTheFirstEntryOfTheSameNameIgnoringCaseInPlace)
{
    PackageDirectory directory;
    directory.AddEntry(MemoryEntry("one", "A.TXT"), "G", "A.TXT", 1);
    directory.AddEntry(MemoryEntry("two", "b.txt"), "G", "b.txt", 1);
    EntryBuffer* replacement = MemoryEntry("three", "a.txt");
    ASSERT_EQ(1, directory.AddEntry(replacement, "G", "a.txt", 1));

    CStringArray names;
    ASSERT_EQ(1, directory.ListEntries("G", names));
    ASSERT_EQ(2, names.GetSize());
    EXPECT_STREQ("a.txt", names[0]);
    EXPECT_STREQ("b.txt", names[1]);
    EXPECT_EQ(replacement, directory.FindEntry("A.txt", "G"));
    EXPECT_EQ("three", Stored(directory.FindEntry("A.TXT", "G")));
}

TEST(DirectoryEditing, GroupsAreKeyedExactlyAndEntriesCounted)
{
    PackageDirectory directory;
    directory.AddEntry(MemoryEntry("x", "x"), "Bin", "x", 1);
    directory.AddEntry(MemoryEntry("y", "x"), "bin", "x", 1);
    directory.AddEntry(MemoryEntry("z", "z"), "bin", "z", 1);
    EXPECT_EQ(2, directory.GetGroupCount());
    EXPECT_EQ(1, directory.GetEntryCount("Bin"));
    EXPECT_EQ(2, directory.GetEntryCount("bin"));
    EXPECT_EQ(0, directory.GetEntryCount("BIN"));
    EXPECT_EQ(3, directory.GetEntryCount(nullptr));
    EXPECT_EQ("x", Stored(directory.FindEntry("X", "Bin")));
    EXPECT_EQ("y", Stored(directory.FindEntry("X", "bin")));
    EXPECT_EQ(nullptr, directory.FindEntry("x", "BIN"));

    CStringArray names;
    names.Add("existing");
    EXPECT_EQ(3, directory.ListGroups(names));
    CStringArray entries;
    EXPECT_EQ(0, directory.ListEntries("BIN", entries));
    EXPECT_EQ(0, entries.GetSize());
}

TEST(DirectoryEditing, RemoveTakesOutOneEntryAndKeepsTheEmptyGroup)
{
    PackageDirectory directory;
    directory.AddEntry(MemoryEntry("1", "a"), "G", "a", 1);
    EXPECT_EQ(0, directory.RemoveEntry("a", "g"));
    EXPECT_EQ(0, directory.RemoveEntry("missing", "G"));
    EXPECT_EQ(1, directory.RemoveEntry("A", "G"));
    EXPECT_EQ(nullptr, directory.FindEntry("a", "G"));
    EXPECT_EQ(1, directory.GetGroupCount());
    EXPECT_EQ(0, directory.GetEntryCount("G"));
    EXPECT_EQ(0, directory.RemoveEntry("a", "G"));
}

TEST(DirectoryEditing, BuffersNotOwnedOutliveReplacementRemovalAndTheDirectory)
{
    EntryBuffer mine;
    ASSERT_EQ(1, BuildMemoryEntry("mine", "m.bin", mine));
    EntryBuffer alsoMine;
    ASSERT_EQ(1, BuildMemoryEntry("also", "n.bin", alsoMine));
    {
        PackageDirectory directory;
        directory.AddEntry(&mine, "G", "m.bin", 0);
        directory.AddEntry(MemoryEntry("owned", "m.bin"), "G", "M.BIN", 1);  // replaces mine
        directory.AddEntry(&alsoMine, "G", "n.bin", 0);
        EXPECT_EQ(1, directory.RemoveEntry("n.bin", "G"));
        // An owned buffer replaced by itself stays alive and owned.
        EntryBuffer* owned = directory.FindEntry("m.bin", "G");
        directory.AddEntry(owned, "G", "m.bin", 1);
        EXPECT_EQ("owned", Stored(directory.FindEntry("m.bin", "G")));
    }
    // Still usable: the directory deleted only what it owned.
    EXPECT_EQ("mine", Stored(&mine));
    EXPECT_EQ("also", Stored(&alsoMine));
}

TEST(DirectoryEditing, RefusesBuffersThatHoldNoEntry)
{
    PackageDirectory directory;
    EntryBuffer closed;
    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, directory.AddEntry(&closed, "G", "x", 0));
    EXPECT_EQ(kErrorInvalidParameter, GetLastErrorValue());
    EXPECT_EQ(0, directory.AddEntry(nullptr, "G", "x", 0));

    EntryBuffer garbage;
    ASSERT_EQ(1, garbage.CreateMemory(nullptr, 45, 0));
    ByteSpan(garbage.GetData(), 45).WriteU16(kEntryNameLengthOffset, 200);  // name past the block
    EXPECT_EQ(0, directory.AddEntry(&garbage, "G", "x", 0));
    EXPECT_EQ(0, directory.GetGroupCount());

    EntryBuffer fine;
    ASSERT_EQ(1, BuildMemoryEntry("data", "f", fine));
    EXPECT_EQ(0, directory.AddEntry(&fine, std::string(260, 'g').c_str(), "f", 0));
    EXPECT_EQ(1, directory.AddEntry(&fine, std::string(259, 'g').c_str(), "f", 0));
}

TEST(DirectoryImage, WriteLoadWriteGivesIdenticalBytes)
{
    PackageDirectory directory;
    directory.AddEntry(MemoryEntry("config", "CONFIG.INI"), "Config", "CONFIG.INI", 1);
    directory.AddEntry(MemoryEntry(std::string(3000, 'x'), "setup.exe"), "Commonfiles", "setup.exe", 1);
    directory.AddEntry(MemoryEntry("lower", "a"), "bin", "a", 1);
    directory.AddEntry(MemoryEntry("upper", "a"), "Bin", "a", 1);
    directory.AddEntry(MemoryEntry("no group", "readme"), nullptr, "readme", 1);
    directory.AddEntry(MemoryEntry("gone", "gone"), "Empty", "gone", 1);
    directory.RemoveEntry("gone", "Empty");

    const std::vector<uint8_t> first = Image(directory);
    EXPECT_EQ(directory.GetImageSize(), first.size());
    EXPECT_EQ(5, U16At(first, 6));   // entry total
    EXPECT_EQ(6, U16At(first, 12));  // group count
    EXPECT_TRUE(ValidateContainer(ByteView(first.data(), static_cast<uint32_t>(first.size())),
                                  ContainerCheck::kRead));

    PackageDirectory reloaded;
    ASSERT_EQ(6, reloaded.LoadImage(first.data(), static_cast<uint32_t>(first.size())));
    EXPECT_EQ("upper", Stored(reloaded.FindEntry("A", "Bin")));
    EXPECT_EQ("no group", Stored(reloaded.FindEntry("readme", "")));
    EXPECT_EQ(0, reloaded.GetEntryCount("Empty"));
    EXPECT_EQ(first, Image(reloaded));
}

TEST(DirectoryImage, GroupOrderFollowsTheMapIterationIncludingCaseVariants)
{
    const std::vector<std::string> keys = {"Config", "Commonfiles", "Bin", "bin", "BIN", "", "Tools", "z"};
    PackageDirectory directory;
    StringKeyMap reference(10);
    for (const std::string& key : keys) {
        directory.AddEntry(MemoryEntry(key + "!", "f"), key.c_str(), "f", 1);
        reference.SetAt(key.c_str(), nullptr);
    }
    std::vector<std::string> expected;
    for (StringKeyMap::Position p = reference.GetStartPosition(); p;) {
        CString key;
        void* value;
        reference.GetNextAssoc(p, key, value);
        expected.emplace_back(key.GetString());
    }
    const std::vector<uint8_t> image = Image(directory);
    EXPECT_EQ(expected, GroupOrder(image));

    CStringArray listed;
    directory.ListGroups(listed);
    ASSERT_EQ(static_cast<int>(expected.size()), listed.GetSize());
    for (int i = 0; i < listed.GetSize(); ++i)
        EXPECT_EQ(expected[i], std::string(listed[i].GetString()));

    // Each group record is followed by its own entries.
    PackageDirectory reloaded;
    ASSERT_EQ(8, reloaded.LoadImage(image.data(), static_cast<uint32_t>(image.size())));
    for (const std::string& key : keys)
        EXPECT_EQ(key + "!", Stored(reloaded.FindEntry("F", key.c_str())));
}

TEST(DirectoryImage, CompressedEntriesAreCarriedOverUnchanged)
{
    const std::string text(2000, 'q');
    std::vector<uint8_t> stream;
    ASSERT_EQ(1, LzwEncodeBuffer(reinterpret_cast<const uint8_t*>(text.data()), 2000, &stream));
    const std::vector<uint8_t> packed =
        EntryBytes("packed.dll", stream, 2000, static_cast<uint32_t>(stream.size()), 0x21);
    const std::vector<uint8_t> image = ContainerBytes({{"Commonfiles", {packed}}});

    PackageDirectory directory;
    ASSERT_EQ(1, directory.LoadImage(image.data(), static_cast<uint32_t>(image.size())));
    const EntryBuffer* entry = directory.FindEntry("PACKED.DLL", "Commonfiles");
    ASSERT_NE(nullptr, entry);
    EXPECT_EQ(packed.size(), entry->GetEntryLength());
    EXPECT_EQ(packed, std::vector<uint8_t>(entry->GetData(), entry->GetData() + entry->GetEntryLength()));
    EXPECT_EQ(image, Image(directory));
}

TEST(DirectoryImage, LaterGroupOfTheSameNameReplacesTheEarlierOne)
{
    const std::vector<uint8_t> image = ContainerBytes(
        {{"G", {StoredEntry("old", "1")}}, {"G", {StoredEntry("new", "2")}}, {"g", {StoredEntry("low", "3")}}});
    PackageDirectory directory;
    ASSERT_EQ(2, directory.LoadImage(image.data(), static_cast<uint32_t>(image.size())));
    EXPECT_EQ(nullptr, directory.FindEntry("old", "G"));
    EXPECT_NE(nullptr, directory.FindEntry("new", "G"));
    EXPECT_NE(nullptr, directory.FindEntry("low", "g"));
}

TEST(DirectoryImage, WriteImageRefusesAWrongSize)
{
    PackageDirectory directory;
    directory.AddEntry(MemoryEntry("abc", "a"), "G", "a", 1);
    const uint32_t size = directory.GetImageSize();
    std::vector<uint8_t> image(size + 1, 0);
    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, directory.WriteImage(image.data(), size + 1));
    EXPECT_EQ(kErrorInvalidParameter, GetLastErrorValue());
    EXPECT_EQ(0, directory.WriteImage(image.data(), size - 1));
    EXPECT_EQ(1, directory.WriteImage(image.data(), size));
    // The header's first 14 bytes are the caller's.
    EXPECT_EQ(std::vector<uint8_t>(14, 0), std::vector<uint8_t>(image.begin(), image.begin() + 14));
    EXPECT_EQ(18u, U32At(image, 14));
}
