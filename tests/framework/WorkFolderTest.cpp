// The work folder: its access rules, exclusive creation with a marker, patient
// removal, and files held against change.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "ErrorLog.h"
#include "FolderSecurity.h"
#include "HeldFile.h"
#include "PendingDeletions.h"
#include "ScratchFolder.h"
#include "TestFiles.h"
#include "WorkFolder.h"

using namespace test_support;

namespace {

// The descriptor in the system's own text form: owner, group, DACL and its flags.
std::string DescriptorText(PSECURITY_DESCRIPTOR descriptor)
{
    char* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &text, nullptr))
        return "<error " + std::to_string(GetLastError()) + ">";
    std::string result = text;
    LocalFree(text);
    return result;
}

struct SidBuffer {
    PSID sid = nullptr;
    explicit SidBuffer(const char* text) { EXPECT_TRUE(ConvertStringSidToSidA(text, &sid)) << text; }
    ~SidBuffer() { LocalFree(sid); }
};

// The install log's records of one test (the real log is moved aside meanwhile).
class LoggedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char path[MAX_PATH];
        ASSERT_EQ(1, GetInstallLogPath(path));
        path_ = path;
        hadLog_ = FileExists(path_);
        saved_ = ReadBytes(path_);
        DeleteFileA(path_.c_str());
    }
    void TearDown() override
    {
        DeleteFileA(path_.c_str());
        if (hadLog_)
            WriteBytes(path_, saved_);
    }
    // The messages of the records, prefixes removed.
    std::vector<std::string> Messages()
    {
        std::vector<std::string> messages;
        std::string log = ReadBytes(path_);
        for (size_t start = 0; start < log.size();) {
            size_t end = log.find('\0', start);
            if (end == std::string::npos)
                end = log.size();
            std::string record = log.substr(start, end - start);
            start = end + 1;
            while (!record.empty() && (record.back() == '\n' || record.back() == '\r'))
                record.pop_back();
            messages.push_back(record.size() > 31 ? record.substr(31) : record);
        }
        return messages;
    }

    std::string path_, saved_;
    bool hadLog_ = false;
};

using WorkFolderRemoval = LoggedTest;

}  // namespace

TEST(FolderSecurity, ElevatedGivesAdministratorsAndSystemControlAndTheUserReading)
{
    SidBuffer user("S-1-5-21-1-2-3-1001");
    FolderSecurity security;
    ASSERT_TRUE(security.Build(user.sid, true).IsOk());
    EXPECT_TRUE(IsValidSecurityDescriptor(security.Descriptor()));
    // No owner or group (the creator's default applies), a protected DACL,
    // every ACE inherited by files (OI) and folders (CI).
    EXPECT_EQ("D:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICI;GXGR;;;S-1-5-21-1-2-3-1001)",
              DescriptorText(security.Descriptor()));
    SECURITY_ATTRIBUTES* attributes = security.Attributes();
    EXPECT_EQ(sizeof(SECURITY_ATTRIBUTES), attributes->nLength);
    EXPECT_EQ(security.Descriptor(), attributes->lpSecurityDescriptor);
    EXPECT_FALSE(attributes->bInheritHandle);
}

TEST(FolderSecurity, NotElevatedGivesTheUserAndSystemOnly)
{
    SidBuffer user("S-1-5-21-1-2-3-1001");
    FolderSecurity security;
    ASSERT_TRUE(security.Build(user.sid, false).IsOk());
    EXPECT_EQ("D:P(A;OICI;GA;;;S-1-5-21-1-2-3-1001)(A;OICI;GA;;;SY)", DescriptorText(security.Descriptor()));

    FolderSecurity refused;
    EXPECT_EQ(static_cast<uint32_t>(ERROR_INVALID_SID), refused.Build(nullptr, false).Code());
}

