// Container bytes: the documented layout, minimum sizes, validation of malformed images.
#include <gtest/gtest.h>

#include "ContainerFormat.h"
#include "ContainerImage.h"
#include "PackageDirectory.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

int LoadCount(const std::string& image)
{
    PackageDirectory directory;
    return directory.LoadImage(Data(image), Size(image));
}

bool ReaderAccepts(const std::string& image)
{
    return ValidateContainer(ByteView(Data(image), Size(image)), ContainerCheck::kRead);
}

// Group Tools holding a.txt = "hello": header 0..17, group record 18 (name
// length 20, count 27, entry slot 29), entry 33 (sizes 39/43, name length 71, data 78).
const std::string kTools = ContainerBytes({{"Tools", {StoredEntry("a.txt", "hello")}}});

}  // namespace

TEST(ContainerLayout, OneGroupOneEntryFileIsTheDocumentedEightyThreeBytes)
{
    ScratchFolder folder;
    const std::string source = folder / "a.txt";
    WriteBytes(source, "hello");
    EntryBuffer* entry = new EntryBuffer;
    MappedFile file;
    ASSERT_EQ(1, file.OpenFile(source.c_str(), 1, kOpenExisting, 0));
    ASSERT_EQ(1, BuildEntry(file, source.c_str(), *entry, 1));
    PackageDirectory directory;
    directory.AddEntry(entry, "Tools", "a.txt", 1);
    ASSERT_EQ(1, WriteContainerImage(directory, (folder / "out.oem").c_str()));

    Bytes expected;
    expected.Text("BOEM").U8(0x00).U8(0x02).U16(1).U32(0).U16(1).U32(18);
    expected.U8(0xEC).U8(0xFC).U16(5).Text("Tools").U16(1).U32(15);
    expected.U8(0xFF).U8(0xFF).U32(entry->GetAttributes()).U32(5).U32(0);
    for (FileTime t : {entry->GetCreationTime(), entry->GetLastAccessTime(), entry->GetLastWriteTime()})
        expected.U32(t.lowDateTime).U32(t.highDateTime);
    expected.U16(5).Text("a.txt").Text("hello");
    EXPECT_EQ(83u, expected.data.size());
    EXPECT_EQ(expected.data, ReadBytes(folder / "out.oem"));
    EXPECT_EQ(kTools.size(), expected.data.size());
}

TEST(ContainerLayout, EmptyGroupsNamesAndDataTakeTheMinimumSlots)
{
    PackageDirectory directory;
    EXPECT_EQ(std::string("BOEM\0\2\0\0\0\0\0\0\0\0\0\0\0\0", 18), Written(directory));

    const std::string emptyEntry = EntryBytes("", "", 0, 0);
    EntryBuffer* entry = new EntryBuffer;
    ASSERT_EQ(1, entry->CreateFromEntry(Data(emptyEntry), Size(emptyEntry)));
    EXPECT_EQ(41u, entry->GetEntryLength());
    directory.AddEntry(entry, "", "", 1);
    EntryBuffer* gone = new EntryBuffer;
    ASSERT_EQ(1, BuildMemoryEntry("x", "x", *gone));
    directory.AddEntry(gone, "E", "x", 1);
    directory.RemoveEntry("x", "E");

    // 14 + 2 slots, group "" 11 + its entry 41, group "E" 11 with one zero slot.
    const std::string image = Written(directory);
    ASSERT_EQ(22u + 52u + 11u, image.size());
    PackageDirectory reloaded;
    ASSERT_EQ(2, reloaded.LoadImage(Data(image), Size(image)));
    EXPECT_EQ(image, Written(reloaded));
}

TEST(ContainerValidation, LoaderChecksOnlyTheMagicReaderAlsoVersionAndSignatures)
{
    const std::string newer = ContainerBytes({{"G", {StoredEntry("x", "1")}}}, 0x0201);
    EXPECT_EQ(1, LoadCount(newer));
    EXPECT_FALSE(ReaderAccepts(newer));
    std::string noMagic = kTools;
    noMagic[3] = 'N';
    EXPECT_EQ(0, LoadCount(noMagic));

    std::string image = ContainerBytes({{"A", {StoredEntry("a", "1"), EntryBytes("odd", "x", 1, 0, 0x1234)}},
                                        {"B", {StoredEntry("b", "2")}}});
    image[U32At(image, 18)] = 0x00;  // group B loses its signature
    EXPECT_FALSE(ReaderAccepts(image));
    PackageDirectory directory;
    ASSERT_EQ(1, directory.LoadImage(Data(image), Size(image)));
    EXPECT_EQ(1, directory.GetEntryCount("A"));  // the odd child is skipped
}

