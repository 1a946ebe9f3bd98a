// Container bytes on disk: the worked layout, size rules, and malformed images.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ContainerFormat.h"
#include "ContainerTestSupport.h"
#include "EntryBuilder.h"
#include "PackageDirectory.h"

using namespace testing_support;

namespace {

std::vector<uint8_t> WriteToBytes(const PackageDirectory& directory, const ScratchFolder& folder)
{
    const std::string path = folder.File("out.oem");
    EXPECT_EQ(1, WriteContainerImage(directory, path.c_str()));
    return ReadFileBytes(path);
}

uint32_t U32At(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// The one-group, one-entry container: Tools / a.txt holding "hello".
std::vector<uint8_t> ToolsExample()
{
    return ContainerBytes({{"Tools", {StoredEntry("a.txt", "hello")}}});
}

int LoadCount(const std::vector<uint8_t>& image, uint32_t size)
{
    PackageDirectory directory;
    return directory.LoadImage(image.data(), size);
}

}  // namespace

TEST(ContainerLayout, WorkedExampleIsEightyThreeBytesWithTheDocumentedOffsets)
{
    ScratchFolder folder("layout");
    const std::string source = folder.File("a.txt");
    WriteFileText(source, "hello");

    EntryBuffer* entry = new EntryBuffer;
    {
        MappedFile file;
        ASSERT_EQ(1, file.OpenFile(source.c_str(), 1, kOpenExisting, 0));
        ASSERT_EQ(1, BuildEntry(file, source.c_str(), *entry, 1));
    }
    PackageDirectory directory;
    ASSERT_EQ(1, directory.AddEntry(entry, "Tools", "a.txt", 1));
    ASSERT_EQ(83u, directory.GetImageSize());
    const std::vector<uint8_t> bytes = WriteToBytes(directory, folder);

    Bytes expected;
    expected.Text("BOEM").U8(0x00).U8(0x02).U16(1).U32(0).U16(1).U32(18);
    expected.U8(0xEC).U8(0xFC).U16(5).Text("Tools").U16(1).U32(15);
    expected.U8(0xFF).U8(0xFF).U32(entry->GetAttributes()).U32(5).U32(0);
    for (FileTime t : {entry->GetCreationTime(), entry->GetLastAccessTime(), entry->GetLastWriteTime()})
        expected.U32(t.lowDateTime).U32(t.highDateTime);
    expected.U16(5).Text("a.txt").Text("hello");
    ASSERT_EQ(83u, expected.Size());
    EXPECT_EQ(expected.data, bytes);
    EXPECT_EQ(kFileAttributeArchive, entry->GetAttributes() & ~kFileAttributeReadOnly);
    // The hand-assembled layout used by the other tests agrees, times aside.
    EXPECT_EQ(83u, ToolsExample().size());
}

TEST(ContainerLayout, DirectoryWithoutGroupsIsTheBareEighteenByteHeader)
{
    ScratchFolder folder("nogroups");
    PackageDirectory directory;
    EXPECT_EQ(18u, directory.GetImageSize());
    Bytes expected;
    expected.Text("BOEM").U16(0x0200).U16(0).U32(0).U16(0).U32(0);
    EXPECT_EQ(expected.data, WriteToBytes(directory, folder));

    PackageDirectory reloaded;
    const std::vector<uint8_t> bytes = expected.data;
    EXPECT_EQ(0, reloaded.LoadImage(bytes.data(), 18));
    EXPECT_TRUE(ValidateContainer(ByteView(bytes.data(), 18), ContainerCheck::kRead));
}

TEST(ContainerLayout, EmptyGroupEmptyNamesAndEmptyDataUseTheMinimumSlots)
{
    // Group "" holding an entry "" of 0 bytes; group "E" left without entries.
    const std::vector<uint8_t> image =
        ContainerBytes({{"", {EntryBytes("", {}, 0, 0)}}, {"E", {}}});
    // header 14 + 8; group "" 11 + 41; group "E" 11.
    ASSERT_EQ(22u + 52u + 11u, image.size());

    PackageDirectory directory;
    ASSERT_EQ(2, directory.LoadImage(image.data(), static_cast<uint32_t>(image.size())));
    EntryBuffer* empty = directory.FindEntry("", "");
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(41u, empty->GetEntryLength());
    EXPECT_EQ(0u, empty->GetStoredLength());
    EXPECT_EQ(0, directory.GetEntryCount("E"));
    EXPECT_EQ(image.size(), directory.GetImageSize());

    ScratchFolder folder("minimum");
    const std::vector<uint8_t> written = WriteToBytes(directory, folder);
    ASSERT_EQ(image.size(), written.size());
    // Group order may differ from the hand-made one; check each record by its table slot.
    for (int slot = 0; slot < 2; ++slot) {
        const uint32_t record = U32At(written, 14 + 4 * slot);
        const uint16_t nameLength = written[record + 2];
        if (nameLength == 0) {
            EXPECT_EQ(0, written[record + 4]);            // one zero byte of name
            EXPECT_EQ(1, written[record + 5]);            // entry count
            EXPECT_EQ(11u, U32At(written, record + 7));   // entry right after the record
            EXPECT_EQ(0, written[record + 11 + 39]);      // entry name: a single zero byte
        } else {
            EXPECT_EQ(0, written[record + 5]);            // entry count 0 ...
            EXPECT_EQ(0u, U32At(written, record + 7));    // ... and one slot holding 0
        }
    }
}

TEST(ContainerLayout, SizeRulesUseMaxOfLengthAndOne)
{
    EXPECT_EQ(18u, HeaderSize(0));
    EXPECT_EQ(18u, HeaderSize(1));
    EXPECT_EQ(14u + 4 * 65535u, HeaderSize(65535));
    EXPECT_EQ(11u, GroupRecordSize(0, 0));
    EXPECT_EQ(11u, GroupRecordSize(1, 1));
    EXPECT_EQ(11u + 2 + 4 * 2, GroupRecordSize(3, 3));
    EXPECT_EQ(41u, EntrySize(0, 0));
    EXPECT_EQ(41u, EntrySize(1, 0));
    EXPECT_EQ(40u + 259 + 0xFFFFFFFFull, EntrySize(259, 0xFFFFFFFF));
    EXPECT_EQ(7u, StoredDataLength(100, 7));
    EXPECT_EQ(100u, StoredDataLength(100, 0));
}

TEST(ContainerValidation, ReaderRequiresTheExactVersionLoaderOnlyTheMagic)
{
    for (uint16_t version : {0x0201, 0x0100, 0x0300}) {
        const std::vector<uint8_t> image = ContainerBytes({{"G", {StoredEntry("x", "1")}}}, version);
        const ByteView view(image.data(), static_cast<uint32_t>(image.size()));
        EXPECT_FALSE(ValidateContainer(view, ContainerCheck::kRead)) << std::hex << version;
        EXPECT_TRUE(ValidateContainer(view, ContainerCheck::kLoad)) << std::hex << version;
        EXPECT_EQ(1, LoadCount(image, view.Size()));
    }
    std::vector<uint8_t> image = ToolsExample();
    image[3] = 'N';
    EXPECT_EQ(0, LoadCount(image, static_cast<uint32_t>(image.size())));
}

TEST(ContainerValidation, GroupWithoutSignatureIsSkippedByTheLoaderRefusedByTheReader)
{
    std::vector<uint8_t> image =
        ContainerBytes({{"A", {StoredEntry("a", "1")}}, {"B", {StoredEntry("b", "2")}}});
    const uint32_t second = U32At(image, 18);
    image[second] = 0xED;
    const ByteView view(image.data(), static_cast<uint32_t>(image.size()));
    EXPECT_FALSE(ValidateContainer(view, ContainerCheck::kRead));
    PackageDirectory directory;
    ASSERT_EQ(1, directory.LoadImage(image.data(), view.Size()));
    EXPECT_NE(nullptr, directory.FindEntry("a", "A"));
    EXPECT_EQ(nullptr, directory.FindGroup("B"));
}

TEST(ContainerValidation, ChildThatIsNotAFileEntryIsSkipped)
{
    const std::vector<uint8_t> image = ContainerBytes(
        {{"G", {StoredEntry("one", "1"), EntryBytes("odd", {'x'}, 1, 0, 0x20, 0x1234), StoredEntry("two", "2")}}});
    PackageDirectory directory;
    ASSERT_EQ(1, directory.LoadImage(image.data(), static_cast<uint32_t>(image.size())));
    CStringArray names;
    ASSERT_EQ(1, directory.ListEntries("G", names));
    ASSERT_EQ(2, names.GetSize());
    EXPECT_STREQ("one", names[0]);
    EXPECT_STREQ("two", names[1]);
}

TEST(ContainerValidation, EveryTruncationOfAValidImageLoadsNothing)
{
    const std::vector<uint8_t> image =
        ContainerBytes({{"Tools", {StoredEntry("a.txt", "hello"), StoredEntry("b", "xyz")}}, {"", {}}});
    const uint32_t size = static_cast<uint32_t>(image.size());
    ASSERT_EQ(2, LoadCount(image, size));
    for (uint32_t cut = 0; cut < size; ++cut) {
        // A copy of exactly `cut` bytes, so that the sanitizers see any read past it.
        std::vector<uint8_t> prefix(image.begin(), image.begin() + cut);
        EXPECT_EQ(0, LoadCount(prefix, cut)) << "cut at " << cut;
        EXPECT_FALSE(ValidateContainer(ByteView(prefix.data(), cut), ContainerCheck::kRead)) << cut;
    }
}

// Offsets in ToolsExample: group table slot 14, group record 18 (name length
// 20, entry count 27, entry slot 29), entry record 33 (sizes 39 / 43, name
// length 71, name 73, data 78..82).
struct Corruption {
    const char* what;
    uint32_t offset;
    uint32_t value;
    int width;
};

class MalformedImage : public ::testing::TestWithParam<Corruption> {};

TEST_P(MalformedImage, LoadsNothingAndLeavesTheDirectoryAsItWas)
{
    const Corruption c = GetParam();
    std::vector<uint8_t> image = ToolsExample();
    for (int i = 0; i < c.width; ++i)
        image[c.offset + i] = static_cast<uint8_t>(c.value >> (8 * i));
    const uint32_t size = static_cast<uint32_t>(image.size());

    PackageDirectory directory;
    EntryBuffer* kept = new EntryBuffer;
    ASSERT_EQ(1, BuildMemoryEntry("keep", "kept.bin", *kept));
    ASSERT_EQ(1, directory.AddEntry(kept, "Tools", "kept.bin", 1));
    EXPECT_EQ(0, directory.LoadImage(image.data(), size));
    EXPECT_EQ(1, directory.GetGroupCount());
    EXPECT_EQ(1, directory.GetEntryCount(nullptr));
    EXPECT_EQ(kept, directory.FindEntry("kept.bin", "Tools"));
    EXPECT_FALSE(ValidateContainer(ByteView(image.data(), size), ContainerCheck::kRead));
}

INSTANTIATE_TEST_SUITE_P(
    Corruptions, MalformedImage,
    ::testing::Values(Corruption{"group table past the end", 12, 0xFFFF, 2},
                      Corruption{"group offset at the end", 14, 83, 4},
                      Corruption{"group offset wraps", 14, 0xFFFFFFFE, 4},
                      Corruption{"group name past the end", 20, 0x1000, 2},
                      Corruption{"group name of 260 bytes", 20, 260, 2},
                      Corruption{"entry table past the end", 27, 40, 2},
                      Corruption{"entry offset past the end", 29, 83 - 18, 4},
                      Corruption{"entry offset wraps", 29, 0xFFFFFFF0, 4},
                      Corruption{"entry name past the end", 71, 0x0100, 2},
                      Corruption{"entry name of 260 bytes", 71, 260, 2},
                      Corruption{"data past the end", 39, 6, 4},
                      Corruption{"data length wraps", 39, 0xFFFFFFF0, 4},
                      Corruption{"compressed data past the end", 43, 0xFFFFFFFF, 4}),
    [](const ::testing::TestParamInfo<Corruption>& info) {
        std::string name;
        for (const char* p = info.param.what; *p; ++p)
            name += (*p == ' ') ? '_' : *p;
        return name;
    });

TEST(ContainerValidation, NamesOfExactly259BytesAreAccepted)
{
    const std::string longest(259, 'n');
    const std::vector<uint8_t> image = ContainerBytes({{longest, {StoredEntry(longest, "data")}}});
    PackageDirectory directory;
    ASSERT_EQ(1, directory.LoadImage(image.data(), static_cast<uint32_t>(image.size())));
    EntryBuffer* entry = directory.FindEntry(longest.c_str(), longest.c_str());
    ASSERT_NE(nullptr, entry);
    EXPECT_EQ(longest, std::string(entry->GetName()));

    const std::string tooLong(260, 'n');
    for (const auto& groups : {std::vector<GroupSpec>{{tooLong, {StoredEntry("a", "1")}}},
                               std::vector<GroupSpec>{{"G", {StoredEntry(tooLong, "1")}}}}) {
        const std::vector<uint8_t> bad = ContainerBytes(groups);
        EXPECT_EQ(0, LoadCount(bad, static_cast<uint32_t>(bad.size())));
    }
}

TEST(ContainerValidation, FileEntriesLongerInTotalThanTheImageAreRefused)
{
    // One group whose three slots all name the one entry record: 3 x 42 bytes
    // of entries in an image of 79 bytes.
    Bytes b;
    b.Text("BOEM").U16(0x0200).U16(3).U32(0).U16(1).U32(18);
    b.U16(0xFCEC).U16(1).Text("G").U16(3).U32(19).U32(19).U32(19);
    b.Raw(StoredEntry("a", "1"));
    ASSERT_EQ(79u, b.Size());
    EXPECT_EQ(0, LoadCount(b.data, b.Size()));
    // With one slot the same bytes are a valid container.
    b.data[23] = 1;
    EXPECT_EQ(1, LoadCount(b.data, b.Size()));
}

TEST(ContainerValidation, LookupsIgnoreCaseAndTakeTheFirstMatchInTableOrder)
{
    const std::vector<uint8_t> image = ContainerBytes(
        {{"Bin", {StoredEntry("Setup.EXE", "first"), StoredEntry("setup.exe", "second")}},
         {"BIN", {StoredEntry("other", "x")}}});
    const ByteView view(image.data(), static_cast<uint32_t>(image.size()));
    GroupRecord group;
    ASSERT_TRUE(FindGroupRecord(view, "bin", &group));
    EXPECT_EQ(U32At(image, 14), group.offset);
    EntryRecord entry;
    ASSERT_TRUE(FindEntryRecord(view, group, "SETUP.exe", &entry));
    EXPECT_EQ(std::string("first"), std::string(reinterpret_cast<const char*>(image.data()) + entry.dataOffset,
                                                 entry.dataLength));
    EXPECT_FALSE(FindEntryRecord(view, group, "other", &entry));
    EXPECT_FALSE(FindGroupRecord(view, "Bi", &group));
}
