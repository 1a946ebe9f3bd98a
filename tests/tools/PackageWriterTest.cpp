// Packages written piece by piece: file output against the in-memory image, jobs and spilled streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ContainerFormat.h"
#include "FileSink.h"
#include "LzwCodec.h"
#include "MemorySink.h"
#include "PackageListing.h"
#include "PackagePlan.h"
#include "PackageWriter.h"
#include "ScratchFolder.h"
#include "SpillBuffer.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

const uint8_t* Bytes(const std::string& s)
{
    return reinterpret_cast<const uint8_t*>(s.data());
}

// Files of every kind the writer treats differently: small and compressible,
// large and compressible (coded in pieces), noise, empty; and an entry in memory.
// With one job every entry is compressed straight into the output; with
// several, the split ones are and the others wait in a spill buffer: the
// bytes must be the same.
void PlanMixedTree(const ScratchFolder& dir, PackagePlan& plan)
{
    const std::vector<std::pair<std::string, std::string>> files = {
        {"small.txt", CompressibleBytes(50000)},
        {"large.txt", CompressibleBytes(6u << 20)},
        {"noise.bin", PatternBytes(300000, 4)},
        {"empty", ""},
        {"large-noise.bin", PatternBytes((4u << 20) + 1000, 5)},
        // Split: two pieces of its stream are written before it proves longer
        // than the content, which then goes over them.
        {"split-noise.bin", PatternBytes(3 * kSplitPiece, 6)},
        {"split.txt", CompressibleBytes(kSplitThreshold + 5000)},
    };
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string path = dir / files[i].first;
        ASSERT_TRUE(WriteBytes(path, files[i].second));
        SetFileTimes(path, TimeOfSeconds(13300000000ull + i));
        // Group names that the directory's map does not keep in plan order.
        ASSERT_TRUE(plan.AddFile(i % 2 ? "Zeta" : "alpha", files[i].first, path, files[i].second.size()));
    }
    ASSERT_TRUE(plan.AddContent("Config", "CONFIG.INI", "[Commonfiles]\r\nORG.SETUP.EXE=s.exe\r\n"));
    // Reading a file may move its access time: the limit keeps every time fixed.
    plan.SetTimeLimit(TimeOfSeconds(13200000000ull));
}

}  // namespace

TEST(ToolsPackageWriter, FileOutputIsTheImageWhateverTheJobs)
{
    ScratchFolder dir;
    PackagePlan plan;
    PlanMixedTree(dir, plan);
    for (bool compress : {false, true}) {
        MappedFile image;
        WriteStats expected;
        ASSERT_TRUE(BuildPackageImage(plan, compress, image, nullptr, &expected));
        const std::string reference(reinterpret_cast<const char*>(image.GetData()), image.GetSize());
        VerifyReport report;
        VerifyPackageImage(ByteView(image.GetData(), image.GetSize()), &report);
        EXPECT_TRUE(report.faults.empty());
        EXPECT_EQ(report.decodedEntries, compress ? 3u : 0u);  // the texts: noise and short entries do not shrink
        for (const ListedGroup& group : report.listing.groups)
            for (const ListedEntry& entry : group.entries)
                EXPECT_EQ(entry.record.compressedSize != 0, compress && entry.name.find(".txt") != std::string::npos)
                    << entry.name;

        for (unsigned jobs : {1u, 3u}) {
            SCOPED_TRACE("compress " + std::to_string(compress) + ", jobs " + std::to_string(jobs));
            WriteSettings settings;
            settings.compress = compress;
            settings.jobs = jobs;
            settings.spillFolder = dir.Path();
            const std::string out = dir / ("out" + std::to_string(jobs) + ".oem");
            FileSink sink;
            ASSERT_TRUE(sink.Create(out, false));
            WriteStats stats;
            const Status written = WritePackage(plan, settings, sink, nullptr, &stats);
            ASSERT_TRUE(written) << written.Message();
            const std::string got = ReadBytes(out);
            EXPECT_TRUE(got == reference) << "first difference at "
                                          << std::mismatch(got.begin(), got.end(), reference.begin(), reference.end()).first - got.begin()
                                          << " of " << got.size() << " / " << reference.size();
            EXPECT_EQ(sink.Size(), reference.size());
            EXPECT_EQ(stats.compressedEntries, expected.compressedEntries);
            EXPECT_EQ(stats.storedBytes, expected.storedBytes);
            EXPECT_EQ(stats.entries, 8u);
        }
    }
}

