// Version resources: reading them, comparing files by version, and the version overwrite modes.
#include <windows.h>

#include <gtest/gtest.h>

#include "CFile.h"
#include "ChildProcess.h"
#include "ContainerImage.h"
#include "EntryExtraction.h"
#include "FileComparison.h"
#include "FileVersionInfo.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

constexpr uint64_t kEntrySeconds = 13000000000ull;

// The sample programs are built beside this test program.
std::string SamplePath(const std::string& name)
{
    return ProgramFolder() + "\\" + name + ".exe";
}

std::string Sample(const std::string& name)
{
    std::string bytes = ReadBytes(SamplePath(name));
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

TEST(FileVersionInfo, ReadsFixedVersionsTranslationAndStrings)
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
    info.Release();
    EXPECT_EQ(0u, info.GetTranslation());
    EXPECT_EQ(CString(""), info.FileVersionText());
}

TEST(FileVersionInfo, NoBlockOrNoTranslationTableLoadsNothing)
{
    ScratchFolder scratch;
    WriteBytes(scratch / "plain.txt", "no resources here");
    FileVersionInfo info;
    ASSERT_EQ(1, info.Load(SamplePath("sample_v1500").c_str()));
    EXPECT_EQ(0, info.Load((scratch / "plain.txt").c_str()));
    EXPECT_EQ(0, info.IsLoaded()) << "a failed Load keeps nothing from before";
    EXPECT_EQ(0, info.Load((scratch / "missing.exe").c_str()));
    EXPECT_EQ(0, info.Load(SamplePath("sample_notrans").c_str())) << "fixed information alone is not enough";
}

class VersionCompareTest : public ::testing::Test {
protected:
    int Compare(const std::string& destinationSample, const std::string& entry,
                const std::string& folderSuffix = "")
    {
        std::string destination = scratch / "dest.exe";
        WriteBytes(destination, Sample(destinationSample));
        return CompareVersion(destination.c_str(), Data(entry), Size(entry),
                              (scratch.Path() + folderSuffix).c_str());
    }

    ScratchFolder scratch;
    std::string scratchFile = scratch / "Temp\\tmpfile.dll";
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
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, Compare(c.destination, Sample(c.entry))) << c.destination << " vs " << c.entry;
        EXPECT_FALSE(PathExists(scratchFile.c_str())) << "the scratch file goes after a comparison";
        EXPECT_TRUE(IsFolder(scratch / "Temp")) << "the Temp folder stays";
    }
    // A folder given with a trailing backslash still gets its Temp folder directly inside.
    EXPECT_EQ(-1, Compare("sample_v1009", Sample("sample_v1010"), "\\"));
}

TEST_F(VersionCompareTest, CannotTellWithoutVersionInformationOnEitherSide)
{
    std::string entry = Sample("sample_v1500");
    WriteBytes(scratch / "plain.txt", "text");
    EXPECT_EQ(-2, CompareVersion((scratch / "plain.txt").c_str(), Data(entry), Size(entry),
                                 scratch.Path().c_str()));
    EXPECT_FALSE(IsFolder(scratch / "Temp")) << "nothing is prepared for a destination without a version";
    EXPECT_EQ(-2, Compare("sample_notrans", entry));
    EXPECT_EQ(-2, Compare("sample_v2000", Sample("sample_notrans")));
    EXPECT_EQ(-2, Compare("sample_v2000", "not a program"));
    EXPECT_EQ("not a program", ReadBytes(scratchFile)) << "left behind when the entry has no version";
}

class VersionModeTest : public VersionCompareTest {
protected:
    // dest.exe from a sample plus a marker (its version block still reads),
    // with its times shifted by offset seconds from the entry's; then the
    // entry (another sample) is written with the mode. True when kept.
    bool Kept(const char* destinationSample, int64_t offset, const char* entrySample, int mode)
    {
        std::string destination = scratch / "dest.exe";
        std::string old = Sample(destinationSample);
        old.push_back('#');
        WriteBytes(destination, old);
        SetFileTimes(destination, TimeOfSeconds(kEntrySeconds + offset));
        std::string entry = Sample(entrySample);
        EXPECT_EQ(1, WriteEntryFile(scratch.Path().c_str(), "dest.exe", Data(entry), Size(entry),
                                    MakeInfo(kFileAttributeArchive, kEntrySeconds), mode, nullptr, nullptr));
        std::string now = ReadBytes(destination);
        EXPECT_TRUE(now == old || now == entry);
        return now == old;
    }
};

