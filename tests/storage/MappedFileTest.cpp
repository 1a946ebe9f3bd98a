// MappedFile: memory blocks, file mappings, the clamped cursor and the kept error codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "MappedFile.h"
#ifdef _WIN32
#include "CFile.h"
#endif
#include "SystemApi.h"

#ifdef _WIN32
#include <direct.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
const char kSeparator = '\\';
int MakeFolder(const std::string& path) { return _mkdir(path.c_str()); }
int RemoveFolder(const std::string& path) { return _rmdir(path.c_str()); }
#else
const char kSeparator = '/';
int MakeFolder(const std::string& path) { return mkdir(path.c_str(), 0755); }
int RemoveFolder(const std::string& path) { return rmdir(path.c_str()); }
#endif

constexpr uint32_t kSentinel = 0xdeadbeef;

std::string TempPath(const std::string& leaf)
{
#ifdef _WIN32
    const char* dir = std::getenv("TEMP");
    const char* fallback = ".";
#else
    const char* dir = std::getenv("TMPDIR");
    const char* fallback = "/tmp";
#endif
    return std::string(dir ? dir : fallback) + kSeparator + leaf;
}

// A file with the given bytes, removed again at the end of the test.
class TempFile {
public:
    TempFile(const std::string& leaf, const std::string& contents) : path_(TempPath(leaf))
    {
        FILE* f = std::fopen(path_.c_str(), "wb");
        EXPECT_NE(nullptr, f);
        if (f) {
            if (!contents.empty())
                std::fwrite(contents.data(), 1, contents.size(), f);
            std::fclose(f);
        }
    }
    explicit TempFile(const std::string& leaf) : path_(TempPath(leaf)) { std::remove(path_.c_str()); }
    ~TempFile() { std::remove(path_.c_str()); }
    const char* c_str() const { return path_.c_str(); }

    std::string Contents() const
    {
        std::string out;
        FILE* f = std::fopen(path_.c_str(), "rb");
        if (!f)
            return "<missing>";
        char buf[256];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            out.append(buf, n);
        std::fclose(f);
        return out;
    }

private:
    std::string path_;
};

void ExpectClosed(const MappedFile& m)
{
    EXPECT_EQ(1, m.IsClosed());
    EXPECT_EQ(0, m.IsMemory());
    EXPECT_EQ(0, m.IsFile());
    EXPECT_EQ(nullptr, m.GetData());
    EXPECT_EQ(0u, m.GetLength());
    EXPECT_EQ(0u, m.GetCapacity());
    EXPECT_EQ(0u, m.GetPosition());
    EXPECT_EQ(0u, m.GetFileHandle());
    EXPECT_EQ(0, m.AlreadyExisted());
}

}  // namespace

// --- Memory blocks ---------------------------------------------------------------------

TEST(MappedFileMemory, CapacityDefaultsToLengthAndSizeFollowsThePosition)
{
    MappedFile m;
    SetLastErrorValue(kSentinel);
    ASSERT_EQ(1, m.CreateMemory(nullptr, 100, 0));
    EXPECT_EQ(kErrorSuccess, GetLastErrorValue());
    EXPECT_EQ(1, m.IsMemory());
    EXPECT_EQ(100u, m.GetCapacity());
    EXPECT_EQ(0u, m.GetFileHandle());

    MappedFile larger(nullptr, 100, 4096);
    EXPECT_EQ(100u, larger.GetLength());
    EXPECT_EQ(4096u, larger.GetCapacity());
    for (uint32_t i = 0; i < 4096; ++i)
        ASSERT_EQ(0, larger.GetData()[i]) << "a fresh block reads as zero";
    EXPECT_EQ(100u, larger.GetSize());
    std::vector<uint8_t> data(150, 7);
    EXPECT_EQ(150u, larger.Write(data.data(), 150));
    EXPECT_EQ(150u, larger.GetSize());
    EXPECT_EQ(0u, larger.Seek(0, MappedFile::kBegin));
    EXPECT_EQ(100u, larger.GetSize());
}

