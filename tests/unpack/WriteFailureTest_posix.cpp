// A write that fails after the destination was created: no partial file stays behind.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>

#include "EntryExtraction.h"
#include "TestSupport.h"

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
    std::vector<uint8_t> content = PatternBytes(64 * 1024);
    EntryInfo info = MakeInfo(kFileAttributeArchive, 13000000000ull);
    WriteBytes(scratch / "big.bin", Bytes("previous"));
    int result;
    {
        FileSizeLimit limit(4096);
        SetLastErrorValue(0xDEADBEEF);
        result = WriteEntryFile(scratch.Path().c_str(), "big.bin", content.data(),
                                static_cast<uint32_t>(content.size()), info, kOverwriteAlways, nullptr, nullptr);
    }
    EXPECT_EQ(0, result);
    EXPECT_EQ(kErrorDiskFull, GetLastErrorValue());
    EXPECT_FALSE(PathExists((scratch / "big.bin").c_str()));
}

}  // namespace
