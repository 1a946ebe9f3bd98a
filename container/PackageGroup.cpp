// Ordered entry list of one group, with ownership of some of its buffers.
#include "PackageGroup.h"

#include "SystemApi.h"

PackageGroup::~PackageGroup()
{
    for (int i = 0; i < owned_.GetSize(); ++i)
        delete static_cast<EntryBuffer*>(owned_.GetAt(i));
}

int PackageGroup::Find(const char* name) const
{
    if (!name)
        return -1;
    for (int i = 0; i < entries_.GetSize(); ++i) {
        char stored[kMaxPath];
        const EntryBuffer* entry = GetAt(i);
        if (entry && entry->GetName(stored) && CompareNoCase(stored, name) == 0)
            return i;
    }
    return -1;
}

void PackageGroup::Append(EntryBuffer* buffer, int owned)
{
    entries_.Add(buffer);
    if (owned && !Owns(buffer)) {
        ownedSet_.insert(buffer);
        owned_.Add(buffer);
    }
}

void PackageGroup::Replace(int index, EntryBuffer* buffer, int owned)
{
    if (index < 0 || index >= entries_.GetSize())
        return;
    EntryBuffer* old = GetAt(index);
    entries_.SetAt(index, buffer);
    if (old != buffer && Owns(old)) {
        Disown(old);
        delete old;
    }
    if (owned && !Owns(buffer)) {
        ownedSet_.insert(buffer);
        owned_.Add(buffer);
    }
}

int PackageGroup::RemoveAt(int index)
{
    if (index < 0 || index >= entries_.GetSize())
        return 0;
    EntryBuffer* old = GetAt(index);
    entries_.RemoveAt(index);
    if (Owns(old)) {
        Disown(old);
        delete old;
    }
    return 1;
}

int PackageGroup::OwnedIndex(const EntryBuffer* buffer) const
{
    for (int i = 0; i < owned_.GetSize(); ++i) {
        if (owned_.GetAt(i) == buffer)
            return i;
    }
    return -1;
}

void PackageGroup::Disown(const EntryBuffer* buffer)
{
    if (ownedSet_.erase(buffer) == 0)
        return;
    int index = OwnedIndex(buffer);
    if (index >= 0)
        owned_.RemoveAt(index);
}
