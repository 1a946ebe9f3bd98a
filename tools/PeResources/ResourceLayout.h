// Where everything of a resource tree goes in the section written for it.
#pragma once

#include <cstdint>
#include <vector>

#include "ResourceTree.h"
#include "Status.h"

class ResourceLayout {
public:
    // One resource's bytes and their offset in the section.
    struct Placement {
        const ResourceData* data = nullptr;  // points into the tree laid out
        uint32_t offset = 0;
    };

    // Lays tree out for a section at RVA sectionRva: the directory tables
    // (root, then the type tables, then the name tables, each in directory
    // order: names first, by UTF-16 units, then numbers), the data entries, each
    // distinct name once, and then each resource's bytes at an 8-byte boundary,
    // in directory order. Refused (kErrorFileTooLarge): a layout whose end, or
    // whose end as an RVA, would not fit 32 bits; a table with more than 65535
    // names or numbers (kErrorInvalidParameter).
    static Status Build(const ResourceTree& tree, uint32_t sectionRva, ResourceLayout* layout);

    // Tables, data entries and names, padded to where the first resource's bytes go.
    const std::vector<uint8_t>& Directory() const { return directory_; }
    const std::vector<Placement>& Placements() const { return placements_; }
    // Bytes of the section's content: up to the end of the last resource.
    uint32_t Size() const { return size_; }

private:
    std::vector<uint8_t> directory_;
    std::vector<Placement> placements_;
    uint32_t size_ = 0;
};
