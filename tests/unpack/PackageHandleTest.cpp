// The package interface: open modes, last-error codes, editing, saving, reading and extraction.
#include <gtest/gtest.h>

#include <cstring>

#include <algorithm>

#include "CFile.h"
#include "LzwCodec.h"
#include "MappedFile.h"
#include "ContainerImage.h"
#include "PackageHandle.h"
#include "PieceIndex.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

// Sets a sentinel, runs the call, and checks its result and the code it left.
#define EXPECT_RESULT_AND_ERROR(result, error, call)                 \
    do {                                                             \
        SetLastErrorValue(0xDEADBEEF);                               \
        EXPECT_EQ(result, (call));                                   \
        EXPECT_EQ(static_cast<uint32_t>(error), GetLastErrorValue()); \
    } while (0)

// What ReadEntryPieces handed over; the piece numbered refuseAt (from 1) is
// refused, after being counted.
struct Collected {
    std::string bytes;
    int count = 0;
    int refuseAt = 0;
    // Where each piece handed over ended.
    std::vector<size_t> ends;
};

bool Collect(const uint8_t* data, uint32_t length, void* context)
{
    Collected& collected = *static_cast<Collected*>(context);
    if (++collected.count == collected.refuseAt)
        return false;
    collected.bytes.append(reinterpret_cast<const char*>(data), length);
    collected.ends.push_back(collected.bytes.size());
    return true;
}

class PackageHandleTest : public ::testing::Test {
protected:
    // Groups "Config" (CONFIG.INI) and "Commonfiles" (setup.exe, readme.txt).
    std::string Sample()
    {
        std::string path = scratch / "sample.oem";
        WriteBytes(path, ContainerBytes({{"Config", {StoredEntry("CONFIG.INI", "[Commonfiles]")}},
                                         {"Commonfiles", {StoredEntry("setup.exe", "installer"),
                                                          StoredEntry("readme.txt", "read me")}}}));
        return path;
    }
    void OpenImage(const std::string& image)
    {
        WriteBytes(scratch / "image.oem", image);
        ASSERT_EQ(1, handle.Open((scratch / "image.oem").c_str(), PackageHandle::kOpenExisting));
    }
    int Add(const char* name, const char* group, const std::string& data, const EntryInfo& info)
    {
        MappedFile source;
        EXPECT_EQ(1, source.CreateMemory(nullptr, static_cast<uint32_t>(data.size()), 0));
        source.Write(Data(data), Size(data));
        return handle.AddBuffer(source, name, group, info, 0);
    }

    ScratchFolder scratch;
    PackageHandle handle;
};

TEST_F(PackageHandleTest, OpenModesOnExistingMissingAndForeignFiles)
{
    std::string existing = Sample(), missing = scratch / "missing.oem", foreign = scratch / "text.oem";
    WriteBytes(foreign, "not a package");
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.Open(existing.c_str(), 4));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.Open(existing.c_str(), -1));
    EXPECT_RESULT_AND_ERROR(0, kErrorFileExists, handle.Open(existing.c_str(), PackageHandle::kCreateNew));
    EXPECT_RESULT_AND_ERROR(1, kErrorSuccess, handle.Open(missing.c_str(), PackageHandle::kCreateNew));
    EXPECT_RESULT_AND_ERROR(0, kErrorFileNotFound, handle.Open(missing.c_str(), PackageHandle::kOpenExisting));
    EXPECT_EQ(1, handle.Open(missing.c_str(), PackageHandle::kOpenAlways));
    EXPECT_RESULT_AND_ERROR(1, kErrorSuccess, handle.Open(foreign.c_str(), PackageHandle::kOpenExisting));
    EXPECT_EQ(0, handle.CountEntries(nullptr)) << "nothing loaded so far";
    EXPECT_FALSE(PathExists(missing.c_str())) << "Open writes nothing";
    ASSERT_EQ(1, Add("x.dat", "Extra", "x", MakeInfo(0, 1)));
    ASSERT_EQ(1, handle.Open(existing.c_str(), PackageHandle::kOpenExisting));
    EXPECT_EQ(4, handle.CountEntries(nullptr)) << "loading adds to what the handle holds";
}

TEST_F(PackageHandleTest, CreateAlwaysReplacesTheFileOnlyOnSave)
{
    std::string path = Sample();
    std::string before = ReadBytes(path);
    ASSERT_EQ(1, handle.Open(path.c_str(), PackageHandle::kCreateAlways));
    EXPECT_EQ(0, handle.CountEntries(nullptr));
    EXPECT_EQ(before, ReadBytes(path));
    ASSERT_EQ(1, handle.Save());
    EXPECT_EQ(18u, ReadBytes(path).size()) << "an empty container is its header";
}