TEST(ToolsPackageWriter, AFailingInputIsNamedWhateverTheJobs)
{
    ScratchFolder dir;
    PackagePlan plan;
    for (int i = 0; i < 6; ++i) {
        const std::string path = dir / ("f" + std::to_string(i));
        ASSERT_TRUE(WriteBytes(path, CompressibleBytes(20000)));
        ASSERT_TRUE(plan.AddFile("G", "f" + std::to_string(i), path, 20000));
    }
    const std::string missing = dir / "gone";
    ASSERT_TRUE(plan.AddFile("G", "gone", missing, 10));
    ASSERT_TRUE(plan.AddFile("G", "after", dir / "f0", 20000));
    for (unsigned jobs : {1u, 4u}) {
        WriteSettings settings;
        settings.compress = true;
        settings.jobs = jobs;
        MemorySink sink;
        WriteStats stats;
        const Status written = WritePackage(plan, settings, sink, nullptr, &stats);
        EXPECT_FALSE(written);
        EXPECT_NE(written.Message().find(missing + ": cannot read"), std::string::npos) << written.Message();
        EXPECT_EQ(stats.entries, 6u) << "the entries before it were written, none after";
    }
}

namespace {

// The stored stream of the one entry of a package written with settings.
std::string WrittenStream(const PackagePlan& plan, const WriteSettings& settings, WriteStats* stats)
{
    MemorySink sink;
    const Status written = WritePackage(plan, settings, sink, nullptr, stats);
    EXPECT_TRUE(written) << written.Message();
    const std::vector<uint8_t>& image = sink.Bytes();
    PackageListing listing;
    std::string fault;
    EXPECT_TRUE(ReadPackageListing(ByteView(image.data(), static_cast<uint32_t>(image.size())), true, &listing,
                                   &fault))
        << fault;
    if (listing.groups.size() != 1 || listing.groups[0].entries.size() != 1)
        return std::string();
    const EntryRecord& record = listing.groups[0].entries[0].record;
    return std::string(image.begin() + record.dataOffset, image.begin() + record.dataOffset + record.dataLength) +
           (record.compressedSize != 0 ? "" : "<stored>");
}

std::string Encoded(const std::string& content, uint32_t pieceSize)
{
    std::vector<uint8_t> stream;
    EXPECT_EQ(1, LzwEncodeBuffer(Bytes(content), static_cast<uint32_t>(content.size()), &stream, pieceSize));
    return std::string(stream.begin(), stream.end());
}

// A coder that drops one bit of the codes of any piece past its first kilobyte.
int CodeAndLoseABit(const uint8_t* in, uint32_t n, std::vector<uint8_t>* out, LzwPiece piece, uint64_t* bitLength)
{
    LzwEncodeBuffer(in, n, out, piece, bitLength);
    if (n > 1024)
        (*out)[out->size() / 2] ^= 0x10;
    return 1;
}

// A coder that gets only the last piece of a split stream wrong.
int CodeTheLastPieceWrong(const uint8_t* in, uint32_t n, std::vector<uint8_t>* out, LzwPiece piece,
                          uint64_t* bitLength)
{
    LzwEncodeBuffer(in, n, out, piece, bitLength);
    if (piece.last && !piece.first)
        *bitLength -= 1;
    return 1;
}

}  // namespace

