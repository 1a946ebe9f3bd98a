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

ScratchFolder::ScratchFolder()
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "scratch-";
    name += test ? std::string(test->test_suite_name()) + "-" + test->name() : "unnamed";
    fs::path folder = fs::current_path() / name;
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
         it.increment(ignored)) {
        if (!it->is_directory(ignored))
            SetPathAttributes(it->path().string().c_str(), kFileAttributeNormal);
    }
    fs::remove_all(path_, ignored);
}

std::string ScratchFolder::operator/(const std::string& name) const { return JoinPath(path_, name); }

std::string JoinPath(const std::string& folder, const std::string& name) { return folder + kPathSeparator + name; }

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

void SetFileTimes(const std::string& path, const FileTime& creation, const FileTime& lastAccess,
                  const FileTime& lastWrite)
{
    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeReadWrite | CFile::shareDenyNone)) << path;
    ASSERT_TRUE(SetHandleTimes(file.GetHandle(), &creation, &lastAccess, &lastWrite)) << path;
}

void GetFileTimes(const std::string& path, FileTime* creation, FileTime* lastAccess, FileTime* lastWrite)
{
    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone)) << path;
    ASSERT_TRUE(GetHandleTimes(file.GetHandle(), creation, lastAccess, lastWrite)) << path;
}

EntryInfo MakeInfo(uint32_t attributes, uint64_t seconds)
{
    EntryInfo info;
    info.attributes = attributes;
    info.creationTime = TimeOfSeconds(seconds);
    info.lastAccessTime = TimeOfSeconds(seconds + 3600);
    info.lastWriteTime = TimeOfSeconds(seconds);
    return info;
}

ImageEntry PlainEntry(const std::string& name, const std::vector<uint8_t>& data, const EntryInfo& info)
{
    ImageEntry entry;
    entry.name = name;
    entry.stored = data;
    entry.uncompressedSize = static_cast<uint32_t>(data.size());
    entry.info = info;
    return entry;
}

ImageEntry CompressedEntry(const std::string& name, const std::vector<uint8_t>& data, const EntryInfo& info)
{
    ImageEntry entry = PlainEntry(name, data, info);
    std::vector<uint8_t> stream;
    EXPECT_EQ(1, LzwEncodeBuffer(data.data(), static_cast<uint32_t>(data.size()), &stream));
    entry.stored = stream;
    entry.compressedSize = static_cast<uint32_t>(stream.size());
    return entry;
}

namespace {

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t value)
{
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void Append16(std::vector<uint8_t>& out, uint32_t value)
{
    out.resize(out.size() + 2);
    Put16(out, out.size() - 2, value);
}

void Append32(std::vector<uint8_t>& out, uint32_t value)
{
    out.resize(out.size() + 4);
    Put32(out, out.size() - 4, value);
}

void AppendName(std::vector<uint8_t>& out, const std::string& name)
{
    if (name.empty())
        out.push_back(0);
    for (char c : name)
        out.push_back(static_cast<uint8_t>(c));
}

}  // namespace

std::vector<uint8_t> BuildImage(const std::vector<ImageGroup>& groups)
{
    std::vector<uint8_t> out;
    uint32_t total = 0;
    for (const ImageGroup& group : groups)
        total += static_cast<uint32_t>(group.entries.size());
    for (uint8_t byte : {0x42, 0x4F, 0x45, 0x4D, 0x00, 0x02})
        out.push_back(byte);
    Append16(out, total);
    Append32(out, 0);
    Append16(out, static_cast<uint32_t>(groups.size()));
    size_t groupTable = out.size();
    out.resize(out.size() + 4 * std::max<size_t>(groups.size(), 1));
    for (size_t g = 0; g < groups.size(); ++g) {
        const ImageGroup& group = groups[g];
        size_t record = out.size();
        Put32(out, groupTable + 4 * g, static_cast<uint32_t>(record));
        Append16(out, 0xFCEC);
        Append16(out, static_cast<uint32_t>(group.name.size()));
        AppendName(out, group.name);
        Append16(out, static_cast<uint32_t>(group.entries.size()));
        size_t entryTable = out.size();
        out.resize(out.size() + 4 * std::max<size_t>(group.entries.size(), 1));
        for (size_t e = 0; e < group.entries.size(); ++e) {
            const ImageEntry& entry = group.entries[e];
            Put32(out, entryTable + 4 * e, static_cast<uint32_t>(out.size() - record));
            Append16(out, entry.kind);
            Append32(out, entry.info.attributes);
            Append32(out, entry.uncompressedSize);
            Append32(out, entry.compressedSize);
            for (const FileTime* t : {&entry.info.creationTime, &entry.info.lastAccessTime, &entry.info.lastWriteTime}) {
                Append32(out, t->lowDateTime);
                Append32(out, t->highDateTime);
            }
            Append16(out, static_cast<uint32_t>(entry.name.size()));
            AppendName(out, entry.name);
            for (uint8_t byte : entry.stored)
                out.push_back(byte);
        }
    }
    return out;
}

std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed)
{
    std::vector<uint8_t> out(count);
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        // Runs of repeated words with some noise: compressible, yet position-dependent.
        out[i] = static_cast<uint8_t>((i / 7) % 13 + ((state >> 16) % 4 == 0 ? (state >> 24) : 0));
    }
    return out;
}
