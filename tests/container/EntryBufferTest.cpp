// Entry buffers answer for their bytes as they are, whoever changed them.
#include <gtest/gtest.h>

#include "ContainerImage.h"
#include "EntryBuffer.h"

using namespace test_support;

TEST(EntryBufferRecord, WritesBehindTheBuffersBackAreSeenByEveryGetter)
{
    EntryBuffer entry;
    ASSERT_EQ(1, BuildMemoryEntry("hello", "a.txt", entry));
    EXPECT_EQ(5u, entry.GetUncompressedSize());
    EXPECT_STREQ("a.txt", entry.GetName());

    // Through the base class's pointer: the attributes, then a name that no
    // longer fits the block, then the record restored.
    ByteSpan bytes(entry.GetData(), entry.GetCapacity());
    ASSERT_TRUE(bytes.WriteU32(kEntryAttributesOffset, 0x21));
    EXPECT_EQ(0x21u, entry.GetAttributes());
    ASSERT_TRUE(bytes.WriteU16(kEntryNameLengthOffset, 260));
    EXPECT_FALSE(entry.IsValidEntry());
    EXPECT_EQ(0u, entry.GetAttributes());
    EXPECT_EQ(0u, entry.GetEntryLength());
    EXPECT_EQ(nullptr, entry.GetStoredData());
    EXPECT_STREQ("", entry.GetName());
    ASSERT_TRUE(bytes.WriteU16(kEntryNameLengthOffset, 5));
    EXPECT_EQ(0x21u, entry.GetAttributes());

    // Through MappedFile::Write at the cursor: a longer stored length.
    MappedFile& base = entry;
    base.Seek(kEntryUncompressedSizeOffset, MappedFile::kBegin);
    const uint8_t seven[4] = {7, 0, 0, 0};
    ASSERT_EQ(4u, base.Write(seven, 4));
    EXPECT_EQ(7u, entry.GetStoredLength());
    EXPECT_EQ(40u + 5 + 7, entry.GetEntryLength());

    // The buffer's own setters.
    ASSERT_EQ(1, entry.SetTimes(FileTime{1, 2}, FileTime{3, 4}, FileTime{5, 6}));
    EXPECT_EQ((FileTime{5, 6}), entry.GetLastWriteTime());
}

TEST(EntryBufferRecord, ARecreatedBlockOfTheSameSizeIsReadAfresh)
{
    const std::string first = StoredEntry("first.txt", "12345");
    std::string second = StoredEntry("other.txt", "abcde");
    second[2] = 0x21;  // attributes 0x21
    EntryBuffer entry;
    ASSERT_EQ(1, entry.CreateFromEntry(Data(first), Size(first)));
    EXPECT_STREQ("first.txt", entry.GetName());
    EXPECT_EQ(0x20u, entry.GetAttributes());
    MappedFile& base = entry;
    base.Close();
    EXPECT_FALSE(entry.IsValidEntry());
    EXPECT_EQ(0u, entry.GetKind());
    ASSERT_EQ(1, entry.CreateFromEntry(Data(second), Size(second)));
    EXPECT_STREQ("other.txt", entry.GetName());
    EXPECT_EQ(0x21u, entry.GetAttributes());
    EXPECT_EQ("abcde", Stored(&entry));
}

TEST(EntryBufferRecord, BlocksThatHoldNoWholeEntryAnswerZero)
{
    EntryBuffer tooShort;
    ASSERT_EQ(1, tooShort.CreateMemory(nullptr, kEntryNameOffset - 1, 0));
    EntryBuffer dataBeyond;
    const std::string entry = StoredEntry("a", "xyz");
    ASSERT_EQ(1, dataBeyond.CreateMemory(nullptr, Size(entry) - 1, 0));
    dataBeyond.Write(entry.data(), Size(entry) - 1);
    for (const EntryBuffer* buffer : {&tooShort, &dataBeyond}) {
        EntryRecord record;
        EXPECT_FALSE(buffer->GetRecord(&record));
        EXPECT_EQ(0u, buffer->GetKind());
        EXPECT_EQ(0u, buffer->GetUncompressedSize());
        EXPECT_EQ((FileTime{0, 0}), buffer->GetCreationTime());
        EXPECT_EQ(0u, buffer->GetStoredLength());
    }
    SetLastErrorValue(0xdeadbeef);
    EntryBuffer refused;
    EXPECT_EQ(0, refused.CreateFromEntry(Data(entry), Size(entry) - 1));
    EXPECT_EQ(kErrorInvalidData, GetLastErrorValue());
    EXPECT_TRUE(refused.IsClosed());
}