TEST_F(PackageHandleTest, AfterCloseEveryOperationFailsWithNotReadyAfterItsArgumentChecks)
{
    ASSERT_EQ(1, handle.Open(Sample().c_str(), PackageHandle::kOpenExisting));
    handle.Close();
    CStringArray names;
    MappedFile block;
    const char* folder = scratch.Path().c_str();
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.ExtractEntry("setup.exe", "Commonfiles", folder, nullptr, 0));
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.GetEntryInfo("setup.exe", "Commonfiles", nullptr, nullptr));
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.ReadEntry("setup.exe", "Commonfiles", block, 0, nullptr));
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.RemoveEntry("setup.exe", "Commonfiles"));
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.ListGroups(names));
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.ListEntries("Commonfiles", names));
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.Save());
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.CountEntries(nullptr));
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.AddFile((scratch / "sample.oem").c_str(), "G"));
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, Add("a.txt", "G", "a", MakeInfo(0, 1)));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.GetEntryInfo("setup.exe", "", nullptr, nullptr));
    EXPECT_RESULT_AND_ERROR(-1, kErrorInvalidParameter, handle.CountEntries("Config"));
    EXPECT_EQ(0, names.GetSize());
    ASSERT_EQ(1, handle.Open((scratch / "sample.oem").c_str(), PackageHandle::kOpenExisting));
    EXPECT_EQ(3, handle.CountEntries(nullptr));
}

TEST_F(PackageHandleTest, GroupsMatchExactlyEntriesIgnoringCase)
{
    ASSERT_EQ(1, handle.Open(Sample().c_str(), PackageHandle::kOpenExisting));
    EntryInfo info = {};
    uint32_t size = 0;
    EXPECT_RESULT_AND_ERROR(0, kErrorFileNotFound, handle.GetEntryInfo("setup.exe", "commonfiles", &info, &size));
    EXPECT_RESULT_AND_ERROR(0, kErrorFileNotFound, handle.GetEntryInfo("setup.ex", "Commonfiles", &info, &size));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.GetEntryInfo("setup.exe", nullptr, &info, &size));
    ASSERT_EQ(1, handle.GetEntryInfo("SETUP.EXE", "Commonfiles", &info, &size));
    EXPECT_EQ(9u, size);
    EntryInfo expected = StoredEntry("x", {}).info;
    EXPECT_EQ(0, std::memcmp(&info, &expected, sizeof info));
    EXPECT_EQ(3, handle.CountEntries(""));
}

TEST_F(PackageHandleTest, ListingAppendsRemovalKeepsTheGroup)
{
    ASSERT_EQ(1, handle.Open(Sample().c_str(), PackageHandle::kOpenExisting));
    CStringArray names;
    names.Add("kept");
    ASSERT_EQ(1, handle.ListGroups(names));
    EXPECT_EQ(3, names.GetSize());
    ASSERT_EQ(1, handle.ListEntries("Commonfiles", names));
    ASSERT_EQ(5, names.GetSize());
    EXPECT_EQ(CString("setup.exe"), names[3]);
    EXPECT_EQ(CString("readme.txt"), names[4]);
    EXPECT_EQ(1, handle.ListEntries("NoSuchGroup", names));
    EXPECT_EQ(5, names.GetSize());

    EXPECT_RESULT_AND_ERROR(0, 0xDEADBEEF, handle.RemoveEntry("nothing.txt", "Commonfiles"));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.RemoveEntry("CONFIG.INI", ""));
    EXPECT_EQ(1, handle.RemoveEntry("config.ini", "Config"));
    EXPECT_EQ(2, handle.CountEntries(nullptr));
    CStringArray groups;
    handle.ListGroups(groups);
    EXPECT_EQ(2, groups.GetSize());
}

TEST_F(PackageHandleTest, AddFileAndAddBufferReplaceAnEntryOfTheSameName)
{
    ASSERT_EQ(1, handle.Open((scratch / "new.oem").c_str(), PackageHandle::kCreateNew));
    WriteBytes(scratch / "A.TXT", "first");
    ASSERT_EQ(1, handle.AddFile((scratch / "A.TXT").c_str(), "Docs"));
    EntryInfo info = MakeInfo(kFileAttributeReadOnly, 12000000000ull);
    std::string nested = std::string("sub") + kPathSeparator + "a.txt";
    ASSERT_EQ(1, Add(nested.c_str(), "Docs", "second!", info));
    CStringArray entries;
    handle.ListEntries("Docs", entries);
    ASSERT_EQ(1, entries.GetSize());
    EXPECT_EQ(CString("a.txt"), entries[0]);
    EntryInfo stored = {};
    uint32_t size = 0;
    ASSERT_EQ(1, handle.GetEntryInfo("A.txt", "Docs", &stored, &size));
    EXPECT_EQ(7u, size);
    EXPECT_EQ(0, std::memcmp(&info, &stored, sizeof info));

    MappedFile closed;
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.AddBuffer(closed, "x.txt", "G", info, 0));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, Add("x.txt", "", "x", info));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.AddFile((scratch / "A.TXT").c_str(), nullptr));
    EXPECT_RESULT_AND_ERROR(0, kErrorFileNotFound, handle.AddFile((scratch / "none.txt").c_str(), "Docs"));
}

