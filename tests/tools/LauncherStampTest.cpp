// Stamping package resources into a copy of a small Windows program, read back as a data module.
#include "ChildProcess.h"
#include "Crc32c.h"
#include "LauncherStamp.h"
#include "PackageChecksum.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

using namespace test_support;

namespace {

std::string TinyProgram()
{
    return ProgramFolder() + "\\tools_tiny_program.exe";
}

// The bytes of OEMDATA/<name> as FindResourceA without a language finds them;
// false when the module cannot be loaded or the resource is missing.
bool ReadResource(const std::string& module, const char* name, std::string* bytes)
{
    HMODULE m = LoadLibraryExA(module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (m == nullptr)
        return false;
    bool found = false;
    HRSRC r = FindResourceA(m, name, "OEMDATA");
    if (r != nullptr) {
        DWORD size = SizeofResource(m, r);
        const void* p = LockResource(LoadResource(m, r));
        if (p != nullptr) {
            bytes->assign(static_cast<const char*>(p), size);
            found = true;
        }
    }
    FreeLibrary(m);
    return found;
}

BOOL CALLBACK CountLanguage(HMODULE, LPCSTR, LPCSTR, WORD, LONG_PTR param)
{
    ++*reinterpret_cast<int*>(param);
    return TRUE;
}

int LanguageVersions(const std::string& module, const char* name)
{
    HMODULE m = LoadLibraryExA(module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (m == nullptr)
        return -1;
    int count = 0;
    EnumResourceLanguagesA(m, "OEMDATA", name, CountLanguage, reinterpret_cast<LONG_PTR>(&count));
    FreeLibrary(m);
    return count;
}

}  // namespace

TEST(ToolsStamp, ResourcesReadBackByteForByteAndProgramStillRuns)
{
    ScratchFolder dir;
    std::string package = PatternBytes(70000, 1);
    std::string out = dir / "Setup.exe";
    SetLastError(0xdeadbeef);
    ASSERT_EQ(StampLauncher(TinyProgram().c_str(), out.c_str(), package.data(), uint32_t(package.size()),
                            kDefaultLanguageIni, kDefaultLanguageIniSize),
              1);
    EXPECT_EQ(GetLastError(), 0u);

    std::string got;
    ASSERT_TRUE(ReadResource(out, "DEFAULT", &got));
    EXPECT_EQ(got, package);
    ASSERT_TRUE(ReadResource(out, "LANGUAGE_INI", &got));
    EXPECT_EQ(got, std::string(kDefaultLanguageIni, kDefaultLanguageIniSize));
    // Only the stamped file: the temporary copy is gone.
    EXPECT_EQ(ListFolder(dir.Path()), std::vector<std::string>{"Setup.exe"});
    // The source program is not touched.
    EXPECT_FALSE(ReadResource(TinyProgram(), "DEFAULT", &got));

    ProcessResult run = RunProcess(Quote(out));
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 7u);
}

TEST(ToolsStamp, NullLanguageIniLeavesItOutAndRestampReplacesBoth)
{
    ScratchFolder dir;
    std::string first = dir / "first.exe";
    std::string second = dir / "second.exe";
    std::string big = PatternBytes(5000, 2);
    std::string small = PatternBytes(1500, 3);
    const char ini[] = "[LANGUAGE]\r\nUseDefault=0\r\n";

    ASSERT_EQ(StampLauncher(TinyProgram().c_str(), first.c_str(), big.data(), uint32_t(big.size()), ini,
                            uint32_t(sizeof ini - 1)),
              1);
    // Stamp the stamped copy again: one version of each resource, the new bytes.
    ASSERT_EQ(StampLauncher(first.c_str(), second.c_str(), small.data(), uint32_t(small.size()), nullptr, 0),
              1);
    std::string got;
    ASSERT_TRUE(ReadResource(second, "DEFAULT", &got));
    EXPECT_EQ(got, small);
    EXPECT_EQ(LanguageVersions(second, "DEFAULT"), 1);
    EXPECT_FALSE(ReadResource(second, "LANGUAGE_INI", &got));
    EXPECT_EQ(LanguageVersions(second, "LANGUAGE_INI"), 0);
    // The checksum record follows the new package, in one version.
    ASSERT_TRUE(ReadResource(second, "CHECKSUM", &got));
    EXPECT_EQ(LanguageVersions(second, "CHECKSUM"), 1);
    PackageChecksum checksum;
    ASSERT_TRUE(PackageChecksum::Decode(ByteView(reinterpret_cast<const uint8_t*>(got.data()), uint32_t(got.size())),
                                        &checksum));
    EXPECT_EQ(checksum.crc, Crc32c(small.data(), small.size()));
    EXPECT_EQ(checksum.size, small.size());

    // The program's own resources survive both stamps.
    HMODULE m = LoadLibraryExA(second.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(m, nullptr);
    HRSRC r = FindResourceA(m, MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(10));  // RT_RCDATA
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(LockResource(LoadResource(m, r))), SizeofResource(m, r)),
              std::string("keep me"));
    char text[64] = {};
    EXPECT_EQ(LoadStringA(m, 102, text, sizeof text), 11);
    EXPECT_STREQ(text, "kept string");
    FreeLibrary(m);

