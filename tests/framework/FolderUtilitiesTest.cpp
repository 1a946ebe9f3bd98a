// Temporary folder, folder creation and tree deletion on real files.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "DeleteTreeHook.h"
#include "FolderUtilities.h"
#include "GuidText.h"
#include "ScratchFolder.h"
#include "TestFiles.h"
#include "WorkFolder.h"

using namespace test_support;

namespace {

// Sets TMP and TEMP for one test and restores them afterwards.
class TempVariables {
public:
    explicit TempVariables(const std::string& value)
    {
        for (int i = 0; i < 2; ++i) {
            char old[4096] = {};
            had_[i] = GetEnvironmentVariableA(kNames[i], old, sizeof old) > 0;
            saved_[i] = old;
            SetEnvironmentVariableA(kNames[i], value.c_str());
        }
    }
    ~TempVariables()
    {
        for (int i = 0; i < 2; ++i)
            SetEnvironmentVariableA(kNames[i], had_[i] ? saved_[i].c_str() : nullptr);
    }

private:
    static constexpr const char* kNames[2] = {"TMP", "TEMP"};
    bool had_[2];
    std::string saved_[2];
};

std::string WindowsFolder()
{
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, sizeof windows);
    return windows;
}

std::string TempFolder()
{
    char buffer[MAX_PATH];
    char* result = GetTempFolder(buffer);
    EXPECT_EQ(buffer, result);
    return buffer;
}

