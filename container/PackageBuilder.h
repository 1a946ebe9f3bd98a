// Batch builder: a list of (file, group) items written as one container file.
#pragma once

#include <cstdint>

#include "CString.h"
#include "CStringArray.h"

class PackageBuilder {
public:
    // Empty target path, no items, merge flag 0.
    PackageBuilder() = default;

    // Sets the container file to write and whether its present entries are kept.
    void Init(const char* targetPath, uint32_t merge);

    // An item is "<path>\n<group>", or the bare path when the group is null or
    // empty. Items are equal when their strings are equal ignoring case
    // (CompareMbsNoCase).
    // 1 when an equal item is already listed or the item was appended; 0 when
    // the file cannot be opened for reading (last-error from the open) or the
    // path is null, empty or holds a line feed (last-error 87).
    int AddItem(const char* path, const char* group = nullptr);
    // Removes the first equal item, if any.
    void RemoveItem(const char* path, const char* group = nullptr);
    // Index of the first equal item, or -1.
    int FindItem(const char* path, const char* group = nullptr) const;
    int GetItemCount() const { return items_.GetSize(); }
    // 0 for an index outside 0..count-1; else the item split at its first line
    // feed into path and group (empty without one), and 1.
    int GetItem(int index, CString& path, CString& group) const;

    // Reads every item's file into an entry, loads the container at the target
    // path first when merging (a missing or invalid one contributes nothing),
    // adds the entries (an entry replaces the loaded or earlier one of the same
    // name ignoring case in its group, in place) and writes the container.
    // 1 when written, the item list then cleared. 0 with the list kept: empty
    // target path or no items (87), an item file that cannot be mapped (a file
    // of length 0 included) or built into an entry, an image that cannot be
    // made, or a target that cannot be opened; nothing is written then. A
    // CFileException while writing propagates, the partial file deleted.
    int Build();

private:
    static CString ComposeItem(const char* path, const char* group);

    CString targetPath_;
    CStringArray items_;
    uint32_t merge_ = 0;
};
