// Helpers shared by the container tests: scratch folders, files and hand-made images.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "EntryBuilder.h"
#include "MappedFile.h"

namespace testing_support {

// A fresh folder under the system temp folder, removed with its contents.
class ScratchFolder {
public:
    explicit ScratchFolder(const char* tag)
    {
        auto base = std::filesystem::temp_directory_path();
        for (int i = 0;; ++i) {
            path_ = base / (std::string("oem_container_") + tag + "_" + std::to_string(i));
            if (std::filesystem::create_directory(path_))
                break;
        }
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const std::string& leaf) const { return (path_ / leaf).string(); }
    std::string Path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

inline void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteFileText(const std::string& path, const std::string& text)
{
    WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Little-endian byte assembly for hand-made containers.
class Bytes {
public:
    Bytes& U8(uint8_t v) { data.push_back(v); return *this; }
    Bytes& U16(uint16_t v) { return U8(static_cast<uint8_t>(v)).U8(static_cast<uint8_t>(v >> 8)); }
    Bytes& U32(uint32_t v) { return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16)); }
    Bytes& Text(const std::string& s) { data.insert(data.end(), s.begin(), s.end()); return *this; }
    Bytes& Raw(const std::vector<uint8_t>& b) { data.insert(data.end(), b.begin(), b.end()); return *this; }
    // A counted name's bytes: max(L, 1), one zero byte for an empty name.
    Bytes& Name(const std::string& s) { return s.empty() ? U8(0) : Text(s); }
    uint32_t Size() const { return static_cast<uint32_t>(data.size()); }
    void PutU32At(uint32_t offset, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            data[offset + i] = static_cast<uint8_t>(v >> (8 * i));
    }
    std::vector<uint8_t> data;
};

// A file entry record with its name and stored data.
inline std::vector<uint8_t> EntryBytes(const std::string& name, const std::vector<uint8_t>& stored,
                                       uint32_t uncompressedSize, uint32_t compressedSize,
                                       uint32_t attributes = 0x20, uint16_t kind = 0xFFFF,
                                       uint32_t timeBase = 0x01D00000)
{
    Bytes b;
    b.U16(kind).U32(attributes).U32(uncompressedSize).U32(compressedSize);
    for (uint32_t t = 0; t < 3; ++t)
        b.U32(0x10000000 + t).U32(timeBase + t);
    b.U16(static_cast<uint16_t>(name.size())).Name(name).Raw(stored);
    return b.data;
}

inline std::vector<uint8_t> StoredEntry(const std::string& name, const std::string& content)
{
    return EntryBytes(name, std::vector<uint8_t>(content.begin(), content.end()),
                      static_cast<uint32_t>(content.size()), 0);
}

struct GroupSpec {
    std::string name;
    std::vector<std::vector<uint8_t>> entries;
};

// A container laid out as the writer lays it out.
inline std::vector<uint8_t> ContainerBytes(const std::vector<GroupSpec>& groups, uint16_t version = 0x0200)
{
    Bytes b;
    uint32_t total = 0;
    for (const auto& g : groups)
        total += static_cast<uint32_t>(g.entries.size());
    b.U32(0x4D454F42).U16(version).U16(static_cast<uint16_t>(total)).U32(0);
    b.U16(static_cast<uint16_t>(groups.size()));
    const uint32_t table = b.Size();
    for (size_t i = 0; i < (groups.empty() ? 1 : groups.size()); ++i)
        b.U32(0);
    for (size_t i = 0; i < groups.size(); ++i) {
        const uint32_t record = b.Size();
        b.PutU32At(table + 4 * static_cast<uint32_t>(i), record);
        const auto& g = groups[i];
        b.U16(0xFCEC).U16(static_cast<uint16_t>(g.name.size())).Name(g.name);
        b.U16(static_cast<uint16_t>(g.entries.size()));
        const uint32_t entryTable = b.Size();
        for (size_t j = 0; j < (g.entries.empty() ? 1 : g.entries.size()); ++j)
            b.U32(0);
        for (size_t j = 0; j < g.entries.size(); ++j) {
            b.PutU32At(entryTable + 4 * static_cast<uint32_t>(j), b.Size() - record);
            b.Raw(g.entries[j]);
        }
    }
    return b.data;
}

// An entry built from a memory block holding content (not empty), named after path.
inline int BuildMemoryEntry(const std::string& content, const char* path, EntryBuffer& target)
{
    MappedFile source;
    if (content.empty() || !source.CreateMemory(nullptr, static_cast<uint32_t>(content.size()), 0))
        return 0;
    source.Write(content.data(), static_cast<uint32_t>(content.size()));
    return BuildEntry(source, path, target, 0);
}

}  // namespace testing_support
