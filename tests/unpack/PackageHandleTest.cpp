// The package interface: open modes, last-error codes, editing, saving, reading and extraction.
#include <gtest/gtest.h>

#include <cstring>

#include "MappedFile.h"
#include "PackageHandle.h"
#include "TestSupport.h"

namespace {

constexpr uint32_t kSentinel = 0xDEADBEEF;
constexpr uint64_t kEntrySeconds = 13000000000ull;  // an instant in 2012

class PackageHandleTest : public ::testing::Test {
protected:
    // A package file with groups "Config" (CONFIG.INI) and "Commonfiles"
    // (setup.exe, readme.txt).
    std::string WriteSamplePackage()
    {
        std::string path = scratch / "sample.oem";
        EntryInfo info = MakeInfo(kFileAttributeArchive, kEntrySeconds);
        WriteBytes(path, BuildImage({
                             {"Config", {PlainEntry("CONFIG.INI", Bytes("[Commonfiles]\r\n"), info)}},
                             {"Commonfiles",
                              {PlainEntry("setup.exe", Bytes("installer bytes"), info),
                               PlainEntry("readme.txt", Bytes("read me"), info)}},
                         }));
        return path;
    }

    // A package holding one compressed entry "data.bin" in group "G" whose
    // stream has been altered by damage().
    template <typename Damage>
    void OpenCompressed(const std::vector<uint8_t>& content, Damage damage)
    {
        ImageEntry entry = CompressedEntry("data.bin", content, MakeInfo(kFileAttributeArchive, kEntrySeconds));
        damage(entry);
        std::string path = scratch / "compressed.oem";
        WriteBytes(path, BuildImage({{"G", {entry}}}));
        ASSERT_EQ(1, handle.Open(path.c_str(), PackageHandle::kOpenExisting));
    }

    ScratchFolder scratch;
    PackageHandle handle;
};

// Sets the sentinel, runs the call, and checks the result and the code it left.
#define EXPECT_RESULT_AND_ERROR(expectedResult, expectedError, call) \
    do {                                                             \
        SetLastErrorValue(kSentinel);                                \
        EXPECT_EQ(expectedResult, (call));                           \
        EXPECT_EQ(static_cast<uint32_t>(expectedError), GetLastErrorValue()); \
    } while (0)

TEST_F(PackageHandleTest, OpenRejectsModesOutsideTheFourAndClearsTheErrorFirst)
{
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.Open((scratch / "a.oem").c_str(), 4));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.Open((scratch / "a.oem").c_str(), -1));
    EXPECT_RESULT_AND_ERROR(1, kErrorSuccess, handle.Open((scratch / "a.oem").c_str(), PackageHandle::kCreateNew));
    EXPECT_FALSE(PathExists((scratch / "a.oem").c_str())) << "Open writes nothing";
}

TEST_F(PackageHandleTest, CreateNewFailsOnAnExistingFile)
{
    std::string path = WriteSamplePackage();
    EXPECT_RESULT_AND_ERROR(0, kErrorFileExists, handle.Open(path.c_str(), PackageHandle::kCreateNew));
}

TEST_F(PackageHandleTest, CreateAlwaysStartsEmptyAndReplacesTheFileOnlyOnSave)
{
    std::string path = WriteSamplePackage();
    std::vector<uint8_t> before = ReadBytes(path);
    ASSERT_EQ(1, handle.Open(path.c_str(), PackageHandle::kCreateAlways));
    EXPECT_EQ(0, handle.CountEntries(nullptr));
    EXPECT_EQ(before, ReadBytes(path));
    ASSERT_EQ(1, handle.Save());
    std::vector<uint8_t> after = ReadBytes(path);
    // An empty container: the 18-byte header with no groups.
    ASSERT_EQ(18u, after.size());
    EXPECT_EQ(0, std::memcmp(after.data(), "BOEM\x00\x02", 6));
}

TEST_F(PackageHandleTest, OpenExistingFailsWithTheSystemErrorWhileOpenAlwaysStartsEmpty)
{
    std::string missing = scratch / "missing.oem";
    EXPECT_RESULT_AND_ERROR(0, kErrorFileNotFound, handle.Open(missing.c_str(), PackageHandle::kOpenExisting));
    SetLastErrorValue(kSentinel);
    EXPECT_EQ(1, handle.Open(missing.c_str(), PackageHandle::kOpenAlways));
    EXPECT_EQ(0, handle.CountEntries(nullptr));
    CStringArray groups;
    EXPECT_EQ(1, handle.ListGroups(groups));
    EXPECT_EQ(0, groups.GetSize());
}

