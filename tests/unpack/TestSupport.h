// Helpers of the unpack tests: scratch folders, files, times and hand-made container images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EntryExtraction.h"
#include "SystemApi.h"

// A fresh folder named after the running test inside the current folder,
// removed with everything in it (read-only files included) at the end.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }
    // Path() + separator + name.
    std::string operator/(const std::string& name) const;

private:
    std::string path_;
};

std::string JoinPath(const std::string& folder, const std::string& name);
std::vector<uint8_t> Bytes(const std::string& text);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& data);
// The file's bytes; empty when it cannot be read.
std::vector<uint8_t> ReadBytes(const std::string& path);
bool IsFolder(const std::string& path);

// A FILETIME of whole seconds since 1601, so that every file system keeps it exactly.
FileTime TimeOfSeconds(uint64_t seconds);
// Sets last-access and last-write (and creation where the platform keeps one).
void SetFileTimes(const std::string& path, const FileTime& creation, const FileTime& lastAccess,
                  const FileTime& lastWrite);
// Reads the file's three times; fails the test when they cannot be read.
void GetFileTimes(const std::string& path, FileTime* creation, FileTime* lastAccess, FileTime* lastWrite);

// An entry info whose creation and last-write times are equal (platforms that
// keep no separate creation time report the last-write time for it).
EntryInfo MakeInfo(uint32_t attributes, uint64_t seconds);

// One entry of a hand-made container image.
struct ImageEntry {
    std::string name;
    std::vector<uint8_t> stored;  // the bytes after the name
    uint32_t uncompressedSize = 0;
    uint32_t compressedSize = 0;  // 0: stored as is
    EntryInfo info = {};
    uint16_t kind = 0xFFFF;
};
struct ImageGroup {
    std::string name;
    std::vector<ImageEntry> entries;
};

ImageEntry PlainEntry(const std::string& name, const std::vector<uint8_t>& data, const EntryInfo& info);
// Stored as an LZW stream made by the project's encoder.
ImageEntry CompressedEntry(const std::string& name, const std::vector<uint8_t>& data, const EntryInfo& info);
// The container bytes, laid out as the writer lays them out.
std::vector<uint8_t> BuildImage(const std::vector<ImageGroup>& groups);

// Bytes that compress well and that a damaged stream would not reproduce.
std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed);
