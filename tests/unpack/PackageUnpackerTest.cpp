// The package unpacker and its configuration, on packages written by the project's own writer.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "MappedFile.h"
#include "PackageHandle.h"
#include "ContainerImage.h"
#include "PackageUnpacker.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

struct PackageFile {
    std::string group, name;
    std::string data;
};

// Writes a package through PackageHandle::AddBuffer and Save.
std::string WritePackage(const std::string& path, const std::vector<PackageFile>& files)
{
    PackageHandle writer;
    EXPECT_EQ(1, writer.Open(path.c_str(), PackageHandle::kCreateAlways));
    for (const PackageFile& file : files) {
        MappedFile block;
        EXPECT_EQ(1, block.CreateMemory(nullptr, static_cast<uint32_t>(file.data.size()), 0));
        block.Write(Data(file.data), Size(file.data));
        EXPECT_EQ(1, writer.AddBuffer(block, file.name.c_str(), file.group.c_str(),
                                      MakeInfo(kFileAttributeArchive, 13000000000ull), 0));
    }
    EXPECT_EQ(1, writer.Save());
    return path;
}

std::vector<std::string> Items(const CStringArray& list)
{
    std::vector<std::string> items;
    for (int i = 0; i < list.GetSize(); ++i)
        items.push_back(list[i].GetString());
    return items;
}

// The temporary path points into the scratch folder for the test's duration.
class UnpackerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CreateFolder(temp.c_str()));
        GetEnvironmentVariableA("TMP", savedTmp, MAX_PATH);
        SetEnvironmentVariableA("TMP", (temp + "\\").c_str());
    }
    void TearDown() override { SetEnvironmentVariableA("TMP", savedTmp); }

    std::string Package(const std::string& config, std::vector<PackageFile> files = {})
    {
        files.push_back({"Config", "CONFIG.INI", config});
        return WritePackage(scratch / "setup.oem", files);
    }
    bool TempIsEmpty() const { return std::filesystem::is_empty(temp); }

    ScratchFolder scratch;
    std::string temp = scratch / "tmp";
    char savedTmp[MAX_PATH] = {};
};

TEST_F(UnpackerTest, BadModesAndMissingFilesCreateNothing)
{
    std::string missing = scratch / "missing.oem";
    {
        PackageUnpacker unpacker;
        EXPECT_EQ(0, unpacker.Open(missing.c_str(), 0));
        EXPECT_EQ(0, unpacker.Open(missing.c_str(), 5));
        SetLastErrorValue(0xDEADBEEF);
        EXPECT_EQ(0, unpacker.Open(missing.c_str(), 3));
        EXPECT_EQ(kErrorFileNotFound, GetLastErrorValue());
        EXPECT_EQ(0, unpacker.Open(Package("[Other]").c_str(), 1)) << "create new on an existing file";
    }
    EXPECT_TRUE(TempIsEmpty());
    PackageUnpacker unpacker;
    ASSERT_EQ(1, unpacker.Open((scratch / "setup.oem").c_str(), 2)) << "create always";
    EXPECT_EQ(0, unpacker.GetCommonFileLines().GetSize());
}