TEST(MappedFileMemory, RefusedCreationsChangeNothing)
{
    MappedFile m;
    SetLastErrorValue(kSentinel);
    EXPECT_EQ(0, m.CreateMemory(nullptr, 0, 4096));
    EXPECT_EQ(kSentinel, GetLastErrorValue());
    ExpectClosed(m);

    ASSERT_EQ(1, m.CreateMemory(nullptr, 10, 0));
    uint8_t* view = m.GetData();
    EXPECT_EQ(3u, m.Write("abc", 3));
    TempFile file("mapped_refused.bin", "content");
    SetLastErrorValue(kSentinel);
    EXPECT_EQ(0, m.CreateMemory(nullptr, 50, 0));
    EXPECT_EQ(0, m.OpenFile(file.c_str(), 1, kOpenExisting, 0));
    EXPECT_EQ(kSentinel, GetLastErrorValue());
    EXPECT_EQ(1, m.IsMemory());
    EXPECT_EQ(view, m.GetData());
    EXPECT_EQ(10u, m.GetLength());
    EXPECT_EQ(3u, m.GetPosition());
    EXPECT_EQ(0, std::memcmp(view, "abc", 3));
}

TEST(MappedFileMemory, CloseReturnsEveryFieldToZeroAndAllowsReuse)
{
    MappedFile m(nullptr, 64, 128);
    m.Seek(10, MappedFile::kBegin);
    m.Close(1);
    ExpectClosed(m);
    m.Close();  // closing twice is harmless
    ExpectClosed(m);
    uint8_t byte = 0;
    EXPECT_EQ(0u, m.Read(&byte, 1));
    EXPECT_EQ(0u, m.Write(&byte, 1));
    EXPECT_EQ(0u, m.SetLength(10));
    ASSERT_EQ(1, m.CreateMemory(nullptr, 8, 0));
    EXPECT_EQ(8u, m.GetCapacity());
}

TEST(MappedFileMemory, ClosedBlocksGiveTheirMemoryBack)
{
    // 48 blocks of 64 MiB make 3 GiB: more than a 32-bit process can hold at
    // once, so a close that leaked the block would fail a later creation.
    const uint32_t size = 64u << 20;
    for (int i = 0; i < 48; ++i) {
        MappedFile m;
        ASSERT_EQ(1, m.CreateMemory(nullptr, size, 0)) << "block " << i;
        m.GetData()[size - 1] = 1;
        m.Close();
        ExpectClosed(m);
    }
}

TEST(MappedFileMemory, NamedBlockIsSharedAndReportsThatItExisted)
{
    std::string name = "OemStorageTestBlock" + std::to_string(std::rand());
    MappedFile first;
    ASSERT_EQ(1, first.CreateMemory(name.c_str(), 100, 0));
    EXPECT_EQ(0, first.AlreadyExisted());
    EXPECT_EQ(5u, first.Write("hello", 5));

    MappedFile second;
    SetLastErrorValue(kSentinel);
    ASSERT_EQ(1, second.CreateMemory(name.c_str(), 100, 0));
    EXPECT_EQ(kErrorAlreadyExists, GetLastErrorValue());
    EXPECT_EQ(1, second.AlreadyExisted());
    EXPECT_EQ(0, std::memcmp(second.GetData(), "hello", 5));
    second.Close();
    EXPECT_EQ(0, second.AlreadyExisted());
}

// --- Cursor ----------------------------------------------------------------------------

TEST(MappedFileCursor, TransfersClampAtTheCapacity)
{
    MappedFile m(nullptr, 64, 0);
    uint8_t buf[10];
    EXPECT_EQ(60u, m.Seek(-4, MappedFile::kEnd));
    EXPECT_EQ(4u, m.Read(buf, 10));
    EXPECT_EQ(64u, m.GetPosition());
    EXPECT_EQ(0u, m.Read(buf, 10));
    EXPECT_EQ(60u, m.Seek(60, MappedFile::kBegin));
    EXPECT_EQ(4u, m.Write("0123456789", 10));
    EXPECT_EQ(0, std::memcmp(m.GetData() + 60, "0123", 4));
    EXPECT_EQ(0u, m.Write("x", 1));
}