TEST_F(PackageHandleTest, AFileThatIsNotAContainerOpensAsAnEmptyPackage)
{
    std::string path = scratch / "text.oem";
    WriteBytes(path, Bytes("this is not a package at all"));
    EXPECT_RESULT_AND_ERROR(1, kErrorSuccess, handle.Open(path.c_str(), PackageHandle::kOpenExisting));
    CStringArray groups;
    ASSERT_EQ(1, handle.ListGroups(groups));
    EXPECT_EQ(0, groups.GetSize());
}

TEST_F(PackageHandleTest, ATruncatedContainerLoadsNothing)
{
    std::string path = WriteSamplePackage();
    std::vector<uint8_t> bytes = ReadBytes(path);
    bytes.resize(bytes.size() - 3);  // the last entry's data runs past the end
    WriteBytes(path, bytes);
    ASSERT_EQ(1, handle.Open(path.c_str(), PackageHandle::kOpenExisting));
    EXPECT_EQ(0, handle.CountEntries(nullptr));
}

TEST_F(PackageHandleTest, OpenLoadsEveryGroupAndAddsToWhatIsAlreadyHeld)
{
    std::string first = WriteSamplePackage();
    std::string second = scratch / "second.oem";
    WriteBytes(second, BuildImage({{"Extra", {PlainEntry("x.dat", Bytes("x"), MakeInfo(0, kEntrySeconds))}}}));
    ASSERT_EQ(1, handle.Open(first.c_str(), PackageHandle::kOpenExisting));
    EXPECT_EQ(3, handle.CountEntries(nullptr));
    ASSERT_EQ(1, handle.Open(second.c_str(), PackageHandle::kOpenExisting));
    EXPECT_EQ(4, handle.CountEntries(nullptr));
}

TEST_F(PackageHandleTest, AfterCloseEveryOperationFailsWithNotReady)
{
    ASSERT_EQ(1, handle.Open(WriteSamplePackage().c_str(), PackageHandle::kOpenExisting));
    handle.Close();
    CStringArray names;
    MappedFile block;
    EntryInfo info;
    uint32_t size = 0;
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady,
                            handle.ExtractEntry("setup.exe", "Commonfiles", scratch.Path().c_str(), nullptr, 0));
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.GetEntryInfo("setup.exe", "Commonfiles", &info, &size));
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.ReadEntry("setup.exe", "Commonfiles", block, 0, nullptr));
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.RemoveEntry("setup.exe", "Commonfiles"));
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.ListGroups(names));
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.ListEntries("Commonfiles", names));
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.Save());
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.CountEntries(nullptr));
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.AddFile((scratch / "sample.oem").c_str(), "G"));
    MappedFile source;
    ASSERT_EQ(1, source.CreateMemory(nullptr, 4, 0));
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.AddBuffer(source, "a.txt", "G", info, 0));
    EXPECT_EQ(0, names.GetSize());
    EXPECT_TRUE(block.IsClosed());
    // Argument checks come before the state check.
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.GetEntryInfo("setup.exe", "", &info, &size));
    EXPECT_RESULT_AND_ERROR(-1, kErrorInvalidParameter, handle.CountEntries("Config"));
    // Open brings a fresh directory.
    EXPECT_RESULT_AND_ERROR(1, kErrorSuccess,
                            handle.Open((scratch / "sample.oem").c_str(), PackageHandle::kOpenExisting));
    EXPECT_EQ(3, handle.CountEntries(nullptr));
}

