// A write that fails after the destination was created: no partial file stays behind.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>

#include "ContainerImage.h"
#include "CFileException.h"
#include "EntryExtraction.h"
#include "MappedFile.h"
#include "PackageHandle.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

// Files of this process may not grow past limit bytes while it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved_);
        struct rlimit lowered = saved_;
        lowered.rlim_cur = limit;
        EXPECT_EQ(0, setrlimit(RLIMIT_FSIZE, &lowered));
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

private:
    struct rlimit saved_;
};

TEST(WriteFailure, APartlyWrittenFileIsRemovedAndTheErrorKept)
{
    ScratchFolder scratch;
    std::string content = CompressibleBytes(64 * 1024);
    EntryInfo info = MakeInfo(kFileAttributeArchive, 13000000000ull);
    WriteBytes(scratch / "big.bin", "previous");
    int result;
    {
        FileSizeLimit limit(4096);
        SetLastErrorValue(0xDEADBEEF);
        result = WriteEntryFile(scratch.Path().c_str(), "big.bin", Data(content), Size(content), info,
                                kOverwriteAlways, nullptr, nullptr);
    }
    EXPECT_EQ(0, result);
    EXPECT_EQ(kErrorDiskFull, GetLastErrorValue());
    EXPECT_FALSE(PathExists((scratch / "big.bin").c_str()));
}

TEST(WriteFailure, ASaveThatFailsPartWayLeavesThePackageAsItWas)
{
    ScratchFolder scratch;
    const std::string path = scratch / "p.oem";
    WriteBytes(path, ContainerBytes({{"G", {StoredEntry("a.txt", "alpha")}}}));
    const std::string original = ReadBytes(path);
    PackageHandle handle;
    ASSERT_EQ(1, handle.Open(path.c_str(), PackageHandle::kOpenExisting));
    std::string big = PatternBytes(64 * 1024, 3);
    MappedFile source;
    ASSERT_EQ(1, source.CreateMemory(nullptr, Size(big), 0));
    source.Write(Data(big), Size(big));
    ASSERT_EQ(1, handle.AddBuffer(source, "big.bin", "G", MakeInfo(0x20, 1), 0));
    bool thrown = false;
    {
        FileSizeLimit limit(4096);
        try {
            handle.Save();
        } catch (const CFileException& failure) {
            thrown = true;
            EXPECT_EQ(static_cast<long>(kErrorDiskFull), failure.m_lOsError);
            EXPECT_STREQ(path.c_str(), failure.m_strFileName.GetString());
        }
    }
    EXPECT_TRUE(thrown);
    EXPECT_EQ(original, ReadBytes(path));
    EXPECT_EQ(std::vector<std::string>{"p.oem"}, ListFolder(scratch.Path()));
    // The handle still works, and saves once there is room.
    ASSERT_EQ(1, handle.ExtractEntry("a.txt", "G", scratch.Path().c_str(), "a.out", 0));
    EXPECT_EQ("alpha", ReadBytes(scratch / "a.out"));
    ASSERT_EQ(1, handle.Save());
    PackageHandle reopened;
    ASSERT_EQ(1, reopened.Open(path.c_str(), PackageHandle::kOpenExisting));
    EXPECT_EQ(2, reopened.CountEntries(nullptr));
}

TEST(WriteFailure, ASaveThatCannotReplaceThePackageKeepsItAndTheEntries)
{
    ScratchFolder scratch;
    const std::string path = scratch / "p.oem";
    WriteBytes(path, ContainerBytes({{"G", {StoredEntry("a.txt", "alpha")}}}));
    PackageHandle handle;
    ASSERT_EQ(1, handle.Open(path.c_str(), PackageHandle::kOpenExisting));
    // The package's place is taken by a folder: the new file cannot replace it.
    ASSERT_TRUE(DeletePath(path.c_str()));
    ASSERT_TRUE(MakeFolder(path));
    SetLastErrorValue(0);
    EXPECT_EQ(0, handle.Save());
    EXPECT_EQ(kErrorAccessDenied, GetLastErrorValue());
    EXPECT_TRUE(IsFolder(path));
    EXPECT_EQ(std::vector<std::string>{"p.oem"}, ListFolder(scratch.Path()));
    ASSERT_EQ(1, handle.ExtractEntry("a.txt", "G", scratch.Path().c_str(), "a.out", 0));
    EXPECT_EQ("alpha", ReadBytes(scratch / "a.out"));
}

}  // namespace
