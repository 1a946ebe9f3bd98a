// Helpers shared by the container tests: scratch folders, files and hand-made containers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "EntryBuilder.h"

namespace testing_support {

// A fresh folder under the system temp folder, removed with its contents.
class ScratchFolder {
public:
    explicit ScratchFolder(const char* tag)
    {
        for (int i = 0;; ++i) {
            path_ = std::filesystem::temp_directory_path() / ("oem_container_" + std::string(tag) + std::to_string(i));
            if (std::filesystem::create_directory(path_))
                break;
        }
    }
    ~ScratchFolder() { std::error_code ignored; std::filesystem::remove_all(path_, ignored); }
    std::string File(const std::string& leaf) const { return (path_ / leaf).string(); }

private:
    std::filesystem::path path_;
};

inline void WriteFileText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline std::string ReadFileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Little-endian assembly of container bytes; counted names take max(L, 1) bytes.
struct Bytes {
    Bytes& U8(uint8_t v) { data.push_back(static_cast<char>(v)); return *this; }
    Bytes& U16(uint16_t v) { return U8(static_cast<uint8_t>(v)).U8(static_cast<uint8_t>(v >> 8)); }
    Bytes& U32(uint32_t v) { return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16)); }
    Bytes& Text(const std::string& s) { data += s; return *this; }
    Bytes& Name(const std::string& s) { return s.empty() ? U8(0) : Text(s); }
    void U32At(size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) data[at + i] = static_cast<char>(v >> (8 * i)); }
    std::string data;
};

inline uint32_t U32At(const std::string& b, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<uint8_t>(b[at + i]);
    return v;
}

// One entry record with its name and stored bytes; times are {0x10000000 + t, 0x01D00000 + t}.
inline std::string EntryBytes(const std::string& name, const std::string& stored, uint32_t uncompressedSize,
                              uint32_t compressedSize, uint16_t kind = 0xFFFF)
{
    Bytes b;
    b.U16(kind).U32(0x20).U32(uncompressedSize).U32(compressedSize);
    for (uint32_t t = 0; t < 3; ++t)
        b.U32(0x10000000 + t).U32(0x01D00000 + t);
    b.U16(static_cast<uint16_t>(name.size())).Name(name).Text(stored);
    return b.data;
}
inline std::string StoredEntry(const std::string& name, const std::string& content)
{
    return EntryBytes(name, content, static_cast<uint32_t>(content.size()), 0);
}

struct GroupSpec {
    std::string name;
    std::vector<std::string> entries;
};

// A container laid out as the writer lays it out, groups in the given order.
inline std::string ContainerBytes(const std::vector<GroupSpec>& groups, uint16_t version = 0x0200)
{
    Bytes b;
    uint16_t total = 0;
    for (const GroupSpec& g : groups)
        total = static_cast<uint16_t>(total + g.entries.size());
    b.Text("BOEM").U16(version).U16(total).U32(0).U16(static_cast<uint16_t>(groups.size()));
    b.data.append(4 * (groups.empty() ? 1 : groups.size()), '\0');
    for (size_t i = 0; i < groups.size(); ++i) {
        const size_t record = b.data.size();
        b.U32At(14 + 4 * i, static_cast<uint32_t>(record));
        b.U16(0xFCEC).U16(static_cast<uint16_t>(groups[i].name.size())).Name(groups[i].name);
        b.U16(static_cast<uint16_t>(groups[i].entries.size()));
        const size_t table = b.data.size();
        b.data.append(4 * (groups[i].entries.empty() ? 1 : groups[i].entries.size()), '\0');
        for (size_t j = 0; j < groups[i].entries.size(); ++j) {
            b.U32At(table + 4 * j, static_cast<uint32_t>(b.data.size() - record));
            b.Text(groups[i].entries[j]);
        }
    }
    return b.data;
}

inline const uint8_t* Data(const std::string& bytes) { return reinterpret_cast<const uint8_t*>(bytes.data()); }
inline uint32_t Size(const std::string& bytes) { return static_cast<uint32_t>(bytes.size()); }

// An entry built from a memory block holding content (not empty), named after path.
inline int BuildMemoryEntry(const std::string& content, const char* path, EntryBuffer& target)
{
    MappedFile source;
    if (!source.CreateMemory(nullptr, Size(content), 0))
        return 0;
    source.Write(content.data(), Size(content));
    return BuildEntry(source, path, target, 0);
}

inline std::string Stored(const EntryBuffer* entry)
{
    return std::string(reinterpret_cast<const char*>(entry->GetStoredData()), entry->GetStoredLength());
}

}  // namespace testing_support
