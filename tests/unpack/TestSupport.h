// Helpers of the unpack tests: scratch folders, files, times and hand-made container images.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "EntryExtraction.h"

// A fresh folder named after the running test, removed with its contents at the end.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + kPathSeparator + name; }

private:
    std::string path_;
};

std::vector<uint8_t> Bytes(const std::string& text);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& data);
std::vector<uint8_t> ReadBytes(const std::string& path);  // empty when unreadable
bool IsFolder(const std::string& path);

FileTime TimeOfSeconds(uint64_t seconds);  // whole seconds since 1601
void SetFileTimes(const std::string& path, const FileTime& time);  // creation, access, write
FileTime LastWriteTime(const std::string& path);
// Creation = last-write (platforms without a creation time report the last
// write for it); last access an hour later.
EntryInfo MakeInfo(uint32_t attributes, uint64_t seconds);

// One entry of a hand-made container image; compressed entries carry a
// stream made by the project's LZW encoder.
struct ImageEntry {
    std::string name;
    std::vector<uint8_t> stored;
    uint32_t uncompressedSize;
    uint32_t compressedSize;
    EntryInfo info;
};
ImageEntry Entry(const std::string& name, const std::vector<uint8_t>& data, bool compress = false);
// groups: (name, entries), laid out as the container writer lays them out.
std::vector<uint8_t> BuildImage(const std::vector<std::pair<std::string, std::vector<ImageEntry>>>& groups);

// Compressible bytes that still differ from position to position.
std::vector<uint8_t> PatternBytes(size_t count);