TEST_F(VersionModeTest, ModeTwoKeepsAFileWhoseVersionIsAsNew)
{
    EXPECT_TRUE(Kept("sample_v2000", -60, "sample_v1500", kOverwriteIfNewerVersion));
    EXPECT_TRUE(Kept("sample_v9", -60, "sample_v9", kOverwriteIfNewerVersion));
    EXPECT_FALSE(Kept("sample_v1500", 60, "sample_v2000", kOverwriteIfNewerVersion));
    EXPECT_FALSE(Kept("sample_v1009", 60, "sample_v1010", kOverwriteIfNewerVersion));
}

TEST_F(VersionModeTest, ModeThreeDecidesByVersionThenByTime)
{
    EXPECT_TRUE(Kept("sample_v2000", -60, "sample_v1500", kOverwriteIfNewerVersionThenTime));
    EXPECT_FALSE(Kept("sample_v1500", 60, "sample_v2000", kOverwriteIfNewerVersionThenTime));
    EXPECT_TRUE(Kept("sample_v9", 60, "sample_v9", kOverwriteIfNewerVersionThenTime));
    EXPECT_TRUE(Kept("sample_v9", 0, "sample_v9", kOverwriteIfNewerVersionThenTime));
    EXPECT_FALSE(Kept("sample_v10", -60, "sample_v10", kOverwriteIfNewerVersionThenTime));
}

int CountFailure(ExtractFailureInfo* failure, void* context)
{
    static_cast<std::vector<uint32_t>*>(context)->push_back(failure->error);
    return 5;
}

TEST_F(VersionModeTest, ALockedDestinationThatIsTheEntryCountsAsWritten)
{
    std::string destination = scratch / "dest.exe";
    std::string entry = Sample("sample_v2000"), other = Sample("sample_v1500");
    WriteBytes(destination, entry);
    EntryInfo info = MakeInfo(kFileAttributeArchive, kEntrySeconds);
    EntryInfo newer = MakeInfo(kFileAttributeArchive, kEntrySeconds + 60);
    SetFileTimes(destination, info.lastWriteTime);
    auto write = [&](const std::string& data, const EntryInfo& times, ExtractFailureCallback callback,
                     void* context) {
        return WriteEntryFile(scratch.Path().c_str(), "dest.exe", Data(data), Size(data),
                              times, kOverwriteAlways, callback, context);
    };
    std::vector<uint32_t> errors;
    {
        // Others may read it, nobody may write it.
        CFile holder;
        ASSERT_TRUE(holder.Open(destination.c_str(), CFile::modeRead | CFile::shareDenyWrite));
        EXPECT_EQ(1, write(entry, info, CountFailure, &errors)) << "same times and version";
        EXPECT_EQ(5, write(entry, newer, CountFailure, &errors)) << "other times";
        SetLastErrorValue(0xDEADBEEF);
        EXPECT_EQ(0, write(other, info, nullptr, nullptr)) << "other version";
        EXPECT_EQ(kErrorSharingViolation, GetLastErrorValue());
    }
    {
        // Held without sharing: not even the times can be read.
        CFile holder;
        ASSERT_TRUE(holder.Open(destination.c_str(), CFile::modeReadWrite | CFile::shareExclusive));
        EXPECT_EQ(5, write(entry, info, CountFailure, &errors));
    }
    EXPECT_EQ((std::vector<uint32_t>{kErrorSharingViolation, kErrorSharingViolation}), errors);
    EXPECT_EQ(entry, ReadBytes(destination));
}

}  // namespace
