// Entry builder and batch builder: entries from files and blocks, whole container files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ContainerFormat.h"
#include "ContainerTestSupport.h"
#include "EntryBuilder.h"
#include "LzwCodec.h"
#include "PackageBuilder.h"
#include "PackageDirectory.h"

using namespace testing_support;

namespace {

std::string Stored(const EntryBuffer* entry)
{
    return std::string(reinterpret_cast<const char*>(entry->GetStoredData()), entry->GetStoredLength());
}

// Loads a container file into a directory; the number of groups.
int LoadFile(const std::string& path, PackageDirectory& directory)
{
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    return directory.LoadImage(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

}  // namespace

TEST(EntryBuilder, FileSourceTakesNameAttributesSizeAndTimesFromTheFile)
{
    ScratchFolder folder("entryfile");
    const std::string path = folder.File("Data.Bin");
    WriteFileText(path, std::string(1500, 'd'));

    MappedFile source;
    ASSERT_EQ(1, source.OpenFile(path.c_str(), 1, kOpenExisting, 0));
    FileTime creation, access, write;
    ASSERT_TRUE(GetHandleTimes(source.GetFileHandle(), &creation, &access, &write));
    EntryBuffer entry;
    ASSERT_EQ(1, BuildEntry(source, path.c_str(), entry, 1));

    EXPECT_EQ(kFileEntryKind, entry.GetKind());
    EXPECT_STREQ("Data.Bin", entry.GetName());
    EXPECT_EQ(kFileAttributeArchive, entry.GetAttributes());
    EXPECT_EQ(1500u, entry.GetUncompressedSize());
    EXPECT_EQ(0u, entry.GetCompressedSize());  // the compress flag has no effect
    EXPECT_EQ(creation, entry.GetCreationTime());
    EXPECT_EQ(access, entry.GetLastAccessTime());
    EXPECT_EQ(write, entry.GetLastWriteTime());
    EXPECT_EQ(3u * 1500, entry.GetCapacity());
    EXPECT_EQ(40u + 8 + 1500, entry.GetEntryLength());
    EXPECT_EQ(std::string(1500, 'd'), Stored(&entry));
}

TEST(EntryBuilder, ReadOnlyFileKeepsItsReadOnlyBit)
{
    ScratchFolder folder("entryro");
    const std::string path = folder.File("ro.txt");
    WriteFileText(path, "read only");
    std::filesystem::permissions(path, std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);
    EntryBuffer entry;
    {
        MappedFile source;
        ASSERT_EQ(1, source.OpenFile(path.c_str(), 1, kOpenExisting, 0));
        ASSERT_EQ(1, BuildEntry(source, path.c_str(), entry, 0));
    }
    std::filesystem::permissions(path, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    EXPECT_EQ(kFileAttributeReadOnly, entry.GetAttributes() & kFileAttributeReadOnly);
}

TEST(EntryBuilder, MemorySourceWithoutPathHasNoNameNoAttributesAndTheClockInAllTimes)
{
    const FileTime before = GetSystemFileTime();
    MappedFile source;
    ASSERT_EQ(1, source.CreateMemory(nullptr, 1024, 0));
    source.Write("abc", 3);
    EntryBuffer entry;
    ASSERT_EQ(1, BuildEntry(source, nullptr, entry, 1));

    EXPECT_EQ(4096u, entry.GetCapacity());  // 1024 bytes or fewer
    EXPECT_STREQ("", entry.GetName());
    EXPECT_EQ(0u, entry.GetAttributes());
    EXPECT_EQ(1024u, entry.GetUncompressedSize());
    EXPECT_EQ(41u + 1024, entry.GetEntryLength());
    const FileTime t = entry.GetCreationTime();
    EXPECT_EQ(t, entry.GetLastAccessTime());
    EXPECT_EQ(t, entry.GetLastWriteTime());
    const uint64_t stamp = (uint64_t{t.highDateTime} << 32) | t.lowDateTime;
    EXPECT_GE(stamp, (uint64_t{before.highDateTime} << 32) | before.lowDateTime);
    EXPECT_EQ(0, entry.GetData()[40]);  // the empty name's single byte
    EXPECT_EQ(0, std::string(reinterpret_cast<const char*>(entry.GetStoredData()), 3).compare("abc"));
}

TEST(EntryBuilder, NameIsThePartAfterTheLastSeparator)
{
    EXPECT_STREQ("a.txt", FileNamePart("C:\\src\\a.txt"));
    EXPECT_STREQ("a.txt", FileNamePart("/tmp/x/a.txt"));
    EXPECT_STREQ("a.txt", FileNamePart("C:a.txt"));
    EXPECT_STREQ("a.txt", FileNamePart("a.txt"));
    EXPECT_STREQ("", FileNamePart("dir\\"));

    EntryBuffer entry;
    ASSERT_EQ(1, BuildMemoryEntry("x", "C:\\deep\\folder\\Setup.exe", entry));
    EXPECT_STREQ("Setup.exe", entry.GetName());
}

TEST(EntryBuilder, RefusesWhatCannotBecomeAnEntry)
{
    MappedFile closed;
    EntryBuffer target;
    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, BuildEntry(closed, "x", target, 0));
    EXPECT_EQ(kErrorInvalidParameter, GetLastErrorValue());
    EXPECT_TRUE(target.IsClosed());

    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, BuildMemoryEntry("x", std::string(260, 'n').c_str(), target));
    EXPECT_EQ(kErrorFilenameExcedRange, GetLastErrorValue());
    EXPECT_TRUE(target.IsClosed());
    EXPECT_EQ(1, BuildMemoryEntry("x", std::string(259, 'n').c_str(), target));

    // A target that is already open is left alone.
    EXPECT_EQ(0, BuildMemoryEntry("y", "other", target));
    EXPECT_EQ(std::string(259, 'n'), std::string(target.GetName()));
}

TEST(EntryBuffer, SettersOverwriteOnlyTheirFields)
{
    EntryBuffer entry;
    ASSERT_EQ(1, BuildMemoryEntry("payload", "p.bin", entry));
    const FileTime a = {1, 2}, b = {3, 4}, c = {5, 6};
    EXPECT_EQ(1, entry.SetAttributes(0x27));
    EXPECT_EQ(1, entry.SetTimes(a, b, c));
    EXPECT_EQ(0x27u, entry.GetAttributes());
    EXPECT_EQ(a, entry.GetCreationTime());
    EXPECT_EQ(b, entry.GetLastAccessTime());
    EXPECT_EQ(c, entry.GetLastWriteTime());
    EXPECT_EQ(7u, entry.GetUncompressedSize());
    EXPECT_STREQ("p.bin", entry.GetName());
    EXPECT_EQ("payload", Stored(&entry));

    EntryBuffer closed;
    EXPECT_EQ(0, closed.SetAttributes(1));
    EXPECT_EQ(0u, closed.GetEntryLength());
    EXPECT_EQ(nullptr, closed.GetStoredData());
}

TEST(PackageBuilderItems, ItemsAreComposedComparedIgnoringCaseAndSplit)
{
    ScratchFolder folder("items");
    const std::string a = folder.File("a.txt");
    WriteFileText(a, "a");
    PackageBuilder builder;
    EXPECT_EQ(1, builder.AddItem(a.c_str(), "Bin"));
    EXPECT_EQ(1, builder.AddItem(a.c_str(), "BIN"));  // equal ignoring case: not added again
    EXPECT_EQ(1, builder.AddItem(a.c_str()));
    EXPECT_EQ(1, builder.AddItem(a.c_str(), ""));
    EXPECT_EQ(2, builder.GetItemCount());
    EXPECT_EQ(0, builder.FindItem(a.c_str(), "bin"));
    EXPECT_EQ(1, builder.FindItem(a.c_str(), nullptr));
    EXPECT_EQ(-1, builder.FindItem(a.c_str(), "Other"));

    CString path, group;
    ASSERT_EQ(1, builder.GetItem(0, path, group));
    EXPECT_EQ(a, std::string(path.GetString()));
    EXPECT_STREQ("Bin", group);
    ASSERT_EQ(1, builder.GetItem(1, path, group));
    EXPECT_STREQ("", group);
    EXPECT_EQ(0, builder.GetItem(2, path, group));
    EXPECT_EQ(0, builder.GetItem(-1, path, group));

    builder.RemoveItem(a.c_str(), "bIN");
    EXPECT_EQ(1, builder.GetItemCount());
    EXPECT_EQ(0, builder.FindItem(a.c_str()));
}

TEST(PackageBuilderItems, UnreadableOrMalformedPathsAreRefused)
{
    ScratchFolder folder("refuse");
    PackageBuilder builder;
    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, builder.AddItem(folder.File("missing.txt").c_str(), "G"));
    EXPECT_EQ(kErrorFileNotFound, GetLastErrorValue());
    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, builder.AddItem("two\nlines", "G"));
    EXPECT_EQ(kErrorInvalidParameter, GetLastErrorValue());
    EXPECT_EQ(0, builder.GetItemCount());
}