TEST(MappedFileCursor, RelativeSeeksClampAbsoluteSeeksDoNot)
{
    MappedFile m(nullptr, 50, 100);
    m.Seek(3, MappedFile::kBegin);
    EXPECT_EQ(0u, m.Seek(-5, MappedFile::kCurrent));
    EXPECT_EQ(95u, m.Seek(-5, MappedFile::kEnd));  // relative to the capacity, not the length
    EXPECT_EQ(100u, m.Seek(10, MappedFile::kEnd));
    EXPECT_EQ(100u, m.Seek(1, MappedFile::kCurrent));
    EXPECT_EQ(0u, m.Seek(-1000, MappedFile::kEnd));
    m.Seek(40, MappedFile::kBegin);
    EXPECT_EQ(40u, m.Seek(7, 9));
    EXPECT_EQ(40u, m.Seek(7, -1));

    // An absolute seek may leave the view; transfers there move nothing.
    EXPECT_EQ(5000u, m.Seek(5000, MappedFile::kBegin));
    EXPECT_EQ(5000u, m.GetSize());
    uint8_t buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(0u, m.Read(buf, 4));
    EXPECT_EQ(0u, m.Write(buf, 4));
    EXPECT_EQ(5000u, m.GetPosition());
    EXPECT_EQ(100u, m.Seek(0, MappedFile::kCurrent));
    // A position that is negative as a signed value falls back to 0.
    m.Seek(static_cast<int32_t>(0x80000000u), MappedFile::kBegin);
    EXPECT_EQ(0x80000000u, m.GetPosition());
    EXPECT_EQ(0u, m.Read(buf, 4));
    EXPECT_EQ(0u, m.Seek(0, MappedFile::kCurrent));
}

TEST(MappedFileCursor, SetLengthClampsAndResetsThePosition)
{
    MappedFile m(nullptr, 100, 4096);
    m.Seek(30, MappedFile::kBegin);
    EXPECT_EQ(100u, m.SetLength(100));
    EXPECT_EQ(30u, m.GetPosition());  // same length: nothing changes
    EXPECT_EQ(4096u, m.SetLength(5000));
    EXPECT_EQ(4096u, m.GetLength());
    EXPECT_EQ(0u, m.GetPosition());
    m.Seek(30, MappedFile::kBegin);
    EXPECT_EQ(10u, m.SetLength(10));
    EXPECT_EQ(10u, m.GetLength());
    EXPECT_EQ(0u, m.GetPosition());
    EXPECT_EQ(4096u, m.GetCapacity());
}

// --- Files -------------------------------------------------------------------------------

TEST(MappedFileFile, ReadOnlyMappingShowsTheFileAndRefusesWrites)
{
    TempFile file("mapped_ro.bin", "0123456789");
    MappedFile m;
    SetLastErrorValue(kSentinel);
    ASSERT_EQ(1, m.OpenFile(file.c_str(), 0x101, kOpenExisting, 0));  // only the low byte counts
    EXPECT_EQ(1, m.IsFile());
    EXPECT_EQ(10u, m.GetLength());
    EXPECT_EQ(10u, m.GetCapacity());
    EXPECT_NE(0u, m.GetFileHandle());
    FileTime created, accessed, written;
    EXPECT_TRUE(GetHandleTimes(m.GetFileHandle(), &created, &accessed, &written));
    EXPECT_EQ(0, std::memcmp(m.GetData(), "0123456789", 10));
    EXPECT_EQ(0u, m.Write("xx", 2));
    EXPECT_EQ(0u, m.GetPosition());
    char buf[4] = {};
    m.Seek(6, MappedFile::kBegin);
    EXPECT_EQ(4u, m.Read(buf, 4));
    EXPECT_EQ(0, std::memcmp(buf, "6789", 4));
    m.Close();
    EXPECT_EQ("0123456789", file.Contents());
}

