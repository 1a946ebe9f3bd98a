// The direct reader: open and validation, listing, lookup, reading and extraction.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CFile.h"
#include "ContainerTestSupport.h"
#include "LzwCodec.h"
#include "PackageReader.h"

using namespace testing_support;

namespace {

std::vector<uint8_t> Compressed(const std::string& text)
{
    std::vector<uint8_t> stream;
    EXPECT_EQ(1, LzwEncodeBuffer(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()),
                                 &stream));
    return stream;
}

std::vector<uint8_t> PackedEntry(const std::string& name, const std::string& text)
{
    const std::vector<uint8_t> stream = Compressed(text);
    return EntryBytes(name, stream, static_cast<uint32_t>(text.size()), static_cast<uint32_t>(stream.size()));
}

std::string FileText(const std::string& path)
{
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

FileTime LastWriteOf(const std::string& path)
{
    MappedFile file;
    FileTime creation = {0, 0}, access = {0, 0}, write = {0, 0};
    if (file.OpenFile(path.c_str(), 1, kOpenExisting, 0))
        GetHandleTimes(file.GetFileHandle(), &creation, &access, &write);
    return write;
}

// The time EntryBytes stores for slot t (0 creation, 1 last access, 2 last write).
FileTime StoredTime(uint32_t t) { return FileTime{0x10000000 + t, 0x01D00000 + t}; }

class ReaderFixture : public ::testing::Test {
protected:
    ReaderFixture() : folder_("reader") { std::filesystem::create_directory(Out()); }

    std::string Container(const std::vector<GroupSpec>& groups, uint16_t version = 0x0200)
    {
        const std::string path = folder_.File("package.oem");
        WriteFileBytes(path, ContainerBytes(groups, version));
        return path;
    }
    std::string Out() const { return folder_.File("out"); }
    std::string OutFile(const std::string& leaf) const
    {
        return (std::filesystem::path(Out()) / leaf).string();
    }

    ScratchFolder folder_;
};

std::vector<GroupSpec> Sample()
{
    return {{"Config", {StoredEntry("CONFIG.INI", "[Commonfiles]")}},
            {"Bin", {StoredEntry("setup.exe", "installer"), EntryBytes("skip", {'s'}, 1, 0, 0x20, 0x0001),
                     PackedEntry("big.dll", std::string(3000, 'b') + "end")}},
            {"BIN", {StoredEntry("hidden.txt", "never reached")}},
            {"Empty", {}}};
}

}  // namespace

TEST_F(ReaderFixture, OpenValidatesAndKeepsTheFirstContainer)
{
    PackageReader reader;
    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, reader.Open(folder_.File("missing.oem").c_str()));
    EXPECT_EQ(kErrorFileNotFound, GetLastErrorValue());
    EXPECT_FALSE(reader.IsOpen());

    EXPECT_EQ(0, reader.Open(Container(Sample(), 0x0201).c_str()));
    EXPECT_FALSE(reader.IsOpen());

    const std::string good = Container(Sample());
    ASSERT_EQ(1, reader.Open(good.c_str()));
    EXPECT_EQ(good, std::string(reader.GetPath().GetString()));
    const std::string other = folder_.File("other.oem");
    WriteFileBytes(other, ContainerBytes({{"Other", {StoredEntry("o", "o")}}}));
    EXPECT_EQ(0, reader.Open(other.c_str()));
    EXPECT_EQ(9u, reader.GetEntrySize("SETUP.EXE", "bin"));
}

TEST_F(ReaderFixture, MalformedContainersDoNotOpen)
{
    std::vector<uint8_t> image = ContainerBytes(Sample());
    const std::string path = folder_.File("bad.oem");
    PackageReader reader;
    // A wrong group signature, then every truncation of a valid container.
    std::vector<uint8_t> unsigned_ = image;
    unsigned_[18 + 4 * 3] ^= 0xFF;
    WriteFileBytes(path, unsigned_);
    EXPECT_EQ(0, reader.Open(path.c_str()));
    for (size_t cut = 1; cut < image.size(); cut += 7) {
        WriteFileBytes(path, std::vector<uint8_t>(image.begin(), image.begin() + cut));
        EXPECT_EQ(0, reader.Open(path.c_str())) << cut;
        EXPECT_FALSE(reader.IsOpen());
    }
}

