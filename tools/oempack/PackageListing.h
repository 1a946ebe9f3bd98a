// Reads a container image into a listing, and verifies it entry by entry.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ByteView.h"
#include "ContainerFormat.h"

struct ListedEntry {
    std::string name;
    EntryRecord record;
};

struct ListedGroup {
    std::string name;
    uint32_t offset = 0;
    std::vector<ListedEntry> entries;
    uint32_t skippedChildren = 0;  // table slots whose kind is not a file entry
};

struct PackageListing {
    uint32_t imageSize = 0;
    ContainerHeader header;
    std::vector<ListedGroup> groups;  // in table order
    uint32_t skippedGroups = 0;       // slots without the group signature
    uint32_t fileEntries = 0;
};

// Walks the whole image: header, every group and every entry, each checked to
// lie inside the image. strict demands what the direct reader demands
// (version 0x0200, every slot a signed group record); otherwise unsigned
// groups and other children are skipped as the directory loader skips them.
// Beyond the walk, the image must pass the container library's validation.
// true with the listing; false with the first fault found, in words.
bool ReadPackageListing(const ByteView& image, bool strict, PackageListing* listing, std::string* fault);

struct VerifyReport {
    std::vector<std::string> faults;  // any fault makes the package invalid
    std::vector<std::string> notes;   // legal but worth knowing
    PackageListing listing;
    uint32_t decodedEntries = 0;
};

// Strict listing, entry total against the entries found, and every compressed
// entry decoded to exactly its uncompressed size. progress gets the stored
// bytes examined so far and their total.
void VerifyPackageImage(const ByteView& image, VerifyReport* report,
                        const std::function<void(uint64_t, uint64_t)>& progress = nullptr);

// Decodes a compressed entry's stream into out (resized to the uncompressed
// size). false when the stream is faulty or does not decode to exactly that size.
bool DecodeEntry(const ByteView& image, const EntryRecord& record, std::vector<uint8_t>* out);
// Checks a compressed entry's stream without keeping the bytes.
bool CheckCompressedEntry(const ByteView& image, const EntryRecord& record);
