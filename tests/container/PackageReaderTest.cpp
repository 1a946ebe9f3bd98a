// The direct reader: open and validation, listing and lookup, reading, extraction.
#include <gtest/gtest.h>

#include <filesystem>

#include "CFile.h"
#include "ContainerImage.h"
#include "PackageReader.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

std::string Packed(const std::string& name, const std::string& text, uint32_t claimedSize = 0)
{
    ImageEntry entry = PackedEntry(name, text);
    if (claimedSize)
        entry.uncompressedSize = claimedSize;
    return entry;
}

const FileTime kEntryLastWrite = kImageEntryInfo.lastWriteTime;

class Reader : public ::testing::Test {
protected:
    Reader() { MakeFolder(out_); }
    int Open(const std::vector<GroupSpec>& groups, ExtractFailureCallback callback = nullptr, void* user = nullptr)
    {
        WriteBytes(package_, ContainerBytes(groups));
        return reader_.Open(package_.c_str(), callback, user);
    }
    std::string Out(const std::string& leaf) const { return out_ + kPathSeparator + leaf; }

    ScratchFolder folder_;
    std::string package_ = folder_ / "package.oem";
    std::string out_ = folder_ / "out";
    PackageReader reader_;
};

const std::vector<GroupSpec> kSample = {
    {"Config", {StoredEntry("CONFIG.INI", "[Commonfiles]")}},
    {"Bin", {StoredEntry("setup.exe", "installer"), EntryBytes("skip", "s", 1, 0, 0x0001),
             Packed("big.dll", std::string(3000, 'b') + "end")}},
    {"BIN", {StoredEntry("hidden.txt", "never reached")}},
    {"Empty", {}}};

}  // namespace

TEST_F(Reader, OpensOnlyValidContainersAndKeepsTheFirst)
{
    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, reader_.Open((folder_ / "missing.oem").c_str()));
    EXPECT_EQ(kErrorFileNotFound, GetLastErrorValue());
    const std::string image = ContainerBytes(kSample);
    for (const std::string& bad : {ContainerBytes(kSample, 0x0201), image.substr(0, image.size() - 1)}) {
        WriteBytes(package_, bad);
        EXPECT_EQ(0, reader_.Open(package_.c_str()));
        EXPECT_FALSE(reader_.IsOpen());
    }
    CStringArray names;
    EXPECT_EQ(-1, reader_.GetEntryTotal());
    EXPECT_EQ(0, reader_.ListGroups(names));
    EXPECT_EQ(0, reader_.ExtractAll(out_.c_str()));

    ASSERT_EQ(1, Open(kSample));
    WriteBytes(folder_ / "other.oem", ContainerBytes({{"Other", {StoredEntry("o", "o")}}}));
    EXPECT_EQ(0, reader_.Open((folder_ / "other.oem").c_str()));
    EXPECT_EQ(9u, reader_.GetEntrySize("setup.exe", "Bin"));
}

TEST_F(Reader, ListsInTableOrderFindsIgnoringCaseAndNeverReachesALaterEqualGroup)
{
    ASSERT_EQ(1, Open(kSample));
    EXPECT_EQ(5, reader_.GetEntryTotal());
    CStringArray groups, entries, none;
    ASSERT_EQ(1, reader_.ListGroups(groups));
    ASSERT_EQ(4, groups.GetSize());
    EXPECT_STREQ("BIN", groups[2]);
    ASSERT_EQ(1, reader_.ListEntries("bin", entries));  // the first group of that name
    ASSERT_EQ(2, entries.GetSize());                   // the child of kind 1 is not listed
    EXPECT_STREQ("big.dll", entries[1]);
    EXPECT_EQ(1, reader_.ListEntries("empty", none));
    EXPECT_EQ(0, reader_.ListEntries("Missing", none));

    EXPECT_EQ(3003u, reader_.GetEntrySize("BIG.DLL", nullptr));
    EXPECT_EQ(13u, reader_.GetEntrySize("config.ini", nullptr));
    EXPECT_EQ(0u, reader_.GetEntrySize("skip", "Bin"));
    EXPECT_EQ(0u, reader_.GetEntrySize("hidden.txt", nullptr));
    EXPECT_EQ(0u, reader_.GetEntrySize("hidden.txt", "BIN"));

    // The largest file entry of the group found as above: the compressed
    // entry's uncompressed size, never the kind-1 child or a later group's.
    EXPECT_EQ(3003u, reader_.GetLargestEntrySize("bin"));
    EXPECT_EQ(0u, reader_.GetLargestEntrySize("Empty"));
    EXPECT_EQ(0u, reader_.GetLargestEntrySize("Missing"));
}