TEST_F(PackageHandleTest, GroupsMatchExactlyAndEntriesIgnoringCase)
{
    ASSERT_EQ(1, handle.Open(WriteSamplePackage().c_str(), PackageHandle::kOpenExisting));
    EntryInfo info = {};
    uint32_t size = 0;
    EXPECT_RESULT_AND_ERROR(0, kErrorFileNotFound, handle.GetEntryInfo("setup.exe", "commonfiles", &info, &size));
    EXPECT_RESULT_AND_ERROR(1, kSentinel, handle.GetEntryInfo("SETUP.EXE", "Commonfiles", &info, &size));
    EXPECT_EQ(15u, size);
    EXPECT_EQ(kFileAttributeArchive, info.attributes);
    EXPECT_EQ(TimeOfSeconds(kEntrySeconds), info.lastWriteTime);
    EXPECT_EQ(TimeOfSeconds(kEntrySeconds + 3600), info.lastAccessTime);
    EXPECT_RESULT_AND_ERROR(0, kErrorFileNotFound, handle.GetEntryInfo("setup.ex", "Commonfiles", &info, &size));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.GetEntryInfo("setup.exe", "", &info, &size));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.GetEntryInfo("setup.exe", nullptr, &info, &size));
    EXPECT_EQ(1, handle.GetEntryInfo("readme.txt", "Commonfiles", nullptr, nullptr));
}

TEST_F(PackageHandleTest, CountEntriesTakesNoGroupName)
{
    ASSERT_EQ(1, handle.Open(WriteSamplePackage().c_str(), PackageHandle::kOpenExisting));
    EXPECT_EQ(3, handle.CountEntries(nullptr));
    EXPECT_EQ(3, handle.CountEntries(""));
    EXPECT_RESULT_AND_ERROR(-1, kErrorInvalidParameter, handle.CountEntries("Config"));
}

TEST_F(PackageHandleTest, ListingAppendsAndAMissingGroupListsNothing)
{
    ASSERT_EQ(1, handle.Open(WriteSamplePackage().c_str(), PackageHandle::kOpenExisting));
    CStringArray names;
    names.Add("kept");
    ASSERT_EQ(1, handle.ListGroups(names));
    ASSERT_EQ(3, names.GetSize());
    EXPECT_EQ(CString("kept"), names[0]);
    EXPECT_TRUE((names[1] == "Config" && names[2] == "Commonfiles") ||
                (names[1] == "Commonfiles" && names[2] == "Config"));
    CStringArray entries;
    ASSERT_EQ(1, handle.ListEntries("Commonfiles", entries));
    ASSERT_EQ(2, entries.GetSize());
    EXPECT_EQ(CString("setup.exe"), entries[0]);
    EXPECT_EQ(CString("readme.txt"), entries[1]);
    EXPECT_EQ(1, handle.ListEntries("NoSuchGroup", entries));
    EXPECT_EQ(2, entries.GetSize());
}

TEST_F(PackageHandleTest, RemoveEntryReportsAbsenceWithoutAnErrorCode)
{
    ASSERT_EQ(1, handle.Open(WriteSamplePackage().c_str(), PackageHandle::kOpenExisting));
    EXPECT_RESULT_AND_ERROR(0, kSentinel, handle.RemoveEntry("nothing.txt", "Commonfiles"));
    EXPECT_RESULT_AND_ERROR(0, kSentinel, handle.RemoveEntry("CONFIG.INI", "NoSuchGroup"));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.RemoveEntry("CONFIG.INI", ""));
    EXPECT_EQ(1, handle.RemoveEntry("config.ini", "Config"));
    EXPECT_EQ(2, handle.CountEntries(nullptr));
    // The emptied group stays.
    CStringArray groups;
    handle.ListGroups(groups);
    EXPECT_EQ(2, groups.GetSize());
}

TEST_F(PackageHandleTest, AddFileNamesTheEntryAfterTheFileAndReplacesTheSameName)
{
    ASSERT_EQ(1, handle.Open((scratch / "new.oem").c_str(), PackageHandle::kCreateNew));
    std::string folder = scratch / "src";
    ASSERT_TRUE(CreateFolder(folder.c_str()));
    WriteBytes(JoinPath(folder, "A.TXT"), Bytes("first"));
    WriteBytes(JoinPath(folder, "a.txt"), Bytes("second!"));
    ASSERT_EQ(1, handle.AddFile(JoinPath(folder, "A.TXT").c_str(), "Docs"));
    ASSERT_EQ(1, handle.AddFile(JoinPath(folder, "a.txt").c_str(), "Docs"));
    CStringArray entries;
    handle.ListEntries("Docs", entries);
    ASSERT_EQ(1, entries.GetSize());
    EXPECT_EQ(CString("a.txt"), entries[0]);
    uint32_t size = 0;
    ASSERT_EQ(1, handle.GetEntryInfo("A.txt", "Docs", nullptr, &size));
    EXPECT_EQ(7u, size);

    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.AddFile(JoinPath(folder, "a.txt").c_str(), ""));
    EXPECT_RESULT_AND_ERROR(0, kErrorFileNotFound, handle.AddFile(JoinPath(folder, "none.txt").c_str(), "Docs"));
    EXPECT_EQ(1, handle.CountEntries(nullptr));
}

