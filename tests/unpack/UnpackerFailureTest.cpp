// The unpacker's reported failures: memory for the configuration lines, an unusable temporary path, a folder that stays.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "ErrorLog.h"
#include "ContainerImage.h"
#include "FolderUtilities.h"
#include "PackageUnpacker.h"
#include "PendingDeletions.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

// When set, the next nothrow array allocation of the configuration buffer's size fails.
bool failConfigurationBuffer = false;
constexpr size_t kConfigurationBufferSize = 16384;

std::string InstallLog()
{
    char path[MAX_PATH] = {};
    EXPECT_EQ(1, GetInstallLogPath(path));
    return path;
}

std::string PackageWithConfig(const ScratchFolder& scratch, const std::string& config)
{
    std::string path = scratch / "setup.oem";
    WriteBytes(path, ContainerBytes({{"Config", {StoredEntry("CONFIG.INI", config)}}}));
    return path;
}

TEST(UnpackerFailures, NoMemoryForTheCommonFilesIsLoggedAndLeavesTheListEmpty)
{
    ScratchFolder scratch;
    std::string package = PackageWithConfig(scratch, "[ResourceReplace]\r\nA.SIDE=1\r\n[Commonfiles]\r\nK=v.bin\r\n");
    std::string log = InstallLog();
    size_t before = ReadBytes(log).size();

    PackageUnpacker unpacker;
    failConfigurationBuffer = true;
    ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
    EXPECT_FALSE(failConfigurationBuffer) << "the allocation was attempted";
    failConfigurationBuffer = false;
    EXPECT_EQ(0, unpacker.GetCommonFileLines().GetSize());
    EXPECT_EQ(1, unpacker.GetReplaceNames().GetSize()) << "the other list is unaffected";
    std::string added = ReadBytes(log).substr(before);
    EXPECT_NE(std::string::npos, added.find("Insufficent memory for InitCommonFiles")) << added;
}

TEST(UnpackerFailures, ATemporaryPathThatDoesNotFitOpensNothing)
{
    ScratchFolder scratch;
    std::string package = PackageWithConfig(scratch, "[Commonfiles]\r\nK=v.bin\r\n");
    char saved[MAX_PATH] = {};
    GetEnvironmentVariableA("TMP", saved, MAX_PATH);
    std::string tooLong = "C:\\" + std::string(280, 't');
    SetEnvironmentVariableA("TMP", tooLong.c_str());
    PackageUnpacker unpacker;
    EXPECT_EQ(0, unpacker.Open(package.c_str(), 3));
    SetEnvironmentVariableA("TMP", saved);
    EXPECT_TRUE(unpacker.GetUnpackFolder().IsEmpty());
    EXPECT_EQ(0, unpacker.ExtractCommonFile("K", (scratch / "v.exe").c_str()));
}

TEST(UnpackerFailures, AnUnpackFolderThatStaysBusyIsLoggedOnceAndLeftForRestart)
{
    ScratchFolder scratch;
    std::string package = PackageWithConfig(scratch, "[Commonfiles]\r\nK=v.bin\r\n");
    std::string log = InstallLog();
    size_t before = ReadBytes(log).size();

    PackageUnpacker unpacker;
    ASSERT_EQ(1, unpacker.Open(package.c_str(), 3));
    const std::string folder = unpacker.GetUnpackFolder().GetString();
    const std::string busyPath = folder + "\\busy.dat";
    WriteBytes(busyPath, "busy");
    HANDLE busy = CreateFileA(busyPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, busy);
    const DWORD started = GetTickCount();
    unpacker.Close(1);
    const DWORD took = GetTickCount() - started;
    CloseHandle(busy);
    EXPECT_GE(took, 4900u) << "retried while busy";
    EXPECT_TRUE(unpacker.GetUnpackFolder().IsEmpty());
    EXPECT_FALSE(PathExists((folder + "\\CONFIG.INI").c_str()));
    // Under Wine the test may schedule deletions at restart (it runs as an
    // administrator of its prefix).
    std::string added = ReadBytes(log).substr(before);
    EXPECT_NE(std::string::npos, added.find("Failure to remove the work folder " + folder + " (2 entries left, first " +
                                            busyPath + "); scheduled for removal at restart."))
        << added;
    EXPECT_EQ(added.find("Failure to remove"), added.rfind("Failure to remove")) << "one record";
    EXPECT_EQ((std::vector<std::string>{busyPath, folder}), TakePendingDeletions(folder));
    unpacker.Close(1);
    EXPECT_EQ(added, ReadBytes(log).substr(before)) << "nothing more to remove, nothing more logged";
    DeleteTree(folder.c_str());
    EXPECT_FALSE(PathExists(folder.c_str()));
}

}  // namespace

// Replaces the allocator's nothrow array form for the whole test program, so
// that one chosen allocation can be made to fail.
void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    if (failConfigurationBuffer && size == kConfigurationBufferSize) {
        failConfigurationBuffer = false;
        return nullptr;
    }
    return std::malloc(size ? size : 1);
}

void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }
