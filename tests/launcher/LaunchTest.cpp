// Whole launches: stamped copies of Setup.exe run as child processes with their
// temporary folder pointed at a scratch folder; the install log, the exit code,
// the sample installer's report and what is left on disk are checked.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Crc32c.h"
#include "ErrorLog.h"
#include "FileSink.h"
#include "LauncherStamp.h"
#include "PackageHandle.h"
#include "PeImage.h"
#include "PeResourceWriter.h"
#include "ResourceSource.h"
#include "ResourceTree.h"
#include "ChildProcess.h"
#include "PendingDeletions.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

constexpr DWORD kLaunchTimeoutMs = 60000;
constexpr DWORD kLaunchFailed = 1603;

// Built programs arrive as Unix paths; Wine sees them on drive Z:.
std::string BuiltProgram(const char* variable)
{
    const char* unixPath = getenv(variable);
    EXPECT_TRUE(unixPath != nullptr) << variable << " is not set";
    return WindowsPath(unixPath ? unixPath : "");
}

// The messages of the install log's records, prefixes checked and removed.
std::vector<std::string> LogMessages()
{
    char path[MAX_PATH];
    GetInstallLogPath(path);
    std::string log = ReadBytes(path);
    std::vector<std::string> messages;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\0', start);
        if (end == std::string::npos)
            end = log.size();
        std::string record = log.substr(start, end - start);
        start = end + 1;
        EXPECT_EQ(0u, record.find("Setup.exe ")) << record;
        EXPECT_EQ(" :", record.substr(29, 2)) << record;
        size_t lineEnd = record.size() >= 3 && record.compare(record.size() - 3, 3, "\r\r\n") == 0 ? 3 : 2;
        EXPECT_EQ("\r\n", record.substr(record.size() - 2)) << record;
        messages.push_back(record.substr(31, record.size() - 31 - lineEnd));
    }
    return messages;
}

// A package with Config\CONFIG.INI and the given Commonfiles entries.
std::string BuildPackage(const std::string& scratch, const std::string& configIni,
                         const std::vector<std::string>& commonFiles)
{
    std::string source = scratch + "\\package-source";
    CreateDirectoryA(source.c_str(), nullptr);
    std::string path = scratch + "\\package.oem";
    PackageHandle package;
    EXPECT_EQ(1, package.Open(path.c_str(), PackageHandle::kCreateAlways));
    if (!configIni.empty()) {
        WriteBytes(source + "\\CONFIG.INI", configIni);
        EXPECT_EQ(1, package.AddFile((source + "\\CONFIG.INI").c_str(), "Config"));
    }
    for (const std::string& file : commonFiles)
        EXPECT_EQ(1, package.AddFile(file.c_str(), "Commonfiles")) << file;
    EXPECT_EQ(1, package.Save());
    return ReadBytes(path);
}

// A checksum record laid out by hand: tag, CRC-32C and size, little-endian.
std::string ChecksumRecord(const char* tag, uint32_t crc, uint64_t size)
{
    std::string record = tag;
    for (int i = 0; i < 4; ++i)
        record += static_cast<char>(crc >> (8 * i));
    for (int i = 0; i < 8; ++i)
        record += static_cast<char>(size >> (8 * i));
    return record;
}

std::string Hex8(uint32_t value)
{
    char text[9];
    snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

struct LaunchResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::vector<std::string> log;
    std::string report;
};