TEST_F(PackageHandleTest, AddBufferTakesTheGivenAttributesAndTimes)
{
    ASSERT_EQ(1, handle.Open((scratch / "new.oem").c_str(), PackageHandle::kCreateNew));
    EntryInfo info = MakeInfo(kFileAttributeReadOnly | kFileAttributeArchive, kEntrySeconds);
    MappedFile source;
    ASSERT_EQ(1, source.CreateMemory(nullptr, 5, 0));
    source.Write("hello", 5);
    std::string name = std::string("some") + kPathSeparator + "folder" + kPathSeparator + "hello.txt";
    ASSERT_EQ(1, handle.AddBuffer(source, name.c_str(), "G", info, 1));
    EntryInfo stored = {};
    uint32_t size = 0;
    ASSERT_EQ(1, handle.GetEntryInfo("hello.txt", "G", &stored, &size));
    EXPECT_EQ(5u, size);
    EXPECT_EQ(info.attributes, stored.attributes);
    EXPECT_EQ(info.creationTime, stored.creationTime);
    EXPECT_EQ(info.lastAccessTime, stored.lastAccessTime);
    EXPECT_EQ(info.lastWriteTime, stored.lastWriteTime);

    MappedFile closed;
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.AddBuffer(closed, "x.txt", "G", info, 0));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.AddBuffer(source, "x.txt", "", info, 0));
}

TEST_F(PackageHandleTest, SaveWritesAContainerThatOpensWithTheSameContent)
{
    std::string path = scratch / "saved.oem";
    ASSERT_EQ(1, handle.Open(path.c_str(), PackageHandle::kCreateNew));
    std::vector<uint8_t> content = PatternBytes(5000, 7);
    MappedFile source;
    ASSERT_EQ(1, source.CreateMemory(nullptr, static_cast<uint32_t>(content.size()), 0));
    source.Write(content.data(), static_cast<uint32_t>(content.size()));
    EntryInfo info = MakeInfo(kFileAttributeArchive, kEntrySeconds);
    ASSERT_EQ(1, handle.AddBuffer(source, "big.bin", "One", info, 0));
    ASSERT_EQ(1, handle.AddBuffer(source, "copy.bin", "Two", info, 0));
    ASSERT_EQ(1, handle.Save());

    std::vector<uint8_t> bytes = ReadBytes(path);
    ASSERT_GE(bytes.size(), 14u);
    EXPECT_EQ(0, std::memcmp(bytes.data(), "BOEM\x00\x02", 6));
    EXPECT_EQ(2, bytes[6] | bytes[7] << 8) << "entry total";
    EXPECT_EQ(0, bytes[8] | bytes[9] | bytes[10] | bytes[11]) << "reserved";
    EXPECT_EQ(2, bytes[12] | bytes[13] << 8) << "group count";

    PackageHandle reopened;
    ASSERT_EQ(1, reopened.Open(path.c_str(), PackageHandle::kOpenExisting));
    MappedFile block;
    ASSERT_EQ(1, reopened.ReadEntry("big.bin", "One", block, 0, nullptr));
    ASSERT_EQ(content.size(), block.GetSize());
    EXPECT_EQ(0, std::memcmp(content.data(), block.GetData(), content.size()));
}