TEST(PackageBuilderBuild, NothingIsWrittenWithoutTargetOrItems)
{
    ScratchFolder folder("nobuild");
    const std::string target = folder.File("out.oem");
    PackageBuilder builder;
    EXPECT_EQ(0, builder.Build());
    builder.Init(target.c_str(), 0);
    EXPECT_EQ(0, builder.Build());
    EXPECT_FALSE(PathExists(target.c_str()));

    const std::string a = folder.File("a.txt");
    WriteFileText(a, "a");
    builder.Init("", 0);
    ASSERT_EQ(1, builder.AddItem(a.c_str(), "G"));
    EXPECT_EQ(0, builder.Build());
    EXPECT_EQ(1, builder.GetItemCount());
}

TEST(PackageBuilderBuild, FailedBuildWritesNothingAndKeepsTheList)
{
    ScratchFolder folder("failbuild");
    const std::string target = folder.File("out.oem");
    WriteFileText(target, "previous contents");
    const std::string good = folder.File("good.txt");
    const std::string empty = folder.File("empty.txt");
    WriteFileText(good, "good");
    WriteFileText(empty, "");

    PackageBuilder builder;
    builder.Init(target.c_str(), 1);
    ASSERT_EQ(1, builder.AddItem(good.c_str(), "G"));
    ASSERT_EQ(1, builder.AddItem(empty.c_str(), "G"));
    EXPECT_EQ(0, builder.Build());  // a file of length 0 cannot be mapped
    EXPECT_EQ(2, builder.GetItemCount());
    const std::vector<uint8_t> after = ReadFileBytes(target);
    EXPECT_EQ("previous contents", std::string(after.begin(), after.end()));

    // An input that disappears after it was listed fails the same way.
    builder.RemoveItem(empty.c_str(), "G");
    std::filesystem::remove(good);
    EXPECT_EQ(0, builder.Build());
    EXPECT_EQ(1, builder.GetItemCount());
}