TEST(FolderSecurity, ThisProcessGetsItsOwnUserAndElevation)
{
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    std::vector<unsigned char> buffer(256);
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size));
    CloseHandle(token);
    char* userText = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &userText));
    const std::string user = userText;
    LocalFree(userText);

    FolderSecurity security;
    ASSERT_TRUE(security.BuildForThisProcess().IsOk());
    const std::string expected = IsProcessElevated()
                                     ? "D:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICI;GXGR;;;" + user + ")"
                                     : "D:P(A;OICI;GA;;;" + user + ")(A;OICI;GA;;;SY)";
    EXPECT_EQ(expected, DescriptorText(security.Descriptor()));
    // Accepted by the system as it is. (Wine neither keeps nor enforces it:
    // what the folder reports afterwards is built from the Unix mode.)
    ScratchFolder folder;
    EXPECT_TRUE(CreateDirectoryA((folder / "made").c_str(), security.Attributes())) << GetLastError();
}

TEST(WorkFolderCreation, ExistingFolderIsRefusedAndLeftAsItWas)
{
    ScratchFolder scratch;
    const std::string path = scratch / "{taken}";
    ASSERT_TRUE(MakeFolder(path));
    WriteBytes(path + "\\planted.exe", "planted");
    {
        WorkFolder folder;
        Status created = folder.Create(path.c_str(), nullptr);
        EXPECT_EQ(static_cast<uint32_t>(ERROR_ALREADY_EXISTS), created.Code());
        EXPECT_FALSE(folder.Created());
    }
    EXPECT_EQ(std::vector<std::string>{"planted.exe"}, ListFolder(path));

    // The temporary folder itself is not made.
    WorkFolder folder;
    EXPECT_EQ(static_cast<uint32_t>(ERROR_PATH_NOT_FOUND),
              folder.Create((scratch / "missing\\{x}").c_str(), nullptr).Code());
    EXPECT_FALSE(FileExists(scratch / "missing"));
}

namespace {

// GUIDs handed out in turn: the first g_takenGuids are the same one.
int g_guidCalls = 0;
int g_takenGuids = 0;
HRESULT WINAPI CountingGuids(GUID* guid)
{
    *guid = GUID{0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    if (++g_guidCalls > g_takenGuids)
        guid->Data1 = static_cast<unsigned long>(g_guidCalls);
    return S_OK;
}

}  // namespace

TEST(WorkFolderCreation, TakenNameIsTriedAgainWithNewGuidsAFewTimes)
{
    ScratchFolder scratch;
    const std::string temp = scratch.Path() + "\\";
    const std::string taken = temp + "{12345678-1234-1234-0102-030405060708}";
    ASSERT_TRUE(MakeFolder(taken));

    g_guidCalls = 0;
    g_takenGuids = 2;
    CString tried;
    {
        WorkFolder folder;
        ASSERT_TRUE(folder.CreateFresh(temp.c_str(), nullptr, 5, CountingGuids, &tried).IsOk());
        EXPECT_EQ(3, g_guidCalls);
        EXPECT_EQ(temp + "{00000003-1234-1234-0102-030405060708}", std::string(tried));
        EXPECT_EQ(std::string(tried), std::string(folder.Path()));
        EXPECT_TRUE(FileExists(std::string(tried) + "\\" + kWorkFolderMarkerName));
    }

    g_guidCalls = 0;
    g_takenGuids = 100;
    WorkFolder folder;
    EXPECT_EQ(static_cast<uint32_t>(ERROR_ALREADY_EXISTS),
              folder.CreateFresh(temp.c_str(), nullptr, 5, CountingGuids, &tried).Code());
    EXPECT_EQ(5, g_guidCalls);
    EXPECT_EQ(taken, std::string(tried));
    EXPECT_FALSE(folder.Created());
    EXPECT_EQ(std::vector<std::string>{}, ListFolder(taken));
}

TEST(WorkFolderCreation, MarkerComesFirstAndIsHeldUntilRemoval)
{
    ScratchFolder scratch;
    const std::string path = scratch / "{work}";
    {
        WorkFolder folder;
        ASSERT_TRUE(folder.Create(path.c_str(), nullptr).IsOk());
        EXPECT_TRUE(folder.Created());
        EXPECT_EQ(path, std::string(folder.Path()));
        EXPECT_EQ(std::vector<std::string>{kWorkFolderMarkerName}, ListFolder(path));
        HANDLE other = CreateFileA((path + "\\" + kWorkFolderMarkerName).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                   nullptr);
        EXPECT_EQ(INVALID_HANDLE_VALUE, other);
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
        if (other != INVALID_HANDLE_VALUE)
            CloseHandle(other);
        WriteBytes(path + "\\setup.oem", "package");
        // Destroyed without Remove: the folder goes all the same.
    }
    EXPECT_FALSE(FileExists(path));
}

TEST(WorkFolderCreation, FolderIsHeldAgainstRenameAndDeleteUntilRemoved)
{
    ScratchFolder scratch;
    const std::string path = scratch / "{work}";
    const std::string aside = scratch / "{aside}";
    WorkFolder folder;
    ASSERT_TRUE(folder.Create(path.c_str(), nullptr).IsOk());
    EXPECT_FALSE(MoveFileA(path.c_str(), aside.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError()) << "rename";
    HANDLE forDeletion = CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, forDeletion);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError()) << "open for deletion";
    if (forDeletion != INVALID_HANDLE_VALUE)
        CloseHandle(forDeletion);

