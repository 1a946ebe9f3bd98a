// The package unpacker and its configuration, on packages written by the project's own writer.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "MappedFile.h"
#include "PackageHandle.h"
#include "PackageUnpacker.h"
#include "TestSupport.h"

namespace {

constexpr uint64_t kEntrySeconds = 13000000000ull;

struct PackageFile {
    std::string group;
    std::string name;
    std::vector<uint8_t> data;
};

class UnpackerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        temp = scratch / "tmp";
        ASSERT_TRUE(CreateFolder(temp.c_str()));
        for (const char* name : {"TMP", "TEMP"}) {
            char value[MAX_PATH] = {};
            GetEnvironmentVariableA(name, value, MAX_PATH);
            saved.emplace_back(name, value);
            SetEnvironmentVariableA(name, (temp + "\\").c_str());
        }
    }
    void TearDown() override
    {
        for (const auto& [name, value] : saved)
            SetEnvironmentVariableA(name.c_str(), value.c_str());
    }

    // Writes a package with the files given, through PackageHandle and Save.
    std::string Package(const std::vector<PackageFile>& files, const std::string& name = "setup.oem")
    {
        std::string path = scratch / name;
        PackageHandle writer;
        EXPECT_EQ(1, writer.Open(path.c_str(), PackageHandle::kCreateAlways));
        EntryInfo info = MakeInfo(kFileAttributeArchive, kEntrySeconds);
        for (const PackageFile& file : files) {
            MappedFile block;
            EXPECT_EQ(1, block.CreateMemory(nullptr, static_cast<uint32_t>(file.data.size()), 0));
            block.Write(file.data.data(), static_cast<uint32_t>(file.data.size()));
            EXPECT_EQ(1, writer.AddBuffer(block, file.name.c_str(), file.group.c_str(), info, 0));
        }
        EXPECT_EQ(1, writer.Save());
        return path;
    }
    std::string PackageWithConfig(const std::string& config, std::vector<PackageFile> files = {})
    {
        files.push_back({"Config", "CONFIG.INI", Bytes(config)});
        return Package(files);
    }

    // Names in the temporary folder.
    std::vector<std::string> TempContents() const
    {
        std::vector<std::string> names;
        for (const auto& item : std::filesystem::directory_iterator(temp))
            names.push_back(item.path().filename().string());
        return names;
    }

    ScratchFolder scratch;
    std::string temp;
    std::vector<std::pair<std::string, std::string>> saved;
};

std::vector<std::string> Items(const CStringArray& list)
{
    std::vector<std::string> items;
    for (int i = 0; i < list.GetSize(); ++i)
        items.push_back(list[i].GetString());
    return items;
}

TEST_F(UnpackerTest, ModesOutsideOneToFourAndMissingFilesCreateNothing)
{
    std::string missing = scratch / "missing.oem";
    {
        PackageUnpacker unpacker;
        EXPECT_EQ(0, unpacker.Open(missing.c_str(), 0));
        EXPECT_EQ(0, unpacker.Open(missing.c_str(), 5));
        SetLastErrorValue(0xDEADBEEF);
        EXPECT_EQ(0, unpacker.Open(missing.c_str(), 3));
        EXPECT_EQ(kErrorFileNotFound, GetLastErrorValue());
        EXPECT_TRUE(unpacker.GetUnpackFolder().IsEmpty());
    }
    EXPECT_TRUE(TempContents().empty());
    EXPECT_FALSE(PathExists(missing.c_str()));
}

TEST_F(UnpackerTest, OpenAlwaysOnAMissingFileMakesAnEmptyPackageAndAGuidFolder)
{
    std::string folder;
    {
        PackageUnpacker unpacker;
        ASSERT_EQ(1, unpacker.Open((scratch / "missing.oem").c_str(), 4));
        folder = unpacker.GetUnpackFolder().GetString();
        // "<temp>\{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
        ASSERT_EQ(temp.size() + 1 + 38, folder.size());
        EXPECT_EQ(temp + "\\{", folder.substr(0, temp.size() + 2));
        EXPECT_EQ('}', folder.back());
        for (size_t dash : {9u, 14u, 19u, 24u})
            EXPECT_EQ('-', folder[temp.size() + 1 + dash]);
        EXPECT_TRUE(IsFolder(folder));
        EXPECT_EQ(folder + "\\CONFIG.INI", std::string(unpacker.GetConfigPath().GetString()));
        EXPECT_FALSE(PathExists(unpacker.GetConfigPath()));
        EXPECT_EQ(0, unpacker.ExtractCommonFile("ORG.SETUP.EXE", (scratch / "setup.exe").c_str()));
        EXPECT_FALSE(PathExists((scratch / "setup.exe").c_str()));
    }
    EXPECT_FALSE(IsFolder(folder));
    EXPECT_TRUE(TempContents().empty());
}

