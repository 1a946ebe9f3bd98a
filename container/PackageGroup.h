// A named group's entries in write order, and the subset of them the group owns.
#pragma once

#include <unordered_set>

#include "EntryBuffer.h"
#include "PointerArray.h"

class PackageGroup {
public:
    PackageGroup() = default;
    // Deletes every buffer the group owns.
    ~PackageGroup();
    PackageGroup(const PackageGroup&) = delete;
    PackageGroup& operator=(const PackageGroup&) = delete;

    int GetCount() const { return entries_.GetSize(); }
    // Entry at index in write order, or null outside 0..count-1.
    EntryBuffer* GetAt(int index) const { return static_cast<EntryBuffer*>(entries_.GetAt(index)); }

    // Index of the first entry whose stored name equals name ignoring case
    // (CompareNoCase on the name copied into a 260-byte buffer), or -1.
    int Find(const char* name) const;

    // Appends buffer; with owned set the group deletes it later.
    void Append(EntryBuffer* buffer, int owned);
    // Puts buffer in the place of entry index; the old buffer is deleted when
    // the group owned it (unless it is buffer itself). Then buffer is owned
    // when owned is set. Nothing happens for an index outside the entries.
    void Replace(int index, EntryBuffer* buffer, int owned);
    // Takes entry index out of the list, deleting it when owned. 1 when removed.
    int RemoveAt(int index);

    int Owns(const EntryBuffer* buffer) const { return ownedSet_.count(buffer) != 0; }

private:
    int OwnedIndex(const EntryBuffer* buffer) const;
    void Disown(const EntryBuffer* buffer);

    PointerArray entries_;
    PointerArray owned_;
    // The same buffers as owned_, found without a scan: a group may hold 65,535.
    std::unordered_set<const EntryBuffer*> ownedSet_;
};
