// Writing decoded entries to disk: destination paths, overwrite rules, the failure callback.
#include <gtest/gtest.h>

#include <cstring>

#include "EntryExtraction.h"
#include "FileComparison.h"
#include "TestSupport.h"

namespace {

constexpr uint64_t kEntrySeconds = 13000000000ull;

TEST(DestinationPath, AddsOneSeparatorUnlessTheFolderEndsInOneOrInADriveColon)
{
    char path[kMaxPath];
    ASSERT_EQ(1, BuildDestinationPath("dir", "a.txt", path));
    EXPECT_EQ(std::string("dir") + kPathSeparator + "a.txt", path);
    ASSERT_EQ(1, BuildDestinationPath((std::string("dir") + kPathSeparator).c_str(), "a.txt", path));
    EXPECT_EQ(std::string("dir") + kPathSeparator + "a.txt", path);
    ASSERT_EQ(1, BuildDestinationPath("dir\\", "a.txt", path));
    EXPECT_STREQ("dir\\a.txt", path);
    ASSERT_EQ(1, BuildDestinationPath("C:", "a.txt", path));
    EXPECT_STREQ("C:a.txt", path);
}

TEST(DestinationPath, RefusesWhatDoesNotFitInsteadOfCuttingIt)
{
    char path[kMaxPath];
    std::string folder(200, 'f');
    std::string name(58, 'n');  // 200 + 1 + 58 = 259 bytes and the zero
    ASSERT_EQ(1, BuildDestinationPath(folder.c_str(), name.c_str(), path));
    EXPECT_EQ(259u, std::strlen(path));
    SetLastErrorValue(0);
    EXPECT_EQ(0, BuildDestinationPath(folder.c_str(), (name + "x").c_str(), path));
    EXPECT_EQ(kErrorFilenameExcedRange, GetLastErrorValue());
    EXPECT_STREQ("", path);
    std::string hugeFolder(300, 'f');
    EXPECT_EQ(0, BuildDestinationPath(hugeFolder.c_str(), "a", path));
}

TEST(DestinationPath, OnlyBareFileNamesAreAccepted)
{
    for (const char* good : {"a.txt", "setup.exe", "...", "a..b", "name with spaces"})
        EXPECT_EQ(1, IsBareFileName(good)) << good;
    for (const char* bad : std::initializer_list<const char*>{"", ".", "..", "a\\b", "a/b", "c:x", "\\", "/etc", nullptr})
        EXPECT_EQ(0, IsBareFileName(bad)) << (bad ? bad : "(null)");
}

class EntryWriteTest : public ::testing::Test {
protected:
    int Write(int mode, const std::string& name = "file.bin")
    {
        return WriteEntryFile(scratch.Path().c_str(), name.c_str(), content.data(),
                              static_cast<uint32_t>(content.size()), info, mode, nullptr, nullptr);
    }
    // An existing destination with the given last-write time in seconds.
    std::string Existing(uint64_t seconds)
    {
        std::string path = scratch / "file.bin";
        WriteBytes(path, Bytes("old content"));
        SetFileTimes(path, TimeOfSeconds(seconds), TimeOfSeconds(seconds), TimeOfSeconds(seconds));
        return path;
    }

