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
    petest::ImageSpec spec;
    spec.pe32Plus = machine != 0x14C;
    spec.machine = machine;
    spec.sections.push_back(petest::Section{".text", 0x1000, 0, std::vector<uint8_t>(0x300, 0xC3)});
    petest::Image image = petest::BuildImage(spec);
    petest::PutU16(&image.bytes, kCharacteristics, characteristics);
    return image.bytes;
}

std::string Bytes(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

TEST(ToolsInstallerChecks, OnlyAProgramIsTakenAndWhatIsWrongIsSaid)
{
    test_support::ScratchFolder scratch;
    const std::string path = scratch / "setup.exe";
    uint16_t machine = 0;
    for (uint16_t m : {uint16_t{0x14C}, uint16_t{0x8664}, uint16_t{0xAA64}}) {
        ASSERT_TRUE(test_support::WriteBytes(path, Bytes(Program(m))));
        const Status taken = CheckInstallerProgram(path, &machine);
        EXPECT_TRUE(taken) << taken.Message();
        EXPECT_EQ(m, machine);
    }
    const std::vector<uint8_t> program = Program(0x14C);
    const struct {
        std::string bytes;
        std::string fault;
    } refused[] = {
        {std::string(2000, 'x'), "no MZ signature at offset 0"},
        {"MZ", "the file is 2 bytes, too short for an MZ header (64 bytes)"},
        {Bytes(Program(0x14C, 0x2102)), "a DLL"},
        {Bytes(Program(0x14C, 0x0100)), "not marked as an executable image"},
        // The section's data cut short.
        {Bytes(program).substr(0, program.size() - 1),
         "section 1 (.text): raw data at 0x400 (1024 bytes) reaches past the end of the file (2047 bytes)"},
    };
    for (const auto& r : refused) {
        ASSERT_TRUE(test_support::WriteBytes(path, r.bytes));
        const Status status = CheckInstallerProgram(path, &machine);
        EXPECT_EQ(kErrorBadExeFormat, status.Code()) << r.fault;
        EXPECT_EQ(path + " is not a Windows program (" + r.fault + ")", status.Message());
    }
    const Status missing = CheckInstallerProgram(scratch / "none.exe", &machine);
    EXPECT_EQ(kErrorFileNotFound, missing.Code());
    EXPECT_EQ(0u, missing.Message().find("cannot read the installer " + scratch / "none.exe" + ": "))
        << missing.Message();
}

TEST(ToolsInstallerChecks, MachinesThatDoNotStartWhereTheLauncherRunsAreWarnedAbout)
{
    for (LauncherArchitecture launcher : {LauncherArchitecture::kX86, LauncherArchitecture::kX64})
        EXPECT_EQ("", InstallerMachineWarning("i.exe", 0x14C, launcher));
    EXPECT_EQ("", InstallerMachineWarning("i.exe", 0x8664, LauncherArchitecture::kX64));
    EXPECT_EQ("i.exe is an x64 program: it will not start on 32-bit Windows, where the x86 Setup.exe runs",
              InstallerMachineWarning("i.exe", 0x8664, LauncherArchitecture::kX86));
    for (LauncherArchitecture launcher : {LauncherArchitecture::kX86, LauncherArchitecture::kX64}) {
        EXPECT_EQ("i.exe is an ARM64 program: it will not start on x86 or x64 Windows",
                  InstallerMachineWarning("i.exe", 0xAA64, launcher));
        EXPECT_EQ("i.exe is a program for machine 0x1C4: it will not start on x86 or x64 Windows",
                  InstallerMachineWarning("i.exe", 0x1C4, launcher));
    }
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
