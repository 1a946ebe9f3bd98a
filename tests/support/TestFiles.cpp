// Portable whole-file helpers, test data and file times.
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "CFile.h"

namespace test_support {

bool WriteBytes(const std::string& path, const std::string& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    bool written = file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file != nullptr && std::fclose(file) != 0)
        written = false;
    if (!written)
        ADD_FAILURE() << "cannot write " << path;
    return written;
}

bool ReadBytes(const std::string& path, std::string* bytes)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    bytes->clear();
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes->append(chunk, got);
    const bool complete = std::ferror(file) == 0;
    std::fclose(file);
    return complete;
}

std::string ReadBytes(const std::string& path)
{
    std::string bytes;
    return ReadBytes(path, &bytes) ? bytes : std::string();
}

std::string PatternBytes(uint32_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (uint32_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<char>(x & 0xFF);
    }
    return bytes;
}

std::string CompressibleBytes(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i / 7) % 13 + (i % 97 == 0 ? i / 97 : 0));
    return bytes;
}

FileTime TimeOfSeconds(uint64_t seconds)
{
    const uint64_t ticks = seconds * 10000000ull;
    return {static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
}

void SetFileTimes(const std::string& path, const FileTime& time)
{
    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeReadWrite | CFile::shareDenyNone)) << path;
    ASSERT_TRUE(SetHandleTimes(file.GetHandle(), &time, &time, &time)) << path;
}

FileTime LastWriteTime(const std::string& path)
{
    CFile file;
    FileTime lastWrite = {};
    EXPECT_TRUE(file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone)) << path;
    EXPECT_TRUE(GetHandleTimes(file.GetHandle(), nullptr, nullptr, &lastWrite)) << path;
    return lastWrite;
}

}  // namespace test_support
