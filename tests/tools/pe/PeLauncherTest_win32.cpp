// The real launcher stamped with the PE resource writer, read back by the Windows loader and launched.
#include <windows.h>
#include <imagehlp.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "FileRangeSource.h"
#include "FileSink.h"
#include "LauncherStamp.h"
#include "PackageResources.h"
#include "PeImage.h"
#include "PeResourceWriter.h"
#include "ResourceTree.h"
#include "ChildProcess.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

// A program loaded as data, for its resources.
class DataModule {
public:
    explicit DataModule(const std::string& path) : m_(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
    ~DataModule()
    {
        if (m_ != nullptr)
            FreeLibrary(m_);
    }
    DataModule(const DataModule&) = delete;
    DataModule& operator=(const DataModule&) = delete;
    HMODULE Get() const { return m_; }

private:
    HMODULE m_;
};

// A type or name as the enumeration hands it over: "#n" for numbers.
std::string IdText(LPCSTR id)
{
    return IS_INTRESOURCE(id) ? "#" + std::to_string(LOWORD(reinterpret_cast<ULONG_PTR>(id))) : std::string(id);
}

LPCSTR IdOf(const std::string& text)
{
    return text[0] == '#' ? MAKEINTRESOURCEA(std::stoi(text.substr(1))) : text.c_str();
}

using Key = std::tuple<std::string, std::string, WORD>;

BOOL CALLBACK OnLanguage(HMODULE, LPCSTR type, LPCSTR name, WORD language, LONG_PTR keys)
{
    reinterpret_cast<std::vector<Key>*>(keys)->emplace_back(IdText(type), IdText(name), language);
    return TRUE;
}

BOOL CALLBACK OnName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR keys)
{
    EnumResourceLanguagesA(module, type, name, OnLanguage, keys);
    return TRUE;
}

BOOL CALLBACK OnType(HMODULE module, LPSTR type, LONG_PTR keys)
{
    EnumResourceNamesA(module, type, OnName, keys);
    return TRUE;
}

// Every resource of the module with its bytes, as the loader finds them.
std::map<Key, std::string> LoadedResources(const std::string& path)
{
    std::map<Key, std::string> all;
    DataModule module(path);
    if (module.Get() == nullptr)
        return all;
    std::vector<Key> keys;
    EnumResourceTypesA(module.Get(), OnType, reinterpret_cast<LONG_PTR>(&keys));
    for (const Key& key : keys) {
        HRSRC found = FindResourceExA(module.Get(), IdOf(std::get<0>(key)), IdOf(std::get<1>(key)), std::get<2>(key));
        const void* bytes = found ? LockResource(LoadResource(module.Get(), found)) : nullptr;
        all[key] = bytes ? std::string(static_cast<const char*>(bytes), SizeofResource(module.Get(), found)) : "<not found>";
    }
    return all;
}

Status StampWithWriter(const std::string& launcher, const std::string& output, const std::string& packagePath,
                       const std::string& iniPath, PeWriteSummary* summary)
{
    PeImage image;
    ResourceTree tree;
    FileRangeSource package, ini;
    Status s = PeImage::Load(launcher.c_str(), &image);
    if (s)
        s = ResourceTree::Read(image, &tree);
    if (s)
        s = package.Open(packagePath.c_str());
    if (s)
        s = ini.Open(iniPath.c_str());
    if (!s)
        return s;
    const ResourceId type = ResourceId::AsciiName(kOemResourceType);
    tree.Replace(type, ResourceId::AsciiName(kPackageResourceName), 0, &package);
    tree.Replace(type, ResourceId::AsciiName(kLanguageResourceName), 0, &ini);
    PeResourceWriter writer;
    FileSink sink;
    s = PeResourceWriter::Prepare(image, tree, &writer);
    if (s)
        s = sink.Create(output.c_str());
    if (s)
        s = writer.Write(sink);
    if (s)
        s = sink.Finish();
    *summary = writer.Summary();
    return s;
}

std::string Launcher() { return WindowsPath(LAUNCHER_EXE); }

}  // namespace

