// The resources of a program: types, names and languages, read with every offset checked, and edited.
#pragma once

#include <cstdint>
#include <map>

#include "PeImage.h"
#include "ResourceId.h"
#include "ResourceSource.h"
#include "Status.h"

// The fields of a directory table that carry no structure; kept as read.
struct ResourceDirectoryInfo {
    uint32_t characteristics = 0;
    uint32_t timeDateStamp = 0;
    uint16_t majorVersion = 0;
    uint16_t minorVersion = 0;
};

// One resource's bytes: either in the image the tree was read from, or a caller's source.
struct ResourceData {
    uint64_t size = 0;
    uint32_t codePage = 0;
    uint32_t imageOffset = 0;          // file offset in the image, when source is null
    ResourceSource* source = nullptr;  // not owned; must outlive every write of the tree
};

class ResourceTree {
public:
    struct Name {
        ResourceDirectoryInfo info;
        std::map<uint16_t, ResourceData> languages;
    };
    struct Type {
        ResourceDirectoryInfo info;
        std::map<ResourceId, Name> names;
    };

    // The image's resource tree; an image without a resource directory gives an
    // empty tree. Refused (kErrorBadExeFormat, with the table and entry named):
    // a directory outside the sections' file data; a table, entry, name or data
    // entry reaching outside the resource section; a table reached twice (the
    // directories loop or share a table); a type or name entry that points at
    // data, a language entry that points at a table or is a name; an id with
    // bits above 16; the same id twice in a table; data outside the file.
    static Status Read(const PeImage& image, ResourceTree* tree);

    // Drops every language of name under type, both matched ignoring ASCII
    // case, and drops a type left without names. Returns how many were dropped.
    size_t Remove(const ResourceId& type, const ResourceId& name);
    // Remove(type, name), then adds type/name/language with the bytes of source
    // (code page 0). The source is not owned.
    void Replace(const ResourceId& type, const ResourceId& name, uint16_t language, ResourceSource* source);

    // The resource with exactly these ids, or null.
    const ResourceData* Find(const ResourceId& type, const ResourceId& name, uint16_t language) const;
    const ResourceDirectoryInfo& RootInfo() const { return root_; }
    const std::map<ResourceId, Type>& Types() const { return types_; }
    // Number of resources (type, name, language triples).
    size_t Count() const;

private:
    class Reader;

    ResourceDirectoryInfo root_;
    std::map<ResourceId, Type> types_;
};
