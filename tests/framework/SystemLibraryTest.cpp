// System DLLs from the system folder only: SystemLibrary's loads and errors, and the restricted search order.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "ChildProcess.h"
#include "ScratchFolder.h"
#include "SystemApi.h"
#include "SystemLibrary.h"

using namespace test_support;

namespace {

std::string BuiltFolder(const char* variable)
{
    const char* unixPath = std::getenv(variable);
    EXPECT_TRUE(unixPath != nullptr) << variable << " is not set";
    return WindowsPath(unixPath ? unixPath : "");
}

}  // namespace

TEST(SystemLibraryTest, FunctionsAndFailuresWithTheErrorsCallersSee)
{
    SetLastError(1234);
    SystemLibrary version("version.dll");
    EXPECT_EQ(1234u, GetLastError()) << "a successful load keeps the caller's error";
    ASSERT_TRUE(version.IsLoaded());
    EXPECT_NE(nullptr, version.Function<decltype(&GetFileVersionInfoSizeA)>("GetFileVersionInfoSizeA"));
    EXPECT_EQ(nullptr, version.Find("NoSuchFunction"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());

    // The module is the system folder's own.
    char systemFolder[MAX_PATH] = {}, loaded[MAX_PATH] = {};
    ASSERT_NE(0u, GetSystemDirectoryA(systemFolder, MAX_PATH));
    ASSERT_NE(0u, GetModuleFileNameA(GetModuleHandleA("version.dll"), loaded, MAX_PATH));
    EXPECT_EQ(0, CompareNoCase((std::string(systemFolder) + "\\version.dll").c_str(), loaded)) << loaded;

    SetLastError(1234);
    SystemLibrary missing("oem-no-such-library.dll");
    EXPECT_EQ(1234u, GetLastError()) << "a failed load is reported by Find, not by the constructor";
    EXPECT_FALSE(missing.IsLoaded());
    EXPECT_EQ(nullptr, missing.Find("GetFileVersionInfoSizeA"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
    SetLastError(0);
    EXPECT_EQ(nullptr, missing.Find("VerQueryValueA"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError()) << "every lookup reports the load's error";
}

// Changes this process's search order for good: the last test of its program.
TEST(SystemLibraryTest, AfterTheRestrictionADllInTheCurrentFolderIsNotFound)
{
    ScratchFolder scratch;
    const std::string probe = "oem-search-probe.dll";
    ASSERT_TRUE(CopyFileA((BuiltFolder("OEM_PLANTED_DLLS") + "\\version.dll").c_str(), (scratch / probe).c_str(),
                          FALSE))
        << GetLastError();
    char savedFolder[MAX_PATH] = {};
    ASSERT_NE(0u, GetCurrentDirectoryA(MAX_PATH, savedFolder));
    ASSERT_TRUE(SetCurrentDirectoryA(scratch.Path().c_str()));

    // Found by its bare name in the current folder, as long as nothing restricts the search.
    HMODULE before = LoadLibraryA(probe.c_str());
    EXPECT_NE(nullptr, before) << GetLastError();
    if (before)
        FreeLibrary(before);

    SetLastError(1234);
    RestrictDllSearchToSystemFolder();
    EXPECT_EQ(1234u, GetLastError());
    HMODULE after = LoadLibraryA(probe.c_str());
    EXPECT_EQ(nullptr, after) << "loaded from the current folder after the restriction";
    if (after)
        FreeLibrary(after);
    // A system DLL that is not a known DLL still loads, from the system folder.
    SystemLibrary version("version.dll");
    EXPECT_TRUE(version.IsLoaded());

    SetCurrentDirectoryA(savedFolder);
}