TEST_F(Reader, ReadsStoredAndCompressedEntriesIntoBlocksAndBuffers)
{
    ASSERT_EQ(1, Open(kSample));
    MappedFile block, big;
    ASSERT_EQ(1, reader_.ReadEntry("Setup.exe", "Bin", block));
    EXPECT_EQ("installer", std::string(reinterpret_cast<char*>(block.GetData()), block.GetLength()));
    EXPECT_EQ(0, reader_.ReadEntry("setup.exe", "Bin", block));  // the output must be closed
    ASSERT_EQ(1, reader_.ReadEntry("big.dll", nullptr, big));
    EXPECT_EQ(std::string(3000, 'b') + "end", std::string(reinterpret_cast<char*>(big.GetData()), big.GetLength()));
    std::string buffer(3003, '\0');
    EXPECT_EQ(0, reader_.ReadEntryToBuffer("big.dll", "Bin", &buffer[0], 3002));
    EXPECT_EQ(3003, reader_.ReadEntryToBuffer("big.dll", "Bin", &buffer[0], 3003));
    EXPECT_EQ("bend", buffer.substr(2999));
}

TEST_F(Reader, EmptyEntriesAndFaultyStreamsAreFailuresThatWriteNothing)
{
    std::string cut = Packed("cut.bin", std::string(500, 'q'));
    cut.resize(cut.size() - 3);
    cut[10] = static_cast<char>(Size(cut) - 47);  // compressed size of what is left
    // "undefined.bin": a clear code, then code 300 before it exists.
    ASSERT_EQ(1, Open({{"G", {EntryBytes("empty.txt", "", 0, 0), cut, Packed("short.bin", "abcdef", 10),
                              Packed("long.bin", "abcdef", 4), Packed("huge.bin", "abcdef", 0xFFFFFFF0),
                              EntryBytes("undefined.bin", std::string("\x80\x4B\x00", 3), 3, 3)}}}));
    MappedFile block;
    char buffer[4];
    EXPECT_EQ(0, reader_.ReadEntry("empty.txt", "G", block));
    EXPECT_EQ(-1, reader_.ReadEntryToBuffer("empty.txt", "G", buffer, sizeof buffer));
    EXPECT_EQ(0, reader_.Extract("empty.txt", "G", out_.c_str(), nullptr, 0));
    for (const char* name : {"cut.bin", "short.bin", "long.bin", "huge.bin", "undefined.bin"}) {
        SetLastErrorValue(0xdeadbeef);
        EXPECT_EQ(0, reader_.ReadEntry(name, "G", block)) << name;
        EXPECT_EQ(kErrorInvalidData, GetLastErrorValue()) << name;
        EXPECT_TRUE(block.IsClosed());
        EXPECT_EQ(0, reader_.Extract(name, "G", out_.c_str(), nullptr, 0)) << name;
        EXPECT_EQ(kErrorInvalidData, GetLastErrorValue()) << name;
    }
    EXPECT_TRUE(std::filesystem::is_empty(out_));
}