TEST_F(ReaderFixture, ClosedReaderAnswersWithFailureValues)
{
    PackageReader reader;
    CStringArray names;
    MappedFile block;
    char buffer[16];
    EXPECT_EQ(-1, reader.GetEntryTotal());
    EXPECT_EQ(0, reader.ListGroups(names));
    EXPECT_EQ(0, reader.ListEntries("Bin", names));
    EXPECT_EQ(0u, reader.GetEntrySize("x", nullptr));
    EXPECT_EQ(0, reader.ReadEntry("x", nullptr, block));
    EXPECT_EQ(-1, reader.ReadEntryToBuffer("x", nullptr, buffer, sizeof buffer));
    EXPECT_EQ(0, reader.Extract("x", nullptr, Out().c_str(), nullptr, 0));
    EXPECT_EQ(0, reader.ExtractGroup("Bin", Out().c_str(), 0));
    EXPECT_EQ(0, reader.ExtractAll(Out().c_str()));
    EXPECT_EQ(0, names.GetSize());
}

TEST_F(ReaderFixture, ListsGroupsInTableOrderAndOnlyFileEntries)
{
    PackageReader reader;
    ASSERT_EQ(1, reader.Open(Container(Sample()).c_str()));
    EXPECT_EQ(5, reader.GetEntryTotal());  // the header's count, children of any kind

    CStringArray groups;
    groups.Add("kept");
    ASSERT_EQ(1, reader.ListGroups(groups));
    ASSERT_EQ(5, groups.GetSize());
    EXPECT_STREQ("Config", groups[1]);
    EXPECT_STREQ("Bin", groups[2]);
    EXPECT_STREQ("BIN", groups[3]);
    EXPECT_STREQ("Empty", groups[4]);

    CStringArray entries;
    ASSERT_EQ(1, reader.ListEntries("BIN", entries));  // the first group of that name
    ASSERT_EQ(2, entries.GetSize());
    EXPECT_STREQ("setup.exe", entries[0]);
    EXPECT_STREQ("big.dll", entries[1]);
    CStringArray none;
    EXPECT_EQ(1, reader.ListEntries("empty", none));
    EXPECT_EQ(0, none.GetSize());
    EXPECT_EQ(0, reader.ListEntries("Missing", none));
}

TEST_F(ReaderFixture, LookupIgnoresCaseAndNeverReachesALaterGroupOfAnEqualName)
{
    PackageReader reader;
    ASSERT_EQ(1, reader.Open(Container(Sample()).c_str()));
    EXPECT_EQ(3003u, reader.GetEntrySize("BIG.DLL", nullptr));
    EXPECT_EQ(13u, reader.GetEntrySize("config.ini", nullptr));
    EXPECT_EQ(0u, reader.GetEntrySize("skip", "Bin"));  // not a file entry
    EXPECT_EQ(0u, reader.GetEntrySize("hidden.txt", nullptr));
    EXPECT_EQ(0u, reader.GetEntrySize("hidden.txt", "BIN"));
    EXPECT_EQ(0u, reader.GetEntrySize("setup.exe", "Config"));
}

TEST_F(ReaderFixture, ReadsStoredAndCompressedEntries)
{
    PackageReader reader;
    ASSERT_EQ(1, reader.Open(Container(Sample()).c_str()));
    MappedFile block;
    ASSERT_EQ(1, reader.ReadEntry("Setup.exe", "Bin", block));
    EXPECT_EQ("installer", std::string(reinterpret_cast<char*>(block.GetData()), block.GetLength()));
    EXPECT_EQ(0, reader.ReadEntry("setup.exe", "Bin", block));  // the output must be closed

    MappedFile big;
    ASSERT_EQ(1, reader.ReadEntry("big.dll", nullptr, big));
    EXPECT_EQ(std::string(3000, 'b') + "end", std::string(reinterpret_cast<char*>(big.GetData()), big.GetLength()));

    std::vector<char> buffer(3003, 0);
    EXPECT_EQ(0, reader.ReadEntryToBuffer("big.dll", "Bin", buffer.data(), 3002));
    EXPECT_EQ(3003, reader.ReadEntryToBuffer("big.dll", "Bin", buffer.data(), 3003));
    EXPECT_EQ("end", std::string(buffer.end() - 3, buffer.end()));
    EXPECT_EQ(-1, reader.ReadEntryToBuffer("absent", "Bin", buffer.data(), 3003));
}

TEST_F(ReaderFixture, EmptyEntryCannotBeReadOrExtracted)
{
    PackageReader reader;
    ASSERT_EQ(1, reader.Open(Container({{"G", {EntryBytes("empty.txt", {}, 0, 0)}}}).c_str()));
    MappedFile block;
    char buffer[4];
    EXPECT_EQ(0, reader.ReadEntry("empty.txt", "G", block));
    EXPECT_EQ(-1, reader.ReadEntryToBuffer("empty.txt", "G", buffer, sizeof buffer));
    EXPECT_EQ(0, reader.Extract("empty.txt", "G", Out().c_str(), nullptr, 0));
    EXPECT_FALSE(PathExists(OutFile("empty.txt").c_str()));
}

