// A real NSIS installer of the build's architecture, made into a Setup.exe by oempack and launched silently.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChildProcess.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

// The lines of a text, without their "\r\n".
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::string Leaf(const std::string& path)
{
    return path.substr(path.find_last_of('\\') + 1);
}

}  // namespace

// The installer (ThirdPartyInstaller.nsi) installs into the folder of /D=, which NSIS
// takes only as the last switch and unquoted, and exits with 3.
TEST(NsisInstaller, InstallsIntoTheFolderOfDAndItsExitCodeComesBack)
{
    ScratchFolder dir;
    const std::string setup = dir / "Setup.exe";
    ProcessResult made = RunProcess(Quote(WindowsPath(OEMPACK_EXE)) + " make --installer " +
                                    Quote(WindowsPath(NSIS_INSTALLER_EXE)) + " --launcher " +
                                    Quote(WindowsPath(LAUNCHER_EXE)) + " -o " + Quote(setup));
    ASSERT_EQ(made.exitCode, 0u) << made.err;

    const std::string target = dir / "Installed";
    ProcessResult run = RunProcess(Quote(setup) + " /S /D=" + target, {}, dir.Path());
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 3u) << "the installer's exit code did not come back";

    std::string installed, script;
    ASSERT_TRUE(ReadBytes(target + "\\payload.nsi", &installed)) << "nothing installed in " << target;
    ASSERT_TRUE(ReadBytes(WindowsPath(NSIS_SCRIPT), &script));
    EXPECT_TRUE(installed == script) << "the installed file differs from what the installer carries";

    std::string launch;
    ASSERT_TRUE(ReadBytes(target + "\\launch.txt", &launch));
    const std::vector<std::string> lines = Lines(launch);
    ASSERT_EQ(lines.size(), 2u) << launch;
    const std::string& workFolder = lines[0];
    const std::string leaf = Leaf(workFolder);
    EXPECT_TRUE(leaf.size() == 38 && leaf.front() == '{' && leaf.back() == '}') << workFolder;
    // NSIS takes " /D=..." off the command line it shows; /S stays.
    EXPECT_EQ(lines[1], "\"" + workFolder + "\\setup.exe\" /S");
    EXPECT_FALSE(FileExists(workFolder)) << "the work folder is still there: " << workFolder;
}