TEST(PackageBuilderBuild, BuildWritesEveryItemAndClearsTheList)
{
    ScratchFolder folder("build");
    const std::string target = folder.File("out.oem");
    const std::string first = folder.File("a.txt");
    const std::string same = (std::filesystem::path(folder.Path()) / "sub" / "A.TXT").string();
    std::filesystem::create_directory(std::filesystem::path(folder.Path()) / "sub");
    const std::string other = folder.File("b.txt");
    WriteFileText(first, "first");
    WriteFileText(same, "second");
    WriteFileText(other, "other");

    PackageBuilder builder;
    builder.Init(target.c_str(), 0);
    ASSERT_EQ(1, builder.AddItem(first.c_str(), "Bin"));
    ASSERT_EQ(1, builder.AddItem(other.c_str(), "bin"));
    ASSERT_EQ(1, builder.AddItem(same.c_str(), "Bin"));  // same file name, same group
    ASSERT_EQ(1, builder.AddItem(other.c_str()));
    ASSERT_EQ(1, builder.Build());
    EXPECT_EQ(0, builder.GetItemCount());

    const std::vector<uint8_t> bytes = ReadFileBytes(target);
    PackageDirectory directory;
    ASSERT_EQ(3, directory.LoadImage(bytes.data(), static_cast<uint32_t>(bytes.size())));
    EXPECT_EQ(directory.GetImageSize(), bytes.size());
    EXPECT_EQ(1, directory.GetEntryCount("Bin"));
    EXPECT_STREQ("A.TXT", directory.FindEntry("a.txt", "Bin")->GetName());
    EXPECT_EQ("second", Stored(directory.FindEntry("a.txt", "Bin")));
    EXPECT_EQ("other", Stored(directory.FindEntry("b.txt", "bin")));
    EXPECT_EQ("other", Stored(directory.FindEntry("b.txt", "")));
    EXPECT_EQ(3, bytes[6] | (bytes[7] << 8));  // entry total
}

