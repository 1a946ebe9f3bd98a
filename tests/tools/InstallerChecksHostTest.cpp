// make's and stamp's checks of the installer image and the language settings, natively under the sanitizers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "InstallerChecks.h"
#include "PeTestImage.h"
#include "ScratchFolder.h"
#include "SystemApi.h"
#include "TestFiles.h"

namespace {

constexpr uint32_t kCharacteristics = 0x84 + 18;  // BuildImage's COFF header is at 0x84

std::vector<uint8_t> Program(uint16_t machine, uint16_t characteristics = 0x0102)
{
    petest::ImageLayout layout;
    layout.pe32Plus = machine != 0x14C;
    layout.machine = machine;
    layout.sections.push_back(petest::Section{".text", 0x1000, 0, std::vector<uint8_t>(0x300, 0xC3)});
    petest::Image image = petest::BuildImage(layout);
    petest::PutU16(&image.bytes, kCharacteristics, characteristics);
    return image.bytes;
}

std::string Bytes(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

// Text files, DLLs, programs cut short and the x64 and ARM64 warnings are
// checked through the command line (oempack_native_cli.sh); here what it does
// not reach.
TEST(ToolsInstallerChecks, ImagesNotMarkedExecutableAndOtherMachines)
{
    test_support::ScratchFolder scratch;
    const std::string path = scratch / "setup.exe";
    uint16_t machine = 0;
    ASSERT_TRUE(test_support::WriteBytes(path, Bytes(Program(0x1C4))));
    const Status taken = CheckInstallerProgram(path, &machine);
    EXPECT_TRUE(taken) << taken.Message();
    EXPECT_EQ(0x1C4, machine);
    for (LauncherArchitecture launcher : {LauncherArchitecture::kX86, LauncherArchitecture::kX64})
        EXPECT_EQ(path + " is a program for machine 0x1C4: it will not start on x86 or x64 Windows",
                  InstallerMachineWarning(path, machine, launcher));

    ASSERT_TRUE(test_support::WriteBytes(path, Bytes(Program(0x14C, 0x0100))));
    const Status refused = CheckInstallerProgram(path, &machine);
    EXPECT_EQ(kErrorBadExeFormat, refused.Code());
    EXPECT_EQ(path + " is not a Windows program (not marked as an executable image)", refused.Message());
}

TEST(ToolsInstallerChecks, LanguageCodesStopAt65535)
{
    for (const char* code : {"0", "65535", "0xFFFF", "0x0000ffff", "0000000000065535"})
        EXPECT_TRUE(IsValidLanguageCode(code)) << code;
    for (const char* code : {"65536", "70000", "0x10000", "0x1FFFF", "99999999999999999", "-1", "+1"})
        EXPECT_FALSE(IsValidLanguageCode(code)) << code;
}

TEST(ToolsInstallerChecks, LanguageSettingsAreReadAsTheLauncherReadsThem)
{
    LanguageIniValues v = ReadLanguageIniText("");
    EXPECT_EQ(1, v.useDefault) << "a missing UseDefault is 1";
    EXPECT_EQ("", v.selectLanguage);
    v = ReadLanguageIniText("[Other]\r\nUseDefault=0\r\nSelectLanguage=1\r\n"
                            " [ language ] \r\n  usedefault =  -3 x\r\nSELECTLANGUAGE= \"0404 /Q\" \r\n"
                            "UseDefault=1\r\nSelectLanguage=1028\r\n[LANGUAGE]\r\nUseDefault=1\r\n");
    EXPECT_EQ(-3, v.useDefault);
    EXPECT_EQ("0404 /Q", v.selectLanguage) << "the first of each key, its quotes taken off";
    EXPECT_EQ(0, ReadLanguageIniText("[LANGUAGE]\nUseDefault=no\n").useDefault);

    EXPECT_EQ("", SelectLanguageWarning("l.ini", "[LANGUAGE]\r\nUseDefault=0\r\nSelectLanguage=0x0404\r\n"));
    EXPECT_EQ("", SelectLanguageWarning("l.ini", "[LANGUAGE]\r\nUseDefault=1\r\nSelectLanguage=0404 /Q\r\n"));
    EXPECT_EQ("l.ini: SelectLanguage '0404 /Q' is not a language identifier (0 to 65535); it will reach the "
              "installer's command line as written, after /L",
              SelectLanguageWarning("l.ini", "[LANGUAGE]\r\nUseDefault=-1\r\nSelectLanguage=0404 /Q\r\n"));
    EXPECT_NE("", SelectLanguageWarning("l.ini", "[LANGUAGE]\r\nUseDefault=0\r\n")) << "/L alone";
    EXPECT_NE("", SelectLanguageWarning("l.ini", "[LANGUAGE]\r\nUseDefault=0\r\nSelectLanguage=70000\r\n"));
}
