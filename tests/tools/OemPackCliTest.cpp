// The oempack program run as users run it: round trips, bad inputs and the messages they get.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChildProcess.h"
#include "ContainerImage.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

std::string OemPackPath()
{
    return WindowsPath(OEMPACK_EXE);
}

ProcessResult OemPack(const std::vector<std::string>& args, const std::string& folder = std::string())
{
    std::string command = Quote(OemPackPath());
    for (const std::string& a : args)
        command += " " + Quote(a);
    return RunProcess(command, {}, folder);
}

std::string Read(const std::string& path)
{
    std::string bytes;
    EXPECT_TRUE(ReadBytes(path, &bytes)) << path;
    return bytes;
}

FILETIME LastWrite(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

void SetLastWrite(const std::string& path, uint64_t ticks)
{
    FILETIME t = {DWORD(ticks), DWORD(ticks >> 32)};
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    ASSERT_TRUE(SetFileTime(h, &t, &t, &t));
    CloseHandle(h);
}

// A source tree with groups, an empty file, a large compressible file,
// random bytes and many small files.
struct SourceTree {
    std::vector<std::pair<std::string, std::string>> files;  // relative path, content

    explicit SourceTree(const std::string& root)
    {
        MakeFolder(root);
        for (const char* g : {"Bin", "Docs", "Many"})
            MakeFolder(root + "\\" + g);
        Add(root, "Bin\\tool.exe", PatternBytes(70000, 1));
        Add(root, "Bin\\empty.dat", "");
        std::string text;
        for (int i = 0; i < 40000; ++i)
            text += "row " + std::to_string(i % 50) + ";";
        Add(root, "Docs\\readme.txt", text);
        Add(root, "loose.ini", "[x]\r\ny=1\r\n");
        for (int i = 0; i < 150; ++i)
            Add(root, "Many\\f" + std::to_string(i) + ".txt", PatternBytes(uint32_t(i * 13), uint32_t(i)));
    }
    void Add(const std::string& root, const std::string& rel, const std::string& content)
    {
        std::string path = root + "\\" + rel;
        EXPECT_TRUE(WriteBytes(path, content));
        SetLastWrite(path, 130000000000000000ull + files.size() * 10000000ull);
        files.emplace_back(rel, content);
    }
};

// Extracted tree equals the source: files of groups at GROUP\name, loose files under Commonfiles.
void ExpectSameTree(const SourceTree& tree, const std::string& source, const std::string& out)
{
    for (const auto& f : tree.files) {
        std::string rel = f.first.find('\\') == std::string::npos ? "Commonfiles\\" + f.first : f.first;
        std::string got;
        ASSERT_TRUE(ReadBytes(out + "\\" + rel, &got)) << rel;
        EXPECT_EQ(got.size(), f.second.size()) << rel;
        EXPECT_TRUE(got == f.second) << rel;
        FILETIME a = LastWrite(source + "\\" + f.first), b = LastWrite(out + "\\" + rel);
        EXPECT_EQ(CompareFileTime(&a, &b), 0) << rel;
    }
}

}  // namespace

// ---- round trips ----

class ToolsRoundTrip : public ::testing::TestWithParam<bool> {};

TEST_P(ToolsRoundTrip, CreateListVerifyExtractGivesBackTheSameFiles)
{
    const bool compress = GetParam();
    ScratchFolder dir;
    SourceTree tree(dir / "src");
    std::string pkg = dir / "p.oem";
    std::vector<std::string> args = {"create", pkg, "--from-dir", dir / "src"};
    if (compress)
        args.push_back("--compress");
    ProcessResult r = OemPack(args);
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.err, "");  // no progress bar when standard error is a file
    EXPECT_NE(r.out.find("4 groups, 154 entries"), std::string::npos) << r.out;

    r = OemPack({"list", pkg});
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_NE(r.out.find("[Many]  150 entries"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("readme.txt"), std::string::npos);
    EXPECT_EQ(r.out.find(" lzw ") != std::string::npos, compress) << r.out;

    r = OemPack({"verify", pkg});
    ASSERT_EQ(r.exitCode, 0u) << r.out << r.err;
    EXPECT_NE(r.out.find("OK"), std::string::npos);

    r = OemPack({"extract", pkg, "-C", dir / "out"});
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    ExpectSameTree(tree, dir / "src", dir / "out");
    EXPECT_EQ(ListFolder(dir / "out"), (std::vector<std::string>{"Bin", "Commonfiles", "Docs", "Many"}));
}

