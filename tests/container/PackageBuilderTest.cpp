// Entry builder and batch builder: entries from files and blocks, whole container files.
#include <gtest/gtest.h>

#include "ContainerImage.h"
#include "EntryBuilder.h"
#include "PackageBuilder.h"
#include "PackageDirectory.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

int LoadFile(const std::string& path, PackageDirectory& directory)
{
    const std::string bytes = ReadBytes(path);
    return directory.LoadImage(Data(bytes), Size(bytes));
}

}  // namespace

TEST(EntryBuilder, FileSourceGivesNameAttributesSizeTimesAndData)
{
    ScratchFolder folder;
    const std::string path = folder / "Data.Bin";
    WriteBytes(path, std::string(1500, 'd'));
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

    const FileTime a = {1, 2}, b = {3, 4}, c = {5, 6};
    EXPECT_EQ(1, entry.SetAttributes(0x27));
    EXPECT_EQ(1, entry.SetTimes(a, b, c));
    EXPECT_EQ(0x27u, entry.GetAttributes());
    EXPECT_EQ(c, entry.GetLastWriteTime());
    EXPECT_EQ(std::string(1500, 'd'), Stored(&entry));
}

TEST(EntryBuilder, MemorySourceWithoutPathHasNoNameNoAttributesAndOneClockTime)
{
    MappedFile source;
    ASSERT_EQ(1, source.CreateMemory(nullptr, 1024, 0));
    source.Write("abc", 3);
    EntryBuffer entry;
    ASSERT_EQ(1, BuildEntry(source, nullptr, entry, 1));
    EXPECT_EQ(4096u, entry.GetCapacity());
    EXPECT_STREQ("", entry.GetName());
    EXPECT_EQ(0u, entry.GetAttributes());
    EXPECT_EQ(41u + 1024, entry.GetEntryLength());
    EXPECT_EQ(entry.GetCreationTime(), entry.GetLastAccessTime());
    EXPECT_EQ(entry.GetCreationTime(), entry.GetLastWriteTime());
    EXPECT_NE(0u, entry.GetCreationTime().highDateTime);
    EXPECT_EQ("abc", Stored(&entry).substr(0, 3));

    EntryBuffer named;
    ASSERT_EQ(1, BuildMemoryEntry("x", "C:\\deep\\folder\\Setup.exe", named));
    EXPECT_STREQ("Setup.exe", named.GetName());
    EXPECT_STREQ("a.txt", FileNamePart("/tmp/x/a.txt"));
    EXPECT_STREQ("a.txt", FileNamePart("C:a.txt"));
}

TEST(EntryBuilder, RefusesClosedSourcesAndNamesAbove259Bytes)
{
    MappedFile closed;
    EntryBuffer target;
    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, BuildEntry(closed, "x", target, 0));
    EXPECT_EQ(kErrorInvalidParameter, GetLastErrorValue());
    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, BuildMemoryEntry("x", std::string(260, 'n').c_str(), target));
    EXPECT_EQ(kErrorFilenameExcedRange, GetLastErrorValue());
    EXPECT_TRUE(target.IsClosed());
    EXPECT_EQ(1, BuildMemoryEntry("x", std::string(259, 'n').c_str(), target));
    EXPECT_EQ(0, BuildMemoryEntry("y", "other", target));  // already open: left alone
    EXPECT_EQ(259u, std::string(target.GetName()).size());
}

TEST(PackageBuilderItems, ItemsCompareIgnoringCaseAndSplitIntoPathAndGroup)
{
    ScratchFolder folder;
    const std::string a = folder / "a.txt";
    WriteBytes(a, "a");
    PackageBuilder builder;
    EXPECT_EQ(1, builder.AddItem(a.c_str(), "Bin"));
    EXPECT_EQ(1, builder.AddItem(a.c_str(), "BIN"));
    EXPECT_EQ(1, builder.AddItem(a.c_str()));
    EXPECT_EQ(2, builder.GetItemCount());
    EXPECT_EQ(0, builder.FindItem(a.c_str(), "bin"));
    EXPECT_EQ(-1, builder.FindItem(a.c_str(), "Other"));
    CString path, group;
    ASSERT_EQ(1, builder.GetItem(0, path, group));
    EXPECT_EQ(a, std::string(path.GetString()));
    EXPECT_STREQ("Bin", group);
    ASSERT_EQ(1, builder.GetItem(1, path, group));
    EXPECT_STREQ("", group);
    EXPECT_EQ(0, builder.GetItem(2, path, group));
    builder.RemoveItem(a.c_str(), "bIN");
    EXPECT_EQ(0, builder.FindItem(a.c_str()));

    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, builder.AddItem((folder / "missing.txt").c_str(), "G"));
    EXPECT_EQ(kErrorFileNotFound, GetLastErrorValue());
    EXPECT_EQ(0, builder.AddItem("two\nlines", "G"));
    EXPECT_EQ(1, builder.GetItemCount());
}