TEST_F(PackageHandleTest, SaveWritesAContainerThatReadsBackTheSame)
{
    std::string path = scratch / "saved.oem";
    std::string content = CompressibleBytes(5000);
    ASSERT_EQ(1, handle.Open(path.c_str(), PackageHandle::kCreateNew));
    ASSERT_EQ(1, Add("big.bin", "One", content, MakeInfo(0, 1)));
    ASSERT_EQ(1, Add("copy.bin", "Two", content, MakeInfo(0, 1)));
    ASSERT_EQ(1, handle.Save());
    std::string bytes = ReadBytes(path);
    ASSERT_GE(bytes.size(), 14u);
    EXPECT_EQ(0, std::memcmp(bytes.data(), "BOEM\x00\x02\x02\x00\x00\x00\x00\x00\x02\x00", 14));

    PackageHandle reopened;
    MappedFile block;
    ASSERT_EQ(1, reopened.Open(path.c_str(), PackageHandle::kOpenExisting));
    ASSERT_EQ(1, reopened.ReadEntry("big.bin", "One", block, 0, nullptr));
    EXPECT_EQ(content, std::string(block.GetData(), block.GetData() + block.GetSize()));
}

TEST_F(PackageHandleTest, EditsLeaveTheFileAloneUntilSaveWhichReplacesItInPlace)
{
    const std::string path = Sample();
    const std::string original = ReadBytes(path);
    ASSERT_EQ(1, handle.Open(path.c_str(), PackageHandle::kOpenExisting));
    ASSERT_EQ(1, Add("setup.exe", "Commonfiles", "new installer", MakeInfo(0x20, 5)));
    ASSERT_EQ(1, handle.RemoveEntry("readme.txt", "Commonfiles"));
    ASSERT_EQ(1, Add("extra.dat", "Extra", "extra", MakeInfo(0x20, 6)));
    EXPECT_EQ(original, ReadBytes(path)) << "changes live in memory until Save";

    // The file stays open for the entries: others can read it meanwhile.
    {
        CFile reader;
        EXPECT_EQ(1, reader.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone));
    }
    ASSERT_EQ(1, handle.Save());
    EXPECT_EQ(std::vector<std::string>{"sample.oem"}, ListFolder(scratch.Path())) << "no temporary file stays";
    // Saved twice to the same path: the entries now view the saved file.
    ASSERT_EQ(1, handle.Save());
    const std::string saved = ReadBytes(path);
    EXPECT_NE(original, saved);
    ASSERT_EQ(1, handle.ExtractEntry("CONFIG.INI", "Config", scratch.Path().c_str(), "config.out", 0));
    EXPECT_EQ("[Commonfiles]", ReadBytes(scratch / "config.out"));

    PackageHandle reopened;
    ASSERT_EQ(1, reopened.Open(path.c_str(), PackageHandle::kOpenExisting));
    EXPECT_EQ(3, reopened.CountEntries(nullptr));
    ASSERT_EQ(1, reopened.ExtractEntry("setup.exe", "Commonfiles", scratch.Path().c_str(), "setup.out", 0));
    EXPECT_EQ("new installer", ReadBytes(scratch / "setup.out"));
    EXPECT_EQ(0, reopened.GetEntryInfo("readme.txt", "Commonfiles", nullptr, nullptr));
#ifdef _WIN32
    // While another handle has the file mapped, Windows does not let it be
    // replaced: that save fails and changes nothing.
    EXPECT_EQ(0, reopened.Save());
    EXPECT_EQ(saved, ReadBytes(path));
    EXPECT_EQ((std::vector<std::string>{"config.out", "sample.oem", "setup.out"}), ListFolder(scratch.Path()));
#endif
    handle.Close();
    // A package saved unchanged is the same bytes.
    ASSERT_EQ(1, reopened.Save());
    EXPECT_EQ(saved, ReadBytes(path));
    reopened.Close();
    EXPECT_TRUE(DeletePath(path.c_str())) << "Close lets go of the file";
}