TEST(MappedFileFile, ReadWriteMappingWritesThroughAndExtraSizeLengthens)
{
    TempFile file("mapped_rw.bin", "abcdef");
    {
        MappedFile m(file.c_str(), 0x100, kOpenExisting, 4);  // low byte 0: read-write
        ASSERT_EQ(1, m.IsFile());
        EXPECT_EQ(10u, m.GetLength());
        EXPECT_EQ(10u, m.GetCapacity());
        EXPECT_EQ(0, std::memcmp(m.GetData(), "abcdef\0\0\0\0", 10));
        m.Seek(2, MappedFile::kBegin);
        EXPECT_EQ(2u, m.Write("XY", 2));
        m.Seek(-1, MappedFile::kEnd);
        EXPECT_EQ(1u, m.Write("!", 1));
        m.Close(1);
    }
    EXPECT_EQ(std::string("abXYef\0\0\0!", 10), file.Contents());
}

TEST(MappedFileFile, CreationDispositionIsPassedThrough)
{
    TempFile fresh("mapped_new.bin");
    MappedFile m;
    ASSERT_EQ(1, m.OpenFile(fresh.c_str(), 0, kCreateNew, 16));
    EXPECT_EQ(16u, m.GetCapacity());
    m.Close();
    EXPECT_EQ(std::string(16, '\0'), fresh.Contents());

    SetLastErrorValue(kSentinel);
    EXPECT_EQ(0, m.OpenFile(fresh.c_str(), 0, kCreateNew, 16));
    EXPECT_EQ(kErrorFileExists, GetLastErrorValue());
    ExpectClosed(m);

    SetLastErrorValue(kSentinel);
    EXPECT_EQ(0, m.OpenFile(fresh.c_str(), 1, 0, 0));
    EXPECT_EQ(kErrorInvalidParameter, GetLastErrorValue());

    // Truncation leaves nothing to map.
    SetLastErrorValue(kSentinel);
    EXPECT_EQ(0, m.OpenFile(fresh.c_str(), 0, kTruncateExisting, 0));
    EXPECT_EQ(kErrorFileInvalid, GetLastErrorValue());
    EXPECT_EQ("", fresh.Contents());
}

TEST(MappedFileFile, FailedOpensKeepTheFailingCallsError)
{
    struct Case {
        const char* what;
        std::string path;
        int readOnly;
        uint32_t extra;
        uint32_t error;
    };
    TempFile empty("mapped_empty.bin", "");
    TempFile ten("mapped_ten.bin", "0123456789");
    std::string folderPath = TempPath("mapped_folder_zz");
    RemoveFolder(folderPath);
    ASSERT_EQ(0, MakeFolder(folderPath));
    Case cases[] = {
        {"empty file", empty.c_str(), 1, 0, kErrorFileInvalid},
        {"empty file, read-write", empty.c_str(), 0, 0, kErrorFileInvalid},
        {"read-only mapping beyond the file", ten.c_str(), 1, 5, kErrorNotEnoughMemory},
        {"missing file", TempPath("mapped_missing_zz.bin"), 1, 0, kErrorFileNotFound},
        {"missing folder", TempPath("mapped_no_folder_zz") + kSeparator + "x.bin", 1, 0, kErrorPathNotFound},
        {"a folder", folderPath, 1, 0, kErrorAccessDenied},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MappedFile m;
        SetLastErrorValue(kSentinel);
        EXPECT_EQ(0, m.OpenFile(c.path.c_str(), c.readOnly, kOpenExisting, c.extra));
        EXPECT_EQ(c.error, GetLastErrorValue());
        ExpectClosed(m);
    }
    EXPECT_EQ(0, RemoveFolder(folderPath));
    // The handles taken by the failed opens were released: the files can go.
    EXPECT_EQ(0, std::remove(empty.c_str()));
    EXPECT_EQ(0, std::remove(ten.c_str()));
}

TEST(MappedFileFile, SecondOpenLeavesTheFirstMappingIntact)
{
    TempFile a("mapped_first.bin", "first"), b("mapped_second.bin", "second!");
    MappedFile m(a.c_str(), 1, kOpenExisting, 0);
    ASSERT_EQ(1, m.IsFile());
    const uint8_t* view = m.GetData();
    NativeHandle handle = m.GetFileHandle();
    EXPECT_EQ(0, m.OpenFile(b.c_str(), 1, kOpenExisting, 0));
    EXPECT_EQ(0, m.CreateMemory(nullptr, 10, 0));
    EXPECT_EQ(view, m.GetData());
    EXPECT_EQ(handle, m.GetFileHandle());
    EXPECT_EQ(5u, m.GetLength());
    EXPECT_EQ(0, std::memcmp(view, "first", 5));
}

