// The in-memory directory: editing and ownership, group order, image round trips.
#include <gtest/gtest.h>

#include "ContainerFormat.h"
#include "ContainerImage.h"
#include "PackageDirectory.h"
#include "ScratchFolder.h"
#include "StringKeyMap.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

EntryBuffer* MemoryEntry(const std::string& content, const char* name)
{
    EntryBuffer* entry = new EntryBuffer;
    EXPECT_EQ(1, BuildMemoryEntry(content, name, *entry));
    return entry;
}

}  // namespace

TEST(DirectoryEditing, SameNameReplacesInPlaceIgnoringCaseGroupsAreExact)
{
    PackageDirectory directory;
    directory.AddEntry(MemoryEntry("one", "A.TXT"), "G", "A.TXT", 1);
    directory.AddEntry(MemoryEntry("two", "b.txt"), "G", "b.txt", 1);
    EntryBuffer* replacement = MemoryEntry("three", "a.txt");
    directory.AddEntry(replacement, "G", "a.txt", 1);
    directory.AddEntry(MemoryEntry("other group", "a.txt"), "g", "a.txt", 1);

    CStringArray names;
    ASSERT_EQ(1, directory.ListEntries("G", names));
    ASSERT_EQ(2, names.GetSize());
    EXPECT_STREQ("a.txt", names[0]);
    EXPECT_STREQ("b.txt", names[1]);
    EXPECT_EQ(replacement, directory.FindEntry("A.Txt", "G"));
    EXPECT_EQ("other group", Stored(directory.FindEntry("A.TXT", "g")));
    EXPECT_EQ(nullptr, directory.FindEntry("a.txt", "G "));
    EXPECT_EQ(0, directory.ListEntries("missing", names));
    EXPECT_EQ(3, directory.GetEntryCount(nullptr));
    EXPECT_EQ(2, directory.GetEntryCount("G"));

    EXPECT_EQ(0, directory.RemoveEntry("a.txt", "missing"));
    EXPECT_EQ(1, directory.RemoveEntry("A.TXT", "g"));
    EXPECT_EQ(0, directory.RemoveEntry("a.txt", "g"));
    EXPECT_EQ(2, directory.GetGroupCount());  // an emptied group stays
}

TEST(DirectoryEditing, OnlyOwnedBuffersAreDeleted)
{
    EntryBuffer mine, alsoMine;
    ASSERT_EQ(1, BuildMemoryEntry("mine", "m.bin", mine));
    ASSERT_EQ(1, BuildMemoryEntry("also", "n.bin", alsoMine));
    {
        PackageDirectory directory;
        directory.AddEntry(&mine, "G", "m.bin", 0);
        directory.AddEntry(MemoryEntry("owned", "m.bin"), "G", "M.BIN", 1);  // replaces mine
        directory.AddEntry(&alsoMine, "G", "n.bin", 0);
        EXPECT_EQ(1, directory.RemoveEntry("n.bin", "G"));
        EntryBuffer* owned = directory.FindEntry("m.bin", "G");
        directory.AddEntry(owned, "G", "m.bin", 1);  // replaced by itself: kept alive
        EXPECT_EQ("owned", Stored(directory.FindEntry("m.bin", "G")));
    }
    EXPECT_EQ("mine", Stored(&mine));
    EXPECT_EQ("also", Stored(&alsoMine));
}

TEST(DirectoryEditing, RefusesBuffersThatHoldNoWholeEntry)
{
    PackageDirectory directory;
    EntryBuffer closed, garbage, fine;
    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, directory.AddEntry(&closed, "G", "x", 0));
    EXPECT_EQ(kErrorInvalidParameter, GetLastErrorValue());
    ASSERT_EQ(1, garbage.CreateMemory(nullptr, 45, 0));
    ByteSpan(garbage.GetData(), 45).WriteU16(kEntryNameLengthOffset, 200);
    EXPECT_EQ(0, directory.AddEntry(&garbage, "G", "x", 0));
    ASSERT_EQ(1, BuildMemoryEntry("data", "f", fine));
    EXPECT_EQ(0, directory.AddEntry(&fine, std::string(260, 'g').c_str(), "f", 0));
    EXPECT_EQ(0, directory.GetGroupCount());
}