TEST_F(PackageHandleTest, SharingOfAnOpenPackageWithOtherOpeners)
{
    const std::string path = Sample();
    const std::string original = ReadBytes(path);
    ASSERT_EQ(1, handle.Open(path.c_str(), PackageHandle::kOpenExisting));
    ASSERT_EQ(1, Add("extra.dat", "Extra", "extra", MakeInfo(0x20, 6)));
    {
        CFile writer;
        int opened = writer.Open(path.c_str(), CFile::modeWrite | CFile::shareDenyNone);
        // The read-only mapping shares writing (a file its writer still
        // holds can be opened); POSIX has no share modes at all.
        EXPECT_EQ(1, opened);
    }
    {
        // Another reader that does not share deletion keeps the file in place
        // on Windows: the save fails, and leaves the file and the folder as
        // they were. POSIX replaces a file whoever has it open.
        CFile reader;
        ASSERT_EQ(1, reader.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone));
        SetLastErrorValue(0);
        int saved = handle.Save();
#ifdef _WIN32
        EXPECT_EQ(0, saved);
        EXPECT_NE(0u, GetLastErrorValue());
        EXPECT_EQ(original, ReadBytes(path));
        EXPECT_EQ(std::vector<std::string>{"sample.oem"}, ListFolder(scratch.Path()));
#else
        EXPECT_EQ(1, saved);
#endif
    }
    ASSERT_EQ(1, handle.Save());
    ASSERT_EQ(1, handle.ExtractEntry("setup.exe", "Commonfiles", scratch.Path().c_str(), "setup.out", 0));
    EXPECT_EQ("installer", ReadBytes(scratch / "setup.out"));
    PackageHandle reopened;
    ASSERT_EQ(1, reopened.Open(path.c_str(), PackageHandle::kOpenExisting));
    EXPECT_EQ(4, reopened.CountEntries(nullptr));
}

TEST_F(PackageHandleTest, AFullPackageOf65535EntriesOpensExtractsAndSaves)
{
    // Each entry would have cost an allocation of its own (64 KiB of address
    // space on Windows): 40,000 of them did not fit a 32-bit process.
    std::vector<std::string> entries;
    for (uint32_t i = 0; i < 65535; ++i)
        entries.push_back(StoredEntry("f" + std::to_string(i) + ".txt", "content " + std::to_string(i)));
    const std::string path = scratch / "full.oem";
    WriteBytes(path, ContainerBytes({{"G", entries}}));
    ASSERT_EQ(1, handle.Open(path.c_str(), PackageHandle::kOpenExisting));
    EXPECT_EQ(65535, handle.CountEntries(nullptr));
    ASSERT_EQ(1, handle.ExtractEntry("f65534.txt", "G", scratch.Path().c_str(), nullptr, 0));
    EXPECT_EQ("content 65534", ReadBytes(scratch / "f65534.txt"));
    const std::string original = ReadBytes(path);
    ASSERT_EQ(1, handle.Save());
    EXPECT_EQ(original, ReadBytes(path)) << "an unchanged package saves as the same bytes";
    ASSERT_EQ(1, handle.ExtractEntry("f0.txt", "G", scratch.Path().c_str(), nullptr, 0));
    EXPECT_EQ("content 0", ReadBytes(scratch / "f0.txt"));
}

TEST_F(PackageHandleTest, ReadEntrySizesTheBlockAndRefusesEmptyEntriesAndBusyBlocks)
{
    OpenImage(ContainerBytes({{"G", {StoredEntry("a.txt", "abc"), StoredEntry("empty", {})}}}));
    MappedFile block, empty;
    EntryInfo info = {};
    ASSERT_EQ(1, handle.ReadEntry("A.TXT", "G", block, 100, &info));
    EXPECT_EQ(100u, block.GetCapacity());
    EXPECT_EQ(3u, block.GetSize());
    EXPECT_EQ(0, std::memcmp(block.GetData(), "abc", 3));
    EXPECT_EQ(kImageEntryInfo.lastWriteTime, info.lastWriteTime);
    EXPECT_EQ(0, handle.ReadEntry("a.txt", "G", block, 0, nullptr)) << "the block is in use";
    EXPECT_EQ(0, handle.ReadEntry("empty", "G", empty, 0, nullptr));
    EXPECT_EQ(0, handle.ExtractEntry("empty", "G", scratch.Path().c_str(), nullptr, 0));
    EXPECT_RESULT_AND_ERROR(0, kErrorFileNotFound, handle.ReadEntry("b.txt", "G", empty, 0, nullptr));
}

TEST_F(PackageHandleTest, CompressedEntriesDecodeAndExtract)
{
    // Long enough for several dictionary resets.
    std::string content = CompressibleBytes(300000);
    OpenImage(ContainerBytes({{"G", {PackedEntry("data.bin", content)}}}));
    MappedFile block;
    ASSERT_EQ(1, handle.ReadEntry("data.bin", "G", block, 0, nullptr));
    EXPECT_EQ(content, std::string(block.GetData(), block.GetData() + block.GetSize()));
    ASSERT_EQ(1, handle.ExtractEntry("data.bin", "G", scratch.Path().c_str(), "out.bin", kOverwriteAlways));
    EXPECT_EQ(content, ReadBytes(scratch / "out.bin"));
}

