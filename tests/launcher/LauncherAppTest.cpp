// The launcher's own rules: command-line tail, language settings, installer command line, setup.oem.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "CFile.h"
#include "Crc32c.h"
#include "LauncherApp.h"
#include "PackageChecksum.h"
#include "PackageHandle.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

LanguageSettings ReadIni(const ScratchFolder& folder, const std::string& text)
{
    std::string path = folder / "Language.ini";
    WriteBytes(path, text);
    return LauncherApp::ReadLanguageSettings(path.c_str());
}

// A container holding one installer of size bytes: more than two 1 MiB pieces
// when size is large enough.
std::string BuildPackage(const ScratchFolder& folder, uint32_t size)
{
    const std::string installer = folder / "installer.bin";
    const std::string built = folder / "built.oem";
    EXPECT_TRUE(WriteBytes(installer, PatternBytes(size, 9)));
    PackageHandle package;
    EXPECT_EQ(1, package.Open(built.c_str(), PackageHandle::kCreateAlways));
    EXPECT_EQ(1, package.AddFile(installer.c_str(), "Commonfiles"));
    EXPECT_EQ(1, package.Save());
    return ReadBytes(built);
}

}  // namespace

TEST(PassThroughArgs, TailFromTheFirstSlash)
{
    EXPECT_EQ(CString("/S /v\"x\""), LauncherApp::GetPassThroughArgs("\"C:\\a b\\Setup.exe\" /S /v\"x\""));
    EXPECT_EQ(CString("/S"), LauncherApp::GetPassThroughArgs("C:\\Setup.exe foo /S"));
    // Everything after the first slash travels unchanged, quotes and all.
    EXPECT_EQ(CString("/a \"b /c\"  x"), LauncherApp::GetPassThroughArgs("Setup.exe /a \"b /c\"  x"));
}

TEST(PassThroughArgs, NoSlashOrSlashFirstGivesNothing)
{
    EXPECT_EQ(CString(), LauncherApp::GetPassThroughArgs("C:\\Setup.exe plain args"));
    EXPECT_EQ(CString(), LauncherApp::GetPassThroughArgs(""));
    EXPECT_EQ(CString(), LauncherApp::GetPassThroughArgs("/S"));
    // A slash inside the launcher's own path counts too: the tail starts there.
    EXPECT_EQ(CString("/dir/Setup.exe /S"), LauncherApp::GetPassThroughArgs("Z:/dir/Setup.exe /S"));
}

TEST(LanguageSettings, ShippedIniAndDefaults)
{
    ScratchFolder folder;
    LanguageSettings shipped = ReadIni(folder, "[LANGUAGE]\r\nUseDefault =1\r\nSelectLanguage = 0x0404\r\n");
    EXPECT_EQ(1u, shipped.useDefault);
    EXPECT_EQ(CString("0x0404"), shipped.selectLanguage);

    LanguageSettings empty = ReadIni(folder, "");
    EXPECT_EQ(1u, empty.useDefault);
    EXPECT_EQ(CString(), empty.selectLanguage);

    LanguageSettings otherSection = ReadIni(folder, "[OTHER]\r\nUseDefault=0\r\nSelectLanguage=1\r\n");
    EXPECT_EQ(1u, otherSection.useDefault);
    EXPECT_EQ(CString(), otherSection.selectLanguage);
}

TEST(LanguageSettings, UseDefaultReadsAsAnUnsignedNumber)
{
    ScratchFolder folder;
    EXPECT_EQ(0u, ReadIni(folder, "[LANGUAGE]\r\nUseDefault=0\r\n").useDefault);
    EXPECT_EQ(0u, ReadIni(folder, "[LANGUAGE]\r\nUseDefault=yes\r\n").useDefault);
    EXPECT_EQ(2u, ReadIni(folder, "[language]\r\nusedefault=2\r\n").useDefault);
    EXPECT_EQ(0u, ReadIni(folder, "[LANGUAGE]\r\nUseDefault=-1\r\n").useDefault);
}