TEST(DirectoryImage, GroupsFollowTheMapOrderAndSurviveLoadAndWrite)
{
    const std::vector<std::string> keys = {"Config", "Commonfiles", "Bin", "bin", "BIN", "", "Tools", "z", "y"};
    PackageDirectory directory;
    StringKeyMap reference(10);
    for (const std::string& key : keys) {
        directory.AddEntry(MemoryEntry(key + "!", "f"), key.c_str(), "f", 1);
        reference.SetAt(key.c_str(), nullptr);
    }
    directory.AddEntry(MemoryEntry(std::string(3000, 'x'), "big"), "Bin", "big", 1);
    const std::string image = Written(directory);
    EXPECT_EQ(directory.GetImageSize(), image.size());
    EXPECT_EQ(10, image[6]);  // entry total
    EXPECT_EQ(9, image[12]);  // group count

    uint32_t slot = 0;
    for (StringKeyMap::Position p = reference.GetStartPosition(); p; ++slot) {
        CString key;
        void* value;
        reference.GetNextAssoc(p, key, value);
        const uint32_t record = U32At(image, 14 + 4 * slot);
        EXPECT_EQ(std::string(key.GetString()), image.substr(record + 4, static_cast<uint8_t>(image[record + 2])));
    }
    PackageDirectory reloaded;
    ASSERT_EQ(9, reloaded.LoadImage(Data(image), Size(image)));
    for (const std::string& key : keys)
        EXPECT_EQ(key + "!", Stored(reloaded.FindEntry("F", key.c_str())));
    EXPECT_EQ(image, Written(reloaded));
}

TEST(DirectoryImage, LoadingCopiesCompressedEntriesAndKeepsTheLastGroupOfAName)
{
    const std::string packed = EntryBytes("packed.dll", "\x80\x18\x4C\x46\x38\x08", 3, 6);
    const std::string image = ContainerBytes({{"G", {StoredEntry("old", "1")}}, {"Lib", {packed}},
                                              {"G", {StoredEntry("new", "2")}}});
    PackageDirectory directory;
    ASSERT_EQ(2, directory.LoadImage(Data(image), Size(image)));
    EXPECT_EQ(nullptr, directory.FindEntry("old", "G"));
    EXPECT_NE(nullptr, directory.FindEntry("new", "G"));
    const EntryBuffer* entry = directory.FindEntry("PACKED.DLL", "Lib");
    ASSERT_NE(nullptr, entry);
    EXPECT_EQ(packed, std::string(reinterpret_cast<const char*>(entry->GetData()), entry->GetEntryLength()));
}

TEST(DirectoryViews, LoadedEntriesViewTheFileUntilTheyAreChanged)
{
    ScratchFolder scratch;
    const std::string path = scratch / "p.oem";
    const std::string image = ContainerBytes({{"G", {StoredEntry("a.txt", "alpha"), PackedEntry("b.bin", "beta")}}});
    WriteBytes(path, image);
    auto file = std::make_shared<MappedFile>();
    ASSERT_EQ(1, file->OpenShared(path.c_str()));
    PackageDirectory directory;
    ASSERT_EQ(1, directory.LoadMapped(file));
    EntryBuffer* a = directory.FindEntry("a.txt", "G");
    EntryBuffer* b = directory.FindEntry("b.bin", "G");
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(a->IsView() && b->IsView());
    // No copy: the entry's bytes lie inside the mapping.
    EXPECT_GE(a->GetData(), file->GetData());
    EXPECT_LT(a->GetData(), file->GetData() + file->GetLength());
    EXPECT_EQ(0u, a->Write("x", 1)) << "a view is read-only";

    // The first change copies the entry; the file and the other entry stay as they were.
    const FileTime later = TimeOfSeconds(14000000000ull);
    ASSERT_EQ(1, a->SetTimes(later, later, later));
    ASSERT_EQ(1, a->SetAttributes(0x21));
    EXPECT_TRUE(a->IsMemory());
    EXPECT_TRUE(b->IsView());
    EXPECT_EQ(later, a->GetLastWriteTime());
    EXPECT_EQ(0x21u, a->GetAttributes());
    EXPECT_EQ("alpha", Stored(a));
    EXPECT_EQ(image, ReadBytes(path));

    // The written image carries the change, and the mapping lives as long as a view does.
    std::string written = Written(directory);
    EXPECT_NE(image, written);
    EXPECT_EQ(image.size(), written.size());
    file.reset();
    EXPECT_EQ(PackedEntry("b.bin", "beta").stored, Stored(b));
    PackageDirectory reloaded;
    ASSERT_EQ(1, reloaded.LoadImage(Data(written), Size(written)));
    EXPECT_EQ(later, reloaded.FindEntry("A.TXT", "G")->GetLastWriteTime());
    EXPECT_EQ(Stored(b), Stored(reloaded.FindEntry("b.bin", "G")));
}