TEST_F(PackageHandleTest, AFaultyCompressedStreamIsInvalidDataAndNothingIsWritten)
{
    void (*damages[])(ImageEntry&) = {
        [](ImageEntry& e) { e.stored.resize(e.compressedSize = static_cast<uint32_t>(e.stored.size() / 2)); },
        [](ImageEntry& e) { e.uncompressedSize += 1; },
        [](ImageEntry& e) { e.uncompressedSize -= 1; },
        // The second code (bits 9 to 17) becomes 511, far past the next free code.
        [](ImageEntry& e) { e.stored[1] |= 0x7F, e.stored[2] |= 0xC0; },
    };
    std::string destination = scratch / "installer.exe";
    for (auto damage : damages) {
        ImageEntry entry = PackedEntry("data.bin", CompressibleBytes(4000));
        damage(entry);
        handle.Close();
        OpenImage(ContainerBytes({{"G", {entry}}}));
        MappedFile block;
        EXPECT_RESULT_AND_ERROR(0, kErrorInvalidData, handle.ReadEntry("data.bin", "G", block, 0, nullptr));
        EXPECT_TRUE(block.IsClosed());
        WriteBytes(destination, "previous installer");
        EXPECT_RESULT_AND_ERROR(0, kErrorInvalidData,
                                handle.ExtractEntry("data.bin", "G", scratch.Path().c_str(), "installer.exe", 0));
        EXPECT_EQ("previous installer", ReadBytes(destination));
        Collected pieces;
        EXPECT_RESULT_AND_ERROR(0, kErrorInvalidData, handle.ReadEntryPieces("data.bin", "G", Collect, &pieces));
    }
}

TEST_F(PackageHandleTest, EntryPiecesAreTheDecodedBytesInOrder)
{
    const std::string stored = PatternBytes(300000, 3), packed = CompressibleBytes(700000);
    OpenImage(ContainerBytes({{"G", {StoredEntry("stored.bin", stored), PackedEntry("packed.bin", packed),
                                     StoredEntry("empty", {})}}}));
    for (const char* name : {"stored.bin", "packed.bin"}) {
        Collected pieces;
        ASSERT_EQ(1, handle.ReadEntryPieces(name, "G", Collect, &pieces)) << name;
        EXPECT_TRUE(pieces.bytes == (name[0] == 's' ? stored : packed)) << name;
        if (name[0] == 'p') {
            EXPECT_EQ(static_cast<int>((packed.size() + kLzwPieceSize - 1) / kLzwPieceSize), pieces.count);
        }
    }
    Collected none;
    EXPECT_EQ(1, handle.ReadEntryPieces("empty", "G", Collect, &none));
    EXPECT_EQ(0, none.count);
    // A sink that stops: no further piece, and the last-error value is the caller's.
    Collected stopped;
    stopped.refuseAt = 3;
    EXPECT_RESULT_AND_ERROR(0, 0xDEADBEEF, handle.ReadEntryPieces("packed.bin", "G", Collect, &stopped));
    EXPECT_EQ(3, stopped.count);
    EXPECT_TRUE(stopped.bytes == packed.substr(0, stopped.bytes.size()));
    EXPECT_RESULT_AND_ERROR(0, kErrorFileNotFound, handle.ReadEntryPieces("other.bin", "G", Collect, &none));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.ReadEntryPieces("stored.bin", "", Collect, &none));
    handle.Close();
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.ReadEntryPieces("stored.bin", "G", Collect, &none));
}

// A split stream of content, its pieces' index as make records it for the
// package image that holds it, and the image.
struct SplitPackage {
    std::string content;
    std::string image;
    IndexedStream stream;
};

SplitPackage SplitEntryPackage(uint32_t pieceSize)
{
    SplitPackage package;
    package.content = CompressibleBytes(4 * pieceSize + 1234);
    std::vector<uint8_t> stream;
    EXPECT_EQ(1, LzwEncodeBuffer(Data(package.content), Size(package.content), &stream, pieceSize,
                                 &package.stream.pieces));
    const std::string streamBytes(stream.begin(), stream.end());
    package.image = ContainerBytes({{"G", {EntryBytes("data.bin", streamBytes, Size(package.content),
                                                      Size(streamBytes))}}});
    package.stream.offset = static_cast<uint32_t>(package.image.find(streamBytes));
    package.stream.length = Size(streamBytes);
    return package;
}

std::vector<uint8_t> IndexOf(const IndexedStream& stream)
{
    PieceIndex index;
    index.Add(stream);
    return index.Encode();
}

