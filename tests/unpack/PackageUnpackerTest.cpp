// The package unpacker and its configuration, on packages written by the project's own writer.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "MappedFile.h"
#include "PackageHandle.h"
#include "ContainerImage.h"
#include "HeldFile.h"
#include "PackageUnpacker.h"
#include "ProgressHook.h"
#include "ScratchFolder.h"
#include "TestFiles.h"
#include "WorkFolder.h"

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
        // Nothing the package did not unpack is taken for its configuration.
        WriteBytes(unpacker.GetConfigPath().GetString(), "[Commonfiles]\r\nK=s\r\n");
        EXPECT_EQ(0, unpacker.ExtractCommonFile("K", (scratch / "s.exe").c_str())) << group;
    }
    EXPECT_FALSE(FileExists(scratch / "s.exe"));
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

// An unpacker whose folder names come from the test's GUIDs: the first is
// {0000000N-1234-1234-0102-030405060708} for the Nth call, or always the
// same when g_sameGuid is set.
int g_guidCalls = 0;
bool g_sameGuid = false;
HRESULT WINAPI CountingGuids(GUID* guid)
{
    ++g_guidCalls;
    *guid = GUID{g_sameGuid ? 1ul : static_cast<unsigned long>(g_guidCalls), 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    return S_OK;
}
std::string GuidName(int n)
{
    return "{0000000" + std::to_string(n) + "-1234-1234-0102-030405060708}";
}

class UnpackerWithGuids : public PackageUnpacker {
public:
    UnpackerWithGuids() : PackageUnpacker(CountingGuids) {}
    using PackageUnpacker::FolderRules;
};

std::string DescriptorText(PSECURITY_DESCRIPTOR descriptor)
{
    char* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                              &text, nullptr))
        return "<error " + std::to_string(GetLastError()) + ">";
    std::string result = text;
    LocalFree(text);
    return result;
}

// Opening for writing, renaming and deleting fail with a sharing violation.
void ExpectUnchangeable(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, file) << path << " opened for writing";
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    EXPECT_FALSE(MoveFileA(path.c_str(), (path + ".moved").c_str())) << path << " renamed";
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_FALSE(DeleteFileA(path.c_str())) << path << " deleted";
}

TEST_F(UnpackerTest, AFolderOfTheChosenNameIsNeverUsedNorRemoved)
{
    std::string package = Package("[Commonfiles]\r\nORG.SETUP.EXE=real.bin\r\n",
                                  {{"Commonfiles", "real.bin", "real"}, {"Commonfiles", "evil.bin", "evil"}});
    const std::string planted = temp + "\\" + GuidName(1);
    const std::string plantedConfig = "[Commonfiles]\r\nORG.SETUP.EXE=evil.bin\r\n";
    ASSERT_TRUE(MakeFolder(planted));
    WriteBytes(planted + "\\CONFIG.INI", plantedConfig);

    g_guidCalls = 0;
    g_sameGuid = false;
    {
        UnpackerWithGuids unpacker;
        ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
        EXPECT_EQ(2, g_guidCalls);
        EXPECT_EQ(temp + "\\" + GuidName(2), unpacker.GetUnpackFolder().GetString());
        ASSERT_EQ(1, unpacker.ExtractCommonFile("ORG.SETUP.EXE", (scratch / "setup.exe").c_str()));
        EXPECT_EQ("real", ReadBytes(scratch / "setup.exe"));
    }
    EXPECT_FALSE(FileExists(temp + "\\" + GuidName(2)));
    EXPECT_EQ(plantedConfig, ReadBytes(planted + "\\CONFIG.INI")) << "someone else's folder is left alone";

    // Every name tried is taken: Open fails, the package is closed again and
    // nothing new is there.
    g_guidCalls = 0;
    g_sameGuid = true;
    UnpackerWithGuids unpacker;
    SetLastErrorValue(0xDEADBEEF);
    EXPECT_EQ(0, unpacker.Open(package.c_str(), 3));
    EXPECT_EQ(static_cast<uint32_t>(ERROR_ALREADY_EXISTS), GetLastErrorValue());
    g_sameGuid = false;
    EXPECT_EQ(kWorkFolderAttempts, g_guidCalls);
    EXPECT_TRUE(unpacker.GetUnpackFolder().IsEmpty());
    EXPECT_TRUE(unpacker.GetConfigPath().IsEmpty());
    EXPECT_EQ(0, unpacker.ExtractCommonFile("ORG.SETUP.EXE", (scratch / "other.exe").c_str()));
    EXPECT_FALSE(FileExists(scratch / "other.exe"));
    EXPECT_EQ(plantedConfig, ReadBytes(planted + "\\CONFIG.INI"));
    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(temp), std::filesystem::directory_iterator()));
}

