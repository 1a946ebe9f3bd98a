// What a new package will hold: groups of named entries, checked against what the format can carry.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "ContainerFormat.h"
#include "Status.h"
#include "SystemApi.h"

// One entry to be written: a file on disk, or bytes held in memory.
struct PlannedEntry {
    std::string name;
    std::string sourcePath;  // empty for an entry held in memory
    uint64_t size = 0;       // bytes of the source
    std::string content;     // the bytes of an entry held in memory
    bool inMemory = false;
};

struct PlannedGroup {
    std::string name;
    std::vector<PlannedEntry> entries;
};

// Groups in the order they were first named, entries in the order added.
// Every Add refuses what a container cannot carry, with a message naming the
// offending input; nothing is added then.
class PackagePlan {
public:
    // A file whose size is already known. Refused: a group or entry name that
    // is empty, longer than 259 bytes or not a bare file name; a second entry
    // of the same name in the group (names compare ignoring case); a file of
    // 4 GiB or more; the 65536th entry.
    Status AddFile(const std::string& group, const std::string& name, const std::string& sourcePath,
                   uint64_t size);
    // An entry made from bytes in memory (for example a generated INI file).
    Status AddContent(const std::string& group, const std::string& name, const std::string& content);

    const std::vector<PlannedGroup>& Groups() const { return groups_; }
    uint32_t EntryCount() const { return entryCount_; }
    // Sum of all source sizes.
    uint64_t TotalBytes() const { return totalBytes_; }
    // Size of the container with every entry stored uncompressed; compression
    // only ever makes an entry smaller, so this bounds the real size.
    uint64_t UncompressedImageSize() const;

    // Reproducible output: with a limit set, file times later than it are
    // written as the limit and entries held in memory take the limit as all
    // three times (without one, they take the current time).
    void SetTimeLimit(const FileTime& limit)
    {
        timeLimit_ = limit;
        hasTimeLimit_ = true;
    }
    bool HasTimeLimit() const { return hasTimeLimit_; }
    const FileTime& TimeLimit() const { return timeLimit_; }

private:
    Status Add(const std::string& group, PlannedEntry entry);

    std::vector<PlannedGroup> groups_;
    // Lookup aids: group name -> index, and per group a folded entry name ->
    // entry index, so that large plans are checked in linear time.
    std::map<std::string, size_t> groupIndex_;
    std::vector<std::unordered_multimap<std::string, size_t>> entryIndex_;
    uint32_t entryCount_ = 0;
    uint64_t totalBytes_ = 0;
    FileTime timeLimit_ = {0, 0};
    bool hasTimeLimit_ = false;
};

// Checks a group or entry name: 1..259 bytes and a bare file name (no '\\',
// '/' or ':' byte anywhere, also not as the second byte of a double-byte
// character, and not "." or ".."). what names the kind in the message.
Status CheckName(const std::string& name, const char* what);

// The file-name part of a path: the text after its last '\\', '/' or ':'
// that is not the second byte of a double-byte character.
std::string FileNameOf(const std::string& path);

// Size of a container holding these groups with the given stored sizes:
// header, group records and entries (64-bit, so it cannot wrap).
uint64_t ContainerSizeFor(const std::vector<PlannedGroup>& groups);