    ScratchFolder scratch;
    std::vector<uint8_t> content = Bytes("new content");
    EntryInfo info = MakeInfo(kFileAttributeArchive, kEntrySeconds);
};

TEST_F(EntryWriteTest, ModeZeroAlwaysRewritesAndRestoresTheEntrysTimesAndAttributes)
{
    std::string path = Existing(kEntrySeconds + 100);
    info.attributes = kFileAttributeArchive | kFileAttributeReadOnly;
    ASSERT_EQ(1, Write(kOverwriteAlways));
    // Times first: reading the content may move the last-access time.
    FileTime creation, lastAccess, lastWrite;
    GetFileTimes(path, &creation, &lastAccess, &lastWrite);
    EXPECT_EQ(content, ReadBytes(path));
    EXPECT_EQ(info.lastWriteTime, lastWrite);
    EXPECT_EQ(info.lastAccessTime, lastAccess);
    EXPECT_NE(0u, GetPathAttributes(path.c_str()) & kFileAttributeReadOnly);
}

TEST_F(EntryWriteTest, ModeOneKeepsAFileAsNewAsTheEntryByLastWriteTime)
{
    struct Case {
        int64_t offset;  // destination time minus entry time, seconds
        bool kept;
    } cases[] = {{0, true}, {60, true}, {-60, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        std::string path = Existing(kEntrySeconds + c.offset);
        ASSERT_EQ(1, Write(kOverwriteIfNewerTime));
        EXPECT_EQ(c.kept ? Bytes("old content") : content, ReadBytes(path));
    }
}

TEST_F(EntryWriteTest, ModeOneIgnoresTheCreationTime)
{
    std::string path = Existing(kEntrySeconds);
    // Creation time far in the future of the destination's: still kept.
    info.creationTime = TimeOfSeconds(kEntrySeconds + 999999);
    ASSERT_EQ(1, Write(kOverwriteIfNewerTime));
    EXPECT_EQ(Bytes("old content"), ReadBytes(path));
}

TEST_F(EntryWriteTest, AnUndecidableVersionNeverKeepsTheFile)
{
    // A text file has no version block: the comparison cannot tell, so the
    // entry is written even in the version modes.
    for (int mode : {kOverwriteIfNewerVersion, kOverwriteIfNewerVersionThenTime}) {
        SCOPED_TRACE(mode);
        std::string path = Existing(kEntrySeconds + 60);
        ASSERT_EQ(1, Write(mode));
        EXPECT_EQ(content, ReadBytes(path));
    }
}

TEST_F(EntryWriteTest, UnknownModesWrite)
{
    std::string path = Existing(kEntrySeconds + 60);
    ASSERT_EQ(1, Write(7));
    EXPECT_EQ(content, ReadBytes(path));
}

TEST_F(EntryWriteTest, AMissingDestinationIsCreatedInEveryMode)
{
    for (int mode : {0, 1, 2, 3}) {
        std::string name = "fresh" + std::to_string(mode) + ".bin";
        ASSERT_EQ(1, Write(mode, name));
        EXPECT_EQ(content, ReadBytes(scratch / name));
    }
}

TEST_F(EntryWriteTest, AnEmptyEntryMakesAnEmptyFile)
{
    content.clear();
    ASSERT_EQ(1, Write(kOverwriteAlways, "empty.bin"));
    EXPECT_TRUE(PathExists((scratch / "empty.bin").c_str()));
    EXPECT_TRUE(ReadBytes(scratch / "empty.bin").empty());
}

struct CallbackLog {
    int calls = 0;
    int answer = 0;
    std::string path;
    uint32_t error = 0;
    std::vector<uint8_t> data;
    EntryInfo info = {};
};

int RecordFailure(ExtractFailureInfo* failure, void* data)
{
    CallbackLog* log = static_cast<CallbackLog*>(data);
    ++log->calls;
    log->path = failure->path;
    log->error = failure->error;
    log->data.assign(failure->data, failure->data + failure->size);
    log->info.attributes = failure->attributes;
    log->info.creationTime = failure->creationTime;
    log->info.lastAccessTime = failure->lastAccessTime;
    log->info.lastWriteTime = failure->lastWriteTime;
    return log->answer;
}

TEST_F(EntryWriteTest, ADestinationThatCannotBeCreatedGoesToTheCallback)
{
    // A folder stands where the file should go: creating the file fails.
    std::string blocked = scratch / "blocked.bin";
    ASSERT_TRUE(CreateFolder(blocked.c_str()));
    CallbackLog log;
    log.answer = 7;
    EXPECT_EQ(7, WriteEntryFile(scratch.Path().c_str(), "blocked.bin", content.data(),
                                static_cast<uint32_t>(content.size()), info, kOverwriteAlways, RecordFailure, &log));
    ASSERT_EQ(1, log.calls);
    EXPECT_EQ(blocked, log.path);
    EXPECT_EQ(kErrorAccessDenied, log.error);
    EXPECT_EQ(content, log.data);
    EXPECT_EQ(info.attributes, log.info.attributes);
    EXPECT_EQ(info.creationTime, log.info.creationTime);
    EXPECT_EQ(info.lastAccessTime, log.info.lastAccessTime);
    EXPECT_EQ(info.lastWriteTime, log.info.lastWriteTime);

    log.answer = 0;
    SetLastErrorValue(0xDEADBEEF);
    EXPECT_EQ(0, WriteEntryFile(scratch.Path().c_str(), "blocked.bin", content.data(),
                                static_cast<uint32_t>(content.size()), info, kOverwriteAlways, RecordFailure, &log));
    EXPECT_EQ(2, log.calls);
    EXPECT_EQ(kErrorAccessDenied, GetLastErrorValue());

    SetLastErrorValue(0xDEADBEEF);
    EXPECT_EQ(0, WriteEntryFile(scratch.Path().c_str(), "blocked.bin", content.data(),
                                static_cast<uint32_t>(content.size()), info, kOverwriteAlways, nullptr, nullptr));
    EXPECT_EQ(kErrorAccessDenied, GetLastErrorValue());
    EXPECT_TRUE(IsFolder(blocked));
}

TEST_F(EntryWriteTest, AMissingFolderFailsWithPathNotFound)
{
    CallbackLog log;
    log.answer = 0;
    SetLastErrorValue(0xDEADBEEF);
    EXPECT_EQ(0, WriteEntryFile((scratch / "no-such-folder").c_str(), "a.bin", content.data(),
                                static_cast<uint32_t>(content.size()), info, kOverwriteAlways, RecordFailure, &log));
    EXPECT_EQ(1, log.calls);
    EXPECT_EQ(kErrorPathNotFound, log.error);
    EXPECT_EQ(kErrorPathNotFound, GetLastErrorValue());
}

TEST(FileTimes, CompareTimesLooksAtCreationOnlyWhenAsked)
{
    ScratchFolder scratch;
    std::string path = scratch / "t.bin";
    WriteBytes(path, Bytes("x"));
    FileTime t = TimeOfSeconds(kEntrySeconds);
    SetFileTimes(path, t, t, t);
    FileTime later = TimeOfSeconds(kEntrySeconds + 1);
    FileTime earlier = TimeOfSeconds(kEntrySeconds - 1);
    EXPECT_EQ(0, CompareTimes(path.c_str(), t, t, 0));
    EXPECT_EQ(-1, CompareTimes(path.c_str(), t, later, 1));
    EXPECT_EQ(1, CompareTimes(path.c_str(), t, earlier, 1));
    // A different creation time decides only when creation is compared.
    EXPECT_EQ(0, CompareTimes(path.c_str(), later, t, 1));
    EXPECT_EQ(-1, CompareTimes(path.c_str(), later, t, 0));
    EXPECT_EQ(1, CompareTimes(path.c_str(), earlier, later, 0));
    EXPECT_EQ(-2, CompareTimes((scratch / "missing.bin").c_str(), t, t, 1));
}

TEST(FileTimes, CompareFileTimesOrdersTheWholeSixtyFourBits)
{
    FileTime low = {0xFFFFFFFFu, 1};
    FileTime high = {0, 2};
    EXPECT_EQ(-1, CompareFileTimes(low, high));
    EXPECT_EQ(1, CompareFileTimes(high, low));
    EXPECT_EQ(0, CompareFileTimes(high, high));
}

}  // namespace
