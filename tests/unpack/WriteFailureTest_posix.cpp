// A write that fails after the destination was created: no partial file stays behind.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>

#include "ContainerImage.h"
#include "EntryExtraction.h"
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

}  // namespace
