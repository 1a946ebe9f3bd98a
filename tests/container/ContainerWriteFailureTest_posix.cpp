// A container write that fails part-way leaves no partial file (POSIX: file size limit).
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

#include "CFileException.h"
#include "PackageBuilder.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

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