TEST(ToolsPackageWriter, BigEntriesAreSplitTheSameWayWhateverTheJobs)
{
    ScratchFolder dir;
    // Three full pieces and a short one; and one at the threshold, coded unsplit.
    const std::string big = CompressibleBytes(3 * kSplitPiece + 4321);
    const std::string atThreshold = big.substr(0, kSplitThreshold);
    // Padding: text, then pieces of zeros coded as one (the run coder's bits),
    // a piece of 0xFF, and zeros again up to a short last piece.
    std::string padded = CompressibleBytes(kSplitPiece + 1000);
    padded.resize(4 * kSplitPiece, '\0');
    padded.append(kSplitPiece, '\xFF');
    padded.append(kSplitPiece + 77, '\0');
    for (const std::string* content : {&big, &atThreshold, static_cast<const std::string*>(&padded)}) {
        const std::string path = dir / "in.bin";
        ASSERT_TRUE(WriteBytes(path, *content));
        PackagePlan plan;
        ASSERT_TRUE(plan.AddFile("G", "in.bin", path, content->size()));
        plan.SetTimeLimit(TimeOfSeconds(13200000000ull));
        const std::string expected = Encoded(*content, content != &atThreshold ? kSplitPiece : 0);
        ASSERT_LT(expected.size(), content->size());
        for (unsigned jobs = 1; jobs <= 8; ++jobs) {
            SCOPED_TRACE(jobs);
            WriteSettings settings;
            settings.compress = true;
            settings.jobs = jobs;
            settings.spillFolder = dir.Path();
            WriteStats stats;
            EXPECT_TRUE(WrittenStream(plan, settings, &stats) == expected);
            EXPECT_EQ(stats.compressedEntries, 1u);
        }
    }
    // The split stream decodes back through the unchanged decoder; the clears cost little.
    const std::string split = Encoded(big, kSplitPiece);
    std::string back(big.size(), '\0');
    uint32_t produced = 0;
    EXPECT_EQ(1, LzwDecodeBuffer(Bytes(split), static_cast<uint32_t>(split.size()),
                                 reinterpret_cast<uint8_t*>(&back[0]), static_cast<uint32_t>(back.size()), &produced));
    EXPECT_TRUE(back == big);
}

TEST(ToolsPackageWriter, AFaultyCoderNeverMakesACompressedEntry)
{
    ScratchFolder dir;
    const std::vector<std::string> contents = {CompressibleBytes(50000), CompressibleBytes(2 * kSplitPiece + 999)};
    for (LzwPieceEncoder faulty : {CodeAndLoseABit, CodeTheLastPieceWrong}) {
        for (const std::string& content : contents) {
            if (faulty == CodeTheLastPieceWrong && content.size() <= kSplitThreshold)
                continue;
            const std::string path = dir / "in.bin";
            ASSERT_TRUE(WriteBytes(path, content));
            PackagePlan plan;
            ASSERT_TRUE(plan.AddFile("G", "in.bin", path, content.size()));
            for (unsigned jobs : {1u, 3u}) {
                SCOPED_TRACE(std::to_string(content.size()) + " bytes, jobs " + std::to_string(jobs));
                WriteSettings settings;
                settings.compress = true;
                settings.jobs = jobs;
                settings.encodePiece = faulty;
                WriteStats stats;
                EXPECT_TRUE(WrittenStream(plan, settings, &stats) == content + "<stored>");
                EXPECT_EQ(stats.compressedEntries, 0u);
                ASSERT_EQ(stats.warnings.size(), 1u);
                EXPECT_EQ(stats.warnings[0], path + ": the compressed form did not decode back; stored uncompressed");
            }
        }
    }
}

TEST(ToolsSpillBuffer, SpillsBeyondItsLimitAndReadsBackInOrder)
{
    ScratchFolder dir;
    const std::string content = PatternBytes(5000, 3);
    {
        SpillBuffer spill(dir.Path(), 1000);
        for (size_t at = 0; at < content.size(); at += 700)
            ASSERT_TRUE(spill.Append(Bytes(content) + at, static_cast<uint32_t>(std::min<size_t>(700, content.size() - at))));
        EXPECT_EQ(spill.Size(), content.size());
        EXPECT_EQ(ListFolder(dir.Path()).size(), 1u);
        for (int pass = 0; pass < 2; ++pass) {
            ASSERT_TRUE(spill.Rewind());
            std::string back(content.size(), '\0');
            ASSERT_TRUE(spill.Read(reinterpret_cast<uint8_t*>(&back[0]), 1234));
            ASSERT_TRUE(spill.Read(reinterpret_cast<uint8_t*>(&back[1234]), static_cast<uint32_t>(content.size() - 1234)));
            EXPECT_EQ(back, content);
            uint8_t extra = 0;
            EXPECT_FALSE(spill.Read(&extra, 1));
        }
    }
    EXPECT_TRUE(ListFolder(dir.Path()).empty()) << "the spill file is deleted";
    SpillBuffer memoryOnly(std::string(), 10);
    ASSERT_TRUE(memoryOnly.Append(Bytes(content), 100));
    EXPECT_TRUE(ListFolder(dir.Path()).empty());
    ASSERT_TRUE(memoryOnly.Rewind());
    std::string back(100, '\0');
    ASSERT_TRUE(memoryOnly.Read(reinterpret_cast<uint8_t*>(&back[0]), 100));
    EXPECT_EQ(back, content.substr(0, 100));
}
