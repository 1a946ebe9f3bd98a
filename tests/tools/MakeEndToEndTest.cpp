// oempack make, then the stamped launcher under Wine: the sample installer must get the user's switches.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChildProcess.h"
#include "PeTestImage.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

ProcessResult OemPack(const std::vector<std::string>& args)
{
    std::string command = Quote(WindowsPath(OEMPACK_EXE));
    for (const std::string& a : args)
        command += " " + Quote(a);
    return RunProcess(command);
}

std::string Bytes(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string Installer()
{
    return WindowsPath(SAMPLE_INSTALLER_EXE);
}

// The value of "<key>: " lines in the sample installer's report.
std::vector<std::string> ReportValues(const std::string& report, const std::string& key)
{
    std::vector<std::string> values;
    size_t pos = 0;
    const std::string prefix = key + ": ";
    while ((pos = report.find(prefix, pos)) != std::string::npos) {
        if (pos == 0 || report[pos - 1] == '\n') {
            size_t end = report.find('\n', pos);
            values.push_back(report.substr(pos + prefix.size(), end - pos - prefix.size()));
        }
        pos += prefix.size();
    }
    return values;
}

struct LaunchOutcome {
    ProcessResult process;
    std::string report;
};

LaunchOutcome Launch(const std::string& setup, const std::string& switches, const ScratchFolder& dir)
{
    LaunchOutcome outcome;
    std::string reportPath = dir / "report.txt";
    DeleteFileA(reportPath.c_str());
    outcome.process = RunProcess(Quote(setup) + " " + switches,
                                 {"OEM_SAMPLE_REPORT=" + reportPath, "OEM_SAMPLE_EXIT=5"}, dir.Path());
    ReadBytes(reportPath, &outcome.report);
    return outcome;
}

}  // namespace

