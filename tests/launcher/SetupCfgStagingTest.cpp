// Setup.cfg staging with real files beside this test program and a fresh work folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "FolderUtilities.h"
#include "ScratchFolder.h"
#include "SetupCfgStaging.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

// Relative paths of every file below folder, sorted.
void ListFiles(const std::string& folder, const std::string& prefix, std::vector<std::string>& out)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListFiles(folder + "\\" + name, prefix + name + "\\", out);
        else
            out.push_back(prefix + name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// One staging run: source files under "<exe folder>\<tag>\", a work folder
// and a configuration file of its own, all removed afterwards.
class StagingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int runs = 0;
        tag = "stg" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++runs);
        exeFolder = ProgramFolder() + "\\";
        work = scratch / "work";
        cfgPath = scratch / "Custom.cfg";
        ASSERT_EQ(1, CreateFolderTree(work.c_str()));
        ASSERT_EQ(1, CreateFolderTree((exeFolder + tag).c_str()));
    }

    void TearDown() override
    {
        RemoveTree(exeFolder + tag);
        for (const std::string& extra : extraFiles)
            DeleteFileA(extra.c_str());
        for (const std::string& extra : extraFolders)
            RemoveTree(extra);
    }

    // A source file "<exe folder>\<tag>\<relative>" holding its own name.
    void Source(const std::string& relative)
    {
        std::string path = exeFolder + tag + "\\" + relative;
        CreateFolderTree(path.substr(0, path.rfind('\\')).c_str());
        WriteBytes(path, relative);
    }

    void Stage(const std::string& cfgText)
    {
        WriteBytes(cfgPath, cfgText);
        StageSupportFiles(cfgPath.c_str(), work.c_str(), exeFolder.substr(0, exeFolder.size() - 1).c_str());
    }

    std::vector<std::string> WorkFiles() const
    {
        std::vector<std::string> files;
        ListFiles(work, "", files);
        std::sort(files.begin(), files.end());
        return files;
    }

    std::string Staged(const std::string& relative) const { return ReadBytes(work + "\\" + tag + "\\" + relative); }

    ScratchFolder scratch;
    std::string tag, exeFolder, work, cfgPath;
    std::vector<std::string> extraFiles;
    std::vector<std::string> extraFolders;
};

}  // namespace

TEST_F(StagingTest, FilesKeepTheirFoldersAndSetupCfgComesAlong)
{
    Source("doc\\guide.chm");
    Source("a\\b\\c\\d.txt");
    std::string beside = exeFolder + tag + ".txt";
    WriteBytes(beside, "beside");
    extraFiles.push_back(beside);

    Stage("[HELP]\r\nManual=" + tag + "\\doc\\guide.chm\r\nDeep=" + tag + "\\a\\b\\c\\d.txt\r\nPlain=" + tag +
          ".txt\r\n");
    EXPECT_EQ("doc\\guide.chm", Staged("doc\\guide.chm"));
    EXPECT_EQ("a\\b\\c\\d.txt", Staged("a\\b\\c\\d.txt"));
    EXPECT_EQ("beside", ReadBytes(work + "\\" + tag + ".txt"));
    EXPECT_EQ(ReadBytes(cfgPath), ReadBytes(work + "\\Setup.cfg"));
    std::vector<std::string> expected = {"Setup.cfg", tag + ".txt", tag + "\\a\\b\\c\\d.txt", tag + "\\doc\\guide.chm"};
    EXPECT_EQ(expected, WorkFiles());
}

TEST_F(StagingTest, ValuesAreTrimmedAndKeylessLinesStaged)
{
    for (const char* name : {"readme.txt", "semi.txt", "nokey.txt", "lead.txt", "skip.txt"})
        Source(name);
    Stage("[SupportFiles]\r\nReadme=  " + tag + "\\readme.txt ;\r\nSemi=;" + tag + "\\semi.txt;;\r\n" + tag +
          "\\nokey.txt\r\nLead=\\" + tag + "\\lead.txt\r\nEmpty=\r\nBlank= ; ;\r\n");
    std::vector<std::string> expected = {"Setup.cfg", tag + "\\lead.txt", tag + "\\nokey.txt", tag + "\\readme.txt",
                                         tag + "\\semi.txt"};
    EXPECT_EQ(expected, WorkFiles());
}