// Runs a Unix command on Windows paths (a Unix child cannot be waited for
// from Wine, so the caller polls for its effect).
bool RunUnix(const std::string& program, const std::vector<std::string>& paths)
{
    using UnixName = char*(CDECL*)(const wchar_t*);
    auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
    if (!unixName)
        return false;
    std::string command = program;
    for (const std::string& path : paths) {
        wchar_t wide[MAX_PATH] = {};
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
        char* name = unixName(wide);
        command += std::string(" \"") + (name ? name : "") + "\"";
        HeapFree(GetProcessHeap(), 0, name);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool WaitFor(const std::string& path, bool present)
{
    for (int i = 0; i < 100 && FileExists(path) != present; ++i)
        Sleep(50);
    return FileExists(path) == present;
}

// A Unix symbolic link from link to target: Wine shows it as a Windows folder
// link (directory + reparse point).
bool MakeUnixLink(const std::string& target, const std::string& link)
{
    return RunUnix("/bin/ln -s", {target, link}) && WaitFor(link, true);
}

// Removes such a link from the Unix side, which Wine 8 cannot do itself.
void RemoveUnixLink(const std::string& link)
{
    if (RunUnix("/bin/rm -f", {link}))
        WaitFor(link, false);
}

HRESULT WINAPI FailingCreator(GUID*) { return E_FAIL; }

}  // namespace

TEST(TempFolder, EndsInExactlyOneBackslash)
{
    ScratchFolder folder;
    {
        TempVariables temp(folder.Path());
        EXPECT_EQ(folder.Path() + "\\", TempFolder());
    }
    {
        TempVariables temp(folder.Path() + "\\");
        EXPECT_EQ(folder.Path() + "\\", TempFolder());
    }
}

TEST(TempFolder, WindowsFolderAsTempMeansItsTempSubfolder)
{
    std::string windows = WindowsFolder();
    std::string otherCase = windows;
    CharUpperBuffA(&otherCase[0], static_cast<DWORD>(otherCase.size()));
    ASSERT_NE(windows, otherCase) << "the comparison must ignore letter case";
    TempVariables temp(otherCase);
    std::string result = TempFolder();
    EXPECT_EQ(0, lstrcmpiA((windows + "\\Temp\\").c_str(), result.c_str())) << result;
    EXPECT_EQ("Temp\\", result.substr(result.size() - 5));
}

TEST(TempFolder, PathThatDoesNotFitIsRefused)
{
    ScratchFolder folder;
    TempVariables temp(folder.Path() + "\\" + std::string(MAX_PATH, 'x'));
    char buffer[MAX_PATH];
    memset(buffer, '#', sizeof buffer);
    EXPECT_STREQ("", GetTempFolder(buffer));
}

TEST(CreateFolderTree, ExistingFolderAndNestedParents)
{
    ScratchFolder folder;
    EXPECT_EQ(1, CreateFolderTree(folder.Path().c_str()));
    std::string deep = folder / "a\\b\\c";
    EXPECT_EQ(1, CreateFolderTree(deep.c_str()));
    EXPECT_TRUE(IsFolder(folder / "a"));
    EXPECT_TRUE(IsFolder(folder / "a\\b"));
    EXPECT_TRUE(IsFolder(deep));
    // A trailing backslash does not count as the last separator.
    EXPECT_EQ(1, CreateFolderTree((folder / "d\\e\\").c_str()));
    EXPECT_TRUE(IsFolder(folder / "d\\e"));
}

TEST(CreateFolderTree, FailuresReportZero)
{
    ScratchFolder folder;
    // The only backslash is the first character: no parent to fall back on.
    EXPECT_EQ(0, CreateFolderTree("\\bad|name"));
    // A file where a parent folder should be.
    WriteBytes(folder / "file", "x");
    EXPECT_EQ(0, CreateFolderTree((folder / "file\\sub").c_str()));
    // Too long for MAX_PATH: refused, nothing created on the way.
    std::string longPath = folder / "p\\" + std::string(MAX_PATH, 'q');
    EXPECT_EQ(0, CreateFolderTree(longPath.c_str()));
    EXPECT_FALSE(FileExists(folder / "p"));
}

TEST(DeleteTree, FolderPathRemovesTheWholeTree)
{
    ScratchFolder folder;
    std::string root = folder / "root";
    CreateFolderTree((root + "\\x\\y").c_str());
    WriteBytes(root + "\\top.txt", "1");
    WriteBytes(root + "\\x\\mid.txt", "2");
    WriteBytes(root + "\\x\\y\\deep.txt", "3");
    EXPECT_EQ(1, DeleteTree(root.c_str()));
    EXPECT_FALSE(FileExists(root));
    EXPECT_TRUE(IsFolder(folder.Path()));
}

TEST(DeleteTree, WildcardEmptiesButKeepsTheFolder)
{
    ScratchFolder folder;
    CreateFolderTree((folder / "sub\\inner").c_str());
    WriteBytes(folder / "a.txt", "a");
    WriteBytes(folder / "sub\\inner\\b.txt", "b");
    EXPECT_EQ(1, DeleteTree((folder.Path() + "\\*.*").c_str()));
    EXPECT_TRUE(IsFolder(folder.Path()));
    EXPECT_FALSE(FileExists(folder / "a.txt"));
    EXPECT_FALSE(FileExists(folder / "sub"));
}

TEST(DeleteTree, NoMatchChangesNothing)
{
    ScratchFolder folder;
    WriteBytes(folder / "keep.txt", "k");
    EXPECT_EQ(0, DeleteTree((folder / "missing").c_str()));
    EXPECT_EQ(0, DeleteTree((folder / "*.none").c_str()));
    EXPECT_TRUE(FileExists(folder / "keep.txt"));
}

TEST(DeleteTree, ReadOnlyFileSurvivesWithItsFolders)
{
    ScratchFolder folder;
    std::string root = folder / "root";
    CreateFolderTree((root + "\\held\\deeper").c_str());
    CreateFolderTree((root + "\\free").c_str());
    std::string readOnly = root + "\\held\\deeper\\locked.txt";
    WriteBytes(readOnly, "r");
    WriteBytes(root + "\\free\\gone.txt", "g");
    ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(1, DeleteTree(root.c_str()));
    EXPECT_TRUE(FileExists(readOnly));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), GetFileAttributesA(readOnly.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(IsFolder(root + "\\held\\deeper"));
    EXPECT_FALSE(FileExists(root + "\\free"));
}

TEST(DeleteTree, LinkIsNeverFollowed)
{
    ScratchFolder folder;
    std::string target = folder / "target";
    CreateFolderTree((target + "\\inside").c_str());
    WriteBytes(target + "\\precious.txt", "p");
    std::string root = folder / "root";
    CreateFolderTree(root.c_str());
    WriteBytes(root + "\\plain.txt", "x");
    std::string link = root + "\\link";
    ASSERT_TRUE(MakeUnixLink(target, link));
    ASSERT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              GetFileAttributesA(link.c_str()) & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));

    // The link's target is never entered: its contents stay. (Windows then
    // removes the link itself with RemoveDirectoryA; Wine 8 cannot remove a
    // Unix folder link while its target holds files, so the link and root
    // stay there and are not checked.)
    EXPECT_EQ(1, DeleteTree(root.c_str()));
    EXPECT_FALSE(FileExists(root + "\\plain.txt"));
    EXPECT_TRUE(FileExists(target + "\\precious.txt"));
    EXPECT_TRUE(IsFolder(target + "\\inside"));

    // Named directly, the link is not entered either.
    ASSERT_TRUE(MakeUnixLink(target, folder / "direct"));
    EXPECT_EQ(1, DeleteTree((folder / "direct").c_str()));
    EXPECT_TRUE(FileExists(target + "\\precious.txt"));
    EXPECT_TRUE(IsFolder(target + "\\inside"));

    RemoveUnixLink(link);
    RemoveUnixLink(folder / "direct");
}