TEST_F(UnpackerTest, ExtractsTheConfiguredEntryUnderTheDestinationsName)
{
    std::vector<uint8_t> installer = PatternBytes(20000, 5);
    std::string package = PackageWithConfig("[Commonfiles]\r\nORG.SETUP.EXE=real_installer.bin\r\n",
                                            {{"Commonfiles", "real_installer.bin", installer}});
    std::string work = scratch / "work";
    ASSERT_TRUE(CreateFolder(work.c_str()));
    std::string destination = JoinPath(work, "setup.exe");
    WriteBytes(destination, Bytes("an older setup.exe"));

    PackageUnpacker unpacker;
    ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
    EXPECT_EQ(Bytes("[Commonfiles]\r\nORG.SETUP.EXE=real_installer.bin\r\n"),
              ReadBytes(unpacker.GetConfigPath().GetString()));
    EXPECT_EQ(std::vector<std::string>{"ORG.SETUP.EXE=real_installer.bin"}, Items(unpacker.GetCommonFileLines()));
    ASSERT_EQ(1, unpacker.ExtractCommonFile("ORG.SETUP.EXE", destination.c_str()));
    FileTime creation, lastAccess, lastWrite;
    GetFileTimes(destination, &creation, &lastAccess, &lastWrite);
    EXPECT_EQ(TimeOfSeconds(kEntrySeconds), lastWrite);
    EXPECT_EQ(installer, ReadBytes(destination));
    EXPECT_FALSE(PathExists(JoinPath(work, "real_installer.bin").c_str()));
    // Keys are looked up ignoring case, as the profile calls do.
    EXPECT_EQ(1, unpacker.ExtractCommonFile("org.setup.exe", JoinPath(work, "again.exe").c_str()));
}

TEST_F(UnpackerTest, AnAbsentKeyOrEntryFailsWithoutTouchingTheDestination)
{
    std::string package = PackageWithConfig("[Commonfiles]\r\nORG.SETUP.EXE=missing.bin\r\nOTHER=present.bin\r\n",
                                            {{"Commonfiles", "present.bin", Bytes("present")},
                                             {"Elsewhere", "missing.bin", Bytes("wrong group")}});
    std::string destination = scratch / "setup.exe";
    WriteBytes(destination, Bytes("untouched"));
    PackageUnpacker unpacker;
    ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
    EXPECT_EQ(0, unpacker.ExtractCommonFile("NO.SUCH.KEY", destination.c_str()));
    SetLastErrorValue(0xDEADBEEF);
    EXPECT_EQ(0, unpacker.ExtractCommonFile("ORG.SETUP.EXE", destination.c_str()));
    EXPECT_EQ(kErrorFileNotFound, GetLastErrorValue());
    EXPECT_EQ(Bytes("untouched"), ReadBytes(destination));
    EXPECT_EQ(1, unpacker.ExtractCommonFile("OTHER", destination.c_str()));
    EXPECT_EQ(Bytes("present"), ReadBytes(destination));
}

TEST_F(UnpackerTest, DestinationsAndValuesThatDoNotFitAreRefused)
{
    // An entry named with the first 259 bytes of a longer configured value:
    // cutting the value would find it.
    std::string longValue(300, 'v');
    std::string cut = longValue.substr(0, 259);
    std::string package = PackageWithConfig("[Commonfiles]\r\nLONG=" + longValue + "\r\nSHORT=a.bin\r\n",
                                            {{"Commonfiles", cut, Bytes("cut")},
                                             {"Commonfiles", "a.bin", Bytes("a")}});
    PackageUnpacker unpacker;
    ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
    EXPECT_EQ(0, unpacker.ExtractCommonFile("LONG", (scratch / "long.exe").c_str()));
    EXPECT_FALSE(PathExists((scratch / "long.exe").c_str()));

    EXPECT_EQ(0, unpacker.ExtractCommonFile("SHORT", "setup.exe")) << "no folder part";
    EXPECT_FALSE(PathExists("setup.exe"));
    SetLastErrorValue(0xDEADBEEF);
    EXPECT_EQ(0, unpacker.ExtractCommonFile("SHORT", (scratch.Path() + "\\").c_str())) << "no file name";
    EXPECT_EQ(kErrorInvalidName, GetLastErrorValue());
    std::string longDestination = scratch.Path() + "\\" + std::string(260 - scratch.Path().size(), 'd');
    EXPECT_EQ(0, unpacker.ExtractCommonFile("SHORT", longDestination.c_str()));
    EXPECT_EQ(1, unpacker.ExtractCommonFile("SHORT", (scratch / "a.exe").c_str()));
}