#ifdef _WIN32
// A read-only open shares writing: a file its writer holds open (shared for
// reading) maps, and stays open to writers while mapped. A read-write open
// admits readers only, and a file held without read sharing cannot be mapped.
// (POSIX files have no share modes.)
TEST(MappedFileFile, ReadOnlyOpensShareWritingReadWriteOpensDoNot)
{
    TempFile file("mapped_shared.bin", "data");
    {
        CFile holder;
        ASSERT_TRUE(holder.Open(file.c_str(), CFile::modeReadWrite | CFile::shareDenyWrite));
        MappedFile reader(file.c_str(), 1, kOpenExisting, 0);
        ASSERT_EQ(1, reader.IsFile());
        EXPECT_EQ(0, std::memcmp(reader.GetData(), "data", 4));
        MappedFile writer;
        SetLastErrorValue(kSentinel);
        EXPECT_EQ(0, writer.OpenFile(file.c_str(), 0, kOpenExisting, 0));
        EXPECT_EQ(kErrorSharingViolation, GetLastErrorValue());
        ExpectClosed(writer);
    }
    {
        CFile holder;
        ASSERT_TRUE(holder.Open(file.c_str(), CFile::modeRead | CFile::shareExclusive));
        MappedFile reader;
        SetLastErrorValue(kSentinel);
        EXPECT_EQ(0, reader.OpenFile(file.c_str(), 1, kOpenExisting, 0));
        EXPECT_EQ(kErrorSharingViolation, GetLastErrorValue());
        ExpectClosed(reader);
    }
}
#endif

TEST(MappedFileView, AViewBorrowsAPartOfItsOwnerAndKeepsItMapped)
{
    TempFile file("mapped_view.bin", "0123456789");
    auto owner = std::make_shared<MappedFile>();
    ASSERT_EQ(1, owner->OpenShared(file.c_str()));
    MappedFile view, refused;
    EXPECT_EQ(0, refused.OpenView(owner, 8, 3)) << "beyond the owner's view";
    EXPECT_EQ(0, refused.OpenView(owner, 11, 0));
    EXPECT_EQ(0, refused.OpenView(nullptr, 0, 1));
    ExpectClosed(refused);
    ASSERT_EQ(1, view.OpenView(owner, 3, 4));
    EXPECT_EQ(1, view.IsView());
    EXPECT_EQ(0, view.IsFile());
    EXPECT_EQ(0u, view.GetFileHandle());
    EXPECT_EQ(4u, view.GetLength());
    EXPECT_EQ(0u, view.Write("x", 1));
    EXPECT_EQ(0, view.OpenView(owner, 0, 1)) << "an open object refuses a second open";
    // The owner stays mapped while the view lives, and closing the view leaves it mapped.
    MappedFile* raw = owner.get();
    owner.reset();
    char bytes[8] = {};
    EXPECT_EQ(4u, view.Read(bytes, 8));
    EXPECT_EQ(std::string("3456"), std::string(bytes));
    MappedFile second;
    ASSERT_EQ(1, second.OpenView(view.GetViewOwner(), 0, 10));
    view.Close();
    ExpectClosed(view);
    EXPECT_EQ(1, raw->IsFile());
    EXPECT_EQ(0, std::memcmp(second.GetData(), "0123456789", 10));
}

TEST(MappedFileFile, ASharedMappingLetsTheFileBeRenamed)
{
    TempFile file("mapped_rename.bin", "data");
    TempFile moved("mapped_renamed.bin");
    MappedFile shared;
    ASSERT_EQ(1, shared.OpenShared(file.c_str()));
    EXPECT_TRUE(ReplacePath(file.c_str(), moved.c_str()));
    EXPECT_EQ(0, std::memcmp(shared.GetData(), "data", 4));
#ifdef _WIN32
    // A plain mapping does not share renaming.
    MappedFile plain;
    ASSERT_EQ(1, plain.OpenFile(moved.c_str(), 1, kOpenExisting, 0));
    EXPECT_FALSE(ReplacePath(moved.c_str(), file.c_str()));
#endif
}