namespace {

// A swap of one folder for a link, made by DeleteTree's hook at the moment it
// is about to open that folder, after its parent has been listed.
struct LinkSwap {
    std::string when;    // the path the hook waits for
    std::string folder;  // moved aside ...
    std::string aside;
    std::string target;  // ... and replaced by a link to this
    bool done = false;
};
LinkSwap* g_swap = nullptr;

void SwapInLink(const char* path)
{
    if (!g_swap || g_swap->done || lstrcmpiA(path, g_swap->when.c_str()) != 0)
        return;
    g_swap->done = MoveFileA(g_swap->folder.c_str(), g_swap->aside.c_str()) &&
                   MakeUnixLink(g_swap->target, g_swap->folder);
}

class DeleteTreeRace : public ::testing::Test {
protected:
    void SetUp() override
    {
        CreateFolderTree((target + "\\inside").c_str());
        CreateFolderTree((target + "\\b").c_str());
        WriteBytes(target + "\\precious.txt", "p");
        WriteBytes(target + "\\b\\deep.txt", "d");
        CreateFolderTree((root + "\\a\\b").c_str());
        WriteBytes(root + "\\a\\b\\gone.txt", "g");
        WriteBytes(root + "\\a\\top.txt", "t");
        g_swap = &swap;
        SetDeleteTreeHook(&SwapInLink);
    }
    void TearDown() override
    {
        SetDeleteTreeHook(nullptr);
        g_swap = nullptr;
        RemoveUnixLink(swap.folder);
    }
    void ExpectTargetIntact()
    {
        EXPECT_TRUE(FileExists(target + "\\precious.txt"));
        EXPECT_TRUE(FileExists(target + "\\b\\deep.txt"));
        EXPECT_TRUE(IsFolder(target + "\\inside"));
    }

    ScratchFolder folder;
    std::string target = folder / "target";
    std::string root = folder / "root";
    LinkSwap swap;
};

}  // namespace

TEST_F(DeleteTreeRace, AListedFolderSwappedForALinkIsNotFollowed)
{
    // root\a is listed as a folder; before DeleteTree opens it, it becomes a
    // link to target. By path, the walk would now empty target.
    swap = {root + "\\a", root + "\\a", folder / "aside", target};
    EXPECT_EQ(1, DeleteTree(root.c_str()));
    ASSERT_TRUE(swap.done) << "the hook must have swapped the link in";
    ExpectTargetIntact();
    // What was moved aside is no longer in the tree: untouched as well.
    EXPECT_TRUE(FileExists(folder / "aside\\top.txt"));
}

