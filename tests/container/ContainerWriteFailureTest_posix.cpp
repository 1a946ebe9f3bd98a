// A container write that fails part-way leaves no partial file (POSIX: file size limit).
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

#include "CFileException.h"
#include "EntryBuilder.h"
#include "PackageBuilder.h"
#include "PackageDirectory.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

// Lowers the file size limit to 4096 bytes for its lifetime: writes beyond
// fail with EFBIG (ERROR_DISK_FULL) instead of raising SIGXFSZ.
class SmallFileLimit {
public:
    SmallFileLimit()
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        struct rlimit lowered = saved_;
        lowered.rlim_cur = 4096;
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~SmallFileLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    struct rlimit saved_;
    void (*previous_)(int);
};

// An image of 64 KiB of data in one group, built in memory.
void BuildLargeImage(MappedFile& image)
{
    MappedFile data;
    ASSERT_EQ(1, data.CreateMemory(nullptr, 64 * 1024, 0));
    auto* entry = new EntryBuffer;
    ASSERT_EQ(1, BuildEntry(data, "big.bin", *entry, 0));
    PackageDirectory directory;
    ASSERT_EQ(1, directory.AddEntry(entry, "G", "big.bin", 1));
    ASSERT_EQ(1, BuildContainerImage(directory, image));
}

}  // namespace

TEST(ContainerWriteFailure, BuildThrowsDeletesThePartialTargetAndKeepsTheList)
{
    ScratchFolder folder;
    const std::string item = folder / "big.bin", target = folder / "out.oem";
    WriteBytes(item, std::string(64 * 1024, 'b'));
    PackageBuilder builder;
    builder.Init(target.c_str(), 0);
    ASSERT_EQ(1, builder.AddItem(item.c_str(), "G"));

    struct rlimit saved, lowered;
    getrlimit(RLIMIT_FSIZE, &saved);
    lowered = saved;
    lowered.rlim_cur = 4096;  // writes beyond fail with EFBIG
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &lowered);
    long osError = 0;
    try {
        builder.Build();
    } catch (const CFileException& e) {
        osError = e.m_lOsError;
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(static_cast<long>(kErrorDiskFull), osError);
    EXPECT_FALSE(PathExists(target.c_str()));
    EXPECT_EQ(1, builder.GetItemCount());
    EXPECT_EQ(1, builder.Build());
}

TEST(ContainerWriteFailure, ImageFileWritesThrowOrReportTheSameFailure)
{
    ScratchFolder folder;
    const std::string target = folder / "out.oem";
    MappedFile image;
    BuildLargeImage(image);

    CFileException thrown;
    bool caught = false;
    SetLastErrorValue(0);
    {
        SmallFileLimit limit;
        try {
            WriteImageFile(image, target.c_str());
        } catch (const CFileException& e) {
            thrown = e;
            caught = true;
        }
    }
    ASSERT_TRUE(caught);
    EXPECT_EQ(static_cast<long>(kErrorDiskFull), thrown.m_lOsError);
    EXPECT_EQ(CFileException::diskFull, thrown.m_cause);
    EXPECT_EQ(CString(target.c_str()), thrown.m_strFileName);
    EXPECT_EQ(kErrorDiskFull, GetLastErrorValue());
    EXPECT_FALSE(PathExists(target.c_str()));

    Status saved;
    {
        SmallFileLimit limit;
        saved = SaveImageFile(image, target.c_str());
    }
    EXPECT_EQ(kErrorDiskFull, saved.Code());
    EXPECT_FALSE(PathExists(target.c_str()));

    // A target that cannot be opened: 0 with the open's error, or that error as the Status.
    const std::string unreachable = folder / "missing/out.oem";
    SetLastErrorValue(0);
    EXPECT_EQ(0, WriteImageFile(image, unreachable.c_str()));
    EXPECT_EQ(kErrorPathNotFound, GetLastErrorValue());
    EXPECT_EQ(kErrorPathNotFound, SaveImageFile(image, unreachable.c_str()).Code());

    const Status written = SaveImageFile(image, target.c_str());
    EXPECT_TRUE(written) << written.Code();
    EXPECT_EQ(image.GetSize(), ReadBytes(target).size());
}