TEST_F(PackageHandleTest, ASplitEntryIsDecodedByItsPieceIndexAndALyingIndexChangesNothing)
{
    constexpr uint32_t kPieceSize = 100000;
    const SplitPackage package = SplitEntryPackage(kPieceSize);
    ASSERT_EQ(5u, package.stream.pieces.size());
    OpenImage(package.image);
    const std::vector<uint8_t> index = IndexOf(package.stream);
    ASSERT_EQ(1, handle.SetPieceIndex(index.data(), static_cast<uint32_t>(index.size())));
    Collected pieces;
    ASSERT_EQ(1, handle.ReadEntryPieces("data.bin", "G", Collect, &pieces));
    EXPECT_TRUE(pieces.bytes == package.content);
    // Decoded piece by piece: what is handed over breaks where each piece ends.
    for (size_t end = kPieceSize; end < package.content.size(); end += kPieceSize)
        EXPECT_NE(pieces.ends.end(), std::find(pieces.ends.begin(), pieces.ends.end(), end)) << end;
    ASSERT_EQ(1, handle.ExtractEntry("data.bin", "G", scratch.Path().c_str(), "out.bin", kOverwriteAlways));
    EXPECT_TRUE(ReadBytes(scratch / "out.bin") == package.content);

    // Indexes that do not fit the stream: the same bytes.
    std::vector<IndexedStream> lies(4, package.stream);
    lies[0].pieces[2].startBit += 1;
    lies[1].pieces[3].length -= 1;
    lies[2].pieces.pop_back();
    std::swap(lies[3].pieces[1], lies[3].pieces[2]);
    for (size_t i = 0; i < lies.size(); ++i) {
        const std::vector<uint8_t> lying = IndexOf(lies[i]);
        ASSERT_EQ(1, handle.SetPieceIndex(lying.data(), static_cast<uint32_t>(lying.size())));
        Collected again;
        EXPECT_EQ(1, handle.ReadEntryPieces("data.bin", "G", Collect, &again)) << i;
        EXPECT_TRUE(again.bytes == package.content) << i;
        DeletePath((scratch / "out.bin").c_str());
        EXPECT_EQ(1, handle.ExtractEntry("data.bin", "G", scratch.Path().c_str(), "out.bin", kOverwriteAlways)) << i;
        EXPECT_TRUE(ReadBytes(scratch / "out.bin") == package.content) << i;
    }
    // A malformed record leaves the handle without an index; Close drops a good one.
    const uint8_t junk[20] = {'O', 'I', 'D', 'X'};
    EXPECT_EQ(0, handle.SetPieceIndex(junk, sizeof junk));
    ASSERT_EQ(1, handle.SetPieceIndex(index.data(), static_cast<uint32_t>(index.size())));
    handle.Close();
    EXPECT_RESULT_AND_ERROR(0, kErrorNotReady, handle.ReadEntryPieces("data.bin", "G", Collect, &pieces));
}

// The whole decoded bytes the failure callback was handed.
int KeepFailureData(ExtractFailureInfo* info, void* data)
{
    static_cast<std::string*>(data)->assign(reinterpret_cast<const char*>(info->data), info->size);
    return 7;
}

TEST_F(PackageHandleTest, LargeEntriesAreWrittenInPiecesWholeAndTheCallbackStillSeesAllBytes)
{
    // Several write pieces of a stored entry, many decoder pieces of a packed one.
    std::string stored = PatternBytes(2 * 1024 * 1024 + 12345, 5), packed = CompressibleBytes(700000);
    std::string image = scratch / "large.oem";
    WriteBytes(image, ContainerBytes({{"G", {StoredEntry("stored.bin", stored), PackedEntry("packed.bin", packed)}}}));
    std::string failures;
    ASSERT_EQ(1, handle.Open(image.c_str(), PackageHandle::kOpenExisting, KeepFailureData, &failures));
    for (const char* name : {"stored.bin", "packed.bin"}) {
        ASSERT_EQ(1, handle.ExtractEntry(name, "G", scratch.Path().c_str(), nullptr, kOverwriteAlways)) << name;
        EXPECT_TRUE(ReadBytes(scratch / name) == (name[0] == 's' ? stored : packed)) << name;
    }
    // A destination that cannot be created hands the whole entry to the callback.
    std::string folder = scratch / "blocked";
    ASSERT_TRUE(CreateFolder(folder.c_str()));
    ASSERT_TRUE(CreateFolder((folder + kPathSeparator + "packed.bin").c_str()));
    EXPECT_EQ(7, handle.ExtractEntry("packed.bin", "G", folder.c_str(), nullptr, kOverwriteAlways));
    EXPECT_TRUE(failures == packed);
}