TEST_F(DeleteTreeRace, AFolderAboveSwappedForALinkDoesNotRedirectTheWalk)
{
    // root\a is open and listed; before its subfolder b is opened, a itself is
    // moved away and a link named a points to target, which has a b as well.
    swap = {root + "\\a\\b", root + "\\a", folder / "aside", target};
    EXPECT_EQ(1, DeleteTree(root.c_str()));
    ASSERT_TRUE(swap.done) << "the hook must have swapped the link in";
    // (b is opened relative to the handle of the moved folder, so it is the b
    // that was listed; Windows then deletes it there, while Wine 8 cannot open
    // what lies inside it relative to b any more and leaves it. Either way
    // target stays.)
    ExpectTargetIntact();
}

TEST(GuidText, BracedUpperCaseAndFallbackOnFailure)
{
    auto check = [](const CString& text) {
        ASSERT_EQ(kGuidTextLength, text.GetLength());
        EXPECT_EQ('{', text[0]);
        EXPECT_EQ('}', text[37]);
        for (int i = 1; i < 37; ++i) {
            if (i == 9 || i == 14 || i == 19 || i == 24)
                EXPECT_EQ('-', text[i]) << text.GetString();
            else
                EXPECT_TRUE(strchr("0123456789ABCDEF", text[i]) != nullptr) << text.GetString();
        }
    };
    CString first = MakeGuidText();
    check(first);
    EXPECT_NE(first, MakeGuidText());

    DWORD ticksBefore = GetTickCount();
    GUID fallback = MakeFallbackGuid();
    DWORD ticksAfter = GetTickCount();
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&fallback);
    DWORD ticks = bytes[12] | bytes[13] << 8 | bytes[14] << 16 | static_cast<DWORD>(bytes[15]) << 24;
    EXPECT_GE(ticks, ticksBefore);
    EXPECT_LE(ticks, ticksAfter);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    DWORD high = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | static_cast<DWORD>(bytes[7]) << 24;
    EXPECT_EQ(now.dwHighDateTime, high);

    CString failed = MakeGuidText(FailingCreator);
    check(failed);
    // Bytes 4-7 (the high time word) print as the second and third groups.
    GetSystemTimeAsFileTime(&now);
    char timeGroups[16];
    snprintf(timeGroups, sizeof timeGroups, "%04lX-%04lX", now.dwHighDateTime & 0xFFFFul, now.dwHighDateTime >> 16);
    EXPECT_EQ(CString(timeGroups), failed.Mid(10, 9)) << failed.GetString();
}

TEST(DeleteTree, FolderInUseAsACurrentFolderIsStillEmptied)
{
    ScratchFolder folder;
    const std::string root = folder / "root";
    ASSERT_TRUE(MakeFolder(root));
    ASSERT_TRUE(MakeFolder(root + "\\inner"));
    WriteBytes(root + "\\a.txt", "a");
    WriteBytes(root + "\\inner\\b.txt", "b");
    // Opened as a process holds its current folder: no delete sharing.
    HANDLE busy = CreateFileA((root + "\\inner").c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, busy);
    EXPECT_EQ(1, DeleteTree(root.c_str()));
    EXPECT_FALSE(FileExists(root + "\\a.txt"));
    EXPECT_FALSE(FileExists(root + "\\inner\\b.txt"));
    EXPECT_TRUE(IsFolder(root + "\\inner"));
    // The same for the folder named itself.
    WriteBytes(root + "\\inner\\c.txt", "c");
    EXPECT_EQ(1, DeleteTree((root + "\\inner").c_str()));
    EXPECT_EQ(std::vector<std::string>{}, ListFolder(root + "\\inner"));
    CloseHandle(busy);
    EXPECT_EQ(1, DeleteTree(root.c_str()));
    EXPECT_FALSE(FileExists(root));
}