// One launcher under test: its own folder with the stamped Setup.exe, a
// temporary folder for its work folders and a report file for the installer.
class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        launcherFolder_ = scratch_ / "launcher";
        tempFolder_ = scratch_ / "temp";
        reportPath_ = scratch_ / "report.txt";
        CreateDirectoryA(launcherFolder_.c_str(), nullptr);
        CreateDirectoryA(tempFolder_.c_str(), nullptr);
        installer_ = scratch_ / "installer.exe";
        ASSERT_TRUE(CopyFileA(BuiltProgram("OEM_SAMPLE_INSTALLER").c_str(), installer_.c_str(), FALSE))
            << installer_ << " error " << GetLastError();
    }

    std::string SamplePackage(const std::string& installerKeyLine = "ORG.SETUP.EXE=installer.exe")
    {
        return BuildPackage(scratch_.Path(), "[Commonfiles]\r\n" + installerKeyLine + "\r\n", {installer_});
    }

    void Stamp(const std::string& package, const std::string* languageIni, const char* program = "OEM_SETUP_EXE")
    {
        // Stamped under a plain name, then moved into place: the launcher's
        // own name may hold double-byte characters.
        std::string stamped = scratch_ / "stamped.exe";
        ASSERT_EQ(1, StampLauncher(BuiltProgram(program).c_str(), stamped.c_str(), package.data(),
                                   static_cast<uint32_t>(package.size()), languageIni ? languageIni->data() : nullptr,
                                   languageIni ? static_cast<uint32_t>(languageIni->size()) : 0));
        std::string setup = launcherFolder_ + "\\" + launcherName_;
        ASSERT_TRUE(MoveFileExA(stamped.c_str(), setup.c_str(), MOVEFILE_REPLACE_EXISTING)) << GetLastError();
    }

    void StampDefaultLanguage(const std::string& package)
    {
        std::string ini(kDefaultLanguageIni, kDefaultLanguageIniSize);
        Stamp(package, &ini);
    }

    // Replaces the stamped launcher's OEMDATA/CHECKSUM with record, or drops
    // it when record is null.
    void RewriteChecksum(const std::string* record)
    {
        const std::string setup = launcherFolder_ + "\\" + launcherName_;
        const std::string rewritten = scratch_ / "rewritten.exe";
        PeImage image;
        ResourceTree tree;
        Status s = PeImage::Load(setup.c_str(), &image);
        if (s)
            s = ResourceTree::Read(image, &tree);
        ASSERT_TRUE(s) << s.Message();
        const ResourceId type = ResourceId::AsciiName("OEMDATA");
        const ResourceId name = ResourceId::AsciiName("CHECKSUM");
        MemorySource bytes(record ? ByteView(reinterpret_cast<const uint8_t*>(record->data()),
                                             static_cast<uint32_t>(record->size()))
                                  : ByteView());
        if (record)
            tree.Replace(type, name, 0, &bytes);
        else
            ASSERT_EQ(1u, tree.Remove(type, name));
        PeResourceWriter writer;
        FileSink sink;
        s = PeResourceWriter::Prepare(image, tree, &writer);
        if (s)
            s = sink.Create(rewritten.c_str());
        if (s)
            s = writer.Write(sink);
        if (s)
            s = sink.Finish();
        ASSERT_TRUE(s) << s.Message();
        ASSERT_TRUE(MoveFileExA(rewritten.c_str(), setup.c_str(), MOVEFILE_REPLACE_EXISTING)) << GetLastError();
    }

    LaunchResult Run(const std::string& arguments, const char* installerExit = "0",
                     const std::string& tempFolder = std::string())
    {
        char path[MAX_PATH];
        GetInstallLogPath(path);
        DeleteFileA(path);
        DeleteFileA(reportPath_.c_str());

        std::string temp = tempFolder.empty() ? tempFolder_ : tempFolder;
        char savedTmp[MAX_PATH] = {}, savedTemp[MAX_PATH] = {};
        GetEnvironmentVariableA("TMP", savedTmp, sizeof savedTmp);
        GetEnvironmentVariableA("TEMP", savedTemp, sizeof savedTemp);
        SetEnvironmentVariableA("TMP", temp.c_str());
        SetEnvironmentVariableA("TEMP", temp.c_str());
        SetEnvironmentVariableA("OEM_SAMPLE_REPORT", reportPath_.c_str());
        SetEnvironmentVariableA("OEM_SAMPLE_EXIT", installerExit);
        SetEnvironmentVariableA("OEM_SAMPLE_KEEP", keepFolder_.empty() ? nullptr : keepFolder_.c_str());
        SetEnvironmentVariableA("OEM_SAMPLE_HOLD_MS", holdMs_.empty() ? nullptr : holdMs_.c_str());

        LaunchResult result;
        std::string commandLine = "\"" + launcherFolder_ + "\\" + launcherName_ + "\"" + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                      scratch_.Path().c_str(), &startup, &process);
        EXPECT_TRUE(started) << commandLine << " error " << GetLastError();
        if (started) {
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, kLaunchTimeoutMs));
            GetExitCodeProcess(process.hProcess, &result.exitCode);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        SetEnvironmentVariableA("OEM_SAMPLE_REPORT", nullptr);
        SetEnvironmentVariableA("OEM_SAMPLE_EXIT", nullptr);
        SetEnvironmentVariableA("OEM_SAMPLE_KEEP", nullptr);
        SetEnvironmentVariableA("OEM_SAMPLE_HOLD_MS", nullptr);
        SetEnvironmentVariableA("TMP", savedTmp[0] ? savedTmp : nullptr);
        SetEnvironmentVariableA("TEMP", savedTemp[0] ? savedTemp : nullptr);
        result.log = LogMessages();
        result.report = ReadBytes(reportPath_);
        return result;
    }

    // The work folder a log record names right after lead: "<temp>\{GUID}"
    // ("" when the record does not start so).
    std::string WorkFolderNamedIn(const std::string& record, const std::string& lead)
    {
        const std::string start = lead + tempFolder_ + "\\{";
        EXPECT_EQ(0u, record.find(start)) << record;
        if (record.compare(0, start.size(), start) != 0 || record.size() < start.size() + 37)
            return std::string();
        EXPECT_EQ('}', record[start.size() + 36]) << record;
        return record.substr(lead.size(), tempFolder_.size() + 39);
    }

    // Launches once with each of others written to swap (which a test build
    // copies over a work file before holding it): each is refused with the
    // one record "<lead><work folder><rest>", nothing starts, nothing is left.
    void ExpectEachSwapRefused(const std::string& swap, const std::vector<std::string>& others,
                               const std::string& lead, const std::string& rest)
    {
        for (const std::string& other : others) {
            ASSERT_TRUE(WriteBytes(swap, other));
            LaunchResult result = Run(" /S", "7");
            EXPECT_EQ(kLaunchFailed, result.exitCode) << other.size();
            ASSERT_EQ(1u, result.log.size()) << Joined(result.log);
            const std::string work = WorkFolderNamedIn(result.log[0], lead);
            EXPECT_EQ(lead + work + rest, result.log[0]);
            EXPECT_EQ("", result.report) << "nothing started";
            EXPECT_TRUE(ListFolder(tempFolder_).empty());
        }
    }

    ScratchFolder scratch_;
    std::string launcherFolder_, tempFolder_, reportPath_, installer_;
    // For the sample installer: a folder to copy its work files to, and how
    // long a child it leaves behind holds Language.ini (both unset when empty).
    std::string keepFolder_, holdMs_;
    std::string launcherName_ = "Setup.exe";
};