TEST_F(PackageHandleTest, ExtractEntryTellsTheDigestOfTheCompressedBytesItWrote)
{
    auto digestOf = [](const std::string& bytes) { return Sha256Of(Data(bytes), bytes.size()); };
    const std::string stored = PatternBytes(300000, 3), packed = CompressibleBytes(700000);
    ImageEntry broken = PackedEntry("damaged", CompressibleBytes(500000));
    broken.stored.resize(broken.stored.size() - 3);
    broken.compressedSize = static_cast<uint32_t>(broken.stored.size());
    const std::string image = scratch / "digest.oem";
    WriteBytes(image,
               ContainerBytes({{"G", {StoredEntry("stored.bin", stored), PackedEntry("packed.bin", packed), broken}}}));
    int callbackCalls = 0;
    auto refuse = [](ExtractFailureInfo*, void* calls) {
        ++*static_cast<int*>(calls);
        return 7;
    };
    ASSERT_EQ(1, handle.Open(image.c_str(), PackageHandle::kOpenExisting, refuse, &callbackCalls));
    const char* here = scratch.Path().c_str();
    WrittenEntry written;
    ASSERT_EQ(1, handle.ExtractEntry("packed.bin", "G", here, nullptr, kOverwriteAlways, nullptr, &written));
    EXPECT_TRUE(written.digested);
    EXPECT_TRUE(written.digest == digestOf(packed));
    // Only decoded bytes written out get a digest: a stored entry is compared
    // as it lies in the package, a kept file was not written, and neither was
    // one left to the callback or cut short by a fault.
    ASSERT_EQ(1, handle.ExtractEntry("stored.bin", "G", here, nullptr, kOverwriteAlways, nullptr, &written));
    EXPECT_FALSE(written.digested);
    written.digested = true;
    ASSERT_EQ(1, handle.ExtractEntry("packed.bin", "G", here, nullptr, kOverwriteIfNewerTime, nullptr, &written));
    EXPECT_FALSE(written.digested);
    const std::string blocked = scratch / "blocked";
    ASSERT_TRUE(CreateFolder(blocked.c_str()));
    ASSERT_TRUE(CreateFolder((blocked + kPathSeparator + "packed.bin").c_str()));
    written.digested = true;
    EXPECT_EQ(7, handle.ExtractEntry("packed.bin", "G", blocked.c_str(), nullptr, kOverwriteAlways, nullptr, &written));
    EXPECT_EQ(1, callbackCalls);
    EXPECT_FALSE(written.digested);
    written.digested = true;
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidData,
                            handle.ExtractEntry("damaged", "G", here, nullptr, kOverwriteAlways, nullptr, &written));
    EXPECT_FALSE(written.digested);

    // Pieces decoded side by side go into the digest in their order.
    const SplitPackage split = SplitEntryPackage(100000);
    OpenImage(split.image);
    const std::vector<uint8_t> index = IndexOf(split.stream);
    ASSERT_EQ(1, handle.SetPieceIndex(index.data(), static_cast<uint32_t>(index.size())));
    ASSERT_EQ(1, handle.ExtractEntry("data.bin", "G", here, "split.bin", kOverwriteAlways, nullptr, &written));
    EXPECT_TRUE(written.digested);
    EXPECT_TRUE(written.digest == digestOf(split.content));
}

TEST_F(PackageHandleTest, ADamagedStreamLeavesNoFileBehind)
{
    // The damage lies far behind the first pieces of output.
    ImageEntry entry = PackedEntry("data.bin", CompressibleBytes(500000));
    entry.stored.resize(entry.stored.size() - 3);
    entry.compressedSize = static_cast<uint32_t>(entry.stored.size());
    OpenImage(ContainerBytes({{"G", {entry}}}));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidData,
                            handle.ExtractEntry("data.bin", "G", scratch.Path().c_str(), "out.bin", 0));
    EXPECT_FALSE(PathExists((scratch / "out.bin").c_str()));
}

int CountFailure(ExtractFailureInfo*, void* data)
{
    ++*static_cast<int*>(data);
    return 1;
}

TEST_F(PackageHandleTest, ADamagedStreamIsInvalidDataWhateverElseWouldHaveHappened)
{
    // Damage behind the first pieces of output: the decoder has written
    // some of the file by the time it meets it.
    ImageEntry entry = PackedEntry("data.bin", CompressibleBytes(500000));
    entry.stored[entry.stored.size() - 40] ^= 0x5A;
    std::string image = scratch / "damaged.oem";
    WriteBytes(image, ContainerBytes({{"G", {entry}}}));
    int failures = 0;
    ASSERT_EQ(1, handle.Open(image.c_str(), PackageHandle::kOpenExisting, CountFailure, &failures));
    std::string folder = scratch / "out";
    ASSERT_TRUE(CreateFolder(folder.c_str()));
    const std::string existing = folder + kPathSeparator + "old.bin";
    for (int mode : {kOverwriteAlways, kOverwriteIfNewerTime, kOverwriteIfNewerVersion,
                     kOverwriteIfNewerVersionThenTime}) {
        SCOPED_TRACE(mode);
        WriteBytes(existing, "previous");
        EXPECT_RESULT_AND_ERROR(0, kErrorInvalidData, handle.ExtractEntry("data.bin", "G", folder.c_str(),
                                                                          "old.bin", mode));
        EXPECT_EQ("previous", ReadBytes(existing));
        EXPECT_RESULT_AND_ERROR(0, kErrorInvalidData,
                                handle.ExtractEntry("data.bin", "G", folder.c_str(), "new.bin", mode));
        // Neither the destination nor a temporary file stays.
        EXPECT_EQ(std::vector<std::string>{"old.bin"}, ListFolder(folder));
    }
    // A destination that cannot be made, a name that is refused: the damage is what is reported.
    ASSERT_TRUE(CreateFolder((folder + kPathSeparator + "dir.bin").c_str()));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidData, handle.ExtractEntry("data.bin", "G", folder.c_str(), "dir.bin", 0));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidData, handle.ExtractEntry("data.bin", "G", folder.c_str(), "a:b", 0));
    EXPECT_EQ(0, failures);
}