TEST_F(StagingTest, DriveAndNetworkPathsAreNotStaged)
{
    Source("share\\net.txt");
    Source("local.txt");
    // Unchecked, the network form would resolve below the launcher's folder
    // ("<folder>\\\<tag>\share\net.txt") and be copied.
    Stage("[COPYTO]\r\nNet=\\\\" + tag + "\\share\\net.txt\r\nDrive=" + exeFolder + tag +
          "\\local.txt\r\nRelativeDrive=C:" + tag + "\\local.txt\r\n");
    EXPECT_EQ(std::vector<std::string>{"Setup.cfg"}, WorkFiles());
}

TEST_F(StagingTest, ObjectAndParameterKeysAreSkippedInAnyCase)
{
    for (const char* name : {"o1", "o2", "p1", "p2", "o3", "p3", "o4"})
        Source(name);
    Stage("[INSTALLEXE]\r\nApp.OBJ=" + tag + "\\o1\r\napp.obj=" + tag + "\\o2\r\nApp.PARAM=" + tag + "\\p1\r\nx.Param=" +
          tag + "\\p2\r\n.OBJ=" + tag + "\\o3\r\n.param=" + tag + "\\p3\r\nObj=" + tag + "\\o4\r\n");
    std::vector<std::string> expected = {"Setup.cfg", tag + "\\o3", tag + "\\o4", tag + "\\p3"};
    EXPECT_EQ(expected, WorkFiles());
}

TEST_F(StagingTest, ParentFolderComponentsNeverLeaveEitherFolder)
{
    Source("in.txt");
    Source("a..b.txt");
    // Reachable from the launcher's folder with "..": the file one level up.
    std::string outsideName = tag + "-outside.txt";
    std::string outside = exeFolder + "..\\" + outsideName;
    WriteBytes(outside, "outside");
    extraFiles.push_back(outside);

    Stage("[RECOPYTO]\r\nUp=..\\" + outsideName + "\r\nDown=" + tag + "\\..\\..\\" + outsideName + "\r\nSlash=" +
          tag + "/../../" + outsideName + "\r\nDots=" + tag + "\\... \\in.txt\r\nInside=" + tag + "\\sub\\..\\in.txt\r\nName=" +
          tag + "\\a..b.txt\r\n");
    EXPECT_FALSE(FileExists(scratch / outsideName));
    EXPECT_FALSE(FileExists(work + "\\" + outsideName));
    // Names that merely contain dots are ordinary names.
    EXPECT_EQ((std::vector<std::string>{"Setup.cfg", tag + "\\a..b.txt"}), WorkFiles());
}

TEST_F(StagingTest, PathsThatDoNotFitAreRefusedBeforeAnyFolderIsMade)
{
    // Destination too long: the work folder alone takes most of the room.
    std::string deepWork = work;
    while (deepWork.size() < 230)
        deepWork += "\\" + std::string(std::min<size_t>(40, 230 - deepWork.size()), 'w');
    deepWork.resize(230);
    ASSERT_EQ(1, CreateFolderTree(deepWork.c_str()));
    Source("d1\\d2\\" + std::string(30, 'f'));
    std::string value = tag + "\\d1\\d2\\" + std::string(30, 'f');
    WriteBytes(cfgPath, "[ADDREG]\r\nLong=" + value + "\r\n");
    StageSection("ADDREG", cfgPath.c_str(), "", deepWork.c_str());
    EXPECT_FALSE(FileExists(deepWork + "\\" + tag));

    // Source too long: the launcher's folder plus the value pass 260 bytes,
    // while a work folder at the drive root still leaves room.
    std::string shortWork = "C:\\" + tag;
    extraFolders.push_back(shortWork);
    ASSERT_EQ(1, CreateFolderTree(shortWork.c_str()));
    std::string longValue = tag;
    while (exeFolder.size() + longValue.size() < 260)
        longValue += "\\" + std::string(std::min<size_t>(50, 262 - exeFolder.size() - longValue.size()), 's');
    longValue += "\\x.txt";
    ASSERT_LT(shortWork.size() + 1 + longValue.size(), 260u);
    WriteBytes(cfgPath, "[ADDREG]\r\nLong=" + longValue + "\r\n");
    StageSection("ADDREG", cfgPath.c_str(), "", shortWork.c_str());
    EXPECT_FALSE(FileExists(shortWork + "\\" + tag));
}