std::string ReportValue(const std::string& report, const std::string& key)
{
    size_t at = report.find(key + ": ");
    if (at == std::string::npos)
        return "<missing " + key + ">";
    at += key.size() + 2;
    return report.substr(at, report.find('\n', at) - at);
}

}  // namespace

TEST_F(LaunchTest, PackageResourceOf1023BytesIsRejected)
{
    StampDefaultLanguage(std::string(1023, 'p'));
    LaunchResult result = Run(" /S");
    EXPECT_EQ(kLaunchFailed, result.exitCode);
    ASSERT_EQ(1u, result.log.size()) << Joined(result.log);
    EXPECT_EQ("Can't found any OEM data or invalid OEM data.", result.log[0]);
    EXPECT_TRUE(ListFolder(tempFolder_).empty()) << "nothing is created before the check";
    EXPECT_EQ("", result.report);
}

TEST_F(LaunchTest, LauncherWithoutPackageIsRejected)
{
    ASSERT_TRUE(CopyFileA(BuiltProgram("OEM_SETUP_EXE").c_str(), (launcherFolder_ + "\\Setup.exe").c_str(), FALSE));
    LaunchResult result = Run("");
    EXPECT_EQ(kLaunchFailed, result.exitCode);
    ASSERT_EQ(1u, result.log.size()) << Joined(result.log);
    EXPECT_EQ("Can't found any OEM data or invalid OEM data.", result.log[0]);
    EXPECT_TRUE(ListFolder(tempFolder_).empty());
}

TEST_F(LaunchTest, Exactly1024BytesPassTheCheckAndTheFailedExtractionLeavesNothing)
{
    std::string package(1024, '\0');
    for (size_t i = 0; i < package.size(); ++i)
        package[i] = static_cast<char>(i * 7 + 1);
    std::string ini = "[LANGUAGE]\r\nUseDefault=0\r\n";
    Stamp(package, &ini);
    WriteBytes(launcherFolder_ + "\\sn.bat", "@echo serial\r\n");

    LaunchResult result = Run(" /S");
    EXPECT_EQ(kLaunchFailed, result.exitCode);
    ASSERT_EQ(1u, result.log.size()) << Joined(result.log);
    // Not a container: the unpacker opens it empty, so the key is missing.
    std::string work = WorkFolderNamedIn(result.log[0], "Failure to copy %ORG.SETUP.EXE% to ");
    EXPECT_EQ("Failure to copy %ORG.SETUP.EXE% to " + work + "\\setup.exe", result.log[0]);
    EXPECT_TRUE(ListFolder(tempFolder_).empty()) << "the failed launch removes its work folder";
    EXPECT_EQ("", result.report);
}

TEST_F(LaunchTest, FullLaunchPassesSwitchesAndExitCodeAndRemovesTheWorkFolder)
{
    const std::string package = SamplePackage();
    StampDefaultLanguage(package);
    WriteBytes(launcherFolder_ + "\\sn.bat", "@echo serial\r\n");
    keepFolder_ = scratch_ / "kept";
    CreateDirectoryA(keepFolder_.c_str(), nullptr);

    LaunchResult result = Run(" foo /S /v\"x\"", "7");
    EXPECT_EQ(7u, result.exitCode);
    EXPECT_TRUE(result.log.empty()) << Joined(result.log);
    std::string work = ReportValue(result.report, "current folder");
    EXPECT_EQ(0u, work.find(tempFolder_ + "\\{")) << work;
    EXPECT_EQ(tempFolder_.size() + 39, work.size());
    EXPECT_EQ("\"" + work + "\\setup.exe\" /S /v\"x\"", ReportValue(result.report, "command line"));
    // The installer also sees the work folder's marker beside it.
    for (const char* name : {"Language.ini", "setup.exe", "setup.oem", "sn.bat", "~oemwork"})
        EXPECT_NE(std::string::npos, result.report.find(std::string("file: ") + name + "\n")) << name;
    // The work files as the installer found them: written as stored.
    EXPECT_EQ(package, ReadBytes(keepFolder_ + "\\setup.oem"));
    EXPECT_EQ(std::string(kDefaultLanguageIni, kDefaultLanguageIniSize), ReadBytes(keepFolder_ + "\\Language.ini"));
    EXPECT_EQ("@echo serial\r\n", ReadBytes(keepFolder_ + "\\sn.bat"));
    EXPECT_EQ(std::string::npos, result.report.find("\nfolder: ")) << result.report;
    // The work folder and the unpacker's own folder are both gone.
    EXPECT_TRUE(ListFolder(tempFolder_).empty());
}