INSTANTIATE_TEST_SUITE_P(PlainAndCompressed, ToolsRoundTrip, ::testing::Values(false, true));

TEST(ToolsCli, ExplicitGroupsSelectiveExtractAndJson)
{
    ScratchFolder dir;
    ASSERT_TRUE(WriteBytes(dir / "a.txt", "alpha"));
    ASSERT_TRUE(WriteBytes(dir / "b.txt", "beta"));
    std::string pkg = dir / "p.oem";
    ProcessResult r = OemPack({"create", pkg, dir / "a.txt", "--group", "Extra", dir / "b.txt"});
    ASSERT_EQ(r.exitCode, 0u) << r.err;

    r = OemPack({"list", "--json", pkg});
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_NE(r.out.find("{\"name\":\"Commonfiles\",\"entries\":[{\"name\":\"a.txt\",\"size\":5,"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("{\"name\":\"Extra\",\"entries\":[{\"name\":\"b.txt\",\"size\":4,"), std::string::npos);

    r = OemPack({"extract", pkg, "--group", "extra", "B.TXT", "-C", dir / "one"});
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(Read(dir / "one\\Extra\\B.TXT"), "beta");
    EXPECT_FALSE(FileExists(dir / "one\\Commonfiles"));

    r = OemPack({"extract", pkg, "--group", "Extra", "missing.txt", "-C", dir / "two"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("oempack: no entry 'missing.txt' in group 'Extra'"), std::string::npos) << r.err;
}

TEST(ToolsCli, OverwriteModesDecideOverExistingFiles)
{
    ScratchFolder dir;
    ASSERT_TRUE(WriteBytes(dir / "a.txt", "packed"));
    SetLastWrite(dir / "a.txt", 130000000000000000ull);
    std::string pkg = dir / "p.oem";
    ASSERT_EQ(OemPack({"create", pkg, dir / "a.txt"}).exitCode, 0u);
    MakeFolder(dir / "out");
    MakeFolder(dir / "out\\Commonfiles");
    std::string target = dir / "out\\Commonfiles\\a.txt";

    ASSERT_TRUE(WriteBytes(target, "newer on disk"));
    SetLastWrite(target, 130000000000000000ull + 10000000ull);
    ASSERT_EQ(OemPack({"extract", pkg, "-C", dir / "out", "--overwrite", "newer-time"}).exitCode, 0u);
    EXPECT_EQ(Read(target), "newer on disk");

    ASSERT_EQ(OemPack({"extract", pkg, "-C", dir / "out"}).exitCode, 0u);  // default: always
    EXPECT_EQ(Read(target), "packed");
}

// ---- double-byte names (the test runs with the Chinese ANSI code page) ----

TEST(ToolsCli, DoubleByteNamesRoundTripAndOverlongOnesAreRefused)
{
    ASSERT_EQ(GetACP(), 936u) << "run with LANG=zh_CN.UTF-8";
    ScratchFolder dir;
    const std::string group = "\xCE\xC4\xBC\xFE";          // two characters, "files"
    const std::string name = "\xB2\xE2\xCA\xD4-\xD6\xD0.txt";  // "test-middle.txt"
    MakeFolder(dir / "src");
    MakeFolder(dir / ("src\\" + group));
    ASSERT_TRUE(WriteBytes(dir / ("src\\" + group + "\\" + name), "double-byte content"));
    std::string pkg = dir / "p.oem";
    ProcessResult r = OemPack({"create", pkg, "--from-dir", dir / "src", "--compress"});
    ASSERT_EQ(r.exitCode, 0u) << r.err;

    r = OemPack({"list", "--json", pkg});
    ASSERT_EQ(r.exitCode, 0u);
    // Names leave as UTF-8: U+6587 U+4EF6 and U+6D4B U+8BD5 ... U+4E2D.
    EXPECT_NE(r.out.find("\"name\":\"\xE6\x96\x87\xE4\xBB\xB6\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"name\":\"\xE6\xB5\x8B\xE8\xAF\x95-\xE4\xB8\xAD.txt\""), std::string::npos) << r.out;

    r = OemPack({"extract", pkg, "-C", dir / "out"});
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(Read(dir / ("out\\" + group + "\\" + name)), "double-byte content");

    // 130 double-byte characters: a legal file name of 260 bytes in this code page.
    std::string longName;
    for (int i = 0; i < 130; ++i)
        longName += "\xD6\xD0";
    ASSERT_TRUE(WriteBytes(dir / longName, "x"));
    r = OemPack({"create", dir / "long.oem", dir / longName});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("260 bytes long; at most 259 fit"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(dir / "long.oem"));
}

TEST(ToolsCli, ASecondByteThatLooksLikeABackslashIsRefused)
{
    ASSERT_EQ(GetACP(), 936u);
    ScratchFolder dir;
    const std::string name = "a\x81\x5C.txt";  // a double-byte character ending in 0x5C
    ASSERT_TRUE(WriteBytes(dir / name, "x"));
    ProcessResult r = OemPack({"create", dir / "p.oem", dir / name});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("not a bare file name"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(dir / "p.oem"));
}

TEST(ToolsCli, DeviceNamesAreNeverWritten)
{
    ScratchFolder dir;
    ASSERT_TRUE(WriteBytes(dir / "a.txt", "a"));
    ProcessResult r = OemPack({"create", dir / "p.oem", "--group", "Nul.txt", dir / "a.txt"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("is a Windows device name"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(dir / "p.oem"));

    // A package made elsewhere: the device entry is an error, the rest is written.
    ASSERT_TRUE(WriteBytes(dir / "dev.oem", ContainerBytes({{"G", {StoredEntry("CON", "to the console"),
                                                                      StoredEntry("com1 .txt", "to the port"),
                                                                      StoredEntry("ok.txt", "file")}}})));
    r = OemPack({"extract", dir / "dev.oem", "-C", dir / "out"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.out.find("to the console"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("CON: cannot write"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("com1 .txt: cannot write"), std::string::npos) << r.err;
    EXPECT_EQ(Read(dir / "out\\G\\ok.txt"), "file");
    EXPECT_EQ(ListFolder(dir / "out\\G"), std::vector<std::string>{"ok.txt"});
}

// ---- bad inputs: a clear message, a failure status, nothing left behind ----

TEST(ToolsCli, UsageErrorsExitWithTwo)
{
    ProcessResult r = OemPack({"create"});
    EXPECT_EQ(r.exitCode, 2u);
    EXPECT_EQ(r.err.rfind("oempack: missing output package", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("--help"), std::string::npos);
    r = OemPack({"--help"});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_NE(r.out.find("Usage: oempack COMMAND"), std::string::npos);
    EXPECT_EQ(OemPack({"--version"}).exitCode, 0u);
}

TEST(ToolsCli, MissingInputsAndUnwritableOutputsLeaveNothing)
{
    ScratchFolder dir;
    ASSERT_TRUE(WriteBytes(dir / "a.txt", "alpha"));
    ProcessResult r = OemPack({"create", dir / "p.oem", dir / "a.txt", dir / "missing.txt"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("missing.txt"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("(error 2)"), std::string::npos) << r.err;

    r = OemPack({"create", dir / "nowhere\\p.oem", dir / "a.txt"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;

    // An output held open without sharing keeps its content.
    ASSERT_TRUE(WriteBytes(dir / "busy.oem", "old"));
    HANDLE busy = CreateFileA((dir / "busy.oem").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    r = OemPack({"create", dir / "busy.oem", dir / "a.txt"});
    CloseHandle(busy);
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("busy.oem: cannot write"), std::string::npos) << r.err;
    EXPECT_EQ(Read(dir / "busy.oem"), "old");

    r = OemPack({"create", dir / "a.txt", dir / "a.txt"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("also one of its inputs"), std::string::npos) << r.err;
    EXPECT_EQ(Read(dir / "a.txt"), "alpha");

    r = OemPack({"create", dir / "dup.oem", dir / "a.txt", dir / "A.TXT"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("already holds an entry named 'a.txt'"), std::string::npos) << r.err;

    EXPECT_EQ(ListFolder(dir.Path()), (std::vector<std::string>{"a.txt", "busy.oem"}));
}

TEST(ToolsCli, DamagedPackagesAreReportedByEveryCommand)
{
    ScratchFolder dir;
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "abcabc" + std::to_string(i % 10);
    ASSERT_TRUE(WriteBytes(dir / "a.txt", text));
    std::string pkg = dir / "p.oem";
    ASSERT_EQ(OemPack({"create", pkg, "--compress", dir / "a.txt"}).exitCode, 0u);
    std::string good = Read(pkg);

    ASSERT_TRUE(WriteBytes(dir / "short.oem", good.substr(0, good.size() / 2)));
    for (const char* cmd : {"list", "verify"}) {
        ProcessResult r = OemPack({cmd, dir / "short.oem"});
        EXPECT_EQ(r.exitCode, 1u) << cmd;
        EXPECT_NE(r.err.find("damaged"), std::string::npos) << cmd << ": " << r.err;
    }
    ProcessResult r = OemPack({"extract", dir / "short.oem", "-C", dir / "out"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_FALSE(FileExists(dir / "out"));

    std::string flipped = good;
    flipped[good.size() - 20] = char(flipped[good.size() - 20] ^ 0x33);  // inside the LZW stream
    ASSERT_TRUE(WriteBytes(dir / "flipped.oem", flipped));
    r = OemPack({"verify", dir / "flipped.oem"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("does not decode"), std::string::npos) << r.err;
    r = OemPack({"extract", dir / "flipped.oem", "-C", dir / "out2"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("damaged; not extracted"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(dir / "out2\\Commonfiles\\a.txt"));

    ASSERT_TRUE(WriteBytes(dir / "empty.oem", ""));
    r = OemPack({"verify", dir / "empty.oem"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("empty file"), std::string::npos) << r.err;
    ASSERT_TRUE(WriteBytes(dir / "text.oem", "just some text, certainly not a package"));
    r = OemPack({"list", dir / "text.oem"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("does not start with \"BOEM\""), std::string::npos) << r.err;
}

TEST(ToolsCli, ListAndVerifySayWhatIsDamagedAndWhere)
{
    ScratchFolder dir;
    ASSERT_TRUE(WriteBytes(dir / "a.txt", "alpha"));
    std::string pkg = dir / "p.oem";
    ASSERT_EQ(OemPack({"create", pkg, dir / "a.txt"}).exitCode, 0u);
    // Header 18 bytes, group "Commonfiles" at 18 (21 bytes), a.txt at 39
    // (0x27) with its uncompressed size at 45 and its data at 84 (0x54).
    std::string bytes = Read(pkg);
    ASSERT_EQ(bytes.size(), 89u);
    ASSERT_EQ(bytes.substr(79, 10), "a.txtalpha");
    bytes[45] = 9;
    ASSERT_TRUE(WriteBytes(pkg, bytes));
    const std::string diagnosis = pkg + ": damaged: entry 0 \"a.txt\" of group 0 \"Commonfiles\" at offset 0x27: "
                                        "stored data (9 bytes at 0x54) reaches past the end of the image (89 bytes)";
    ProcessResult r = OemPack({"verify", pkg});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find(diagnosis), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("verification failed (1 fault)"), std::string::npos) << r.err;
    r = OemPack({"list", pkg});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find(diagnosis), std::string::npos) << r.err;
}

TEST(ToolsCli, StampRefusesWhatTheLauncherCannotUse)
{
    ScratchFolder dir;
    std::string launcher = ProgramFolder() + "\\tools_tiny_program.exe";
    ASSERT_TRUE(WriteBytes(dir / "small.txt", "tiny"));
    ASSERT_TRUE(WriteBytes(dir / "big.bin", PatternBytes(5000, 3)));
    ASSERT_EQ(OemPack({"create", dir / "small.oem", dir / "small.txt"}).exitCode, 0u);
    ASSERT_EQ(OemPack({"create", dir / "big.oem", dir / "big.bin"}).exitCode, 0u);

    ProcessResult r = OemPack({"stamp", "--launcher", launcher, "--package", dir / "small.oem", "-o", dir / "o.exe"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("refuses packages under 1024 bytes"), std::string::npos) << r.err;

    std::string bad = Read(dir / "big.oem");
    bad[6] = 9;  // entry total
    ASSERT_TRUE(WriteBytes(dir / "bad.oem", bad));
    r = OemPack({"stamp", "--launcher", launcher, "--package", dir / "bad.oem", "-o", dir / "o.exe"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("not a valid package"), std::string::npos) << r.err;

    r = OemPack({"stamp", "--launcher", dir / "big.bin", "--package", dir / "big.oem", "-o", dir / "o.exe"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_NE(r.err.find("not a Windows program"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(dir / "o.exe"));

    r = OemPack({"stamp", "--launcher", launcher, "--package", dir / "big.oem", "-o", dir / "o.exe"});
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(RunProcess(Quote(dir / "o.exe")).exitCode, 7u);
}
