// A container write that fails part-way leaves no partial file behind (POSIX: file size limit).
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <string>

#include "CFileException.h"
#include "ContainerTestSupport.h"
#include "PackageBuilder.h"
#include "PackageDirectory.h"

using namespace testing_support;

namespace {

// Lowers the process's file size limit for its lifetime; writes past it fail with EFBIG.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    struct rlimit saved_;
    void (*previousHandler_)(int);
};

}  // namespace

TEST(ContainerWriteFailure, BuildThrowsDeletesThePartialTargetAndKeepsTheList)
{
    ScratchFolder folder("writefail");
    const std::string item = folder.File("big.bin");
    WriteFileText(item, std::string(64 * 1024, 'b'));
    const std::string target = folder.File("out.oem");

    PackageBuilder builder;
    builder.Init(target.c_str(), 0);
    ASSERT_EQ(1, builder.AddItem(item.c_str(), "G"));
    {
        FileSizeLimit limit(4096);
        EXPECT_THROW(builder.Build(), CFileException);
    }
    EXPECT_FALSE(PathExists(target.c_str()));
    EXPECT_EQ(1, builder.GetItemCount());

    // With room again the same list builds.
    EXPECT_EQ(1, builder.Build());
    EXPECT_TRUE(PathExists(target.c_str()));
}

TEST(ContainerWriteFailure, ExceptionCarriesTheSystemErrorOfTheWrite)
{
    ScratchFolder folder("writeerr");
    PackageDirectory directory;
    EntryBuffer* entry = new EntryBuffer;
    ASSERT_EQ(1, BuildMemoryEntry(std::string(10000, 'e'), "e.bin", *entry));
    directory.AddEntry(entry, "G", "e.bin", 1);
    const std::string target = folder.File("out.oem");
    FileSizeLimit limit(1024);
    try {
        WriteContainerImage(directory, target.c_str());
        ADD_FAILURE() << "no exception";
    } catch (const CFileException& e) {
        EXPECT_EQ(static_cast<long>(kErrorDiskFull), e.m_lOsError);
    }
    EXPECT_FALSE(PathExists(target.c_str()));
}