TEST_F(LaunchTest, CommandLineWithoutSwitchesAndWithLanguage)
{
    StampDefaultLanguage(SamplePackage());
    LaunchResult plain = Run("");
    EXPECT_EQ(0u, plain.exitCode);
    std::string work = ReportValue(plain.report, "current folder");
    EXPECT_EQ("\"" + work + "\\setup.exe\" ", ReportValue(plain.report, "command line"));

    std::string ini = "[LANGUAGE]\r\nUseDefault = 0\r\nSelectLanguage = 0x0404\r\n";
    Stamp(SamplePackage(), &ini);
    LaunchResult withLanguage = Run(" /qn");
    work = ReportValue(withLanguage.report, "current folder");
    EXPECT_EQ("\"" + work + "\\setup.exe\" /qn /L0x0404", ReportValue(withLanguage.report, "command line"));
    EXPECT_TRUE(ListFolder(tempFolder_).empty());
}

TEST_F(LaunchTest, ConsoleInstallerThatEndsAtOnceLeavesNoWorkFolder)
{
    // The sample installer is a console program, started in a new console:
    // under Wine its console host may still hold the folder for a moment
    // after it has ended. Several launches in a row, each must leave nothing.
    StampDefaultLanguage(SamplePackage());
    for (int launch = 0; launch < 4; ++launch) {
        LaunchResult result = Run(" /S");
        EXPECT_EQ(0u, result.exitCode);
        EXPECT_TRUE(result.log.empty()) << Joined(result.log);
        EXPECT_NE("", ReportValue(result.report, "current folder"));
        EXPECT_EQ(std::vector<std::string>{}, ListFolder(tempFolder_)) << "launch " << launch;
    }
}

TEST_F(LaunchTest, MissingLanguageResourceWritesAnEmptyIniAndUsesTheDefault)
{
    Stamp(SamplePackage(), nullptr);
    LaunchResult result = Run(" /S", "3");
    EXPECT_EQ(3u, result.exitCode);
    EXPECT_TRUE(result.log.empty()) << Joined(result.log);
    std::string work = ReportValue(result.report, "current folder");
    EXPECT_EQ("\"" + work + "\\setup.exe\" /S", ReportValue(result.report, "command line"));
    EXPECT_NE(std::string::npos, result.report.find("file: Language.ini\n"));
}

TEST_F(LaunchTest, SnBatAlreadyStagedInTheWorkFolderIsReplaced)
{
    // Setup.cfg stages sn.bat first; the copy beside the launcher then
    // replaces it, and the launch goes on.
    WriteBytes(launcherFolder_ + "\\Setup.cfg", "[SupportFiles]\r\nbatch=sn.bat\r\n");
    WriteBytes(launcherFolder_ + "\\sn.bat", "@echo serial\r\n");
    StampDefaultLanguage(SamplePackage());
    LaunchResult result = Run(" /S");
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_TRUE(result.log.empty()) << Joined(result.log);
    for (const char* name : {"Setup.cfg", "sn.bat", "setup.exe"})
        EXPECT_NE(std::string::npos, result.report.find(std::string("file: ") + name + "\n")) << name;
}

TEST_F(LaunchTest, SetupOemAlreadyStagedInTheWorkFolderIsReplacedWhole)
{
    // A stale setup.oem longer than the package: none of its bytes may be left
    // behind the package's own.
    const std::string package = SamplePackage();
    WriteBytes(launcherFolder_ + "\\Setup.cfg", "[SupportFiles]\r\nstale=setup.oem\r\n");
    WriteBytes(launcherFolder_ + "\\setup.oem", std::string(package.size() * 3 + 4096, 'x'));
    StampDefaultLanguage(package);
    keepFolder_ = scratch_ / "kept";
    CreateDirectoryA(keepFolder_.c_str(), nullptr);
    LaunchResult result = Run(" /S", "7");
    EXPECT_EQ(7u, result.exitCode);
    EXPECT_TRUE(result.log.empty()) << Joined(result.log);
    const std::string written = ReadBytes(keepFolder_ + "\\setup.oem");
    EXPECT_EQ(package.size(), written.size());
    EXPECT_TRUE(written == package) << "setup.oem differs from the package";
    EXPECT_TRUE(ListFolder(tempFolder_).empty()) << "the launch removes its work folder";
}

TEST_F(LaunchTest, InstallerThatCannotStartIsLoggedWithTheFullCommandLine)
{
    std::string fake = scratch_ / "broken.exe";
    WriteBytes(fake, "this is not a program");
    std::string package = BuildPackage(scratch_.Path(), "[Commonfiles]\r\nORG.SETUP.EXE=broken.exe\r\n", {fake});
    if (package.size() < 1024)
        package.resize(1024, '\0');
    StampDefaultLanguage(package);

    LaunchResult result = Run(" /S /v\"x\"");
    EXPECT_EQ(kLaunchFailed, result.exitCode);
    ASSERT_EQ(1u, result.log.size()) << Joined(result.log);
    std::string work = WorkFolderNamedIn(result.log[0], "Failure to create process \"");
    std::string expected = "Failure to create process \"" + work + "\\setup.exe\" /S /v\"x\", error:";
    EXPECT_EQ(expected, result.log[0].substr(0, expected.size()));
    EXPECT_NE("0", result.log[0].substr(expected.size()));
    EXPECT_TRUE(ListFolder(tempFolder_).empty()) << "the failed launch removes its work folder";
    EXPECT_EQ("", result.report);
}