TEST_F(PackageHandleTest, ReadEntrySizesTheBlockAndRefusesEmptyEntriesAndBusyBlocks)
{
    std::string path = scratch / "read.oem";
    EntryInfo info = MakeInfo(kFileAttributeArchive, kEntrySeconds);
    WriteBytes(path, BuildImage({{"G", {PlainEntry("a.txt", Bytes("abc"), info), PlainEntry("empty", {}, info)}}}));
    ASSERT_EQ(1, handle.Open(path.c_str(), PackageHandle::kOpenExisting));

    MappedFile block;
    EntryInfo read = {};
    ASSERT_EQ(1, handle.ReadEntry("A.TXT", "G", block, 100, &read));
    EXPECT_EQ(100u, block.GetCapacity());
    EXPECT_EQ(3u, block.GetLength());
    EXPECT_EQ(0, std::memcmp(block.GetData(), "abc", 3));
    EXPECT_EQ(info.lastWriteTime, read.lastWriteTime);
    EXPECT_EQ(0, handle.ReadEntry("a.txt", "G", block, 0, nullptr)) << "the block is in use";

    MappedFile empty;
    EXPECT_EQ(0, handle.ReadEntry("empty", "G", empty, 0, nullptr));
    EXPECT_TRUE(empty.IsClosed());
    EXPECT_RESULT_AND_ERROR(0, kErrorFileNotFound, handle.ReadEntry("b.txt", "G", empty, 0, nullptr));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.ReadEntry("a.txt", "", empty, 0, nullptr));
}

TEST_F(PackageHandleTest, CompressedEntriesDecodeToTheirContent)
{
    // Large enough for several dictionary resets.
    std::vector<uint8_t> content = PatternBytes(300000, 3);
    OpenCompressed(content, [](ImageEntry&) {});
    MappedFile block;
    ASSERT_EQ(1, handle.ReadEntry("data.bin", "G", block, 0, nullptr));
    ASSERT_EQ(content.size(), block.GetSize());
    EXPECT_EQ(0, std::memcmp(content.data(), block.GetData(), content.size()));

    ASSERT_EQ(1, handle.ExtractEntry("data.bin", "G", scratch.Path().c_str(), "out.bin", kOverwriteAlways));
    EXPECT_EQ(content, ReadBytes(scratch / "out.bin"));
}