TEST_F(Reader, ExtractRestoresTimesAndAttributesAndFollowsTheOverwriteMode)
{
    std::string readOnly = StoredEntry("Setup.exe", "xy");
    readOnly[2] = 0x21;
    ASSERT_EQ(1, Open({{"G", {readOnly, StoredEntry("a.txt", "entry")}}}));
    ASSERT_EQ(1, reader_.Extract("SETUP.EXE", "g", (out_ + kPathSeparator).c_str(), nullptr, 0));
    EXPECT_EQ("xy", ReadBytes(Out("SETUP.EXE")));  // the caller's spelling, one separator
    EXPECT_EQ(kEntryLastWrite, LastWriteTime(Out("SETUP.EXE")));
    EXPECT_EQ(kFileAttributeReadOnly, GetPathAttributes(Out("SETUP.EXE").c_str()) & kFileAttributeReadOnly);
    ASSERT_EQ(1, reader_.Extract("setup.exe", "G", out_.c_str(), "renamed.bin", 0));
    EXPECT_EQ("xy", ReadBytes(Out("renamed.bin")));

    for (uint32_t high : {0x01D00002u, 0x01000000u}) {  // as new as the entry, then older
        CFile edit(Out("a.txt").c_str(), CFile::modeCreate | CFile::modeWrite);
        edit.Write("local", 5);
        const FileTime time = {0x10000002, high};
        SetHandleTimes(edit.GetHandle(), nullptr, nullptr, &time);
        edit.Close();
        EXPECT_EQ(1, reader_.Extract("a.txt", "G", out_.c_str(), nullptr, kOverwriteIfNewerTime));
        EXPECT_EQ(high == 0x01D00002u ? "local" : "entry", ReadBytes(Out("a.txt")));
    }
    for (const char* path : {"SETUP.EXE", "renamed.bin"})
        SetPathAttributes(Out(path).c_str(), kFileAttributeArchive);
}

TEST_F(Reader, NamesThatAreNotBareFileNamesAreNeverWritten)
{
    ASSERT_EQ(1, Open({{"G", {StoredEntry("..", "x"), StoredEntry("sub\\evil", "x"), StoredEntry("up/evil", "x"),
                              StoredEntry("C:evil", "x"), StoredEntry("", "x"), StoredEntry("good.txt", "good")}},
                       {"H", {StoredEntry("h.txt", "h")}}}));
    for (const char* name : {"..", "sub\\evil", "up/evil", "C:evil", ""}) {
        SetLastErrorValue(0xdeadbeef);
        EXPECT_EQ(0, reader_.Extract(name, "G", out_.c_str(), nullptr, 0)) << name;
        EXPECT_EQ(kErrorInvalidName, GetLastErrorValue()) << name;
    }
    EXPECT_EQ(0, reader_.Extract("good.txt", "G", out_.c_str(), "../escape.txt", 0));
    EXPECT_EQ(1, reader_.ExtractAll(out_.c_str()));  // passes over them and goes on
    EXPECT_EQ("good", ReadBytes(Out("good.txt")));
    EXPECT_EQ("h", ReadBytes(Out("h.txt")));
    size_t files = 0;
    for (auto it = std::filesystem::recursive_directory_iterator(folder_.Path()); it != decltype(it)(); ++it)
        ++files;
    EXPECT_EQ(4u, files);  // package.oem, out, good.txt, h.txt
}

namespace {

struct CallbackLog {
    int calls = 0;
    int answer = 0;
    ExtractFailureInfo info = {};
    std::string path, data;
};

int RecordFailure(ExtractFailureInfo* info, void* user)
{
    CallbackLog* log = static_cast<CallbackLog*>(user);
    ++log->calls;
    log->info = *info;
    log->path = info->path;
    log->data.assign(reinterpret_cast<const char*>(info->data), info->size);
    return log->answer;
}

}  // namespace