TEST(PackageBuilderBuild, FailuresWriteNothingAndKeepTheList)
{
    ScratchFolder folder;
    const std::string target = folder / "out.oem";
    const std::string good = folder / "good.txt";
    const std::string empty = folder / "empty.txt";
    WriteBytes(good, "good");
    WriteBytes(empty, "");
    PackageBuilder builder;
    builder.Init(target.c_str(), 1);
    EXPECT_EQ(0, builder.Build());  // no items
    EXPECT_FALSE(PathExists(target.c_str()));

    WriteBytes(target, "previous");
    ASSERT_EQ(1, builder.AddItem(good.c_str(), "G"));
    ASSERT_EQ(1, builder.AddItem(empty.c_str(), "G"));
    EXPECT_EQ(0, builder.Build());  // a file of length 0 cannot be mapped
    EXPECT_EQ(2, builder.GetItemCount());
    EXPECT_EQ("previous", ReadBytes(target));
    builder.Init("", 0);
    builder.RemoveItem(empty.c_str(), "G");
    EXPECT_EQ(0, builder.Build());  // no target path
    EXPECT_EQ(1, builder.GetItemCount());
}

TEST(PackageBuilderBuild, LaterItemOfTheSameNameWinsGroupsDifferingInCaseStayApart)
{
    ScratchFolder folder;
    const std::string target = folder / "out.oem";
    MakeFolder(folder / "sub");
    const std::string first = folder / "a.txt", same = folder / "sub" + kPathSeparator + "A.TXT";
    const std::string other = folder / "b.txt";
    WriteBytes(first, "first");
    WriteBytes(same, "second");
    WriteBytes(other, "other");
    PackageBuilder builder;
    builder.Init(target.c_str(), 0);
    ASSERT_EQ(1, builder.AddItem(first.c_str(), "Bin"));
    ASSERT_EQ(1, builder.AddItem(other.c_str(), "bin"));
    ASSERT_EQ(1, builder.AddItem(same.c_str(), "Bin"));
    ASSERT_EQ(1, builder.AddItem(other.c_str()));
    ASSERT_EQ(1, builder.Build());
    EXPECT_EQ(0, builder.GetItemCount());

    PackageDirectory directory;
    ASSERT_EQ(3, LoadFile(target, directory));
    EXPECT_EQ(1, directory.GetEntryCount("Bin"));
    EXPECT_EQ("second", Stored(directory.FindEntry("a.txt", "Bin")));
    EXPECT_EQ("other", Stored(directory.FindEntry("b.txt", "bin")));
    EXPECT_EQ("other", Stored(directory.FindEntry("b.txt", "")));
}

TEST(PackageBuilderBuild, MergeKeepsOldEntriesCompressedOnesUnchangedAndReplacesInPlace)
{
    ScratchFolder folder;
    const std::string target = folder / "setup.oem";
    const std::string packed = EntryBytes("abc.dll", "\x80\x18\x4C\x46\x38\x08", 3, 6);
    WriteBytes(target, ContainerBytes({{"Commonfiles", {StoredEntry("readme.txt", "old"), packed}},
                                       {"Config", {StoredEntry("CONFIG.INI", "[x]")}}}));
    const std::string readme = folder / "README.TXT", added = folder / "new.txt";
    WriteBytes(readme, "new readme");
    WriteBytes(added, "added");
    PackageBuilder builder;
    builder.Init(target.c_str(), 1);
    ASSERT_EQ(1, builder.AddItem(readme.c_str(), "Commonfiles"));
    ASSERT_EQ(1, builder.AddItem(added.c_str(), "Commonfiles"));
    ASSERT_EQ(1, builder.Build());

    PackageDirectory directory;
    ASSERT_EQ(2, LoadFile(target, directory));
    CStringArray names;
    directory.ListEntries("Commonfiles", names);
    ASSERT_EQ(3, names.GetSize());
    EXPECT_STREQ("README.TXT", names[0]);
    EXPECT_STREQ("abc.dll", names[1]);
    EXPECT_STREQ("new.txt", names[2]);
    const EntryBuffer* kept = directory.FindEntry("ABC.DLL", "Commonfiles");
    EXPECT_EQ(packed, std::string(reinterpret_cast<const char*>(kept->GetData()), kept->GetEntryLength()));
    EXPECT_EQ("[x]", Stored(directory.FindEntry("config.ini", "Config")));

    // A file there that is not a container contributes nothing and is replaced.
    WriteBytes(target, "not a container");
    ASSERT_EQ(1, builder.AddItem(added.c_str(), "New"));
    ASSERT_EQ(1, builder.Build());
    PackageDirectory replaced;
    EXPECT_EQ(1, LoadFile(target, replaced));
}