TEST_F(PackageHandleTest, ACompressedEntryReplacesAnExistingFileOnlyWhenItMayBeWritten)
{
    std::string content = CompressibleBytes(200000);
    OpenImage(ContainerBytes({{"G", {PackedEntry("data.bin", content)}}}));
    std::string folder = scratch / "out";
    ASSERT_TRUE(CreateFolder(folder.c_str()));
    const std::string existing = folder + kPathSeparator + "data.bin";
    WriteBytes(existing, "previous");
    ASSERT_EQ(1, handle.ExtractEntry("data.bin", "G", folder.c_str(), nullptr, kOverwriteAlways));
    EXPECT_TRUE(ReadBytes(existing) == content);
    EXPECT_EQ(std::vector<std::string>{"data.bin"}, ListFolder(folder));
    // A folder in the way is refused with the error of creating the file there.
    const std::string blocked = folder + kPathSeparator + "dir.bin";
    ASSERT_TRUE(CreateFolder(blocked.c_str()));
    SetLastErrorValue(0);
    EXPECT_EQ(0, handle.ExtractEntry("data.bin", "G", folder.c_str(), "dir.bin", kOverwriteAlways));
    const uint32_t refused = GetLastErrorValue();
    CFile file;
    SetLastErrorValue(0);
    EXPECT_FALSE(file.Open(blocked.c_str(), CFile::modeCreate | CFile::modeWrite));
    EXPECT_NE(0u, refused);
    EXPECT_EQ(GetLastErrorValue(), refused);
    EXPECT_EQ((std::vector<std::string>{"data.bin", "dir.bin"}), ListFolder(folder));
}

TEST_F(PackageHandleTest, ExtractEntryWritesUnderTheCallersSpellingWithTimesAndAttributes)
{
    ImageEntry entry = StoredEntry("Tool.exe", "tool");
    entry.info.attributes |= kFileAttributeReadOnly;
    OpenImage(ContainerBytes({{"G", {entry}}}));
    std::string folder = scratch / "out";
    ASSERT_TRUE(CreateFolder(folder.c_str()));
    ASSERT_EQ(1, handle.ExtractEntry("TOOL.EXE", "G", (folder + kPathSeparator).c_str(), nullptr, 0));
    std::string written = folder + kPathSeparator + "TOOL.EXE";
    EXPECT_EQ(entry.info.lastWriteTime, LastWriteTime(written));
    EXPECT_NE(0u, GetPathAttributes(written.c_str()) & kFileAttributeReadOnly);
    EXPECT_EQ("tool", ReadBytes(written));
    EXPECT_RESULT_AND_ERROR(0, kErrorFileNotFound, handle.ExtractEntry("Tool2.exe", "G", folder.c_str(), nullptr, 0));
    EXPECT_RESULT_AND_ERROR(0, kErrorInvalidParameter, handle.ExtractEntry("Tool.exe", "", folder.c_str(), nullptr, 0));
}

TEST_F(PackageHandleTest, OnlyBareFileNamesReachTheDisk)
{
    std::vector<std::string> entries;
    for (const char* name : {"..\\evil.exe", "../evil.exe", "C:evil.exe", "..", "", "good.exe"})
        entries.push_back(StoredEntry(name, "payload"));
    OpenImage(ContainerBytes({{"G", entries}}));
    std::string folder = scratch / "inner";
    ASSERT_TRUE(CreateFolder(folder.c_str()));
    for (const char* name : {"..\\evil.exe", "../evil.exe", "C:evil.exe", "..", ""})
        EXPECT_RESULT_AND_ERROR(0, kErrorInvalidName, handle.ExtractEntry(name, "G", folder.c_str(), nullptr, 0));
    for (const char* destination : {"..\\evil.exe", "../evil.exe", "x:y", ".", ""})
        EXPECT_RESULT_AND_ERROR(0, kErrorInvalidName,
                                handle.ExtractEntry("good.exe", "G", folder.c_str(), destination, 0));
    EXPECT_FALSE(PathExists((scratch / "evil.exe").c_str()));
    EXPECT_EQ(1, handle.ExtractEntry("good.exe", "G", folder.c_str(), nullptr, 0));
}

TEST_F(PackageHandleTest, ADestinationPathLongerThanTheBufferIsRefusedNotCut)
{
    OpenImage(ContainerBytes({{"G", {StoredEntry("a.txt", "a")}}}));
    // folder + separator + name of 259 bytes fits with its zero; one more does not.
    std::string fits(258 - scratch.Path().size(), 'n');
    EXPECT_RESULT_AND_ERROR(0, kErrorFilenameExcedRange,
                            handle.ExtractEntry("a.txt", "G", scratch.Path().c_str(), (fits + "n").c_str(), 0));
    EXPECT_FALSE(PathExists((scratch / fits).c_str()));
    EXPECT_EQ(1, handle.ExtractEntry("a.txt", "G", scratch.Path().c_str(), fits.c_str(), 0));
}

}  // namespace