TEST(PeLauncher, TheLoaderFindsBothNewResourcesAndEveryOldOne)
{
    ScratchFolder dir;
    const std::string package = PatternBytes(300001, 5);
    const std::string ini(kDefaultLanguageIni, kDefaultLanguageIniSize);
    ASSERT_TRUE(WriteBytes(dir / "package.oem", package));
    ASSERT_TRUE(WriteBytes(dir / "Language.ini", ini));
    PeWriteSummary summary;
    Status s = StampWithWriter(Launcher(), dir / "Setup.exe", dir / "package.oem", dir / "Language.ini", &summary);
    ASSERT_TRUE(s) << s.Message();
    // The launcher's .rsrc is followed by .reloc and the debug sections.
    EXPECT_TRUE(summary.newSection);
    EXPECT_EQ(summary.droppedCertificateSize, 0u);

    std::map<Key, std::string> before = LoadedResources(Launcher());
    std::map<Key, std::string> after = LoadedResources(dir / "Setup.exe");
    // The launcher's own: icon and its group, dialog 101, string block 7 (string 102), version, manifest.
    for (const Key& key : {Key{"#3", "#1", 0x804}, Key{"#14", "#128", 0x804}, Key{"#5", "#101", 0x804},
                           Key{"#6", "#7", 0x804}, Key{"#16", "#1", 0x409}, Key{"#24", "#1", 0}}) {
        ASSERT_EQ(before.count(key), 1u) << std::get<0>(key) << "/" << std::get<1>(key);
        EXPECT_EQ(after[key], before[key]) << std::get<0>(key) << "/" << std::get<1>(key);
    }
    before[Key{"OEMDATA", "DEFAULT", 0}] = package;
    before[Key{"OEMDATA", "LANGUAGE_INI", 0}] = ini;
    EXPECT_TRUE(after == before) << after.size() << " resources, expected " << before.size();

    // What the launcher itself calls: FindResourceA without a language.
    DataModule module(dir / "Setup.exe");
    ASSERT_NE(module.Get(), nullptr);
    HRSRC found = FindResourceA(module.Get(), kPackageResourceName, kOemResourceType);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(SizeofResource(module.Get(), found), package.size());

    // The checksum is what the image help library computes.
    DWORD header = 0, computed = 0;
    ASSERT_EQ(MapFileAndCheckSumA((dir / "Setup.exe").c_str(), &header, &computed), CHECKSUM_SUCCESS);
    EXPECT_EQ(header, computed);
    ASSERT_EQ(MapFileAndCheckSumA(Launcher().c_str(), &header, &computed), CHECKSUM_SUCCESS);
    EXPECT_EQ(header, computed) << "the linker's own checksum, as a check of the check";

    // Stamping the stamped program again gives the same bytes.
    ASSERT_TRUE(StampWithWriter(dir / "Setup.exe", dir / "Again.exe", dir / "package.oem", dir / "Language.ini", &summary));
    EXPECT_FALSE(summary.newSection);
    std::string once, twice;
    ASSERT_TRUE(ReadBytes(dir / "Setup.exe", &once));
    ASSERT_TRUE(ReadBytes(dir / "Again.exe", &twice));
    EXPECT_TRUE(once == twice);
}

TEST(PeLauncher, TheStampedLauncherStartsTheInstaller)
{
    ScratchFolder dir;
    ASSERT_TRUE(WriteBytes(dir / "CONFIG.INI", "[Commonfiles]\r\nORG.SETUP.EXE=SampleInstaller.exe\r\n"));
    ProcessResult r = RunProcess(Quote(WindowsPath(OEMPACK_EXE)) + " create " + Quote(dir / "package.oem") +
                                 " --group Config " + Quote(dir / "CONFIG.INI") + " --group Commonfiles " +
                                 Quote(WindowsPath(SAMPLE_INSTALLER_EXE)));
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    ASSERT_TRUE(WriteBytes(dir / "Language.ini", std::string(kDefaultLanguageIni, kDefaultLanguageIniSize)));
    PeWriteSummary summary;
    Status s = StampWithWriter(Launcher(), dir / "MySetup.exe", dir / "package.oem", dir / "Language.ini", &summary);
    ASSERT_TRUE(s) << s.Message();

    const std::string reportPath = dir / "report.txt";
    r = RunProcess(Quote(dir / "MySetup.exe") + " /S /v\"x\"", {"OEM_SAMPLE_REPORT=" + reportPath, "OEM_SAMPLE_EXIT=5"},
                   dir.Path());
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 5u);
    std::string report;
    ASSERT_TRUE(ReadBytes(reportPath, &report)) << "the sample installer did not run";
    EXPECT_NE(report.find("\\setup.exe\" /S /v\"x\"\n"), std::string::npos) << report;
}