TEST_F(Reader, DestinationThatCannotBeCreatedGoesToTheCallback)
{
    MakeFolder(Out("blocked"));  // a folder where the file would go
    const std::vector<GroupSpec> groups = {{"G", {StoredEntry("blocked", "by")}}};
    ASSERT_EQ(1, Open(groups));
    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, reader_.Extract("blocked", "G", out_.c_str(), nullptr, 0));
    EXPECT_EQ(kErrorAccessDenied, GetLastErrorValue());

    for (int answer : {7, 0}) {
        CallbackLog log;
        log.answer = answer;
        PackageReader reader;
        ASSERT_EQ(1, reader.Open(package_.c_str(), RecordFailure, &log));
        EXPECT_EQ(answer, reader.Extract("blocked", "G", out_.c_str(), nullptr, 0));
        ASSERT_EQ(1, log.calls);
        EXPECT_EQ(Out("blocked"), log.path);
        EXPECT_EQ(kErrorAccessDenied, log.info.error);
        EXPECT_EQ("by", log.data);
        EXPECT_EQ(kEntryLastWrite, log.info.lastWriteTime);
        EXPECT_EQ(0x20u, log.info.attributes);
    }
}

TEST(ReaderOverBytes, OpensTheCallersBytesInPlaceAndReadsThemAsAFile)
{
    const std::string image = ContainerBytes(kSample);
    PackageReader reader;
    SetLastErrorValue(0xdeadbeef);
    ASSERT_EQ(1, reader.Open(Data(image), Size(image)));
    EXPECT_EQ(0xdeadbeefu, GetLastErrorValue());
    EXPECT_TRUE(reader.GetOpenStatus().IsOk());
    EXPECT_STREQ("", reader.GetPath());
    EXPECT_EQ(5, reader.GetEntryTotal());
    EXPECT_EQ(0u, reader.GetEntrySize("hidden.txt", nullptr));  // behind the earlier group "Bin"
    MappedFile block;
    ASSERT_EQ(1, reader.ReadEntry("BIG.DLL", nullptr, block));
    EXPECT_EQ(std::string(3000, 'b') + "end", std::string(reinterpret_cast<char*>(block.GetData()), block.GetLength()));
    EXPECT_EQ(0, reader.Open(Data(image), Size(image)));  // already open
}

TEST(ReaderOverBytes, RefusesDamageWithTheWalkersDiagnosisAndLeavesTheLastErrorAlone)
{
    std::string image = ContainerBytes({{"G", {StoredEntry("a.txt", "hello")}}});
    image[35] = 9;  // entry at 29: uncompressed size 9 of "hello"
    PackageReader reader;
    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, reader.Open(Data(image), Size(image)));
    EXPECT_EQ(0xdeadbeefu, GetLastErrorValue());
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_EQ(kErrorInvalidData, reader.GetOpenStatus().Code());
    EXPECT_EQ("entry 0 \"a.txt\" of group 0 \"G\" at offset 0x1D: stored data (9 bytes at 0x4A) reaches past the end "
              "of the image (79 bytes)",
              reader.GetOpenStatus().Message());
    CStringArray names;
    EXPECT_EQ(0, reader.ListGroups(names));
    EXPECT_EQ(-1, reader.GetEntryTotal());

    image[35] = 5;
    image[4] = 1;  // version 0x0201
    EXPECT_EQ(0, reader.Open(Data(image), Size(image)));
    EXPECT_EQ(kErrorNotSupported, reader.GetOpenStatus().Code());
    image[4] = 0;
    ASSERT_EQ(1, reader.Open(Data(image), Size(image)));
    EXPECT_TRUE(reader.GetOpenStatus().IsOk());
    const std::string damaged = image.substr(0, 20);
    EXPECT_EQ(0, reader.Open(Data(damaged), Size(damaged)));  // already open: the verdict stays
    EXPECT_TRUE(reader.GetOpenStatus().IsOk());
}

TEST_F(Reader, ExtractAllTakesTheFirstGroupOfEachNameAndTheFirstEntryOfEachName)
{
    ASSERT_EQ(1, Open({{"G", {StoredEntry("one.txt", "first"), StoredEntry("ONE.TXT", "second")}},
                       {"g", {StoredEntry("two.txt", "never")}},
                       {"H", {StoredEntry("two.txt", "h")}}}));
    EXPECT_EQ(1, reader_.ExtractAll(out_.c_str()));
    EXPECT_EQ("first", ReadBytes(Out("one.txt")));
    EXPECT_EQ("h", ReadBytes(Out("two.txt")));
}