TEST(PackageBuilderBuild, MergeKeepsTheOldEntriesAndReplacesSameNamedOnesInPlace)
{
    ScratchFolder folder("merge");
    const std::string target = folder.File("setup.oem");
    const std::string text(5000, 'z');
    std::vector<uint8_t> stream;
    ASSERT_EQ(1, LzwEncodeBuffer(reinterpret_cast<const uint8_t*>(text.data()), 5000, &stream));
    const std::vector<uint8_t> packed = EntryBytes("big.dll", stream, 5000, static_cast<uint32_t>(stream.size()));
    WriteFileBytes(target, ContainerBytes({{"Commonfiles", {StoredEntry("readme.txt", "old"), packed,
                                                            StoredEntry("last.txt", "kept")}},
                                           {"Config", {StoredEntry("CONFIG.INI", "[x]")}}}));

    const std::string readme = folder.File("README.TXT");
    const std::string added = folder.File("new.txt");
    WriteFileText(readme, "new readme");
    WriteFileText(added, "added");
    PackageBuilder builder;
    builder.Init(target.c_str(), 1);
    ASSERT_EQ(1, builder.AddItem(readme.c_str(), "Commonfiles"));
    ASSERT_EQ(1, builder.AddItem(added.c_str(), "Commonfiles"));
    ASSERT_EQ(1, builder.Build());

    PackageDirectory directory;
    ASSERT_EQ(2, LoadFile(target, directory));
    CStringArray names;
    ASSERT_EQ(1, directory.ListEntries("Commonfiles", names));
    ASSERT_EQ(4, names.GetSize());
    EXPECT_STREQ("README.TXT", names[0]);  // replaced in place
    EXPECT_STREQ("big.dll", names[1]);
    EXPECT_STREQ("last.txt", names[2]);
    EXPECT_STREQ("new.txt", names[3]);  // new entries follow the loaded ones
    EXPECT_EQ("new readme", Stored(directory.FindEntry("readme.txt", "Commonfiles")));
    const EntryBuffer* big = directory.FindEntry("BIG.DLL", "Commonfiles");
    ASSERT_NE(nullptr, big);
    EXPECT_EQ(packed, std::vector<uint8_t>(big->GetData(), big->GetData() + big->GetEntryLength()));
    EXPECT_EQ("[x]", Stored(directory.FindEntry("config.ini", "Config")));
}

TEST(PackageBuilderBuild, WithoutMergeOrWithAnInvalidTargetOnlyTheNewItemsAreWritten)
{
    ScratchFolder folder("nomerge");
    const std::string target = folder.File("setup.oem");
    const std::string item = folder.File("x.txt");
    WriteFileText(item, "x");

    for (int merge : {0, 1}) {
        WriteFileBytes(target, ContainerBytes({{"Old", {StoredEntry("o", "o")}}}));
        if (merge)
            WriteFileText(target, "not a container at all");
        PackageBuilder builder;
        builder.Init(target.c_str(), merge);
        ASSERT_EQ(1, builder.AddItem(item.c_str(), "New"));
        ASSERT_EQ(1, builder.Build());
        PackageDirectory directory;
        EXPECT_EQ(1, LoadFile(target, directory)) << merge;
        EXPECT_EQ(nullptr, directory.FindGroup("Old"));
    }
}