TEST_F(LaunchTest, WorkFilesThatCannotBeCreatedAreLoggedWithTheirPaths)
{
    // Setup.cfg stages a folder where the launcher wants to create a file.
    CreateDirectoryA((launcherFolder_ + "\\Language.ini").c_str(), nullptr);
    WriteBytes(launcherFolder_ + "\\Language.ini\\x.txt", "x");
    WriteBytes(launcherFolder_ + "\\Setup.cfg", "[SupportFiles]\r\nblock=Language.ini\\x.txt\r\n");
    StampDefaultLanguage(SamplePackage());
    LaunchResult result = Run(" /S");
    EXPECT_EQ(kLaunchFailed, result.exitCode);
    ASSERT_EQ(1u, result.log.size()) << Joined(result.log);
    std::string work = WorkFolderNamedIn(result.log[0], "Failure to create a new setup.exe(");
    EXPECT_EQ("Failure to create a new setup.exe(" + work + "\\Language.ini),error:5.", result.log[0]);
    EXPECT_TRUE(ListFolder(tempFolder_).empty()) << "the failed launch removes its work folder";

    CreateDirectoryA((launcherFolder_ + "\\setup.oem").c_str(), nullptr);
    WriteBytes(launcherFolder_ + "\\setup.oem\\x.txt", "x");
    WriteBytes(launcherFolder_ + "\\Setup.cfg", "[SupportFiles]\r\nblock=setup.oem\\x.txt\r\n");
    result = Run(" /S");
    ASSERT_EQ(1u, result.log.size()) << Joined(result.log);
    work = WorkFolderNamedIn(result.log[0], "Failure to create a new setup.exe(");
    EXPECT_EQ("Failure to create a new setup.exe(" + work + "\\setup.oem),error:5.", result.log[0]);
    EXPECT_TRUE(ListFolder(tempFolder_).empty());
}

TEST_F(LaunchTest, MissingTemporaryFolderIsNotCreatedAndTheLaunchFails)
{
    StampDefaultLanguage(SamplePackage());
    const std::string missing = tempFolder_ + "\\missing";
    LaunchResult result = Run(" /S", "0", missing);
    EXPECT_EQ(kLaunchFailed, result.exitCode);
    ASSERT_EQ(1u, result.log.size()) << Joined(result.log);
    const std::string lead = "Failure to create the work folder " + missing + "\\{";
    EXPECT_EQ(0u, result.log[0].find(lead)) << result.log[0];
    EXPECT_EQ("}, error:3.", result.log[0].substr(lead.size() + 36)) << result.log[0];
    EXPECT_FALSE(FileExists(missing));
    EXPECT_EQ("", result.report);
}