TEST_F(ReaderFixture, FaultyCompressedStreamsAreFailuresAndWriteNothing)
{
    std::vector<uint8_t> truncated = Compressed(std::string(500, 'q'));
    truncated.resize(truncated.size() / 2);
    const std::vector<uint8_t> good = Compressed("abcdef");
    const std::vector<uint8_t> code300 = {0x80, 0x4B, 0x00};  // clear, then code 300 before it exists
    const std::string path = Container(
        {{"G",
          {EntryBytes("cut.bin", truncated, 500, static_cast<uint32_t>(truncated.size())),
           EntryBytes("short.bin", good, 10, static_cast<uint32_t>(good.size())),
           EntryBytes("long.bin", good, 4, static_cast<uint32_t>(good.size())),
           EntryBytes("undefined.bin", code300, 3, static_cast<uint32_t>(code300.size()))}}});
    PackageReader reader;
    ASSERT_EQ(1, reader.Open(path.c_str()));
    for (const char* name : {"cut.bin", "short.bin", "long.bin", "undefined.bin"}) {
        MappedFile block;
        SetLastErrorValue(0xdeadbeef);
        EXPECT_EQ(0, reader.ReadEntry(name, "G", block)) << name;
        EXPECT_EQ(kErrorInvalidData, GetLastErrorValue()) << name;
        EXPECT_TRUE(block.IsClosed()) << name;
        SetLastErrorValue(0xdeadbeef);
        EXPECT_EQ(0, reader.Extract(name, "G", Out().c_str(), nullptr, 0)) << name;
        EXPECT_EQ(kErrorInvalidData, GetLastErrorValue()) << name;
        EXPECT_FALSE(PathExists(OutFile(name).c_str())) << name;
    }
}

TEST_F(ReaderFixture, ExtractWritesContentTimesAndAttributesUnderTheCallersSpelling)
{
    PackageReader reader;
    ASSERT_EQ(1, reader.Open(Container({{"G", {EntryBytes("Setup.exe", {'x', 'y'}, 2, 0, 0x21)}}}).c_str()));
    ASSERT_EQ(1, reader.Extract("SETUP.EXE", "g", Out().c_str(), nullptr, 0));
    const std::string written = OutFile("SETUP.EXE");
    ASSERT_TRUE(PathExists(written.c_str()));
    EXPECT_EQ("xy", FileText(written));
    EXPECT_EQ(StoredTime(2), LastWriteOf(written));
    EXPECT_EQ(kFileAttributeReadOnly, GetPathAttributes(written.c_str()) & kFileAttributeReadOnly);
    SetPathAttributes(written.c_str(), kFileAttributeArchive);

    // An explicit destination name, and a folder that already ends in a separator.
    const std::string folder = Out() + std::string(1, kPathSeparator);
    ASSERT_EQ(1, reader.Extract("setup.exe", "G", folder.c_str(), "renamed.bin", 0));
    EXPECT_EQ("xy", FileText(OutFile("renamed.bin")));
    SetPathAttributes(OutFile("renamed.bin").c_str(), kFileAttributeArchive);
}

TEST_F(ReaderFixture, OverwriteModesKeepOrReplaceAnExistingFile)
{
    PackageReader reader;
    ASSERT_EQ(1, reader.Open(Container({{"G", {StoredEntry("a.txt", "entry")}}}).c_str()));
    ASSERT_EQ(1, reader.Extract("a.txt", "G", Out().c_str(), nullptr, 0));
    const std::string target = OutFile("a.txt");
    SetPathAttributes(target.c_str(), kFileAttributeArchive);
    {
        // Same size so that only the times tell the copies apart.
        CFile edit(target.c_str(), CFile::modeCreate | CFile::modeWrite);
        edit.Write("local", 5);
        const FileTime same = StoredTime(2);  // the entry's last-write time
        SetHandleTimes(edit.GetHandle(), nullptr, nullptr, &same);
        edit.Close();
    }
    EXPECT_EQ(1, reader.Extract("a.txt", "G", Out().c_str(), nullptr, kOverwriteIfNewerTime));
    EXPECT_EQ("local", FileText(target));  // kept: as new as the entry
    EXPECT_EQ(1, reader.Extract("a.txt", "G", Out().c_str(), nullptr, kOverwriteAlways));
    EXPECT_EQ("entry", FileText(target));
    SetPathAttributes(target.c_str(), kFileAttributeArchive);

    {
        CFile edit(target.c_str(), CFile::modeCreate | CFile::modeWrite);
        edit.Write("older", 5);
        const FileTime older = {0, 0x01000000};
        SetHandleTimes(edit.GetHandle(), nullptr, nullptr, &older);
        edit.Close();
    }
    EXPECT_EQ(1, reader.Extract("a.txt", "G", Out().c_str(), nullptr, kOverwriteIfNewerTime));
    EXPECT_EQ("entry", FileText(target));  // replaced: older than the entry
    SetPathAttributes(target.c_str(), kFileAttributeArchive);
}