TEST_F(UnpackerTest, TheUnpackFolderIsMarkedAndCreatedWithThisProcesssRules)
{
    FolderSecurity expected;
    ASSERT_TRUE(expected.BuildForThisProcess().IsOk());
    UnpackerWithGuids unpacker;
    ASSERT_EQ(1, unpacker.Open(Package("[Commonfiles]\r\n").c_str(), 3));
    const std::string folder = unpacker.GetUnpackFolder().GetString();
    // Wine does not keep the rules on the folder: the ones built are checked.
    EXPECT_EQ(unpacker.FolderRules().Descriptor(), unpacker.FolderRules().Attributes()->lpSecurityDescriptor);
    const std::string rules = DescriptorText(unpacker.FolderRules().Descriptor());
    EXPECT_EQ("D:P", rules.substr(0, 3));
    EXPECT_EQ(DescriptorText(expected.Descriptor()), rules);

    const std::string marker = folder + "\\" + kWorkFolderMarkerName;
    EXPECT_TRUE(FileExists(marker));
    HANDLE opened = CreateFileA(marker.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, opened) << "the marker is held without sharing";
    if (opened != INVALID_HANDLE_VALUE)
        CloseHandle(opened);
    // A running launch's folder is not taken by the start-up sweep, however old.
    FILETIME later;
    GetSystemTimeAsFileTime(&later);
    later.dwHighDateTime += 100;
    EXPECT_EQ(0, WorkFolder::SweepStale((temp + "\\").c_str(), later));
    EXPECT_TRUE(IsFolder(folder));

    unpacker.Close(1);
    EXPECT_FALSE(FileExists(folder));
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(UnpackerTest, TheUnpackedConfigurationIsHeldUntilClosedWithRemoval)
{
    std::string package = Package("[Commonfiles]\r\nORG.SETUP.EXE=real.bin\r\n", {{"Commonfiles", "real.bin", "real"}});
    PackageUnpacker unpacker;
    ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
    const std::string config = unpacker.GetConfigPath().GetString();
    ExpectUnchangeable(config);
    EXPECT_EQ("[Commonfiles]\r\nORG.SETUP.EXE=real.bin\r\n", ReadBytes(config)) << "still readable";
    EXPECT_EQ(1, unpacker.ExtractCommonFile("ORG.SETUP.EXE", (scratch / "setup.exe").c_str()));
    unpacker.Close(0);
    ExpectUnchangeable(config);
    unpacker.Close(1);
    EXPECT_FALSE(FileExists(config));
    EXPECT_FALSE(FileExists(config + ".moved"));
    EXPECT_TRUE(TempIsEmpty());
}

// An unpacker whose CONFIG.INI is changed between its unpacking and its hold,
// as a program of the same user can where the folder's rules are not enforced.
class UnpackerWithConfigChange : public PackageUnpacker {
public:
    std::function<void(const std::string&)> change;

protected:
    void ConfigUnpacked(const char* path) override { change(path); }
};

TEST_F(UnpackerTest, AConfigurationChangedBeforeItIsHeldFailsTheOpen)
{
    const std::string config = "[Commonfiles]\r\nORG.SETUP.EXE=real.bin\r\n";
    const std::string package =
        Package(config, {{"Commonfiles", "real.bin", "real"}, {"Commonfiles", "evil.bin", "evil"}});
    // The same length naming another entry, longer, shorter.
    const std::string planted[] = {"[Commonfiles]\r\nORG.SETUP.EXE=evil.bin\r\n",
                                   config + "ORG.OTHER=evil.bin\r\n", config.substr(0, config.size() - 1)};
    for (const std::string& bytes : planted) {
        UnpackerWithConfigChange unpacker;
        unpacker.change = [&bytes](const std::string& path) { ASSERT_TRUE(WriteBytes(path, bytes)); };
        SetLastErrorValue(0xDEADBEEF);
        EXPECT_EQ(0, unpacker.Open(package.c_str(), 3)) << bytes;
        EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_INVALID), GetLastErrorValue());
        EXPECT_TRUE(unpacker.GetConfigPath().IsEmpty());
        EXPECT_EQ(0, unpacker.ExtractCommonFile("ORG.SETUP.EXE", (scratch / "setup.exe").c_str()));
        EXPECT_FALSE(FileExists(scratch / "setup.exe"));
        EXPECT_TRUE(TempIsEmpty()) << "nothing is left";
    }
    // Rewritten with the same bytes, it is the package's configuration still.
    UnpackerWithConfigChange same;
    same.change = [&config](const std::string& path) { ASSERT_TRUE(WriteBytes(path, config)); };
    ASSERT_EQ(1, same.Open(package.c_str(), 3));
    EXPECT_EQ(1, same.ExtractCommonFile("ORG.SETUP.EXE", (scratch / "setup.exe").c_str()));
    EXPECT_EQ("real", ReadBytes(scratch / "setup.exe"));
}

TEST_F(UnpackerTest, AConfigurationOpenForWritingByOthersCannotBeHeldAndFailsTheOpen)
{
    const std::string package = Package("[Commonfiles]\r\nORG.SETUP.EXE=real.bin\r\n",
                                        {{"Commonfiles", "real.bin", "real"}});
    HANDLE writer = INVALID_HANDLE_VALUE;
    UnpackerWithConfigChange unpacker;
    unpacker.change = [&writer](const std::string& path) {
        writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    };
    // The writer lets go while the failed Open removes the unpack folder (retried for about 5 s).
    std::thread closer([&writer] {
        Sleep(300);
        CloseHandle(writer);
    });
    SetLastErrorValue(0xDEADBEEF);
    EXPECT_EQ(0, unpacker.Open(package.c_str(), 3));
    EXPECT_EQ(static_cast<uint32_t>(ERROR_SHARING_VIOLATION), GetLastErrorValue());
    closer.join();
    EXPECT_TRUE(unpacker.GetConfigPath().IsEmpty());
    EXPECT_TRUE(TempIsEmpty());
}

