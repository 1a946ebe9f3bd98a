// Direct reader of container images, from a read-only whole-file mapping or the caller's bytes.
#include "PackageReader.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "LzwCodec.h"
#include "SystemApi.h"

namespace {

EntryInfo InfoOf(const EntryRecord& entry)
{
    EntryInfo info;
    info.attributes = entry.attributes;
    info.creationTime = entry.creationTime;
    info.lastAccessTime = entry.lastAccessTime;
    info.lastWriteTime = entry.lastWriteTime;
    return info;
}

}  // namespace

int PackageReader::Open(const char* path, ExtractFailureCallback callback, void* userValue)
{
    if (open_ || !path)
        return 0;
    if (!container_.OpenFile(path, 1, kOpenExisting, 0))
        return 0;
    if (!OpenImage(ByteView(container_.GetData(), container_.GetLength()), callback, userValue)) {
        LastErrorGuard keep;
        container_.Close();
        return 0;
    }
    path_ = path;
    return 1;
}

int PackageReader::Open(const uint8_t* image, uint32_t size, ExtractFailureCallback callback, void* userValue)
{
    if (open_)
        return 0;
    return OpenImage(ByteView(image, size), callback, userValue);
}

int PackageReader::OpenImage(const ByteView& image, ExtractFailureCallback callback, void* userValue)
{
    openStatus_ = ContainerWalker(image, ContainerCheck::kRead).Walk(&contents_);
    if (!openStatus_)
        return 0;
    image_ = image;
    reachableGroups_ = ReachableGroups(contents_);
    callback_ = callback;
    userValue_ = userValue;
    open_ = true;
    return 1;
}

int PackageReader::GetEntryTotal() const
{
    return open_ ? contents_.header.entryTotal : -1;
}

int PackageReader::ListGroups(CStringArray& names) const
{
    if (!open_)
        return 0;
    for (const WalkedGroup& group : contents_.groups)
        names.Add(CString(group.name.c_str()));
    return 1;
}

int PackageReader::ListEntries(const char* group, CStringArray& names) const
{
    const WalkedGroup* found = open_ ? FindWalkedGroup(contents_, group ? group : "") : nullptr;
    if (!found)
        return 0;
    for (const WalkedEntry& entry : found->entries)
        names.Add(CString(entry.name.c_str()));
    return 1;
}

const WalkedEntry* PackageReader::FindEntry(const char* entryName, const char* group) const
{
    if (!open_ || !entryName)
        return nullptr;
    if (group) {
        const WalkedGroup* found = FindWalkedGroup(contents_, group);
        return found ? FindWalkedEntry(*found, entryName) : nullptr;
    }
    // Every group is looked up by its name, so only the reachable ones count.
    for (size_t i = 0; i < contents_.groups.size(); ++i) {
        const WalkedEntry* entry = reachableGroups_[i] ? FindWalkedEntry(contents_.groups[i], entryName) : nullptr;
        if (entry)
            return entry;
    }
    return nullptr;
}

uint32_t PackageReader::GetEntrySize(const char* entryName, const char* group) const
{
    const WalkedEntry* entry = FindEntry(entryName, group);
    return entry ? entry->record.uncompressedSize : 0;
}

uint32_t PackageReader::GetLargestEntrySize(const char* group) const
{
    const WalkedGroup* found = open_ ? FindWalkedGroup(contents_, group ? group : "") : nullptr;
    uint32_t largest = 0;
    if (found) {
        for (const WalkedEntry& entry : found->entries)
            largest = std::max(largest, entry.record.uncompressedSize);
    }
    return largest;
}

int PackageReader::ReadRecord(const EntryRecord& entry, MappedFile& output) const
{
    const uint8_t* stored = nullptr;
    if (!image_.Bytes(entry.dataOffset, entry.dataLength, &stored))
        return 0;
    // Every code takes at least 9 bits and stands for fewer than 4096 bytes, so
    // a stream claiming more cannot be whole; refuse it before reserving memory.
    const uint64_t decodable = uint64_t{entry.compressedSize} * 8 / 9 * 4096 + 4096;
    if (entry.compressedSize != 0 && entry.uncompressedSize > decodable) {
        SetLastErrorValue(kErrorInvalidData);
        return 0;
    }
    if (!output.CreateMemory(nullptr, entry.uncompressedSize, 0))
        return 0;
    if (entry.compressedSize == 0) {
        std::memcpy(output.GetData(), stored, entry.uncompressedSize);
        return 1;
    }
    uint32_t produced = 0;
    if (!LzwDecodeBuffer(stored, entry.compressedSize, output.GetData(), output.GetCapacity(), &produced) ||
        produced != entry.uncompressedSize) {
        output.Close();
        SetLastErrorValue(kErrorInvalidData);
        return 0;
    }
    return 1;
}

int PackageReader::ReadEntry(const char* entryName, const char* group, MappedFile& output) const
{
    if (!output.IsClosed())
        return 0;
    const WalkedEntry* entry = FindEntry(entryName, group);
    return entry ? ReadRecord(entry->record, output) : 0;
}

int PackageReader::ReadEntryToBuffer(const char* entryName, const char* group, void* destination,
                                     uint32_t capacity) const
{
    MappedFile block;
    if (!ReadEntry(entryName, group, block) || block.GetLength() > static_cast<uint32_t>(INT_MAX))
        return -1;
    if (capacity < block.GetLength())
        return 0;
    if (!destination)
        return -1;
    std::memcpy(destination, block.GetData(), block.GetLength());
    return static_cast<int>(block.GetLength());
}

int PackageReader::ExtractRecord(const EntryRecord& entry, const char* fileName, const char* destinationFolder,
                                 int mode)
{
    MappedFile block;
    if (!ReadRecord(entry, block))
        return 0;
    return WriteEntryFile(destinationFolder, fileName, block.GetData(), block.GetLength(), InfoOf(entry), mode,
                          callback_, userValue_);
}

int PackageReader::Extract(const char* entryName, const char* group, const char* destinationFolder,
                           const char* destinationName, int mode)
{
    const WalkedEntry* entry = FindEntry(entryName, group);
    if (!entry)
        return 0;
    return ExtractRecord(entry->record, destinationName ? destinationName : entryName, destinationFolder, mode);
}

void PackageReader::ExtractEntries(const WalkedGroup& group, const char* destinationFolder, int mode)
{
    // Each name once: a later entry of an equal name is never reached by name.
    const std::vector<bool> reachable = ReachableEntries(group);
    for (size_t j = 0; j < group.entries.size(); ++j) {
        if (reachable[j])
            ExtractRecord(group.entries[j].record, group.entries[j].name.c_str(), destinationFolder, mode);
    }
}

int PackageReader::ExtractGroup(const char* group, const char* destinationFolder, int mode)
{
    if (!open_)
        return 0;
    const WalkedGroup* found = FindWalkedGroup(contents_, group ? group : "");
    if (found)
        ExtractEntries(*found, destinationFolder, mode);
    return 1;
}

int PackageReader::ExtractAll(const char* destinationFolder)
{
    if (!open_)
        return 0;
    // A reachable group is the first of its name, so looking it up by name
    // would find itself: its entries are extracted directly.
    for (size_t i = 0; i < contents_.groups.size(); ++i) {
        if (reachableGroups_[i])
            ExtractEntries(contents_.groups[i], destinationFolder, kOverwriteAlways);
    }
    return 1;
}
