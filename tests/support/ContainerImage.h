// Hand-made container images: laid out as the writer lays them out, or malformed on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ContainerFormat.h"
#include "EntryBuilder.h"
#include "EntryExtraction.h"
#include "PackageDirectory.h"

namespace test_support {

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

// The little-endian u32 at offset at of bytes.
uint32_t U32At(const std::string& bytes, size_t at);

inline const uint8_t* Data(const std::string& bytes) { return reinterpret_cast<const uint8_t*>(bytes.data()); }
inline uint32_t Size(const std::string& bytes) { return static_cast<uint32_t>(bytes.size()); }

// What the entries made here carry unless a test says otherwise: attributes
// 0x20; creation, last access and last write {0x10000000 + t, 0x01D00000 + t}
// for t = 0, 1, 2.
extern const EntryInfo kImageEntryInfo;
// Creation = last-write (platforms without a creation time report the last
// write for it); last access an hour later.
EntryInfo MakeInfo(uint32_t attributes, uint64_t seconds);

// One entry record. Every field is written as it is, whether it fits the
// stored bytes or not, so that a test can make any record; the entry converts
// to the record's bytes.
struct ImageEntry {
    std::string name;
    std::string stored;  // the bytes after the name
    uint32_t uncompressedSize;
    uint32_t compressedSize;  // 0: stored as they are
    EntryInfo info;
    uint16_t kind;
    operator std::string() const;
};
// Exactly these sizes and kind, with kImageEntryInfo.
ImageEntry EntryBytes(const std::string& name, const std::string& stored, uint32_t uncompressedSize,
                      uint32_t compressedSize, uint16_t kind = kFileEntryKind);
// The content as it is.
ImageEntry StoredEntry(const std::string& name, const std::string& content);
// The content as a stream of the project's LZW encoder.
ImageEntry PackedEntry(const std::string& name, const std::string& content);

// A group of entry records: any bytes, an ImageEntry or not.
struct GroupSpec {
    std::string name;
    std::vector<std::string> entries;
};
// A container laid out as the writer lays it out, groups in the given order.
std::string ContainerBytes(const std::vector<GroupSpec>& groups, uint16_t version = kContainerVersion);

// The image the container writer makes of directory.
std::string Written(const PackageDirectory& directory);

// An entry built by the entry builder from a memory block holding content
// (not empty), named after path.
int BuildMemoryEntry(const std::string& content, const char* path, EntryBuffer& target);
// The stored bytes of an entry buffer.
std::string Stored(const EntryBuffer* entry);

}  // namespace test_support