// Bytes told to a progress hook, and in how many calls.
struct CountedProgress : ProgressHook {
    uint64_t bytes = 0;
    int calls = 0;
    void Advance(uint64_t more) override
    {
        bytes += more;
        ++calls;
    }
};

TEST_F(UnpackerTest, AHeldFileIsComparedWithTheEntryAKeyNamesAndAHookHearsOfEveryByte)
{
    // Both longer than the pieces the file is read in (1 MiB).
    const std::string stored = PatternBytes(2600000, 7), packed = CompressibleBytes(1600000);
    const std::string path = scratch / "setup.oem";
    WriteBytes(path, ContainerBytes({{"Config", {StoredEntry("CONFIG.INI", "[Commonfiles]\r\nS=s.bin\r\nP=p.bin\r\n"
                                                                          "GONE=gone.bin\r\n")}},
                                     {"Commonfiles", {StoredEntry("s.bin", stored), PackedEntry("p.bin", packed)}}}));
    PackageUnpacker unpacker;
    ASSERT_EQ(1, unpacker.Open(path.c_str(), 3));
    const std::string destination = scratch / "setup.exe";
    for (const char* key : {"S", "P"}) {
        const std::string& bytes = key[0] == 'S' ? stored : packed;
        uint32_t size = 0;
        ASSERT_EQ(1, unpacker.GetCommonFileSize(key, &size)) << key;
        EXPECT_EQ(bytes.size(), size) << key;
        // Told piece by piece: 64 KiB written, 1 MiB of the file compared at most.
        CountedProgress extracted, compared;
        ASSERT_EQ(1, unpacker.ExtractCommonFile(key, destination.c_str(), &extracted)) << key;
        EXPECT_EQ(size, extracted.bytes) << key;
        EXPECT_GT(extracted.calls, 10) << key;
        HeldFile held;
        ASSERT_TRUE(held.Hold(destination.c_str()).IsOk());
        EXPECT_EQ(1, unpacker.CompareCommonFile(key, held, &compared)) << key;
        EXPECT_EQ(size, compared.bytes) << key;
        EXPECT_GT(compared.calls, 1) << key;
        held.Release();

        // One byte changed far in, the same bytes and one more, one byte short.
        std::string changed = bytes;
        changed[changed.size() - 70000] ^= 1;
        for (const std::string& other : {changed, bytes + "x", bytes.substr(0, bytes.size() - 1)}) {
            ASSERT_TRUE(WriteBytes(destination, other));
            ASSERT_TRUE(held.Hold(destination.c_str()).IsOk());
            SetLastErrorValue(0xDEADBEEF);
            EXPECT_EQ(0, unpacker.CompareCommonFile(key, held)) << key << " " << other.size();
            EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_INVALID), GetLastErrorValue());
            held.Release();
        }
    }
    // The compressed entry again, now that another was written since: it is
    // decoded to be compared, with the same answers.
    ASSERT_EQ(1, unpacker.ExtractCommonFile("S", destination.c_str()));
    std::string changed = packed;
    changed[100] ^= 0x80;
    for (const std::string& other : {packed, changed}) {
        ASSERT_TRUE(WriteBytes(destination, other));
        HeldFile held;
        ASSERT_TRUE(held.Hold(destination.c_str()).IsOk());
        SetLastErrorValue(0xDEADBEEF);
        if (other == packed) {
            EXPECT_EQ(1, unpacker.CompareCommonFile("P", held));
        } else {
            EXPECT_EQ(0, unpacker.CompareCommonFile("P", held));
            EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_INVALID), GetLastErrorValue());
        }
    }
    HeldFile held;
    ASSERT_TRUE(held.Hold(destination.c_str()).IsOk());
    SetLastErrorValue(0xDEADBEEF);
    EXPECT_EQ(0, unpacker.CompareCommonFile("GONE", held));
    EXPECT_EQ(kErrorFileNotFound, GetLastErrorValue());
    SetLastErrorValue(0xDEADBEEF);
    EXPECT_EQ(0, unpacker.CompareCommonFile("NO.SUCH.KEY", held));
    EXPECT_EQ(kErrorFileNotFound, GetLastErrorValue());
    uint32_t size = 7;
    for (const char* key : {"GONE", "NO.SUCH.KEY"}) {
        SetLastErrorValue(0xDEADBEEF);
        EXPECT_EQ(0, unpacker.GetCommonFileSize(key, &size)) << key;
        EXPECT_EQ(kErrorFileNotFound, GetLastErrorValue()) << key;
    }
    EXPECT_EQ(7u, size);
}

}  // namespace