TEST_F(UnpackerTest, APackageWithoutItsConfigurationOpensEmpty)
{
    std::vector<std::vector<PackageFile>> packages = {
        {{"Commonfiles", "setup.exe", Bytes("x")}},
        {{"Config", "OTHER.INI", Bytes("[Commonfiles]\r\nORG.SETUP.EXE=setup.exe\r\n")},
         {"Commonfiles", "setup.exe", Bytes("x")}},
        {{"config", "CONFIG.INI", Bytes("[Commonfiles]\r\nORG.SETUP.EXE=setup.exe\r\n")},
         {"Commonfiles", "setup.exe", Bytes("x")}},
    };
    for (size_t i = 0; i < packages.size(); ++i) {
        SCOPED_TRACE(i);
        std::string path = Package(packages[i], "p" + std::to_string(i) + ".oem");
        PackageUnpacker unpacker;
        ASSERT_EQ(1, unpacker.Open(path.c_str(), 3));
        EXPECT_TRUE(IsFolder(unpacker.GetUnpackFolder().GetString()));
        EXPECT_EQ(0, unpacker.GetCommonFileLines().GetSize());
        EXPECT_EQ(0, unpacker.GetReplaceNames().GetSize());
        EXPECT_EQ(0, unpacker.ExtractCommonFile("ORG.SETUP.EXE", (scratch / "setup.exe").c_str()));
    }
    EXPECT_TRUE(TempContents().empty());
}

TEST_F(UnpackerTest, ReplacementNamesAreDistinctIgnoringCaseInFirstSpelling)
{
    std::string package = PackageWithConfig(
        "[ResourceReplace]\r\n"
        "A.FILENAME=one.dll\r\n"
        "a.SIDE=2\r\n"
        "B.RESNAME=LOGO\r\n"
        "x.y.RESTYPE=3\r\n"
        "nodot=4\r\n"
        "b.RESTYPE=5\r\n"
        "other=6\r\n"
        "[Commonfiles]\r\n"
        "ORG.SETUP.EXE=setup.bin\r\n"
        "org.setup.exe=setup.bin\r\n"
        "Readme=readme.txt\r\n");
    PackageUnpacker unpacker;
    ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
    EXPECT_EQ((std::vector<std::string>{"A", "B", "x.y", ""}), Items(unpacker.GetReplaceNames()));
    EXPECT_EQ((std::vector<std::string>{"ORG.SETUP.EXE=setup.bin", "Readme=readme.txt"}),
              Items(unpacker.GetCommonFileLines()));
}

TEST_F(UnpackerTest, EmptySectionsGiveEmptyLists)
{
    std::string package = PackageWithConfig("[ResourceReplace]\r\n[Commonfiles]\r\n[Other]\r\nk=v\r\n");
    PackageUnpacker unpacker;
    ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
    EXPECT_EQ(0, unpacker.GetReplaceNames().GetSize());
    EXPECT_EQ(0, unpacker.GetCommonFileLines().GetSize());
}

TEST_F(UnpackerTest, CloseRemovesWhatWasUnpackedOnlyWhenAsked)
{
    std::string package = PackageWithConfig("[Commonfiles]\r\nORG.SETUP.EXE=setup.bin\r\n",
                                            {{"Commonfiles", "setup.bin", Bytes("s")}});
    PackageUnpacker unpacker;
    ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
    std::string folder = unpacker.GetUnpackFolder().GetString();
    std::string config = unpacker.GetConfigPath().GetString();
    WriteBytes(JoinPath(folder, "extra.txt"), Bytes("left by someone"));
    unpacker.Close(0);
    EXPECT_TRUE(PathExists(config.c_str()));
    EXPECT_EQ(1, unpacker.GetCommonFileLines().GetSize());
    EXPECT_EQ(0, unpacker.ExtractCommonFile("ORG.SETUP.EXE", (scratch / "s.exe").c_str())) << "package closed";
    unpacker.Close(1);
    EXPECT_FALSE(PathExists(config.c_str()));
    EXPECT_FALSE(IsFolder(folder));
    EXPECT_TRUE(unpacker.GetUnpackFolder().IsEmpty());
    EXPECT_TRUE(unpacker.GetConfigPath().IsEmpty());
    EXPECT_EQ(0, unpacker.GetCommonFileLines().GetSize());
}

TEST_F(UnpackerTest, DestructionRemovesTheUnpackFolderAndASecondOpenItsPredecessor)
{
    std::string package = PackageWithConfig("[Commonfiles]\r\nORG.SETUP.EXE=setup.bin\r\n",
                                            {{"Commonfiles", "setup.bin", Bytes("s")}});
    std::string first, second;
    {
        PackageUnpacker unpacker;
        ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
        first = unpacker.GetUnpackFolder().GetString();
        ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
        second = unpacker.GetUnpackFolder().GetString();
        EXPECT_NE(first, second);
        EXPECT_FALSE(IsFolder(first));
        EXPECT_TRUE(PathExists(JoinPath(second, "CONFIG.INI").c_str()));
        EXPECT_EQ(1, unpacker.ExtractCommonFile("ORG.SETUP.EXE", (scratch / "s.exe").c_str()));
    }
    EXPECT_FALSE(IsFolder(second));
    EXPECT_TRUE(TempContents().empty());
}

}  // namespace
