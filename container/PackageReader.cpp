// Direct reader of container files through a read-only whole-file mapping.
#include "PackageReader.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <numeric>
#include <string>

#include "LzwCodec.h"
#include "SystemApi.h"

namespace {

// For each name, whether no earlier name equals it ignoring case. Sorting
// keeps this O(n log n): containers may hold tens of thousands of names.
std::vector<bool> FirstOfEachName(const std::vector<std::string>& names)
{
    std::vector<size_t> order(names.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&names](size_t a, size_t b) {
        return CompareNoCase(names[a].c_str(), names[b].c_str()) < 0;
    });
    std::vector<bool> first(names.size(), false);
    for (size_t k = 0; k < order.size();) {
        // The sort is stable, so the earliest of equal names leads its run.
        first[order[k]] = true;
        size_t m = k + 1;
        while (m < order.size() && CompareNoCase(names[order[m]].c_str(), names[order[k]].c_str()) == 0)
            ++m;
        k = m;
    }
    return first;
}

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

ByteView PackageReader::Image() const
{
    return ByteView(container_.GetData(), container_.IsClosed() ? 0 : container_.GetLength());
}

int PackageReader::Open(const char* path, ExtractFailureCallback callback, void* userValue)
{
    if (!container_.IsClosed() || !path)
        return 0;
    if (!container_.OpenFile(path, 1, kOpenExisting, 0))
        return 0;
    if (!ValidateContainer(Image(), ContainerCheck::kRead)) {
        LastErrorGuard keep;
        container_.Close();
        return 0;
    }
    callback_ = callback;
    userValue_ = userValue;
    path_ = path;
    return 1;
}

int PackageReader::GetEntryTotal() const
{
    ContainerHeader header;
    if (container_.IsClosed() || !ParseHeader(Image(), &header))
        return -1;
    return header.entryTotal;
}

int PackageReader::ListGroups(CStringArray& names) const
{
    ContainerHeader header;
    if (container_.IsClosed() || !ParseHeader(Image(), &header))
        return 0;
    for (uint32_t i = 0; i < header.groupCount; ++i) {
        uint32_t offset = 0;
        GroupRecord group;
        char name[kMaxPath];
        if (GroupOffsetAt(Image(), i, &offset) && ParseGroup(Image(), offset, &group) &&
            CopyName(Image(), group.nameOffset, group.nameLength, name))
            names.Add(CString(name));
    }
    return 1;
}

int PackageReader::ListEntries(const char* group, CStringArray& names) const
{
    GroupRecord record;
    if (container_.IsClosed() || !FindGroupRecord(Image(), group ? group : "", &record))
        return 0;
    for (uint32_t j = 0; j < record.entryCount; ++j) {
        uint32_t offset = 0;
        uint16_t kind = 0;
        EntryRecord entry;
        char name[kMaxPath];
        if (EntryOffsetAt(Image(), record, j, &offset) && Image().ReadU16(offset, &kind) &&
            kind == kFileEntryKind && ParseEntry(Image(), offset, &entry) &&
            CopyName(Image(), entry.nameOffset, entry.nameLength, name))
            names.Add(CString(name));
    }
    return 1;
}

std::vector<GroupRecord> PackageReader::ReachableGroups() const
{
    std::vector<GroupRecord> groups;
    std::vector<std::string> names;
    ContainerHeader header;
    if (!ParseHeader(Image(), &header))
        return groups;
    for (uint32_t i = 0; i < header.groupCount; ++i) {
        uint32_t offset = 0;
        GroupRecord group;
        char name[kMaxPath];
        if (GroupOffsetAt(Image(), i, &offset) && ParseGroup(Image(), offset, &group) &&
            CopyName(Image(), group.nameOffset, group.nameLength, name)) {
            groups.push_back(group);
            names.emplace_back(name);
        }
    }
    const std::vector<bool> first = FirstOfEachName(names);
    std::vector<GroupRecord> reachable;
    for (size_t i = 0; i < groups.size(); ++i) {
        if (first[i])
            reachable.push_back(groups[i]);
    }
    return reachable;
}

std::vector<EntryRecord> PackageReader::ReachableEntries(const GroupRecord& group) const
{
    std::vector<EntryRecord> entries;
    std::vector<std::string> names;
    for (uint32_t j = 0; j < group.entryCount; ++j) {
        uint32_t offset = 0;
        uint16_t kind = 0;
        EntryRecord entry;
        char name[kMaxPath];
        if (EntryOffsetAt(Image(), group, j, &offset) && Image().ReadU16(offset, &kind) &&
            kind == kFileEntryKind && ParseEntry(Image(), offset, &entry) &&
            CopyName(Image(), entry.nameOffset, entry.nameLength, name)) {
            entries.push_back(entry);
            names.emplace_back(name);
        }
    }
    const std::vector<bool> first = FirstOfEachName(names);
    std::vector<EntryRecord> reachable;
    for (size_t j = 0; j < entries.size(); ++j) {
        if (first[j])
            reachable.push_back(entries[j]);
    }
    return reachable;
}

bool PackageReader::FindEntry(const char* entryName, const char* group, EntryRecord* entry) const
{
    if (container_.IsClosed() || !entryName)
        return false;
    if (group) {
        GroupRecord record;
        return FindGroupRecord(Image(), group, &record) && FindEntryRecord(Image(), record, entryName, entry);
    }
    for (const GroupRecord& record : ReachableGroups()) {
        if (FindEntryRecord(Image(), record, entryName, entry))
            return true;
    }
    return false;
}

uint32_t PackageReader::GetEntrySize(const char* entryName, const char* group) const
{
    EntryRecord entry;
    return FindEntry(entryName, group, &entry) ? entry.uncompressedSize : 0;
}

int PackageReader::ReadRecord(const EntryRecord& entry, MappedFile& output) const
{
    const uint8_t* stored = nullptr;
    if (!Image().Bytes(entry.dataOffset, entry.dataLength, &stored))
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
    EntryRecord entry;
    if (!output.IsClosed() || !FindEntry(entryName, group, &entry))
        return 0;
    return ReadRecord(entry, output);
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
    EntryRecord entry;
    if (!FindEntry(entryName, group, &entry))
        return 0;
    return ExtractRecord(entry, destinationName ? destinationName : entryName, destinationFolder, mode);
}

int PackageReader::ExtractGroup(const char* group, const char* destinationFolder, int mode)
{
    GroupRecord record;
    if (container_.IsClosed())
        return 0;
    if (!FindGroupRecord(Image(), group ? group : "", &record))
        return 1;
    // Each name once: a later entry of an equal name is never reached by name.
    for (const EntryRecord& entry : ReachableEntries(record)) {
        char name[kMaxPath];
        if (CopyName(Image(), entry.nameOffset, entry.nameLength, name))
            ExtractRecord(entry, name, destinationFolder, mode);
    }
    return 1;
}

int PackageReader::ExtractAll(const char* destinationFolder)
{
    if (container_.IsClosed())
        return 0;
    for (const GroupRecord& group : ReachableGroups()) {
        char name[kMaxPath];
        if (CopyName(Image(), group.nameOffset, group.nameLength, name))
            ExtractGroup(name, destinationFolder, kOverwriteAlways);
    }
    return 1;
}
