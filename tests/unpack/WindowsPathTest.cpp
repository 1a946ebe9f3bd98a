// Windows path forms: drive-relative folders, and double-byte names whose trail bytes look like '\\'.
#include <windows.h>

#include <gtest/gtest.h>

#include "EntryExtraction.h"
#include "ContainerImage.h"
#include "PackageHandle.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

// A GBK character whose trail byte is 0x5C, the value of '\\'.
const std::string kTrailBackslash = "\xB1\x5C";

class WindowsPathTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(936u, GetACP()) << "run with LANG=zh_CN.UTF-8"; }
};

TEST_F(WindowsPathTest, ATrailByteIsNeverTakenForASeparator)
{
    EXPECT_EQ(1, IsBareFileName((kTrailBackslash + ".txt").c_str()));
    EXPECT_EQ(0, IsBareFileName((kTrailBackslash + "\\x.txt").c_str()));
    char path[kMaxPath];
    ASSERT_EQ(1, BuildDestinationPath(("dir\\" + kTrailBackslash).c_str(), "a.txt", path));
    EXPECT_EQ("dir\\" + kTrailBackslash + "\\a.txt", std::string(path));
}

TEST_F(WindowsPathTest, EntriesWithSuchNamesAreExtracted)
{
    ScratchFolder scratch;
    std::string name = kTrailBackslash + ".txt";
    std::string package = scratch / "dbcs.oem";
    WriteBytes(package, ContainerBytes({{"G", {StoredEntry(name, "gbk")}}}));
    PackageHandle handle;
    ASSERT_EQ(1, handle.Open(package.c_str(), PackageHandle::kOpenExisting));
    std::string folder = scratch / kTrailBackslash;
    ASSERT_TRUE(CreateFolder(folder.c_str()));
    ASSERT_EQ(1, handle.ExtractEntry(name.c_str(), "G", folder.c_str(), nullptr, kOverwriteAlways));
    EXPECT_EQ("gbk", ReadBytes(folder + "\\" + name));
}

TEST_F(WindowsPathTest, AddFileNamesTheEntryAfterTheLastRealSeparator)
{
    ScratchFolder scratch;
    std::string source = scratch / (kTrailBackslash + ".txt");
    WriteBytes(source, "gbk");
    PackageHandle handle;
    ASSERT_EQ(1, handle.Open((scratch / "add.oem").c_str(), PackageHandle::kCreateAlways));
    ASSERT_EQ(1, handle.AddFile(source.c_str(), "G"));
    CStringArray names;
    ASSERT_EQ(1, handle.ListEntries("G", names));
    ASSERT_EQ(1, names.GetSize());
    EXPECT_EQ(kTrailBackslash + ".txt", std::string(names[0]));
}

TEST_F(WindowsPathTest, ABareDriveFolderWritesIntoThatDrivesCurrentFolder)
{
    ScratchFolder scratch;
    std::string package = scratch / "drive.oem";
    WriteBytes(package, ContainerBytes({{"G", {StoredEntry("drive-relative.txt", "here")}}}));
    PackageHandle handle;
    ASSERT_EQ(1, handle.Open(package.c_str(), PackageHandle::kOpenExisting));
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(scratch.Path().c_str()));
    // "Z:" and the name, no separator: the current folder of that drive.
    std::string drive = scratch.Path().substr(0, 2);
    int result = handle.ExtractEntry("drive-relative.txt", "G", drive.c_str(), nullptr, kOverwriteAlways);
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(1, result);
    EXPECT_EQ("here", ReadBytes(scratch / "drive-relative.txt"));
}

}  // namespace
