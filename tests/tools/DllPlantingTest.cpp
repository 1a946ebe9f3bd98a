// DLL planting: stand-ins for version.dll and comctl32.dll beside oempack.exe and Setup.exe.
//
// Under Wine the test runs with WINEDLLOVERRIDES "version,comctl32=n,b" (set
// by CMake: Wine takes it from the environment it starts with, not from one a
// parent process hands over), so that Wine, like Windows for a DLL that is not
// a known DLL, loads a DLL of that name from the program's folder first. Each
// stand-in writes "<its path>.loaded" when it is loaded. The control program
// imports version.dll the ordinary way and must load its stand-in: that proves
// the override is in force and the markers get written, so that their absence
// beside our programs means something.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChildProcess.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

const char* const kPlantedDlls[] = {"version.dll", "comctl32.dll"};

std::string BuiltFile(const char* variable)
{
    const char* unixPath = getenv(variable);
    EXPECT_TRUE(unixPath != nullptr) << variable << " is not set";
    return WindowsPath(unixPath ? unixPath : "");
}

// A folder holding copies of the given programs and both stand-ins.
std::string PlantedFolder(const ScratchFolder& scratch, const std::string& leaf,
                          const std::vector<std::pair<std::string, std::string>>& programs)
{
    std::string folder = scratch / leaf;
    EXPECT_TRUE(MakeFolder(folder)) << folder;
    for (const auto& program : programs)
        EXPECT_TRUE(CopyFileA(program.first.c_str(), (folder + "\\" + program.second).c_str(), FALSE))
            << program.first << " error " << GetLastError();
    std::string planted = BuiltFile("OEM_PLANTED_DLLS");
    for (const char* dll : kPlantedDlls)
        EXPECT_TRUE(CopyFileA((planted + "\\" + dll).c_str(), (folder + "\\" + dll).c_str(), FALSE))
            << dll << " error " << GetLastError();
    return folder;
}

// The stand-ins that ran in the folder, with the programs that loaded them.
std::string Markers(const std::string& folder)
{
    std::string found;
    for (const std::string& name : ListFolder(folder))
        if (name.size() > 7 && name.compare(name.size() - 7, 7, ".loaded") == 0)
            found += name + ": " + ReadBytes(folder + "\\" + name);
    return found;
}

}  // namespace

TEST(DllPlanting, TheControlProgramLoadsThePlantedVersionDll)
{
    ScratchFolder scratch;
    std::string folder = PlantedFolder(scratch, "control", {{BuiltFile("OEM_IMPORTS_VERSION"), "control.exe"}});
    ProcessResult run = RunProcess(Quote(folder + "\\control.exe"), {}, folder);
    ASSERT_TRUE(run.started);
    EXPECT_TRUE(FileExists(folder + "\\version.dll.loaded")) << "markers: " << Markers(folder);
}

TEST(DllPlanting, OemPackUsesTheSystemDllsOnly)
{
    ScratchFolder scratch;
    std::string tool = PlantedFolder(scratch, "tool",
                                     {{BuiltFile("OEM_OEMPACK_EXE"), "oempack.exe"},
                                      {BuiltFile("OEM_SETUP_EXE"), "Setup.exe"}});
    std::string oempack = Quote(tool + "\\oempack.exe");
    std::string setup = scratch / "Setup.exe";
    // The launcher named: only x86 is looked for beside oempack.exe.
    ProcessResult made = RunProcess(oempack + " make --installer " + Quote(BuiltFile("OEM_SAMPLE_INSTALLER")) +
                                        " --launcher " + Quote(tool + "\\Setup.exe") + " -o " + Quote(setup),
                                    {}, scratch.Path());
    EXPECT_EQ(0u, made.exitCode) << made.err;
    // Extracted twice: the second time every file is there already, and the
    // version mode reads the version blocks of both.
    std::string out = scratch / "out";
    for (const char* overwrite : {"always", "newer-version"}) {
        ProcessResult extracted = RunProcess(
            oempack + " extract " + Quote(setup) + " -C " + Quote(out) + " --overwrite " + overwrite, {},
            scratch.Path());
        EXPECT_EQ(0u, extracted.exitCode) << overwrite << ": " << extracted.err;
    }
    std::vector<std::string> extractedFiles = ListFolder(out + "\\Commonfiles");
    ASSERT_EQ(1u, extractedFiles.size());
    EXPECT_TRUE(ReadBytes(BuiltFile("OEM_SAMPLE_INSTALLER")) == ReadBytes(out + "\\Commonfiles\\" + extractedFiles[0]))
        << extractedFiles[0];
    EXPECT_EQ("", Markers(tool));
}

TEST(DllPlanting, TheLauncherShowsItsProgressWithTheSystemCommonControls)
{
    ScratchFolder scratch;
    std::string setup = scratch / "made.exe";
    ProcessResult made = RunProcess(Quote(BuiltFile("OEM_OEMPACK_EXE")) + " make --installer " +
                                        Quote(BuiltFile("OEM_SAMPLE_INSTALLER")) + " --launcher " +
                                        Quote(BuiltFile("OEM_SETUP_EXE")) + " -o " + Quote(setup),
                                    {}, scratch.Path());
    ASSERT_EQ(0u, made.exitCode) << made.err;
    std::string folder = PlantedFolder(scratch, "downloads", {{setup, "Setup.exe"}});
    std::string report = scratch / "report.txt";
    std::string temp = scratch / "temp";
    ASSERT_TRUE(MakeFolder(temp));
    std::vector<std::string> environment = {"OEM_SAMPLE_REPORT=" + report, "OEM_SAMPLE_EXIT=5", "TMP=" + temp,
                                            "TEMP=" + temp};
    ProcessResult launched = RunProcess(Quote(folder + "\\Setup.exe") + " /S", environment, scratch.Path());
    EXPECT_EQ(5u, launched.exitCode) << "the installer's own exit code";
    EXPECT_NE(std::string::npos, ReadBytes(report).find("command line: ")) << ReadBytes(report);
    // Wine's own user32.dll imports version.dll, and Wine resolves that import
    // through the program's folder before any code of the launcher runs; on
    // Windows user32.dll is a known DLL whose imports come from the system
    // folder. Only the common controls, which the launcher loads itself, tell
    // here.
    EXPECT_FALSE(FileExists(folder + "\\comctl32.dll.loaded")) << Markers(folder);
}
