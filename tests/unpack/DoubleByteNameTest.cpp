// Names in a double-byte code page whose trail bytes have the value of '\\'.
#include <windows.h>

#include <gtest/gtest.h>

#include "EntryExtraction.h"
#include "PackageHandle.h"
#include "TestSupport.h"

namespace {

// A GBK character whose trail byte is 0x5C, the value of '\\'.
const std::string kTrailBackslash = "\xB1\x5C";

class DoubleByteNameTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(936u, GetACP()) << "run with LANG=zh_CN.UTF-8"; }
};

TEST_F(DoubleByteNameTest, ATrailByteIsNeverTakenForASeparator)
{
    EXPECT_EQ(1, IsBareFileName((kTrailBackslash + ".txt").c_str()));
    EXPECT_EQ(0, IsBareFileName((kTrailBackslash + "\\x.txt").c_str()));
    char path[kMaxPath];
    ASSERT_EQ(1, BuildDestinationPath(("dir\\" + kTrailBackslash).c_str(), "a.txt", path));
    EXPECT_EQ("dir\\" + kTrailBackslash + "\\a.txt", std::string(path));
}

TEST_F(DoubleByteNameTest, EntriesWithSuchNamesAreExtracted)
{
    ScratchFolder scratch;
    std::string name = kTrailBackslash + ".txt";
    std::string package = scratch / "dbcs.oem";
    WriteBytes(package, BuildImage({{"G", {Entry(name, Bytes("gbk"))}}}));
    PackageHandle handle;
    ASSERT_EQ(1, handle.Open(package.c_str(), PackageHandle::kOpenExisting));
    std::string folder = scratch / kTrailBackslash;
    ASSERT_TRUE(CreateFolder(folder.c_str()));
    ASSERT_EQ(1, handle.ExtractEntry(name.c_str(), "G", folder.c_str(), nullptr, kOverwriteAlways));
    EXPECT_EQ(Bytes("gbk"), ReadBytes(folder + "\\" + name));
}

}  // namespace