TEST_F(StagingTest, AllElevenSectionsAreStagedAndNoOthers)
{
    const char* sections[] = {"Startup",  "ADDREG",   "ADDREG32",   "ADDREG64", "HELP",        "COPYTO",
                              "COPYTO32", "COPYTO64", "INSTALLEXE", "RECOPYTO", "SupportFiles", "Unlisted"};
    std::string cfg;
    std::vector<std::string> expected = {"Setup.cfg"};
    for (const char* section : sections) {
        Source(section);
        cfg += std::string("[") + section + "]\r\nFile=" + tag + "\\" + section + "\r\n";
        if (std::string(section) != "Unlisted")
            expected.push_back(tag + "\\" + section);
    }
    Stage(cfg);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, WorkFiles());
}

TEST_F(StagingTest, LaterCopiesReplaceEarlierOnesAndMissingSourcesArePassedOver)
{
    Source("dup.txt");
    CreateFolderTree((work + "\\" + tag).c_str());
    WriteBytes(work + "\\" + tag + "\\dup.txt", "stale");
    WriteBytes(work + "\\Setup.cfg", "stale");
    Stage("[Startup]\r\nGone=" + tag + "\\missing.txt\r\nA=" + tag + "\\dup.txt\r\n[SupportFiles]\r\nB=" + tag +
          "\\dup.txt\r\n");
    EXPECT_EQ("dup.txt", Staged("dup.txt"));
    EXPECT_EQ(ReadBytes(cfgPath), ReadBytes(work + "\\Setup.cfg"));
    EXPECT_EQ((std::vector<std::string>{"Setup.cfg", tag + "\\dup.txt"}), WorkFiles());
}

TEST_F(StagingTest, SetupCfgIsCopiedEvenWithoutSections)
{
    Stage("; nothing to stage\r\n");
    EXPECT_EQ(std::vector<std::string>{"Setup.cfg"}, WorkFiles());
    EXPECT_EQ("; nothing to stage\r\n", ReadBytes(work + "\\Setup.cfg"));
}

// In code page 936 the second byte of a double-byte character may be 0x5C,
// the backslash: such a folder name must be kept whole.
TEST_F(StagingTest, DoubleByteNamesWithABackslashTrailByteStayWhole)
{
    if (GetACP() != 936)
        GTEST_SKIP() << "needs code page 936";
    const std::string folder = "\x81\x5c";  // one character
    Source(folder + "\\m.txt");
    Source(folder + "x\x81\x5c.txt");
    Stage("[HELP]\r\nM=" + tag + "\\" + folder + "\\m.txt\r\nN=" + tag + "\\" + folder + "x\x81\x5c.txt\r\n");
    EXPECT_EQ(folder + "\\m.txt", Staged(folder + "\\m.txt"));
    EXPECT_EQ(folder + "x\x81\x5c.txt", Staged(folder + "x\x81\x5c.txt"));
    EXPECT_EQ(3u, WorkFiles().size());
    // No stray folder from a name cut inside a character.
    std::vector<std::string> entries;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((work + "\\" + tag + "\\*").c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    do {
        if (std::string(found.cFileName) != "." && std::string(found.cFileName) != "..")
            entries.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ((std::vector<std::string>{folder, folder + "x\x81\x5c.txt"}), entries);
}
