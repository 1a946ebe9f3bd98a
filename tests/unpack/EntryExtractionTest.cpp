// Writing decoded entries to disk: destination paths, overwrite rules, the failure callback.
#include <gtest/gtest.h>

#include <cstring>

#include "EntryExtraction.h"
#include "ContainerImage.h"
#include "FileComparison.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

constexpr uint64_t kEntrySeconds = 13000000000ull;
const std::string kSeparator(1, kPathSeparator);

TEST(DestinationPath, OneSeparatorUnlessTheFolderEndsInOneOrInADriveColon)
{
    char path[kMaxPath];
    for (const char* folder : {"dir", "dir\\", "C:"}) {
        ASSERT_EQ(1, BuildDestinationPath(folder, "a.txt", path));
        std::string expected = std::string(folder) + (std::strcmp(folder, "dir") == 0 ? kSeparator : "") + "a.txt";
        EXPECT_EQ(expected, path);
    }
    ASSERT_EQ(1, BuildDestinationPath(("dir" + kSeparator).c_str(), "a.txt", path));
    EXPECT_EQ("dir" + kSeparator + "a.txt", path);
    // 200 + 1 + 58 = 259 bytes and the zero fit; one byte more does not.
    ASSERT_EQ(1, BuildDestinationPath(std::string(200, 'f').c_str(), std::string(58, 'n').c_str(), path));
    SetLastErrorValue(0);
    EXPECT_EQ(0, BuildDestinationPath(std::string(200, 'f').c_str(), std::string(59, 'n').c_str(), path));
    EXPECT_EQ(kErrorFilenameExcedRange, GetLastErrorValue());
    EXPECT_STREQ("", path);
    EXPECT_EQ(0, BuildDestinationPath(std::string(300, 'f').c_str(), "a", path));
}

TEST(DestinationPath, OnlyBareFileNamesAreAccepted)
{
    for (const char* good : {"a.txt", "...", "a..b", "name with spaces"})
        EXPECT_EQ(1, IsBareFileName(good)) << good;
    for (const char* bad : {"", ".", "..", "a\\b", "a/b", "c:x", "\\"})
        EXPECT_EQ(0, IsBareFileName(bad)) << bad;
    EXPECT_EQ(0, IsBareFileName(nullptr));
}

TEST(DestinationPath, DeviceNamesAreNeverFileNames)
{
    for (const char* device : {"CON", "prn", "Aux", "nUl", "COM1", "com9", "LPT1", "lpt9", "con.txt", "NUL.tar.gz",
                               "CON ", "con.", "aux . ", "COM1 .log", "lpt3.txt. .", "Prn  .x"}) {
        EXPECT_EQ(1, IsWindowsDeviceName(device)) << device;
        EXPECT_EQ(0, IsBareFileName(device)) << device;
    }
    for (const char* name : {"CONSOLE", "xcon", "CO", "COM0", "LPT0", "COM10", "LPT1x", "com", "NULL.txt", ".con",
                             " con", "A.CON", "COM\x81", "...", "con_"}) {
        EXPECT_EQ(0, IsWindowsDeviceName(name)) << name;
        EXPECT_EQ(1, IsBareFileName(name)) << name;
    }
    EXPECT_EQ(0, IsWindowsDeviceName(nullptr));
}

struct CallbackLog {
    int calls = 0;
    int answer = 0;
    ExtractFailureInfo seen = {};
    std::string path;
    std::string data;
};

int RecordFailure(ExtractFailureInfo* failure, void* context)
{
    CallbackLog* log = static_cast<CallbackLog*>(context);
    ++log->calls;
    log->seen = *failure;
    log->path = failure->path;
    log->data.assign(failure->data, failure->data + failure->size);
    return log->answer;
}

class EntryWriteTest : public ::testing::Test {
protected:
    int Write(int mode, ExtractFailureCallback callback = nullptr, void* context = nullptr)
    {
        return WriteEntryFile(scratch.Path().c_str(), "file.bin", Data(content), Size(content), info, mode, callback,
                              context);
    }
    // An existing destination whose times are the entry's shifted by offset seconds.
    void Existing(int64_t offset)
    {
        WriteBytes(path, "old content");
        SetFileTimes(path, TimeOfSeconds(kEntrySeconds + offset));
    }

    ScratchFolder scratch;
    std::string path = scratch / "file.bin";
    std::string content = "new content";
    EntryInfo info = MakeInfo(kFileAttributeArchive, kEntrySeconds);
};