namespace {

// FILETIME of whole seconds since 1601.
FILETIME FileTimeOfSeconds(uint64_t seconds)
{
    const uint64_t ticks = seconds * 10000000ull;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

// A work folder of an earlier launch in temp: name, marker written at
// markerSeconds (none when 0), one more file.
std::string LeftWorkFolder(const std::string& temp, const std::string& name, uint64_t markerSeconds)
{
    const std::string path = temp + "\\" + name;
    EXPECT_TRUE(MakeFolder(path)) << path;
    WriteBytes(path + "\\setup.oem", "left");
    SetFileTimes(path + "\\setup.oem", TimeOfSeconds(markerSeconds ? markerSeconds : 13000000000ull));
    if (markerSeconds) {
        WriteBytes(path + "\\" + kWorkFolderMarkerName, "");
        SetFileTimes(path + "\\" + kWorkFolderMarkerName, TimeOfSeconds(markerSeconds));
    }
    return path;
}

}  // namespace

TEST(WorkFolderSweep, OnlyStaleMarkedFreeWorkFoldersGo)
{
    ScratchFolder scratch;
    const std::string temp = scratch.Path();
    const uint64_t now = 13300000000ull;
    const uint64_t day = 86400;
    const std::string stale = LeftWorkFolder(temp, "{00000000-0000-0000-0000-000000000001}", now - day - 60);
    WriteBytes(stale + "\\readme.txt", "x");
    ASSERT_TRUE(MakeFolder(stale + "\\sub"));
    WriteBytes(stale + "\\sub\\deep.txt", "x");
    const std::string fresh = LeftWorkFolder(temp, "{00000000-0000-0000-0000-000000000002}", now - day + 60);
    const std::string unmarked = LeftWorkFolder(temp, "{00000000-0000-0000-0000-000000000003}", 0);
    const std::string otherName = LeftWorkFolder(temp, "{other}", now - 2 * day);
    const std::string inUse = LeftWorkFolder(temp, "{00000000-0000-0000-0000-000000000004}", now - 2 * day);
    // A marker that is a folder is no marker.
    const std::string fake = LeftWorkFolder(temp, "{00000000-0000-0000-0000-000000000005}", 0);
    ASSERT_TRUE(MakeFolder(fake + "\\" + kWorkFolderMarkerName));
    // A launch still running holds its marker.
    HANDLE held = CreateFileA((inUse + "\\" + kWorkFolderMarkerName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    EXPECT_EQ(1, WorkFolder::SweepStale((temp + "\\").c_str(), FileTimeOfSeconds(now)));
    CloseHandle(held);
    EXPECT_FALSE(FileExists(stale));
    for (const std::string& kept : {fresh, unmarked, otherName, inUse, fake})
        EXPECT_TRUE(FileExists(kept + "\\setup.oem")) << kept;

    // Released, the abandoned one goes on the next sweep.
    EXPECT_EQ(1, WorkFolder::SweepStale((temp + "\\").c_str(), FileTimeOfSeconds(now)));
    EXPECT_FALSE(FileExists(inUse));
    EXPECT_EQ(0, WorkFolder::SweepStale((scratch / "none\\").c_str(), FileTimeOfSeconds(now)));
}

TEST(WorkFolderSweep, LinkNamedLikeAWorkFolderIsNotFollowed)
{
    ScratchFolder scratch;
    const std::string temp = scratch / "temp";
    ASSERT_TRUE(MakeFolder(temp));
    const uint64_t now = 13300000000ull;
    // An old marked folder elsewhere, reached through a link in the temporary folder.
    const std::string target = LeftWorkFolder(scratch.Path(), "{00000000-0000-0000-0000-000000000009}", now - 3 * 86400);
    const std::string link = temp + "\\{00000000-0000-0000-0000-00000000000A}";
    ASSERT_TRUE(MakeUnixLink(target, link));
    EXPECT_EQ(0, WorkFolder::SweepStale((temp + "\\").c_str(), FileTimeOfSeconds(now)));
    EXPECT_TRUE(FileExists(target + "\\setup.oem"));
    EXPECT_TRUE(FileExists(target + "\\" + kWorkFolderMarkerName));
    EXPECT_TRUE(FileExists(link));
    RemoveUnixLink(link);
}