TEST_F(LaunchTest, StaleWorkFoldersOfEarlierLaunchesAreSweptAtStart)
{
    // An abandoned launch of two days ago, one of a moment ago, and an old
    // folder of the same shape that is not ours.
    const std::string stale = tempFolder_ + "\\{11111111-2222-3333-4444-555555555555}";
    const std::string fresh = tempFolder_ + "\\{66666666-7777-8888-9999-AAAAAAAAAAAA}";
    const std::string foreign = tempFolder_ + "\\{BBBBBBBB-CCCC-DDDD-EEEE-FFFFFFFFFFFF}";
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t nowSeconds = ((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) / 10000000u;
    for (const std::string& folder : {stale, fresh, foreign}) {
        ASSERT_TRUE(MakeFolder(folder));
        WriteBytes(folder + "\\setup.oem", "left behind");
        SetFileTimes(folder + "\\setup.oem", TimeOfSeconds(nowSeconds - 2 * 86400));
    }
    WriteBytes(stale + "\\~oemwork", "");
    SetFileTimes(stale + "\\~oemwork", TimeOfSeconds(nowSeconds - 2 * 86400));
    WriteBytes(fresh + "\\~oemwork", "");

    StampDefaultLanguage(SamplePackage());
    LaunchResult result = Run(" /S");
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_TRUE(result.log.empty()) << Joined(result.log);
    EXPECT_FALSE(FileExists(stale));
    EXPECT_TRUE(FileExists(fresh + "\\setup.oem"));
    EXPECT_TRUE(FileExists(foreign + "\\setup.oem"));
    // Nothing else is left: this launch's own folder is gone as well.
    EXPECT_EQ(2u, ListFolder(tempFolder_).size());
}

TEST_F(LaunchTest, FileHeldByAnInstallersChildIsLoggedOnceAndLeftForRestart)
{
    StampDefaultLanguage(SamplePackage());
    // Held past the launcher's retries (about 5 s).
    holdMs_ = "9000";
    const DWORD started = GetTickCount();
    LaunchResult result = Run(" /S");
    const DWORD took = GetTickCount() - started;
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_GE(took, 4500u) << "the launcher retried for about 5 s";
    ASSERT_EQ(1u, result.log.size()) << Joined(result.log);
    std::string work = WorkFolderNamedIn(result.log[0], "Failure to remove the work folder ");
    // Left: the held file, the child's own running image, the folder.
    EXPECT_EQ("Failure to remove the work folder " + work + " (3 entries left, first " + work +
                  "\\Language.ini); scheduled for removal at restart.",
              result.log[0]);
    EXPECT_TRUE(FileExists(work + "\\Language.ini"));
    EXPECT_FALSE(FileExists(work + "\\setup.oem")) << "what was free went";
    EXPECT_FALSE(FileExists(work + "\\~oemwork"));
    // Scheduled: entries of the system's list of deletions at restart,
    // files before their folder. They are taken out of it again here.
    std::vector<std::string> pending = TakePendingDeletions(work);
    EXPECT_EQ((std::vector<std::string>{work + "\\Language.ini", work + "\\setup.exe", work}), pending);

    // Once the child has ended, nothing holds the leftovers any more.
    bool removed = false;
    for (int i = 0; i < 200 && !removed; ++i) {
        Sleep(100);
        removed = DeleteFileA((work + "\\Language.ini").c_str()) != 0;
    }
    EXPECT_TRUE(removed);
    EXPECT_TRUE(RemoveTree(work));
}

TEST_F(LaunchTest, TemporaryPathTooLongForTheWorkFolderIsRefused)
{
    StampDefaultLanguage(SamplePackage());
    // With the GUID and "\Language.ini" this passes MAX_PATH.
    std::string longTemp = tempFolder_ + "\\" + std::string(MAX_PATH - 40 - tempFolder_.size(), 'L');
    ASSERT_LT(longTemp.size() + 1, static_cast<size_t>(MAX_PATH));
    LaunchResult result = Run(" /S", "0", longTemp);
    EXPECT_EQ(kLaunchFailed, result.exitCode);
    ASSERT_EQ(1u, result.log.size()) << Joined(result.log);
    EXPECT_EQ(0u, result.log[0].find("Path too long for the work folder: " + longTemp + "\\{")) << result.log[0];
    EXPECT_TRUE(ListFolder(tempFolder_).empty());
    EXPECT_EQ("", result.report);
}

TEST_F(LaunchTest, FullLaunchFromADoubleByteFolder)
{
    if (GetACP() != 936)
        GTEST_SKIP() << "runs under code page 936, as launcher_launch_tests_cp936";
    // "中" and a character whose trail byte is the backslash code.
    const std::string name = "\xD6\xD0\x81\x5C";
    launcherFolder_ = scratch_ / name;
    launcherName_ = "setup" + name + ".exe";
    tempFolder_ = scratch_ / (name + "temp" + name);
    CreateDirectoryA(launcherFolder_.c_str(), nullptr);
    CreateDirectoryA(tempFolder_.c_str(), nullptr);
    StampDefaultLanguage(SamplePackage());
    WriteBytes(launcherFolder_ + "\\sn.bat", "@echo serial\r\n");

    LaunchResult result = Run(" /S", "5");
    EXPECT_EQ(5u, result.exitCode);
    EXPECT_TRUE(result.log.empty()) << Joined(result.log);
    std::string work = ReportValue(result.report, "current folder");
    EXPECT_EQ(0u, work.find(tempFolder_ + "\\{")) << work;
    // sn.bat is found only when the launcher's path is cut at the real
    // backslash, not at the trail byte in its file name.
    EXPECT_NE(std::string::npos, result.report.find("file: sn.bat\n"));
    EXPECT_TRUE(ListFolder(tempFolder_).empty());
}

TEST_F(LaunchTest, AFlippedByteInTheStoredInstallerIsCaughtBeforeAnythingStarts)
{
    const std::string package = SamplePackage();
    StampDefaultLanguage(package);
    WriteBytes(launcherFolder_ + "\\sn.bat", "@echo serial\r\n");
    // The installer is stored as it is: find it in the package, and the
    // package in the stamped launcher.
    const std::string setup = launcherFolder_ + "\\Setup.exe";
    std::string image = ReadBytes(setup);
    const size_t packageAt = image.find(package);
    ASSERT_NE(std::string::npos, packageAt);
    const size_t installerAt = package.find(ReadBytes(installer_).substr(1024, 4096));
    ASSERT_NE(std::string::npos, installerAt);
    const size_t flip = installerAt + 2048;
    std::string damaged = package;
    damaged[flip] ^= 0x20;
    image[packageAt + flip] ^= 0x20;
    ASSERT_TRUE(WriteBytes(setup, image));

    LaunchResult result = Run(" /S");
    EXPECT_EQ(kLaunchFailed, result.exitCode);
    ASSERT_EQ(1u, result.log.size()) << Joined(result.log);
    EXPECT_EQ("The OEM data is damaged: checksum " + Hex8(Crc32c(package.data(), package.size())) + " expected, " +
                  Hex8(Crc32c(damaged.data(), damaged.size())) + " found.",
              result.log[0]);
    EXPECT_EQ("", result.report);
    // Nothing is left: setup.oem and the work folder around it are removed.
    EXPECT_TRUE(ListFolder(tempFolder_).empty());
}

TEST_F(LaunchTest, WithoutAChecksumRecordTheLaunchGoesOnAMalformedOneIsRefused)
{
    const std::string package = SamplePackage();
    const uint32_t crc = Crc32c(package.data(), package.size());
    StampDefaultLanguage(package);
    RewriteChecksum(nullptr);
    LaunchResult result = Run(" /S", "7");
    EXPECT_EQ(7u, result.exitCode);
    EXPECT_TRUE(result.log.empty()) << Joined(result.log);
    EXPECT_TRUE(ListFolder(tempFolder_).empty());

    const std::string malformed[] = {
        ChecksumRecord("C32C", crc, package.size()).substr(0, 15),
        ChecksumRecord("C32C", crc, package.size()) + std::string(1, '\0'),
        ChecksumRecord("C32D", crc, package.size()),
        std::string(),
    };
    for (const std::string& record : malformed) {
        RewriteChecksum(&record);
        result = Run(" /S");
        EXPECT_EQ(kLaunchFailed, result.exitCode);
        ASSERT_EQ(1u, result.log.size()) << Joined(result.log);
        EXPECT_EQ("The OEM data is damaged: its checksum record is malformed.", result.log[0]) << record.size();
        EXPECT_TRUE(ListFolder(tempFolder_).empty()) << "refused before the work folder is made";
        EXPECT_EQ("", result.report);
    }

    const std::string longer = ChecksumRecord("C32C", crc, package.size() + 1);
    RewriteChecksum(&longer);
    result = Run(" /S");
    EXPECT_EQ(kLaunchFailed, result.exitCode);
    ASSERT_EQ(1u, result.log.size()) << Joined(result.log);
    EXPECT_EQ("The OEM data is damaged: " + std::to_string(package.size() + 1) + " bytes expected, " +
                  std::to_string(package.size()) + " found.",
              result.log[0]);
    EXPECT_TRUE(ListFolder(tempFolder_).empty());
}

TEST_F(LaunchTest, TooLittleFreeSpaceIsRefusedBeforeSetupOemIsWritten)
{
    const std::string package = SamplePackage();
    std::string ini(kDefaultLanguageIni, kDefaultLanguageIniSize);
    Stamp(package, &ini, "OEM_SMALL_VOLUME_SETUP_EXE");
    // The package, and the installer unpacked beside it.
    const uint64_t needed = package.size() + ReadBytes(installer_).size();

    SetEnvironmentVariableA("OEM_TEST_FREE_BYTES", std::to_string(needed - 1).c_str());
    LaunchResult result = Run(" /S");
    EXPECT_EQ(kLaunchFailed, result.exitCode);
    ASSERT_EQ(1u, result.log.size()) << Joined(result.log);
    std::string work = WorkFolderNamedIn(result.log[0], "Not enough disk space in ");
    ASSERT_FALSE(work.empty());
    EXPECT_EQ("Not enough disk space in " + work + ": " + std::to_string(needed) + " bytes needed, " +
                  std::to_string(needed - 1) + " bytes free.",
              result.log[0]);
    EXPECT_TRUE(ListFolder(tempFolder_).empty()) << "the empty work folder is removed";
    EXPECT_EQ("", result.report);

    SetEnvironmentVariableA("OEM_TEST_FREE_BYTES", std::to_string(needed).c_str());
    result = Run(" /S", "4");
    SetEnvironmentVariableA("OEM_TEST_FREE_BYTES", nullptr);
    EXPECT_EQ(4u, result.exitCode);
    EXPECT_TRUE(result.log.empty()) << Joined(result.log);
    EXPECT_TRUE(ListFolder(tempFolder_).empty());
}

TEST_F(LaunchTest, AnInstallerReplacedBeforeItIsHeldIsRefusedAndNothingStarts)
{
    std::string ini(kDefaultLanguageIni, kDefaultLanguageIniSize);
    Stamp(SamplePackage(), &ini, "OEM_SWAPPED_INSTALLER_SETUP_EXE");
    // Programs that would report if they ran: the installer with one byte of
    // its DOS stub changed (the same size), and with one byte more.
    const std::string installer = ReadBytes(installer_);
    std::string sameSize = installer;
    const size_t stub = sameSize.find("DOS mode");
    ASSERT_NE(std::string::npos, stub);
    sameSize[stub] = 'd';
    const std::string swap = scratch_ / "swap.exe";
    SetEnvironmentVariableA("OEM_TEST_SWAP_INSTALLER", swap.c_str());
    ExpectEachSwapRefused(swap, {sameSize, installer + "x"}, "The installer ",
                          "\\setup.exe changed after it was unpacked.");
    // The same bytes written over it again are still the installer.
    ASSERT_TRUE(WriteBytes(swap, installer));
    LaunchResult result = Run(" /S", "7");
    SetEnvironmentVariableA("OEM_TEST_SWAP_INSTALLER", nullptr);
    EXPECT_EQ(7u, result.exitCode);
    EXPECT_TRUE(result.log.empty()) << Joined(result.log);
    EXPECT_EQ("7", ReportValue(result.report, "exit code"));
    EXPECT_TRUE(ListFolder(tempFolder_).empty());
}

TEST_F(LaunchTest, LanguageSettingsChangedBeforeTheyAreHeldAreRefusedAndNothingStarts)
{
    const std::string ini = "[LANGUAGE]\r\nUseDefault=0\r\nSelectLanguage=0x0404\r\n";
    Stamp(SamplePackage(), &ini, "OEM_SWAPPED_INSTALLER_SETUP_EXE");
    const std::string swap = scratch_ / "swap.ini";
    SetEnvironmentVariableA("OEM_TEST_SWAP_LANGUAGE", swap.c_str());
    // Switches of someone else's, one byte changed (the same size), the same
    // text with one byte more.
    std::string sameSize = ini;
    sameSize[sameSize.find("0404")] = '1';
    ExpectEachSwapRefused(swap, {"[LANGUAGE]\r\nUseDefault=0\r\nSelectLanguage=0404 /EVIL\r\n", sameSize, ini + " "},
                          "The language settings ", "\\Language.ini changed after they were written.");
    // The same bytes written over them again are still the vendor's.
    ASSERT_TRUE(WriteBytes(swap, ini));
    LaunchResult result = Run(" /S", "7");
    SetEnvironmentVariableA("OEM_TEST_SWAP_LANGUAGE", nullptr);
    EXPECT_EQ(7u, result.exitCode);
    EXPECT_TRUE(result.log.empty()) << Joined(result.log);
    const std::string work = ReportValue(result.report, "current folder");
    EXPECT_EQ("\"" + work + "\\setup.exe\" /S /L0x0404", ReportValue(result.report, "command line"));
    EXPECT_TRUE(ListFolder(tempFolder_).empty());
}

TEST_F(LaunchTest, WorkFolderAndUnpackFolderCannotBeRenamedWhileTheLaunchHoldsThem)
{
    std::string ini(kDefaultLanguageIni, kDefaultLanguageIniSize);
    Stamp(SamplePackage(), &ini, "OEM_SWAPPED_INSTALLER_SETUP_EXE");
    const std::string renames = scratch_ / "renames.txt";
    SetEnvironmentVariableA("OEM_TEST_RENAME_REPORT", renames.c_str());
    LaunchResult result = Run(" /S", "7");
    SetEnvironmentVariableA("OEM_TEST_RENAME_REPORT", nullptr);
    const std::string seen = ReadBytes(renames);
    std::printf("renames tried right after setup.exe was unpacked:\n%s", seen.c_str());
    // The work folder and the unpacker's, each refused, in either order.
    std::vector<std::string> folders;
    std::istringstream lines(seen);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, 1, "{") != 0)
            continue;
        folders.push_back(line);
        EXPECT_EQ(38u + std::string(": error 32").size(), line.size()) << line;
        EXPECT_EQ(": error 32", line.substr(38)) << "a sharing violation";
    }
    EXPECT_EQ(2u, folders.size()) << seen;
    // The launch went on as usual, and removed both folders.
    EXPECT_EQ(7u, result.exitCode);
    EXPECT_TRUE(result.log.empty()) << Joined(result.log);
    EXPECT_TRUE(ListFolder(tempFolder_).empty());
}