TEST_F(EntryWriteTest, ModeZeroAlwaysRewritesAndRestoresTimesAndAttributes)
{
    Existing(100);
    info.attributes |= kFileAttributeReadOnly;
    ASSERT_EQ(1, Write(kOverwriteAlways));
    EXPECT_EQ(info.lastWriteTime, LastWriteTime(path));
    EXPECT_NE(0u, GetPathAttributes(path.c_str()) & kFileAttributeReadOnly);
    EXPECT_EQ(content, ReadBytes(path));
}

TEST_F(EntryWriteTest, ADeviceNameIsRefusedAsAnInvalidName)
{
    for (const char* device : {"NUL", "con.txt", "COM1 . "}) {
        SetLastErrorValue(0);
        EXPECT_EQ(0, WriteEntryFile(scratch.Path().c_str(), device, Data(content), Size(content), info,
                                    kOverwriteAlways, nullptr, nullptr))
            << device;
        EXPECT_EQ(kErrorInvalidName, GetLastErrorValue()) << device;
    }
    EXPECT_TRUE(ListFolder(scratch.Path()).empty());
}

TEST_F(EntryWriteTest, ModeOneKeepsAFileAsNewByLastWriteTimeOnly)
{
    for (int64_t offset : {0, 60, -60}) {
        Existing(offset);
        // A creation time far ahead must not matter.
        info.creationTime = TimeOfSeconds(kEntrySeconds + 999999);
        ASSERT_EQ(1, Write(kOverwriteIfNewerTime));
        EXPECT_EQ(offset >= 0 ? std::string("old content") : content, ReadBytes(path)) << offset;
    }
}

TEST_F(EntryWriteTest, UndecidableVersionsAndUnknownModesWrite)
{
    // Text files carry no version block: the version modes cannot tell and write.
    for (int mode : {2, 3, 7}) {
        Existing(60);
        ASSERT_EQ(1, Write(mode));
        EXPECT_EQ(content, ReadBytes(path)) << mode;
    }
}

TEST_F(EntryWriteTest, ADestinationThatCannotBeCreatedGoesToTheCallback)
{
    // A folder stands where the file should go.
    ASSERT_TRUE(CreateFolder(path.c_str()));
    CallbackLog log;
    log.answer = 7;
    EXPECT_EQ(7, Write(kOverwriteAlways, RecordFailure, &log));
    ASSERT_EQ(1, log.calls);
    EXPECT_EQ(path, log.path);
    EXPECT_EQ(kErrorAccessDenied, log.seen.error);
    EXPECT_EQ(content, log.data);
    EXPECT_EQ(info.attributes, log.seen.attributes);
    EXPECT_EQ(info.creationTime, log.seen.creationTime);
    EXPECT_EQ(info.lastAccessTime, log.seen.lastAccessTime);
    EXPECT_EQ(info.lastWriteTime, log.seen.lastWriteTime);

    log.answer = 0;
    SetLastErrorValue(0xDEADBEEF);
    EXPECT_EQ(0, Write(kOverwriteAlways, RecordFailure, &log));
    EXPECT_EQ(kErrorAccessDenied, GetLastErrorValue());
    SetLastErrorValue(0xDEADBEEF);
    EXPECT_EQ(0, Write(kOverwriteAlways));
    EXPECT_EQ(kErrorAccessDenied, GetLastErrorValue());
    EXPECT_EQ(2, log.calls);
    EXPECT_TRUE(IsFolder(path));
}

TEST(FileTimes, CompareTimesLooksAtCreationOnlyWhenAsked)
{
    ScratchFolder scratch;
    std::string path = scratch / "t.bin";
    WriteBytes(path, "x");
    FileTime t = TimeOfSeconds(kEntrySeconds);
    SetFileTimes(path, t);
    FileTime later = TimeOfSeconds(kEntrySeconds + 1), earlier = TimeOfSeconds(kEntrySeconds - 1);
    EXPECT_EQ(0, CompareTimes(path.c_str(), t, t, 0));
    EXPECT_EQ(-1, CompareTimes(path.c_str(), t, later, 1));
    EXPECT_EQ(1, CompareTimes(path.c_str(), t, earlier, 1));
    EXPECT_EQ(0, CompareTimes(path.c_str(), later, t, 1));
    EXPECT_EQ(-1, CompareTimes(path.c_str(), later, t, 0));
    EXPECT_EQ(1, CompareTimes(path.c_str(), earlier, later, 0));
    EXPECT_EQ(-2, CompareTimes((scratch / "missing.bin").c_str(), t, t, 1));
    // The high word decides before the low word.
    EXPECT_EQ(-1, CompareFileTimes({0xFFFFFFFFu, 1}, {0, 2}));
}

}  // namespace
