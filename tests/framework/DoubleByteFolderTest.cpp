// Folder utilities on names whose double-byte characters end in the byte 0x5C
// (run under code page 936, where such trail bytes are common).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdarg>
#include <string>

#include "ErrorLog.h"
#include "FolderUtilities.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

// Two GBK characters whose trail byte is the backslash code.
const std::string kTrailSlash = "\x81\x5C";
const std::string kName = "\xD6\xD0" + kTrailSlash;  // "中" and a 0x5C-trail character

std::string OnlyEntry(const std::string& folder)
{
    std::string names;
    for (const std::string& name : ListFolder(folder))
        names += names.empty() ? name : "|" + name;
    return names;
}

int FormatLine(char* line, const char* format, ...)
{
    SYSTEMTIME time = {};
    time.wYear = 2016;
    time.wMonth = 7;
    time.wDay = 19;
    va_list args;
    va_start(args, format);
    int length = FormatLogLine(line, time, format, args);
    va_end(args);
    return length;
}

}  // namespace

TEST(DoubleByteNames, RunsUnderCodePage936)
{
    ASSERT_EQ(936u, GetACP());
    ASSERT_TRUE(IsDBCSLeadByte(0x81));
}

TEST(DoubleByteNames, CreateFolderTreeNeverSplitsACharacter)
{
    ScratchFolder folder;
    std::string deep = folder / kName + "\\" + kName;
    EXPECT_EQ(1, CreateFolderTree(deep.c_str()));
    EXPECT_TRUE(IsFolder(deep));
    EXPECT_EQ(kName, OnlyEntry(folder.Path()));
    EXPECT_EQ(kName, OnlyEntry(folder / kName));
}

TEST(DoubleByteNames, DeleteTreeFindsTheRealSeparator)
{
    ScratchFolder folder;
    std::string root = folder / kName;
    CreateFolderTree((root + "\\" + kName).c_str());
    WriteBytes(root + "\\" + kName + "\\file" + kTrailSlash + ".txt", "x");
    WriteBytes(root + "\\top.txt", "y");

    EXPECT_EQ(1, DeleteTree((root + "\\" + kName + "\\*.*").c_str()));
    EXPECT_TRUE(IsFolder(root + "\\" + kName));
    EXPECT_EQ("", OnlyEntry(root + "\\" + kName));

    EXPECT_EQ(1, DeleteTree(root.c_str()));
    EXPECT_FALSE(FileExists(root));
    EXPECT_EQ("", OnlyEntry(folder.Path()));
}

TEST(DoubleByteNames, ModuleFolderCutsAtTheLastRealBackslash)
{
    char path[MAX_PATH];
    strcpy(path, ("C:\\" + kName + "\\setup" + kTrailSlash + ".exe").c_str());
    CutAtLastBackslash(path);
    EXPECT_EQ("C:\\" + kName, std::string(path));

    strcpy(path, ("C:\\dir\\" + kName).c_str());
    CutAtLastBackslash(path);
    EXPECT_STREQ("C:\\dir", path);
}

TEST(DoubleByteNames, TempFolderAddsTheBackslashAfterATrailByte)
{
    ScratchFolder folder;
    std::string temp = folder / kName;
    CreateFolderTree(temp.c_str());
    SetEnvironmentVariableA("TMP", temp.c_str());
    SetEnvironmentVariableA("TEMP", temp.c_str());
    char buffer[MAX_PATH];
    EXPECT_EQ(temp + "\\", std::string(GetTempFolder(buffer)));
}

TEST(DoubleByteNames, OverlongLogMessageIsNeverCutInsideACharacter)
{
    // Behind the 31-character prefix every character starts at an odd offset,
    // so the cut at offset 1018 would fall inside one: it moves back to 1017.
    std::string message;
    while (message.size() < 2000)
        message += kTrailSlash;
    char line[kLogLineSize];
    int length = FormatLine(line, "%s", message.c_str());
    ASSERT_EQ(kLogMessageLimit + 1, length);
    std::string text(line, static_cast<size_t>(length));
    EXPECT_EQ("...\r\n", text.substr(text.size() - 5));
    std::string kept = text.substr(31, text.size() - 5 - 31);
    EXPECT_EQ(message.substr(0, kept.size()), kept);
    EXPECT_EQ(0u, kept.size() % 2) << "whole two-byte characters only";
}
