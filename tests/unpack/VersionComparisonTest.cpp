// Version resources: reading them, comparing files by version, and the version overwrite modes.
#include <windows.h>

#include <gtest/gtest.h>

#include "CFile.h"
#include "EntryExtraction.h"
#include "FileComparison.h"
#include "FileVersionInfo.h"
#include "TestSupport.h"

namespace {

constexpr uint64_t kEntrySeconds = 13000000000ull;

// The sample programs are built beside this test program.
std::string SamplePath(const std::string& name)
{
    char module[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    std::string folder(module);
    folder.resize(folder.find_last_of('\\'));
    return folder + "\\" + name + ".exe";
}

std::vector<uint8_t> Sample(const std::string& name)
{
    std::vector<uint8_t> bytes = ReadBytes(SamplePath(name));
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

TEST(FileVersionInfo, ReadsTheFixedVersionsTheTranslationAndStrings)
{
    FileVersionInfo info;
    ASSERT_EQ(1, info.Load(SamplePath("sample_v2000").c_str()));
    EXPECT_EQ(CString("2,0,0,0"), info.FileVersionText());
    EXPECT_EQ(CString("7,6,5,4"), info.ProductVersionText());
    EXPECT_EQ(0x040904B0u, info.GetTranslation());
    EXPECT_EQ(CString("Sample Maker"), info.StringValue("CompanyName"));
    EXPECT_EQ(CString("Sample Maker"), info.StringValue("CompanyName", 0x040904B0u));
    EXPECT_EQ(CString(""), info.StringValue("CompanyName", 0x04070000u));
    EXPECT_EQ(CString(""), info.StringValue("NoSuchItem"));
    FixedFileInfo fixed;
    ASSERT_EQ(1, info.FixedInfo(&fixed));
    EXPECT_EQ(0xFEEF04BDu, fixed.signature);
    EXPECT_EQ(0x00020000u, fixed.fileVersionMS);

    info.Release();
    EXPECT_EQ(0, info.IsLoaded());
    EXPECT_EQ(0u, info.GetTranslation());
    EXPECT_EQ(CString(""), info.FileVersionText());
    EXPECT_EQ(0, info.FixedInfo(&fixed));
}

TEST(FileVersionInfo, FilesWithoutABlockOrWithoutATranslationTableLoadNothing)
{
    ScratchFolder scratch;
    WriteBytes(scratch / "plain.txt", Bytes("no resources here"));
    FileVersionInfo info;
    ASSERT_EQ(1, info.Load(SamplePath("sample_v1500").c_str()));
    EXPECT_EQ(0, info.Load((scratch / "plain.txt").c_str()));
    EXPECT_EQ(0, info.IsLoaded()) << "a failed Load leaves nothing from before";
    EXPECT_EQ(0, info.Load((scratch / "missing.exe").c_str()));
    // Fixed information alone is not enough.
    EXPECT_EQ(0, info.Load(SamplePath("sample_notrans").c_str()));
    EXPECT_EQ(CString(""), info.FileVersionText());
    EXPECT_EQ(CString("1,2,65535,0"), VersionText(0x00010002u, 0xFFFF0000u));
}

class VersionCompareTest : public ::testing::Test {
protected:
    // Copies the sample to the destination folder as dest.exe.
    std::string Destination(const std::string& sample)
    {
        std::string path = scratch / "dest.exe";
        WriteBytes(path, Sample(sample));
        return path;
    }
    std::string Scratch() const { return scratch / "Temp\\tmpfile.dll"; }

    ScratchFolder scratch;
};

TEST_F(VersionCompareTest, ComparesTheFourPartsAsNumbers)
{
    struct Case {
        const char* destination;
        const char* entry;
        int expected;
    } cases[] = {
        {"sample_v2000", "sample_v1500", 1}, {"sample_v1500", "sample_v2000", -1},
        {"sample_v2000", "sample_v2000", 0}, {"sample_v10", "sample_v9", 1},
        {"sample_v9", "sample_v10", -1},     {"sample_v1010", "sample_v1009", 1},
        {"sample_v1009", "sample_v1010", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.destination) + " against " + c.entry);
        std::string destination = Destination(c.destination);
        std::vector<uint8_t> entry = Sample(c.entry);
        EXPECT_EQ(c.expected, CompareVersion(destination.c_str(), entry.data(), static_cast<uint32_t>(entry.size()),
                                             scratch.Path().c_str()));
        EXPECT_FALSE(PathExists(Scratch().c_str())) << "the scratch file goes after a comparison";
        EXPECT_TRUE(IsFolder(scratch / "Temp")) << "the Temp folder stays";
    }
}

TEST_F(VersionCompareTest, CannotTellWithoutVersionInformationOnEitherSide)
{
    std::vector<uint8_t> entry = Sample("sample_v1500");
    WriteBytes(scratch / "plain.txt", Bytes("text"));
    EXPECT_EQ(-2, CompareVersion((scratch / "plain.txt").c_str(), entry.data(), static_cast<uint32_t>(entry.size()),
                                 scratch.Path().c_str()));
    EXPECT_FALSE(IsFolder(scratch / "Temp")) << "nothing is prepared when the destination has no version";
    std::string noTable = Destination("sample_notrans");
    EXPECT_EQ(-2, CompareVersion(noTable.c_str(), entry.data(), static_cast<uint32_t>(entry.size()),
                                 scratch.Path().c_str()));

    std::string destination = Destination("sample_v2000");
    std::vector<uint8_t> text = Bytes("not a program");
    EXPECT_EQ(-2, CompareVersion(destination.c_str(), text.data(), static_cast<uint32_t>(text.size()),
                                 scratch.Path().c_str()));
    EXPECT_EQ(text, ReadBytes(Scratch())) << "the scratch file stays behind when the entry has no version";
    std::vector<uint8_t> noTableEntry = Sample("sample_notrans");
    EXPECT_EQ(-2, CompareVersion(destination.c_str(), noTableEntry.data(),
                                 static_cast<uint32_t>(noTableEntry.size()), scratch.Path().c_str()));
}

TEST_F(VersionCompareTest, AFolderWithATrailingBackslashGetsOneTempFolderInside)
{
    std::string destination = Destination("sample_v2000");
    std::vector<uint8_t> entry = Sample("sample_v1500");
    EXPECT_EQ(1, CompareVersion(destination.c_str(), entry.data(), static_cast<uint32_t>(entry.size()),
                                (scratch.Path() + "\\").c_str()));
    EXPECT_TRUE(IsFolder(scratch / "Temp"));
}

class VersionModeTest : public VersionCompareTest {
protected:
    // dest.exe from the sample with a few bytes appended (the version block
    // still reads; the copy is told apart from the entry) and the given
    // last-write time; then the entry (a sample) is written with the mode.
    // True when the file was kept.
    bool Kept(const char* destinationSample, int64_t destinationOffset, const char* entrySample, int mode)
    {
        std::string destination = scratch / "dest.exe";
        std::vector<uint8_t> old = Sample(destinationSample);
        for (char c : std::string("#old copy"))
            old.push_back(static_cast<uint8_t>(c));
        WriteBytes(destination, old);
        FileTime t = TimeOfSeconds(kEntrySeconds + destinationOffset);
        SetFileTimes(destination, t, t, t);
        std::vector<uint8_t> entry = Sample(entrySample);
        EntryInfo info = MakeInfo(kFileAttributeArchive, kEntrySeconds);
        EXPECT_EQ(1, WriteEntryFile(scratch.Path().c_str(), "dest.exe", entry.data(),
                                    static_cast<uint32_t>(entry.size()), info, mode, nullptr, nullptr));
        std::vector<uint8_t> now = ReadBytes(destination);
        if (now == old)
            return true;
        EXPECT_EQ(entry, now) << "neither the old nor the new file";
        return false;
    }
};

TEST_F(VersionModeTest, ModeTwoKeepsAFileWhoseVersionIsAsNew)
{
    EXPECT_TRUE(Kept("sample_v2000", -60, "sample_v1500", kOverwriteIfNewerVersion));
    EXPECT_FALSE(Kept("sample_v1500", 60, "sample_v2000", kOverwriteIfNewerVersion));
    EXPECT_TRUE(Kept("sample_v10", -60, "sample_v9", kOverwriteIfNewerVersion));
    EXPECT_FALSE(Kept("sample_v1009", 60, "sample_v1010", kOverwriteIfNewerVersion));
    EXPECT_TRUE(Kept("sample_v9", -60, "sample_v9", kOverwriteIfNewerVersion));
}

TEST_F(VersionModeTest, ModeThreeDecidesByVersionThenByTime)
{
    // A newer version stays whatever its time; an older one goes whatever its time.
    EXPECT_TRUE(Kept("sample_v2000", -60, "sample_v1500", kOverwriteIfNewerVersionThenTime));
    EXPECT_FALSE(Kept("sample_v1500", 60, "sample_v2000", kOverwriteIfNewerVersionThenTime));
    // Equal versions: the time decides; equal times keep.
    EXPECT_TRUE(Kept("sample_v9", 60, "sample_v9", kOverwriteIfNewerVersionThenTime));
    EXPECT_TRUE(Kept("sample_v9", 0, "sample_v9", kOverwriteIfNewerVersionThenTime));
    EXPECT_FALSE(Kept("sample_v10", -60, "sample_v10", kOverwriteIfNewerVersionThenTime));
}

struct CallbackLog {
    int calls = 0;
    uint32_t error = 0;
};

int CountFailure(ExtractFailureInfo* failure, void* data)
{
    CallbackLog* log = static_cast<CallbackLog*>(data);
    ++log->calls;
    log->error = failure->error;
    return 5;
}

TEST_F(VersionModeTest, ALockedDestinationThatIsTheEntryCountsAsWritten)
{
    std::string destination = Destination("sample_v2000");
    EntryInfo info = MakeInfo(kFileAttributeArchive, kEntrySeconds);
    SetFileTimes(destination, info.creationTime, info.lastAccessTime, info.lastWriteTime);
    std::vector<uint8_t> entry = Sample("sample_v2000");
    CallbackLog log;
    {
        // Readable by others, but nobody may write it.
        CFile holder;
        ASSERT_TRUE(holder.Open(destination.c_str(), CFile::modeRead | CFile::shareDenyWrite));
        EXPECT_EQ(1, WriteEntryFile(scratch.Path().c_str(), "dest.exe", entry.data(),
                                    static_cast<uint32_t>(entry.size()), info, kOverwriteAlways, CountFailure, &log));
        EXPECT_EQ(0, log.calls);

        // Different times: the failure goes to the callback with the create's error.
        EntryInfo newer = MakeInfo(kFileAttributeArchive, kEntrySeconds + 60);
        EXPECT_EQ(5, WriteEntryFile(scratch.Path().c_str(), "dest.exe", entry.data(),
                                    static_cast<uint32_t>(entry.size()), newer, kOverwriteAlways, CountFailure, &log));
        EXPECT_EQ(1, log.calls);
        EXPECT_EQ(kErrorSharingViolation, log.error);

        // Same times, different version.
        std::vector<uint8_t> other = Sample("sample_v1500");
        SetLastErrorValue(0xDEADBEEF);
        EXPECT_EQ(0, WriteEntryFile(scratch.Path().c_str(), "dest.exe", other.data(),
                                    static_cast<uint32_t>(other.size()), info, kOverwriteAlways, nullptr, nullptr));
        EXPECT_EQ(kErrorSharingViolation, GetLastErrorValue());
    }
    {
        // Held without any sharing: not even the times can be read.
        CFile holder;
        ASSERT_TRUE(holder.Open(destination.c_str(), CFile::modeReadWrite | CFile::shareExclusive));
        EXPECT_EQ(5, WriteEntryFile(scratch.Path().c_str(), "dest.exe", entry.data(),
                                    static_cast<uint32_t>(entry.size()), info, kOverwriteAlways, CountFailure, &log));
        EXPECT_EQ(2, log.calls);
    }
    EXPECT_EQ(entry, ReadBytes(destination));
}

}  // namespace