TEST_F(PackageHandleTest, AFaultyCompressedStreamIsInvalidDataAndNothingIsWritten)
{
    std::vector<uint8_t> content = PatternBytes(4000, 11);
    struct Case {
        const char* what;
        void (*damage)(ImageEntry&);
    } cases[] = {
        {"stream cut short", [](ImageEntry& e) {
             e.stored.resize(e.stored.size() / 2);
             e.compressedSize = static_cast<uint32_t>(e.stored.size());
         }},
        {"record claims more bytes than the stream holds", [](ImageEntry& e) { e.uncompressedSize += 1; }},
        {"record claims fewer bytes than the stream holds", [](ImageEntry& e) { e.uncompressedSize -= 1; }},
        {"code beyond the dictionary", [](ImageEntry& e) {
             // Second code (9 bits from bit 9) set to 511: far past the next free code.
             e.stored[1] |= 0x7F;
             e.stored[2] |= 0xC0;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        handle.Close();
        OpenCompressed(content, c.damage);
        MappedFile block;
        EXPECT_RESULT_AND_ERROR(0, kErrorInvalidData, handle.ReadEntry("data.bin", "G", block, 0, nullptr));
        EXPECT_TRUE(block.IsClosed());

        std::string destination = scratch / "installer.exe";
        WriteBytes(destination, Bytes("previous installer"));
        EXPECT_RESULT_AND_ERROR(0, kErrorInvalidData,
                                handle.ExtractEntry("data.bin", "G", scratch.Path().c_str(), "installer.exe",
                                                    kOverwriteAlways));
        EXPECT_EQ(Bytes("previous installer"), ReadBytes(destination));
        EXPECT_RESULT_AND_ERROR(0, kErrorInvalidData,
                                handle.ExtractEntry("data.bin", "G", scratch.Path().c_str(), nullptr,
                                                    kOverwriteAlways));
        EXPECT_FALSE(PathExists((scratch / "data.bin").c_str()));
    }
}

TEST_F(PackageHandleTest, ExtractEntryRestoresTimesAndAttributesUnderTheCallersSpelling)
{
    std::string path = scratch / "x.oem";
    EntryInfo info = MakeInfo(kFileAttributeArchive | kFileAttributeReadOnly, kEntrySeconds);
    WriteBytes(path, BuildImage({{"G", {PlainEntry("Tool.exe", Bytes("tool"), info)}}}));
    ASSERT_EQ(1, handle.Open(path.c_str(), PackageHandle::kOpenExisting));
    std::string folder = scratch / "out";
    ASSERT_TRUE(CreateFolder(folder.c_str()));

    ASSERT_EQ(1, handle.ExtractEntry("TOOL.EXE", "G", (folder + kPathSeparator).c_str(), nullptr, kOverwriteAlways));
    std::string written = JoinPath(folder, "TOOL.EXE");
    // Times first: reading the content may move the last-access time.
    FileTime creation, lastAccess, lastWrite;
    GetFileTimes(written, &creation, &lastAccess, &lastWrite);
    EXPECT_EQ(Bytes("tool"), ReadBytes(written));
    EXPECT_EQ(info.lastWriteTime, lastWrite);
    EXPECT_EQ(info.lastAccessTime, lastAccess);
    EXPECT_EQ(info.creationTime, creation);
    EXPECT_NE(0u, GetPathAttributes(written.c_str()) & kFileAttributeReadOnly);
    EXPECT_RESULT_AND_ERROR(0, kErrorFileNotFound,
                            handle.ExtractEntry("Tool2.exe", "G", folder.c_str(), nullptr, kOverwriteAlways));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter,
                            handle.ExtractEntry("Tool.exe", "", folder.c_str(), nullptr, kOverwriteAlways));
}

TEST_F(PackageHandleTest, EntryAndDestinationNamesMustBeBareFileNames)
{
    std::string path = scratch / "names.oem";
    EntryInfo info = MakeInfo(kFileAttributeArchive, kEntrySeconds);
    std::vector<ImageEntry> entries;
    for (const char* name : {"..\\evil.exe", "../evil.exe", "C:evil.exe", "..", ".", "", "good.exe"})
        entries.push_back(PlainEntry(name, Bytes("payload"), info));
    WriteBytes(path, BuildImage({{"G", entries}}));
    ASSERT_EQ(1, handle.Open(path.c_str(), PackageHandle::kOpenExisting));
    std::string folder = scratch / "inner";
    ASSERT_TRUE(CreateFolder(folder.c_str()));

    for (const char* name : {"..\\evil.exe", "../evil.exe", "C:evil.exe", "..", "."}) {
        SCOPED_TRACE(name);
        EXPECT_RESULT_AND_ERROR(0, kErrorInvalidName,
                                handle.ExtractEntry(name, "G", folder.c_str(), nullptr, kOverwriteAlways));
    }
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidName,
                            handle.ExtractEntry("", "G", folder.c_str(), nullptr, kOverwriteAlways));
    for (const char* destination : {"../evil.exe", "..\\evil.exe", "x:y", "", ".."}) {
        SCOPED_TRACE(destination);
        EXPECT_RESULT_AND_ERROR(0, kErrorInvalidName,
                                handle.ExtractEntry("good.exe", "G", folder.c_str(), destination, kOverwriteAlways));
    }
    EXPECT_FALSE(PathExists((scratch / "evil.exe").c_str()));
    EXPECT_FALSE(PathExists(JoinPath(folder, "evil.exe").c_str()));
    EXPECT_EQ(1, handle.ExtractEntry("good.exe", "G", folder.c_str(), nullptr, kOverwriteAlways));
}

TEST_F(PackageHandleTest, ADestinationPathLongerThanTheBufferIsRefusedNotTruncated)
{
    std::string path = scratch / "long.oem";
    WriteBytes(path, BuildImage({{"G", {PlainEntry("a.txt", Bytes("a"), MakeInfo(0, kEntrySeconds))}}}));
    ASSERT_EQ(1, handle.Open(path.c_str(), PackageHandle::kOpenExisting));
    // folder + separator + name = 259 bytes fits the buffer with its zero; one more does not.
    std::string fits(258 - scratch.Path().size(), 'n');
    std::string longName = fits + "n";
    EXPECT_RESULT_AND_ERROR(0, kErrorFilenameExcedRange,
                            handle.ExtractEntry("a.txt", "G", scratch.Path().c_str(), longName.c_str(),
                                                kOverwriteAlways));
    EXPECT_EQ(1, handle.ExtractEntry("a.txt", "G", scratch.Path().c_str(), fits.c_str(), kOverwriteAlways));
    EXPECT_FALSE(PathExists((scratch / longName).c_str()));
}

}  // namespace