    // Inside, files and folders come and go as usual, and it can be a current folder.
    ASSERT_TRUE(WriteBytes(path + "\\setup.oem", "package"));
    ASSERT_TRUE(MoveFileA((path + "\\setup.oem").c_str(), (path + "\\setup.exe").c_str())) << GetLastError();
    EXPECT_TRUE(DeleteFileA((path + "\\setup.exe").c_str())) << GetLastError();
    ASSERT_TRUE(MakeFolder(path + "\\sub"));
    EXPECT_TRUE(RemoveDirectoryA((path + "\\sub").c_str())) << GetLastError();
    ProcessResult run = RunProcess("cmd.exe /c cd", {}, path);
    EXPECT_TRUE(run.started);
    EXPECT_NE(std::string::npos, run.out.find(path)) << run.out;
    EXPECT_EQ(std::vector<std::string>{kWorkFolderMarkerName}, ListFolder(path));

    EXPECT_TRUE(folder.Remove());
    EXPECT_FALSE(FileExists(path));
    EXPECT_FALSE(FileExists(aside));
}

TEST_F(WorkFolderRemoval, FileBusyForAMomentIsWaitedFor)
{
    ScratchFolder scratch;
    const std::string path = scratch / "{work}";
    WorkFolder folder;
    ASSERT_TRUE(folder.Create(path.c_str(), nullptr).IsOk());
    WriteBytes(path + "\\setup.exe", "installer");
    HANDLE busy = CreateFileA((path + "\\setup.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, busy);
    std::thread release([busy] {
        Sleep(400);
        CloseHandle(busy);
    });
    const DWORD started = GetTickCount();
    EXPECT_TRUE(folder.Remove());
    const DWORD took = GetTickCount() - started;
    release.join();
    EXPECT_FALSE(FileExists(path));
    EXPECT_GE(took, 350u);
    EXPECT_LT(took, 4000u) << "no longer than needed";
    EXPECT_TRUE(Messages().empty());
    EXPECT_TRUE(folder.Remove()) << "a second call does nothing";
}

TEST_F(WorkFolderRemoval, WhatStaysBusyIsLoggedOnceAndLeftForRestart)
{
    ScratchFolder scratch;
    const std::string path = scratch / "{work}";
    WorkFolder folder;
    ASSERT_TRUE(folder.Create(path.c_str(), nullptr).IsOk());
    ASSERT_TRUE(MakeFolder(path + "\\sub"));
    WriteBytes(path + "\\sub\\held.dat", "held");
    WriteBytes(path + "\\free.dat", "free");
    HANDLE busy = CreateFileA((path + "\\sub\\held.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, busy);
    const DWORD started = GetTickCount();
    EXPECT_FALSE(folder.Remove());
    const DWORD took = GetTickCount() - started;
    CloseHandle(busy);
    EXPECT_GE(took, 4900u);
    EXPECT_LT(took, 8000u);
    EXPECT_FALSE(FileExists(path + "\\free.dat"));
    EXPECT_FALSE(FileExists(path + "\\" + kWorkFolderMarkerName));
    // Under Wine the process may schedule deletions at restart (it runs as
    // an administrator of its prefix); files come before their folders.
    const std::vector<std::string> messages = Messages();
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ("Failure to remove the work folder " + path + " (3 entries left, first " + path +
                  "\\sub\\held.dat); scheduled for removal at restart.",
              messages[0]);
    EXPECT_EQ((std::vector<std::string>{path + "\\sub\\held.dat", path + "\\sub", path}), TakePendingDeletions(path));
    EXPECT_TRUE(folder.Remove()) << "logged once: the second call does nothing";
    EXPECT_EQ(1u, Messages().size());
}

TEST(HeldFile, HeldFileCannotBeChangedButCanBeRun)
{
    ScratchFolder scratch;
    // A copy of this test program, to be run while held.
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    const std::string program = scratch / "held.exe";
    ASSERT_TRUE(CopyFileA(self, program.c_str(), FALSE));
    const std::string other = scratch / "other.exe";
    WriteBytes(other, "replacement");

    HeldFile held;
    ASSERT_TRUE(held.Hold(program.c_str()).IsOk());
    EXPECT_TRUE(held.Held());
    EXPECT_FALSE(MoveFileA(program.c_str(), (scratch / "renamed.exe").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError()) << "rename";
    // Replacing it is refused as well; Wine says "access denied" (5) here
    // rather than "sharing violation".
    EXPECT_FALSE(MoveFileExA(other.c_str(), program.c_str(), MOVEFILE_REPLACE_EXISTING));
    const DWORD replaceError = GetLastError();
    EXPECT_TRUE(replaceError == ERROR_ACCESS_DENIED || replaceError == ERROR_SHARING_VIOLATION) << replaceError;
    HANDLE writer = CreateFileA(program.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError()) << "open for writing";
    if (writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);
    EXPECT_FALSE(DeleteFileA(program.c_str()));
    EXPECT_EQ("replacement", ReadBytes(other));

    // Still readable, unchanged, and it runs.
    EXPECT_EQ(ReadBytes(self), ReadBytes(program));
    ProcessResult run = RunProcess(Quote(program) + " --gtest_list_tests --gtest_filter=HeldFile.*");
    EXPECT_TRUE(run.started);
    EXPECT_NE(std::string::npos, run.out.find("HeldFileCannotBeChangedButCanBeRun")) << run.out;

    held.Release();
    EXPECT_FALSE(held.Held());
    EXPECT_TRUE(MoveFileExA(other.c_str(), program.c_str(), MOVEFILE_REPLACE_EXISTING)) << GetLastError();
    EXPECT_EQ("replacement", ReadBytes(program));
}

TEST(HeldFile, FolderOrMissingFileIsNotHeld)
{
    ScratchFolder scratch;
    HeldFile held;
    EXPECT_EQ(static_cast<uint32_t>(ERROR_CANT_ACCESS_FILE), held.Hold(scratch.Path().c_str()).Code());
    EXPECT_FALSE(held.Held());
    EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_NOT_FOUND), held.Hold((scratch / "none.exe").c_str()).Code());
    EXPECT_FALSE(held.Held());
}