TEST(ToolsMake, TheInstallerGetsTheUsersSwitchesFromItsWorkFolder)
{
    ScratchFolder dir;
    MakeFolder(dir / "payload");
    MakeFolder(dir / "payload\\Data");
    ASSERT_TRUE(WriteBytes(dir / "payload\\Data\\x.txt", "payload"));
    std::string setup = dir / "MySetup.exe";
    // Without --launcher oempack finds the launcher of the architecture asked for in
    // its own build tree: this build's.
    ProcessResult r = OemPack(
        {"make", "--installer", Installer(), "--payload", dir / "payload", "--arch", OEM_WINDOWS_ARCH, "-o", setup});
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_NE(r.out.find("made " + setup + " from " + WindowsPath(LAUNCHER_EXE) + ": "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("installer SampleInstaller.exe"), std::string::npos) << r.out;

    // What the package inside the program holds. A relative name must not
    // reach the unstamped Setup.exe beside oempack.exe.
    r = RunProcess(Quote(WindowsPath(OEMPACK_EXE)) + " verify Setup.exe", {}, dir.Path());
    EXPECT_EQ(r.exitCode, 1u);  // not there
    ASSERT_TRUE(CopyFileA(setup.c_str(), (dir / "Setup.exe").c_str(), TRUE));
    r = RunProcess(Quote(WindowsPath(OEMPACK_EXE)) + " verify Setup.exe", {}, dir.Path());
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    DeleteFileA((dir / "Setup.exe").c_str());
    r = OemPack({"extract", setup, "-C", dir / "inside"});
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    std::string config, installer, packedInstaller;
    ASSERT_TRUE(ReadBytes(dir / "inside\\Config\\CONFIG.INI", &config));
    EXPECT_EQ(config, "[Commonfiles]\r\nORG.SETUP.EXE=SampleInstaller.exe\r\n");
    ASSERT_TRUE(ReadBytes(Installer(), &installer));
    ASSERT_TRUE(ReadBytes(dir / "inside\\Commonfiles\\SampleInstaller.exe", &packedInstaller));
    EXPECT_TRUE(installer == packedInstaller);
    EXPECT_EQ(ListFolder(dir / "inside"), (std::vector<std::string>{"Commonfiles", "Config", "Data"}));

    LaunchOutcome run = Launch(setup, "/S /v\"x\"", dir);
    ASSERT_TRUE(run.process.started);
    ASSERT_FALSE(run.report.empty()) << "the sample installer did not run";
    std::vector<std::string> folder = ReportValues(run.report, "current folder");
    ASSERT_EQ(folder.size(), 1u) << run.report;
    EXPECT_EQ(ReportValues(run.report, "command line"),
              std::vector<std::string>{"\"" + folder[0] + "\\setup.exe\" /S /v\"x\""});
    // With the work folder's marker, "~oemwork".
    EXPECT_EQ(ReportValues(run.report, "file"),
              (std::vector<std::string>{"Language.ini", "setup.exe", "setup.oem", "~oemwork"}));
    // The launcher removes its work folder once the installer has ended.
    EXPECT_FALSE(FileExists(folder[0])) << folder[0];
}

TEST(ToolsMake, LanguageSettingsAndCompressionReachTheInstaller)
{
    ScratchFolder dir;
    std::string setup = dir / "Setup2.exe";
    ProcessResult r = OemPack({"make", "--installer", Installer(), "--use-default-language", "0", "--select-language",
                               "1028", "--compress", "--launcher", WindowsPath(LAUNCHER_EXE), "-o", setup});
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_NE(r.out.find("compressed"), std::string::npos) << r.out;

    LaunchOutcome run = Launch(setup, "/S", dir);
    ASSERT_FALSE(run.report.empty()) << "the sample installer did not run";
    std::vector<std::string> folder = ReportValues(run.report, "current folder");
    ASSERT_EQ(folder.size(), 1u);
    EXPECT_EQ(ReportValues(run.report, "command line"),
              std::vector<std::string>{"\"" + folder[0] + "\\setup.exe\" /S /L1028"});
}

TEST(ToolsMake, RefusesPackagesTheLauncherWouldReject)
{
    ScratchFolder dir;
    // An installer so small that the whole package stays under 1024 bytes:
    // program headers alone.
    petest::ImageLayout tiny;
    tiny.sizeOfHeaders = 0x200;
    ASSERT_TRUE(WriteBytes(dir / "setup.exe", Bytes(petest::BuildImage(tiny).bytes)));
    ProcessResult r = OemPack({"make", "--installer", dir / "setup.exe", "--launcher", WindowsPath(LAUNCHER_EXE),
                               "-o", dir / "out.exe"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("refuses packages under 1024 bytes"), std::string::npos) << r.err;

    // Compressed below the minimum, stored plainly above it: still made.
    petest::ImageLayout zeros = tiny;
    zeros.sections.push_back(petest::Section{".data", 0x1000, 0, std::vector<uint8_t>(0x400, 0)});
    ASSERT_TRUE(WriteBytes(dir / "inst.exe", Bytes(petest::BuildImage(zeros).bytes)));
    r = OemPack({"make", "--installer", dir / "inst.exe", "--compress", "--launcher", WindowsPath(LAUNCHER_EXE), "-o",
                 dir / "ok.exe"});
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_NE(r.err.find("entries stored uncompressed"), std::string::npos) << r.err;


    MakeFolder(dir / "deep");
    MakeFolder(dir / "deep\\A");
    MakeFolder(dir / "deep\\A\\B");
    r = OemPack({"make", "--installer", Installer(), "--payload", dir / "deep", "--launcher", WindowsPath(LAUNCHER_EXE),
                 "-o", dir / "deep.exe"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("folders inside a group folder"), std::string::npos) << r.err;

    EXPECT_EQ(ListFolder(dir.Path()), (std::vector<std::string>{"deep", "inst.exe", "ok.exe", "setup.exe"}));
}

// An installer above 8 MiB, compressed: coded in pieces, which the launcher
// decodes by the index make wrote. What it starts must still be the entry's
// bytes: a launcher that has the installer replaced right after unpacking it
// by a copy with one bit changed (in the first piece, in the last) refuses
// it, and starts nothing.
TEST(ToolsMake, ASplitCompressedInstallerRunsAndOneChangedBitIsRefused)
{
    ScratchFolder dir;
    std::string installer;
    ASSERT_TRUE(ReadBytes(Installer(), &installer));
    // The sample installer with 9 MiB of its own data behind it runs as it is.
    std::string big = installer;
    for (int i = 0; big.size() < (9u << 20) + 12345; ++i)
        big += "line " + std::to_string(i) + " of the installer's own data\r\n";
    ASSERT_TRUE(WriteBytes(dir / "big.exe", big));
    const std::string setup = dir / "Split.exe";
    ProcessResult r = OemPack({"make", "--installer", dir / "big.exe", "--compress", "--launcher",
                               WindowsPath(SWAPPED_SETUP_EXE), "-o", setup});
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_NE(r.out.find("1 compressed"), std::string::npos) << r.out;

    LaunchOutcome run = Launch(setup, "/S", dir);
    EXPECT_EQ(run.process.exitCode, 5u);
    EXPECT_FALSE(run.report.empty()) << "the installer did not run";

    const std::string reportPath = dir / "report.txt";
    for (const size_t at : {size_t{70000}, big.size() - 100}) {
        std::string changed = big;
        changed[at] ^= 0x01;
        ASSERT_TRUE(WriteBytes(dir / "swap.exe", changed));
        DeleteFileA(reportPath.c_str());
        ProcessResult refused = RunProcess(Quote(setup) + " /S",
                                           {"OEM_SAMPLE_REPORT=" + reportPath, "OEM_SAMPLE_EXIT=5",
                                            "OEM_TEST_SWAP_INSTALLER=" + dir / "swap.exe"},
                                           dir.Path());
        ASSERT_TRUE(refused.started);
        EXPECT_EQ(refused.exitCode, 1603u) << at;
        EXPECT_FALSE(FileExists(reportPath)) << "started an installer with byte " << at << " changed";
    }
}

// A package above 900 MiB: one stored entry of zeros beside the installer. The
// launcher maps it with its image, writes setup.oem from it and the package
// interface loads it; the installer must still run and the work folder go.
// Under Wine a 2 GiB address space still holds a 600 MiB package; one of 900 MiB
// needs the large-address-aware launcher. Run as its own test
// (tools_make_large_package_test): it writes about 3 GiB, all removed after.
TEST(ToolsMake, APackageAbove900MiBLaunchesAndItsInstallerRuns)
{
    if (GetEnvironmentVariableA("OEM_LARGE_PACKAGE_TEST", nullptr, 0) == 0)
        GTEST_SKIP() << "runs as tools_make_large_package_test";
    ScratchFolder dir;
    MakeFolder(dir / "payload");
    MakeFolder(dir / "payload\\Commonfiles");
    MakeFolder(dir / "temp");
    {
        // Sparse where the file system allows: a length, no written bytes.
        HANDLE zeros = CreateFileA((dir / "payload\\Commonfiles\\zeros.bin").c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(zeros, INVALID_HANDLE_VALUE) << GetLastError();
        LARGE_INTEGER size;
        size.QuadPart = (901ll << 20) + 4097;
        EXPECT_TRUE(SetFilePointerEx(zeros, size, nullptr, FILE_BEGIN));
        EXPECT_TRUE(SetEndOfFile(zeros)) << GetLastError();
        CloseHandle(zeros);
    }
    const std::string setup = dir / "Large.exe";
    ProcessResult r = OemPack({"make", "--installer", Installer(), "--payload", dir / "payload", "--launcher",
                               WindowsPath(LAUNCHER_EXE), "-o", setup});
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    DeleteFileA((dir / "payload\\Commonfiles\\zeros.bin").c_str());
    WIN32_FILE_ATTRIBUTE_DATA made;
    ASSERT_TRUE(GetFileAttributesExA(setup.c_str(), GetFileExInfoStandard, &made));
    EXPECT_GT((static_cast<uint64_t>(made.nFileSizeHigh) << 32) | made.nFileSizeLow, 600ull << 20);

    const std::string reportPath = dir / "report.txt";
    const std::string temp = dir / "temp";
    ProcessResult run = RunProcess(Quote(setup) + " /S",
                                   {"OEM_SAMPLE_REPORT=" + reportPath, "OEM_SAMPLE_EXIT=6", "TMP=" + temp,
                                    "TEMP=" + temp},
                                   dir.Path(), 300000);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 6u);
    std::string report;
    EXPECT_TRUE(ReadBytes(reportPath, &report)) << "the sample installer did not run";
    std::vector<std::string> folder = ReportValues(report, "current folder");
    ASSERT_EQ(folder.size(), 1u) << report;
    EXPECT_EQ(0u, folder[0].find(temp + "\\{")) << folder[0];
    // The work folder and the package interface's own folder are both gone.
    EXPECT_TRUE(ListFolder(temp).empty());
}