TEST_F(LaunchTest, AProgramOfTheSameUserRacingTwentyLaunchesNeverGetsItsOwnProgramOrSwitchesStarted)
{
    // An installer of 8 MiB (the sample installer padded with zeros).
    std::string installer = ReadBytes(installer_);
    installer.resize(8u << 20);
    ASSERT_TRUE(WriteBytes(installer_, installer));
    StampDefaultLanguage(SamplePackage());
    const std::string stop = scratch_ / "stop-racer", ran = scratch_ / "racer-ran.txt";
    SetEnvironmentVariableA("OEM_RACER_RAN", ran.c_str());
    std::string racerLine =
        Quote(BuiltProgram("OEM_INSTALLER_RACER")) + " --race " + Quote(tempFolder_) + " " + Quote(stop);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION racer = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &racerLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &racer))
        << GetLastError();

    // What each launch came to: the installer ran with its code back, a
    // refusal (by its record's first words), or the racer's program ran.
    std::map<std::string, int> outcomes;
    for (int i = 0; i < 20; ++i) {
        const LaunchResult result = Run(" /S", "7");
        if (result.exitCode == 7 && ReportValue(result.report, "exit code") == "7") {
            ++outcomes["installer ran"];
            EXPECT_EQ("\"" + ReportValue(result.report, "current folder") + "\\setup.exe\" /S",
                      ReportValue(result.report, "command line"))
                << "the racer's language settings never reach the installer";
            for (const std::string& record : result.log)
                EXPECT_EQ(0u, record.find("Failure to remove the work folder ")) << record;
            continue;
        }
        if (result.exitCode != kLaunchFailed || result.log.empty() || !result.report.empty()) {
            ++outcomes["racer's program ran or unclean failure"];
            ADD_FAILURE() << "exit " << result.exitCode << "\n" << Joined(result.log) << result.report;
            continue;
        }
        const std::string& record = result.log[0];
        bool known = false;
        for (const char* lead : {"Failure to hold ", "The installer ", "The language settings ",
                                 "Failure to copy %ORG.SETUP.EXE% to "}) {
            if (record.find(lead) == 0) {
                ++outcomes[lead];
                known = true;
            }
        }
        EXPECT_TRUE(known) << record;
    }
    WriteBytes(stop, "");
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(racer.hProcess, kLaunchTimeoutMs));
    CloseHandle(racer.hThread);
    CloseHandle(racer.hProcess);
    SetEnvironmentVariableA("OEM_RACER_RAN", nullptr);

    std::ostringstream counts;
    for (const auto& outcome : outcomes)
        counts << " [" << outcome.first << "] " << outcome.second;
    std::printf("20 launches beside the racer:%s\n", counts.str().c_str());
    EXPECT_EQ("", ReadBytes(ran)) << "the racer's program never runs";
    EXPECT_GT(outcomes["installer ran"], 0) << counts.str();
}