    // Stamping over an existing output replaces it.
    ASSERT_EQ(StampLauncher(TinyProgram().c_str(), second.c_str(), big.data(), uint32_t(big.size()), ini,
                            uint32_t(sizeof ini - 1)),
              1);
    ASSERT_TRUE(ReadResource(second, "DEFAULT", &got));
    EXPECT_EQ(got, big);
    ASSERT_TRUE(ReadResource(second, "LANGUAGE_INI", &got));
    EXPECT_EQ(got, std::string(ini, sizeof ini - 1));
}

TEST(ToolsStamp, FailuresLeaveNothingBehind)
{
    ScratchFolder dir;
    std::string package = PatternBytes(2048, 4);
    std::string out = dir / "Setup.exe";
    std::string text = dir / "notes.txt";
    ASSERT_TRUE(WriteBytes(text, std::string("MZ but not a program at all, just some text") +
                                     std::string(100, 'x')));

    SetLastError(0xdeadbeef);
    EXPECT_EQ(StampLauncher(text.c_str(), out.c_str(), package.data(), uint32_t(package.size()), nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_EXE_FORMAT));

    SetLastError(0xdeadbeef);
    std::string missing = dir / "missing.exe";
    EXPECT_EQ(StampLauncher(missing.c_str(), out.c_str(), package.data(), uint32_t(package.size()), nullptr, 0),
              0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    SetLastError(0xdeadbeef);
    std::string noFolder = dir / "absent\\Setup.exe";
    EXPECT_EQ(StampLauncher(TinyProgram().c_str(), noFolder.c_str(), package.data(), uint32_t(package.size()),
                            nullptr, 0),
              0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));

    SetLastError(0xdeadbeef);
    EXPECT_EQ(StampLauncher(TinyProgram().c_str(), out.c_str(), nullptr, 10, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(StampLauncher(TinyProgram().c_str(), out.c_str(), package.data(), 0, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    EXPECT_EQ(ListFolder(dir.Path()), std::vector<std::string>{"notes.txt"});
}

TEST(ToolsStamp, BusyOutputKeepsItsOldContentAndNoTemporaryFile)
{
    ScratchFolder dir;
    std::string out = dir / "Setup.exe";
    ASSERT_TRUE(WriteBytes(out, "old"));
    std::string package = PatternBytes(2048, 5);
    // Held open without sharing: the finished copy cannot replace it.
    HANDLE busy = CreateFileA(out.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(StampLauncher(TinyProgram().c_str(), out.c_str(), package.data(), uint32_t(package.size()), nullptr,
                            0),
              0);
    DWORD error = GetLastError();
    CloseHandle(busy);
    EXPECT_TRUE(error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) << error;
    std::string got;
    ASSERT_TRUE(ReadBytes(out, &got));
    EXPECT_EQ(got, "old");
    EXPECT_EQ(ListFolder(dir.Path()), std::vector<std::string>{"Setup.exe"});
}

TEST(ToolsStamp, OutputPathsThatDoNotFitAreRefusedWithTheirCode)
{
    ScratchFolder dir;
    std::string package = PatternBytes(2048, 6);
    // The whole path, and the folder that must hold a temporary name beside it.
    const std::string longPath = dir / std::string(MAX_PATH, 'p');
    const size_t folderLength = MAX_PATH - 10;
    const std::string longFolder = dir / std::string(folderLength - dir.Path().size() - 1, 'f');
    ASSERT_EQ(longFolder.size(), folderLength);
    for (const std::string& out : {longPath, longFolder + "\\o.exe"}) {
        SetLastError(0xdeadbeef);
        EXPECT_EQ(StampLauncher(TinyProgram().c_str(), out.c_str(), package.data(), uint32_t(package.size()), nullptr,
                                0),
                  0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE)) << out.size();
    }
    EXPECT_TRUE(ListFolder(dir.Path()).empty());
}