TEST_F(ReaderFixture, NamesThatAreNotBareFileNamesAreNeverWritten)
{
    const std::string path = Container({{"G",
                                          {StoredEntry("..", "dots"), StoredEntry("sub\\evil.txt", "evil"),
                                           StoredEntry("up/evil.txt", "evil"), StoredEntry("C:evil.txt", "evil"),
                                           StoredEntry("", "nameless"), StoredEntry("good.txt", "good")}}});
    PackageReader reader;
    ASSERT_EQ(1, reader.Open(path.c_str()));
    for (const char* name : {"..", "sub\\evil.txt", "up/evil.txt", "C:evil.txt", ""}) {
        SetLastErrorValue(0xdeadbeef);
        EXPECT_EQ(0, reader.Extract(name, "G", Out().c_str(), nullptr, 0)) << name;
        EXPECT_EQ(kErrorInvalidName, GetLastErrorValue()) << name;
    }
    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, reader.Extract("good.txt", "G", Out().c_str(), "../escape.txt", 0));
    EXPECT_EQ(kErrorInvalidName, GetLastErrorValue());

    // A group extraction passes over them and writes the rest.
    EXPECT_EQ(1, reader.ExtractGroup("G", Out().c_str(), 0));
    EXPECT_EQ("good", FileText(OutFile("good.txt")));
    size_t files = 0;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder_.Path())) {
        (void)item;
        ++files;
    }
    EXPECT_EQ(3u, files);  // package.oem, out, out/good.txt
}

TEST_F(ReaderFixture, PathsBeyondTheBufferFail)
{
    PackageReader reader;
    ASSERT_EQ(1, reader.Open(Container({{"G", {StoredEntry("a.txt", "a")}}}).c_str()));
    const std::string deep(300, 'd');
    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, reader.Extract("a.txt", "G", deep.c_str(), nullptr, 0));
    EXPECT_EQ(kErrorFilenameExcedRange, GetLastErrorValue());
}

TEST_F(ReaderFixture, ExtractAllWritesEveryReachableGroup)
{
    PackageReader reader;
    ASSERT_EQ(1, reader.Open(Container(Sample()).c_str()));
    EXPECT_EQ(1, reader.ExtractAll(Out().c_str()));
    EXPECT_EQ("[Commonfiles]", FileText(OutFile("CONFIG.INI")));
    EXPECT_EQ("installer", FileText(OutFile("setup.exe")));
    EXPECT_EQ(3003u, ReadFileBytes(OutFile("big.dll")).size());
    EXPECT_FALSE(PathExists(OutFile("skip").c_str()));
    EXPECT_FALSE(PathExists(OutFile("hidden.txt").c_str()));
}

namespace {

struct CallbackLog {
    int calls = 0;
    int answer = 0;
    std::string path;
    uint32_t error = 0;
    std::string data;
    FileTime lastWrite = {0, 0};
    uint32_t attributes = 0;
};

int RecordFailure(ExtractFailureInfo* info, void* user)
{
    CallbackLog* log = static_cast<CallbackLog*>(user);
    ++log->calls;
    log->path = info->path;
    log->error = info->error;
    log->data.assign(reinterpret_cast<const char*>(info->data), info->size);
    log->lastWrite = info->lastWriteTime;
    log->attributes = info->attributes;
    return log->answer;
}

}  // namespace

TEST_F(ReaderFixture, DestinationThatCannotBeCreatedGoesToTheCallback)
{
    const std::string path = Container({{"G", {EntryBytes("blocked", {'b', 'y'}, 2, 0, 0x20)}}});
    // A folder of the entry's name stands where the file would go.
    std::filesystem::create_directory(OutFile("blocked"));

    PackageReader silent;
    ASSERT_EQ(1, silent.Open(path.c_str()));
    SetLastErrorValue(0xdeadbeef);
    EXPECT_EQ(0, silent.Extract("blocked", "G", Out().c_str(), nullptr, 0));
    EXPECT_EQ(kErrorAccessDenied, GetLastErrorValue());

    for (int answer : {7, 0}) {
        CallbackLog log;
        log.answer = answer;
        PackageReader reader;
        ASSERT_EQ(1, reader.Open(path.c_str(), RecordFailure, &log));
        EXPECT_EQ(answer, reader.Extract("blocked", "G", Out().c_str(), nullptr, 0));
        ASSERT_EQ(1, log.calls);
        EXPECT_EQ(OutFile("blocked"), log.path);
        EXPECT_EQ(kErrorAccessDenied, log.error);
        EXPECT_EQ("by", log.data);
        EXPECT_EQ(StoredTime(2), log.lastWrite);
        EXPECT_EQ(0x20u, log.attributes);
    }
}