TEST(ContainerValidation, EveryTruncationOfAValidImageLoadsNothing)
{
    const std::string image = ContainerBytes({{"Tools", {StoredEntry("a.txt", "hello"), StoredEntry("b", "")}},
                                              {"", {}}});
    ASSERT_EQ(2, LoadCount(image));
    for (size_t cut = 0; cut < image.size(); ++cut) {
        // An exact-size copy, so that the sanitizers see any read past it.
        const std::string prefix = image.substr(0, cut);
        EXPECT_EQ(0, LoadCount(prefix)) << cut;
        EXPECT_FALSE(ReaderAccepts(prefix)) << cut;
    }
}

struct Corruption {
    uint32_t offset;
    uint32_t value;
    int width;
};

class MalformedImage : public ::testing::TestWithParam<Corruption> {};

TEST_P(MalformedImage, LoadsNothingAndLeavesTheDirectoryAsItWas)
{
    std::string image = kTools;
    for (int i = 0; i < GetParam().width; ++i)
        image[GetParam().offset + i] = static_cast<char>(GetParam().value >> (8 * i));
    PackageDirectory directory;
    EntryBuffer* kept = new EntryBuffer;
    ASSERT_EQ(1, BuildMemoryEntry("keep", "a.txt", *kept));
    directory.AddEntry(kept, "Tools", "a.txt", 1);
    EXPECT_EQ(0, directory.LoadImage(Data(image), Size(image)));
    EXPECT_EQ(1, directory.GetEntryCount(nullptr));
    EXPECT_EQ(kept, directory.FindEntry("a.txt", "Tools"));
    EXPECT_FALSE(ReaderAccepts(image));
}

INSTANTIATE_TEST_SUITE_P(
    PastTheEnd, MalformedImage,
    ::testing::Values(Corruption{12, 0xFFFF, 2},       // group table
                      Corruption{14, 83, 4},           // group offset at the end
                      Corruption{14, 0xFFFFFFFE, 4},   // group offset that wraps
                      Corruption{20, 0x100, 2},        // group name
                      Corruption{20, 260, 2},          // group name of 260 bytes
                      Corruption{27, 40, 2},           // entry table
                      Corruption{29, 65, 4},           // entry offset at the end
                      Corruption{29, 0xFFFFFFF0, 4},   // entry offset that wraps
                      Corruption{71, 0x100, 2},        // entry name
                      Corruption{71, 260, 2},          // entry name of 260 bytes
                      Corruption{39, 6, 4},            // data one byte too long
                      Corruption{39, 0xFFFFFFF0, 4},   // data length that wraps
                      Corruption{43, 0xFFFFFFFF, 4})); // compressed data

TEST(ContainerValidation, NamesUpTo259BytesAreAcceptedLongerOnesRefused)
{
    const std::string longest(259, 'n');
    const std::string image = ContainerBytes({{longest, {StoredEntry(longest, "data")}}});
    EXPECT_EQ(1, LoadCount(image));
    const std::string tooLong(260, 'n');
    EXPECT_EQ(0, LoadCount(ContainerBytes({{tooLong, {StoredEntry("a", "1")}}})));
    EXPECT_EQ(0, LoadCount(ContainerBytes({{"G", {StoredEntry(tooLong, "1")}}})));
}

TEST(ContainerValidation, FileEntriesLongerInTotalThanTheImageAreRefused)
{
    // Three slots naming one 42-byte entry in an image of 79 bytes.
    Bytes b;
    b.Text("BOEM").U16(0x0200).U16(3).U32(0).U16(1).U32(18);
    b.U16(0xFCEC).U16(1).Text("G").U16(3).U32(19).U32(19).U32(19).Text(StoredEntry("a", "1"));
    ASSERT_EQ(79u, b.data.size());
    EXPECT_EQ(0, LoadCount(b.data));
    b.data[23] = 1;  // one slot: a valid container
    EXPECT_EQ(1, LoadCount(b.data));
}
