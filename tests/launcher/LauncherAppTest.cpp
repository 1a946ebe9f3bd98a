// The launcher's own rules: command-line tail, language settings, installer command line.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "LauncherApp.h"
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
