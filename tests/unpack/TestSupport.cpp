// Helpers of the unpack tests.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "CFile.h"
#include "LzwCodec.h"

namespace fs = std::filesystem;

constexpr uint64_t kEntrySeconds = 13000000000ull;

ScratchFolder::ScratchFolder()
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    fs::path folder = fs::current_path() / (std::string("scratch-") + test->test_suite_name() + "-" + test->name());
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    path_ = folder.string();
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ignored;
    // Read-only files would stop the removal on Windows.
    for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
        SetPathAttributes(it->path().string().c_str(), it->is_directory(ignored) ? kFileAttributeDirectory
                                                                                 : kFileAttributeNormal);
    fs::remove_all(path_, ignored);
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

void WriteBytes(const std::string& path, const std::vector<uint8_t>& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsFolder(const std::string& path)
{
    std::error_code ignored;
    return fs::is_directory(path, ignored);
}

FileTime TimeOfSeconds(uint64_t seconds)
{
    uint64_t ticks = seconds * 10000000ull;
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

EntryInfo MakeInfo(uint32_t attributes, uint64_t seconds)
{
    return {attributes, TimeOfSeconds(seconds), TimeOfSeconds(seconds + 3600), TimeOfSeconds(seconds)};
}

ImageEntry Entry(const std::string& name, const std::vector<uint8_t>& data, bool compress)
{
    ImageEntry entry{name, data, static_cast<uint32_t>(data.size()), 0, MakeInfo(kFileAttributeArchive, kEntrySeconds)};
    if (compress) {
        EXPECT_EQ(1, LzwEncodeBuffer(data.data(), static_cast<uint32_t>(data.size()), &entry.stored));
        entry.compressedSize = static_cast<uint32_t>(entry.stored.size());
    }
    return entry;
}

namespace {

void Put(std::vector<uint8_t>& out, size_t at, uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void Append(std::vector<uint8_t>& out, uint32_t value, int size)
{
    out.resize(out.size() + size);
    Put(out, out.size() - size, value, size);
}

// Names take max(length, 1) bytes.
void AppendName(std::vector<uint8_t>& out, const std::string& name)
{
    Append(out, static_cast<uint32_t>(name.size()), 2);
    for (char c : name.empty() ? std::string(1, '\0') : name)
        out.push_back(static_cast<uint8_t>(c));
}

}  // namespace

std::vector<uint8_t> BuildImage(const std::vector<std::pair<std::string, std::vector<ImageEntry>>>& groups)
{
    std::vector<uint8_t> out;
    uint32_t total = 0;
    for (const auto& group : groups)
        total += static_cast<uint32_t>(group.second.size());
    Append(out, 0x4D454F42, 4);
    Append(out, 0x0200, 2);
    Append(out, total, 2);
    Append(out, 0, 4);
    Append(out, static_cast<uint32_t>(groups.size()), 2);
    size_t groupTable = out.size();
    out.resize(out.size() + 4 * std::max<size_t>(groups.size(), 1));
    for (size_t g = 0; g < groups.size(); ++g) {
        size_t record = out.size();
        Put(out, groupTable + 4 * g, static_cast<uint32_t>(record), 4);
        Append(out, 0xFCEC, 2);
        AppendName(out, groups[g].first);
        const std::vector<ImageEntry>& entries = groups[g].second;
        Append(out, static_cast<uint32_t>(entries.size()), 2);
        size_t entryTable = out.size();
        out.resize(out.size() + 4 * std::max<size_t>(entries.size(), 1));
        for (size_t e = 0; e < entries.size(); ++e) {
            const ImageEntry& entry = entries[e];
            Put(out, entryTable + 4 * e, static_cast<uint32_t>(out.size() - record), 4);
            Append(out, 0xFFFF, 2);
            Append(out, entry.info.attributes, 4);
            Append(out, entry.uncompressedSize, 4);
            Append(out, entry.compressedSize, 4);
            for (const FileTime& t : {entry.info.creationTime, entry.info.lastAccessTime, entry.info.lastWriteTime}) {
                Append(out, t.lowDateTime, 4);
                Append(out, t.highDateTime, 4);
            }
            AppendName(out, entry.name);
            for (uint8_t byte : entry.stored)
                out.push_back(byte);
        }
    }
    return out;
}

std::vector<uint8_t> PatternBytes(size_t count)
{
    std::vector<uint8_t> out(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>((i / 7) % 13 + (i % 97 == 0 ? i / 97 : 0));
    return out;
}
