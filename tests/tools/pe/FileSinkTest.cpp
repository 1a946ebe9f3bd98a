// The file sink against the memory sink: appends through and around the buffer, patches wherever the bytes are, failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "FileSink.h"
#include "MemorySink.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

using namespace test_support;

namespace {

const uint8_t* Bytes(const std::string& s)
{
    return reinterpret_cast<const uint8_t*>(s.data());
}

std::string ToolWords(uint32_t code, const std::string& path, bool creating)
{
    return path + (creating ? ": new" : ": old") + " #" + std::to_string(code);
}

}  // namespace

TEST(FileSink, PatchesReachWrittenAndBufferedBytesAlike)
{
    constexpr uint32_t kBuffer = FileSink::kBufferSize;
    ScratchFolder dir;
    const std::string path = dir / "sink.bin";
    FileSink file;
    MemorySink memory;
    ASSERT_TRUE(file.Create(path, true));
    const std::string content = PatternBytes(kBuffer + kBuffer / 2, 7);
    for (size_t at = 0; at < content.size(); at += 100000) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(100000, content.size() - at));
        ASSERT_TRUE(file.Append(Bytes(content) + at, n));
        ASSERT_TRUE(memory.Append(Bytes(content) + at, n));
    }
    const std::string patch(64, 'P');
    // In the written part, across the edge of the buffer, in the buffer, at the very end.
    for (uint64_t offset : {uint64_t{10}, uint64_t{kBuffer - 20}, uint64_t{kBuffer + 5000},
                            uint64_t{content.size() - patch.size()}}) {
        ASSERT_TRUE(file.Patch(offset, Bytes(patch), static_cast<uint32_t>(patch.size())));
        ASSERT_TRUE(memory.Patch(offset, Bytes(patch), static_cast<uint32_t>(patch.size())));
    }
    // Past the end, partly or wholly: refused, nothing changed.
    for (uint64_t offset : {uint64_t{content.size() - 10}, uint64_t{content.size() + 1}}) {
        EXPECT_EQ(file.Patch(offset, Bytes(patch), 64).Code(), kErrorInvalidParameter);
        EXPECT_EQ(memory.Patch(offset, Bytes(patch), 64).Code(), kErrorInvalidParameter);
    }
    // A whole buffer's worth appended at once goes around the buffer.
    const std::string whole = PatternBytes(kBuffer, 8);
    ASSERT_TRUE(file.Append(Bytes(whole), kBuffer));
    ASSERT_TRUE(memory.Append(Bytes(whole), kBuffer));
    ASSERT_TRUE(file.Finish());
    EXPECT_EQ(file.Size(), memory.Size());
    EXPECT_EQ(file.Size(), content.size() + kBuffer);
    EXPECT_TRUE(ReadBytes(path) == std::string(memory.Bytes().begin(), memory.Bytes().end()));

    ASSERT_TRUE(file.Restart());
    ASSERT_TRUE(memory.Restart());
    EXPECT_EQ(file.Size(), 0u);
    EXPECT_EQ(memory.Size(), 0u);
    ASSERT_TRUE(file.Append(Bytes(patch), 3));
    ASSERT_TRUE(file.Finish());
    EXPECT_EQ(ReadBytes(path), "PPP");
}

TEST(FileSink, FailuresCarryTheSystemCodeInTheOwnersWords)
{
    ScratchFolder dir;
    const std::string path = dir / "no folder" + kPathSeparator + "out.bin";
    FileSink plain;
    const Status plainFailure = plain.Create(path);
    EXPECT_FALSE(plainFailure);
    EXPECT_EQ(plainFailure.Code(), kErrorPathNotFound);
    EXPECT_EQ(plainFailure.Message(), "cannot create " + path);

    FileSink worded(ToolWords);
    const Status wordedFailure = worded.Create(path, true);
    EXPECT_EQ(wordedFailure.Code(), kErrorPathNotFound);
    EXPECT_EQ(wordedFailure.Message(), path + ": new #" + std::to_string(kErrorPathNotFound));
    EXPECT_FALSE(FileExists(path));
}