TEST(InstallerCommandLine, QuotedPathArgumentsAndLanguage)
{
    LanguageSettings useDefault;
    EXPECT_EQ(CString("\"C:\\T\\{G}\\setup.exe\" /S /v\"x\""),
              LauncherApp::BuildInstallerCommandLine("C:\\T\\{G}\\setup.exe", "/S /v\"x\"", useDefault));
    // The blank is always written.
    EXPECT_EQ(CString("\"C:\\W\\setup.exe\" "), LauncherApp::BuildInstallerCommandLine("C:\\W\\setup.exe", "", useDefault));

    LanguageSettings chosen;
    chosen.useDefault = 0;
    chosen.selectLanguage = "0x0404";
    EXPECT_EQ(CString("\"C:\\W\\setup.exe\" /S /L0x0404"),
              LauncherApp::BuildInstallerCommandLine("C:\\W\\setup.exe", "/S", chosen));
    chosen.selectLanguage = "";
    EXPECT_EQ(CString("\"C:\\W\\setup.exe\"  /L"), LauncherApp::BuildInstallerCommandLine("C:\\W\\setup.exe", "", chosen));
}

TEST(InstallerCommandLine, PercentSignsInPathsAreNotFormats)
{
    LanguageSettings chosen;
    chosen.useDefault = 0;
    chosen.selectLanguage = "%s";
    EXPECT_EQ(CString("\"C:\\100%\\setup.exe\" /v\"%d\" /L%s"),
              LauncherApp::BuildInstallerCommandLine("C:\\100%\\setup.exe", "/v\"%d\"", chosen));
}

TEST(PackageFile, HeldAgainstWritersAndRenamesUntilReleasedWhileThePackageInterfaceOpensIt)
{
    ScratchFolder folder;
    const std::string package = BuildPackage(folder, (5u << 19) + 7);
    const uint32_t size = static_cast<uint32_t>(package.size());
    ASSERT_GT(size, 2u << 20);
    const PackageChecksum checksum = PackageChecksum::Of(package.data(), size);
    const std::string path = folder / "setup.oem";
    const std::string other = folder / "other.oem";
    ASSERT_TRUE(WriteBytes(path, "an older setup.oem, longer than nothing"));
    ASSERT_TRUE(WriteBytes(other, "other"));

    LauncherApp app;
    CFile held;
    const Status written = app.WritePackageFile(path.c_str(), package.data(), size, &checksum, &held);
    ASSERT_TRUE(written) << written.Message();
    ASSERT_TRUE(held.IsOpen());
    EXPECT_EQ(package, ReadBytes(path));

    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    if (writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);
    // Wine 8 refuses a rename over a file held open as access denied (5)
    // rather than as a sharing violation.
    EXPECT_FALSE(MoveFileExA(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
    const DWORD renameError = GetLastError();
    EXPECT_TRUE(renameError == ERROR_ACCESS_DENIED || renameError == ERROR_SHARING_VIOLATION) << renameError;
    {
        PackageHandle opened;
        EXPECT_EQ(1, opened.Open(path.c_str(), PackageHandle::kOpenExisting)) << GetLastError();
    }
    EXPECT_EQ(package, ReadBytes(path));

    held.Abort();
    EXPECT_TRUE(MoveFileExA(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) << GetLastError();
    EXPECT_EQ("other", ReadBytes(path));
}

TEST(PackageFile, BytesThatDoNotMatchTheChecksumAreRefusedAndRemoved)
{
    ScratchFolder folder;
    const std::string package = BuildPackage(folder, (3u << 20) + 11);
    const uint32_t size = static_cast<uint32_t>(package.size());
    const PackageChecksum checksum = PackageChecksum::Of(package.data(), size);
    const std::string path = folder / "setup.oem";
    LauncherApp app;

    // One flipped bit in the last piece, past the first two.
    std::string damaged = package;
    damaged[size - 100] ^= 0x08;
    CFile held;
    const Status refused = app.WritePackageFile(path.c_str(), damaged.data(), size, &checksum, &held);
    EXPECT_FALSE(refused);
    EXPECT_EQ(static_cast<uint32_t>(ERROR_INVALID_DATA), refused.Code());
    char expected[100];
    snprintf(expected, sizeof expected, "The OEM data is damaged: checksum %08X expected, %08X found.",
             static_cast<unsigned>(Crc32c(package.data(), size)), static_cast<unsigned>(Crc32c(damaged.data(), size)));
    EXPECT_EQ(std::string(expected), refused.Message());
    EXPECT_FALSE(held.IsOpen());
    EXPECT_FALSE(FileExists(path));

    // Without a checksum to meet, the same bytes are written as they are.
    const Status unchecked = app.WritePackageFile(path.c_str(), damaged.data(), size, nullptr, &held);
    ASSERT_TRUE(unchecked) << unchecked.Message();
    held.Abort();
    EXPECT_EQ(damaged, ReadBytes(path));
}