TEST_F(UnpackerTest, OpenAlwaysOnAMissingFileMakesAnEmptyPackageInAGuidFolder)
{
    std::string folder;
    {
        PackageUnpacker unpacker;
        ASSERT_EQ(1, unpacker.Open((scratch / "missing.oem").c_str(), 4));
        folder = unpacker.GetUnpackFolder().GetString();
        // "<temp>\{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
        ASSERT_EQ(temp.size() + 1 + 38, folder.size());
        EXPECT_EQ(temp + "\\{", folder.substr(0, temp.size() + 2));
        std::string marks = {folder[temp.size() + 10], folder[temp.size() + 15], folder[temp.size() + 20],
                             folder[temp.size() + 25], folder.back()};
        EXPECT_EQ("----}", marks);
        EXPECT_TRUE(IsFolder(folder));
        EXPECT_EQ(folder + "\\CONFIG.INI", unpacker.GetConfigPath().GetString());
        EXPECT_EQ(0, unpacker.ExtractCommonFile("ORG.SETUP.EXE", (scratch / "setup.exe").c_str()));
    }
    EXPECT_FALSE(IsFolder(folder));
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(UnpackerTest, ExtractsTheConfiguredEntryUnderTheDestinationsName)
{
    std::string installer = CompressibleBytes(20000);
    std::string config = "[Commonfiles]\r\nORG.SETUP.EXE=real_installer.bin\r\nOTHER=missing.bin\r\n";
    std::string package = Package(config, {{"Commonfiles", "real_installer.bin", installer},
                                           {"Elsewhere", "missing.bin", "wrong group"}});
    std::string destination = scratch / "setup.exe";
    WriteBytes(destination, "an older setup.exe");

    PackageUnpacker unpacker;
    ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
    EXPECT_EQ(config, ReadBytes(unpacker.GetConfigPath().GetString()));
    EXPECT_EQ(0, unpacker.ExtractCommonFile("NO.SUCH.KEY", destination.c_str()));
    SetLastErrorValue(0xDEADBEEF);
    EXPECT_EQ(0, unpacker.ExtractCommonFile("OTHER", destination.c_str()));
    EXPECT_EQ(kErrorFileNotFound, GetLastErrorValue());
    EXPECT_EQ("an older setup.exe", ReadBytes(destination));

    ASSERT_EQ(1, unpacker.ExtractCommonFile("org.setup.exe", destination.c_str()));
    EXPECT_EQ(installer, ReadBytes(destination));
    EXPECT_EQ(TimeOfSeconds(13000000000ull), LastWriteTime(destination));
    EXPECT_FALSE(PathExists((scratch / "real_installer.bin").c_str()));
}

TEST_F(UnpackerTest, DestinationsAndValuesThatDoNotFitAreRefused)
{
    // The entry is named by the first 259 bytes of a longer value: cutting
    // the value would find it.
    std::string longValue(300, 'v');
    std::string package = Package("[Commonfiles]\r\nLONG=" + longValue + "\r\nSHORT=a.bin\r\n",
                                  {{"Commonfiles", longValue.substr(0, 259), "cut"},
                                   {"Commonfiles", "a.bin", "a"}});
    PackageUnpacker unpacker;
    ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
    EXPECT_EQ(0, unpacker.ExtractCommonFile("LONG", (scratch / "long.exe").c_str()));
    EXPECT_EQ(0, unpacker.ExtractCommonFile("SHORT", "setup.exe")) << "no folder part";
    SetLastErrorValue(0xDEADBEEF);
    EXPECT_EQ(0, unpacker.ExtractCommonFile("SHORT", (scratch.Path() + "\\").c_str())) << "no file name";
    EXPECT_EQ(kErrorInvalidName, GetLastErrorValue());
    EXPECT_EQ(0, unpacker.ExtractCommonFile("SHORT", (scratch / std::string(260, 'd')).c_str()));
    EXPECT_FALSE(PathExists((scratch / "long.exe").c_str()));
    EXPECT_FALSE(PathExists("setup.exe"));
    EXPECT_EQ(1, unpacker.ExtractCommonFile("SHORT", (scratch / "a.exe").c_str()));
}

TEST_F(UnpackerTest, WithoutConfigCONFIGINIThePackageOpensEmpty)
{
    for (const char* group : {"Other", "config"}) {
        std::string package = WritePackage(scratch / "p.oem", {{group, "CONFIG.INI", "[Commonfiles]\r\nK=s\r\n"},
                                                               {"Config", "OTHER.INI", "[Commonfiles]\r\nK=s\r\n"},
                                                               {"Commonfiles", "s", "x"}});
        PackageUnpacker unpacker;
        ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
        EXPECT_TRUE(IsFolder(unpacker.GetUnpackFolder().GetString()));
        EXPECT_EQ(0, unpacker.GetCommonFileLines().GetSize());
        EXPECT_EQ(0, unpacker.ExtractCommonFile("K", (scratch / "s.exe").c_str())) << group;
    }
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(UnpackerTest, ConfigurationListsAreDistinctIgnoringCaseInFirstSpelling)
{
    std::string package = Package("[ResourceReplace]\r\nA.FILENAME=one.dll\r\na.SIDE=2\r\nB.RESNAME=LOGO\r\n"
                                  "x.y.RESTYPE=3\r\nnodot=4\r\nb.RESTYPE=5\r\nother=6\r\n"
                                  "[Commonfiles]\r\nORG.SETUP.EXE=setup.bin\r\norg.setup.exe=setup.bin\r\n"
                                  "Readme=readme.txt\r\n[Empty]\r\n");
    PackageUnpacker unpacker;
    ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
    EXPECT_EQ((std::vector<std::string>{"A", "B", "x.y", ""}), Items(unpacker.GetReplaceNames()));
    EXPECT_EQ((std::vector<std::string>{"ORG.SETUP.EXE=setup.bin", "Readme=readme.txt"}),
              Items(unpacker.GetCommonFileLines()));
    // An open package stays mapped; on Windows it cannot be replaced until it is closed.
    unpacker.Close(1);

    PackageUnpacker empty;
    ASSERT_EQ(1, empty.Open(Package("[ResourceReplace]\r\n[Commonfiles]\r\n[Other]\r\nk=v\r\n").c_str(), 3));
    EXPECT_EQ(0, empty.GetReplaceNames().GetSize());
    EXPECT_EQ(0, empty.GetCommonFileLines().GetSize());
}

TEST_F(UnpackerTest, CloseRemovesWhatWasUnpackedOnlyWhenAsked)
{
    std::string package = Package("[Commonfiles]\r\nK=s.bin\r\n", {{"Commonfiles", "s.bin", "s"}});
    PackageUnpacker unpacker;
    ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
    std::string first = unpacker.GetUnpackFolder().GetString();
    ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
    std::string folder = unpacker.GetUnpackFolder().GetString();
    EXPECT_FALSE(IsFolder(first)) << "a second Open removes the first folder";
    std::string config = unpacker.GetConfigPath().GetString();
    WriteBytes(folder + "\\extra.txt", "left by someone");
    unpacker.Close(0);
    EXPECT_TRUE(PathExists(config.c_str()));
    EXPECT_EQ(0, unpacker.ExtractCommonFile("K", (scratch / "s.exe").c_str())) << "the package is closed";
    unpacker.Close(1);
    EXPECT_FALSE(IsFolder(folder));
    EXPECT_TRUE(unpacker.GetUnpackFolder().IsEmpty());
    EXPECT_EQ(0, unpacker.GetCommonFileLines().GetSize());
    EXPECT_TRUE(TempIsEmpty());
}

}  // namespace
