// The container walk: header, groups and entries read through ByteView, and the diagnosis of a refusal.
#include "ContainerWalker.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>

namespace {

constexpr uint32_t kNoSlot = UINT32_MAX;
// Slot offsets computed below stay far from 32-bit wrap-around.
static_assert(uint64_t{kHeaderGroupTableOffset} + uint64_t{kTableSlotSize} * kMaxCount <= UINT32_MAX,
              "a group table slot's offset fits 32 bits");

std::string Hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string Hex16(uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

std::string Counted(uint64_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string ByteCount(uint64_t count) { return Counted(count, "byte", "bytes"); }

std::string PastTheEnd(const std::string& what, uint32_t size)
{
    return what + " reaches past the end of the image (" + ByteCount(size) + ")";
}

// A name as a diagnosis shows it: in double quotes, control bytes as \xNN.
std::string Quoted(const uint8_t* name, size_t length)
{
    std::string text = "\"";
    for (size_t i = 0; i < length; ++i) {
        if (name[i] < 0x20 || name[i] == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", name[i]);
            text += escaped;
        } else {
            text += static_cast<char>(name[i]);
        }
    }
    return text + "\"";
}

std::string Quoted(const std::string& name)
{
    return Quoted(reinterpret_cast<const uint8_t*>(name.data()), name.size());
}

// "entry 3 \"a\" of group 1 \"G\" at offset 0x1F"; a slot of kNoSlot and an
// empty quoted name are left out.
std::string PlaceText(const char* record, uint32_t slot, const std::string& quotedName, uint32_t groupSlot,
                      const std::string& quotedGroupName, uint64_t offset)
{
    std::string text = record;
    if (slot != kNoSlot)
        text += " " + std::to_string(slot);
    if (!quotedName.empty())
        text += " " + quotedName;
    if (groupSlot != kNoSlot) {
        text += " of group " + std::to_string(groupSlot);
        if (!quotedGroupName.empty())
            text += " " + quotedGroupName;
    }
    return text + " at offset " + Hex(offset);
}

// The stored name up to its first zero byte; the name must lie inside bytes.
std::string NameOf(const ByteView& bytes, uint32_t offset, uint32_t length)
{
    const uint8_t* name = nullptr;
    if (length == 0 || !bytes.Bytes(offset, length, &name))
        return std::string();
    const void* zero = std::memchr(name, 0, length);
    const size_t kept = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - name) : length;
    return std::string(reinterpret_cast<const char*>(name), kept);
}

bool ReadFileTime(const ByteView& bytes, uint32_t offset, FileTime* time)
{
    return bytes.ReadU32(offset, &time->lowDateTime) && bytes.ReadU32(offset + 4, &time->highDateTime);
}

template <typename Named>
std::vector<bool> FirstOfEachName(const std::vector<Named>& items)
{
    auto name = [&items](size_t i) { return items[i].name.c_str(); };
    std::vector<size_t> order(items.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&name](size_t a, size_t b) { return CompareNoCase(name(a), name(b)) < 0; });
    std::vector<bool> first(items.size(), false);
    for (size_t k = 0; k < order.size();) {
        // The sort is stable, so the earliest of equal names leads its run.
        first[order[k]] = true;
        size_t m = k + 1;
        while (m < order.size() && CompareNoCase(name(order[m]), name(order[k])) == 0)
            ++m;
        k = m;
    }
    return first;
}

}  // namespace

// Where the walk is: the record being read and its offset, with the group and
// entry slots, and their names once they are known to lie inside the bytes.
class ContainerWalker::Place {
public:
    enum Record { kHeader, kGroupTable, kGroup, kEntry };

    Place(const ByteView& bytes, Record record, uint64_t offset) : bytes_(bytes), record_(record), offset_(offset) {}

    void SetOffset(uint64_t offset) { offset_ = offset; }
    void SetGroup(uint32_t slot, const GroupRecord* named)
    {
        groupSlot_ = slot;
        group_ = named;
    }
    void SetEntry(uint32_t slot) { entrySlot_ = slot; }
    void Name(const GroupRecord* group) { group_ = group; }
    void Name(const EntryRecord* entry) { entry_ = entry; }

    std::string Text() const
    {
        switch (record_) {
        case kHeader:
            return PlaceText("header", kNoSlot, "", kNoSlot, "", offset_);
        case kGroupTable:
            return PlaceText("group table", kNoSlot, "", kNoSlot, "", offset_);
        case kGroup:
            return PlaceText("group", groupSlot_, GroupName(), kNoSlot, "", offset_);
        case kEntry:
            break;
        }
        return PlaceText("entry", entrySlot_, entry_ ? QuotedName(entry_->nameOffset, entry_->nameLength) : "",
                         groupSlot_, GroupName(), offset_);
    }
    Status Fault(uint32_t code, const std::string& what) const { return Status::Error(code, Text() + ": " + what); }
    Status Damaged(const std::string& what) const { return Fault(kErrorInvalidData, what); }

private:
    std::string GroupName() const { return group_ ? QuotedName(group_->nameOffset, group_->nameLength) : ""; }
    std::string QuotedName(uint32_t offset, uint32_t length) const
    {
        const uint8_t* name = nullptr;
        return bytes_.Bytes(offset, length, &name) ? Quoted(name, length) : std::string();
    }

    ByteView bytes_;
    Record record_;
    uint64_t offset_;
    uint32_t groupSlot_ = kNoSlot;
    uint32_t entrySlot_ = kNoSlot;
    const GroupRecord* group_ = nullptr;
    const EntryRecord* entry_ = nullptr;
};

Status ContainerWalker::Walk(WalkedContainer* contents) const
{
    if (contents)
        *contents = WalkedContainer();
    Status status = WalkInto(contents);
    if (!status && contents)
        *contents = WalkedContainer();
    return status;
}

Status ContainerWalker::WalkInto(WalkedContainer* contents) const
{
    ContainerHeader header;
    Status status = ReadHeader(&header);
    if (!status)
        return status;
    const uint32_t size = image_.Size();
    if (contents) {
        contents->imageSize = size;
        contents->header = header;
    }

    // Entry slots of every group examined, and bytes of every file entry: a
    // writer never exceeds 65535 of the one or the image size with the other.
    uint32_t slots = 0;
    uint64_t fileBytes = 0;
    for (uint32_t g = 0; g < header.groupCount; ++g) {
        uint32_t offset = 0;
        uint16_t signature = 0;
        // ReadHeader checked the whole table, so this read stays inside it.
        if (!image_.ReadU32(kHeaderGroupTableOffset + kTableSlotSize * g, &offset))
            return Place(image_, Place::kGroupTable, kHeaderGroupTableOffset)
                .Damaged(PastTheEnd("slot " + std::to_string(g), size));
        Place place(image_, Place::kGroup, offset);
        place.SetGroup(g, nullptr);
        if (!image_.ReadU16(offset + kGroupSignatureOffset, &signature))
            return place.Damaged(PastTheEnd("the record", size));
        if (signature != kGroupSignature) {
            if (check_ == ContainerCheck::kRead)
                return place.Damaged("signature " + Hex16(signature) + " is not " + Hex16(kGroupSignature));
            if (contents)
                ++contents->skippedGroups;
            continue;
        }
        GroupRecord group;
        status = ReadGroup(place, offset, &group);
        if (!status)
            return status;
        slots += group.entryCount;
        if (slots > kMaxCount)
            return place.Damaged(Counted(group.entryCount, "entry slot", "entry slots") +
                                 " bring the groups' total to " + std::to_string(slots) + ", more than the " +
                                 std::to_string(kMaxCount) + " a container can hold");
        WalkedGroup* walked = nullptr;
        if (contents) {
            contents->groups.emplace_back();
            walked = &contents->groups.back();
            walked->slot = g;
            walked->name = NameOf(image_, group.nameOffset, group.nameLength);
            walked->record = group;
        }

        status = WalkEntries(g, group, walked, &fileBytes);
        if (!status)
            return status;
        if (walked)
            contents->fileEntries += static_cast<uint32_t>(walked->entries.size());
    }
    return Status::Ok();
}

Status ContainerWalker::WalkEntries(uint32_t g, const GroupRecord& group, WalkedGroup* walked,
                                    uint64_t* fileBytes) const
{
    const uint32_t size = image_.Size();
    for (uint32_t e = 0; e < group.entryCount; ++e) {
        Place entryPlace(image_, Place::kEntry, 0);
        entryPlace.SetGroup(g, &group);
        entryPlace.SetEntry(e);
        uint32_t relative = 0;
        uint16_t kind = 0;
        // ReadGroup checked the whole entry table.
        if (!image_.ReadU32(group.tableOffset + kTableSlotSize * e, &relative)) {
            Place groupPlace(image_, Place::kGroup, group.offset);
            groupPlace.SetGroup(g, &group);
            return groupPlace.Damaged(PastTheEnd("entry table slot " + std::to_string(e), size));
        }
        // The table holds offsets from the group record.
        const uint64_t entryOffset = uint64_t{group.offset} + relative;
        entryPlace.SetOffset(entryOffset);
        if (entryOffset > size || !image_.ReadU16(static_cast<uint32_t>(entryOffset) + kEntryKindOffset, &kind))
            return entryPlace.Damaged(PastTheEnd("the record", size));
        if (kind != kFileEntryKind) {
            if (walked)
                ++walked->skippedChildren;
            continue;
        }
        EntryRecord entry;
        const Status status = ReadEntryAt(image_, static_cast<uint32_t>(entryOffset), entryPlace, &entry);
        if (!status)
            return status;
        *fileBytes += entry.entryLength;
        if (*fileBytes > size)
            return entryPlace.Damaged("file entries take " + ByteCount(*fileBytes) +
                                      " up to this one, more than the whole image (" + ByteCount(size) +
                                      "), so entries share bytes");
        if (walked)
            walked->entries.push_back(WalkedEntry{e, NameOf(image_, entry.nameOffset, entry.nameLength), entry});
    }
    return Status::Ok();
}

Status ContainerWalker::ReadHeader(ContainerHeader* header) const
{
    const uint32_t size = image_.Size();
    const Place place(image_, Place::kHeader, kHeaderMagicOffset);
    uint32_t magic = 0;
    if (!image_.ReadU32(kHeaderMagicOffset, &magic) || magic != kContainerMagic)
        return place.Fault(kErrorBadFormat, "the image does not start with \"BOEM\"");
    ContainerHeader h;
    h.magic = magic;
    if (!image_.ReadU16(kHeaderVersionOffset, &h.version) ||
        !image_.ReadU16(kHeaderEntryTotalOffset, &h.entryTotal) ||
        !image_.ReadU32(kHeaderReservedOffset, &h.reserved) ||
        !image_.ReadU16(kHeaderGroupCountOffset, &h.groupCount))
        return place.Damaged("the image (" + ByteCount(size) + ") ends inside the " +
                             std::to_string(kHeaderGroupTableOffset) + "-byte header");
    const uint32_t slots = h.groupCount ? h.groupCount : 1;
    if (!image_.Contains(kHeaderGroupTableOffset, kTableSlotSize * slots))
        return Place(image_, Place::kGroupTable, kHeaderGroupTableOffset)
            .Damaged(PastTheEnd("the table (" + Counted(slots, "slot", "slots") + ", " +
                                    ByteCount(kTableSlotSize * slots) + ")",
                                size));
    if (check_ == ContainerCheck::kRead && h.version != kContainerVersion)
        return place.Fault(kErrorNotSupported,
                           "version " + Hex16(h.version) + " is not supported (only " + Hex16(kContainerVersion) + ")");
    *header = h;
    return Status::Ok();
}

Status ContainerWalker::ReadGroup(Place& place, uint32_t offset, GroupRecord* group) const
{
    const uint32_t size = image_.Size();
    group->offset = offset;
    if (!image_.Contains(offset, kGroupNameOffset) ||
        !image_.ReadU16(offset + kGroupNameLengthOffset, &group->nameLength))
        return place.Damaged(PastTheEnd("the record", size));
    if (group->nameLength > kMaxNameLength)
        return place.Damaged("name of " + ByteCount(group->nameLength) + " is longer than " +
                             std::to_string(kMaxNameLength) + " bytes");
    group->nameOffset = offset + kGroupNameOffset;
    const uint32_t storedName = StoredNameSize(group->nameLength);
    if (!image_.Contains(group->nameOffset, storedName))
        return place.Damaged(
            PastTheEnd("name (" + ByteCount(storedName) + " at " + Hex(group->nameOffset) + ")", size));
    place.Name(group);
    // Both sums stay inside the image: the name and then the count were found there.
    const uint32_t countOffset = group->nameOffset + storedName;
    if (!image_.ReadU16(countOffset, &group->entryCount))
        return place.Damaged(PastTheEnd("entry count (at " + Hex(countOffset) + ")", size));
    group->tableOffset = countOffset + 2;
    const uint32_t slots = group->entryCount ? group->entryCount : 1;
    if (!image_.Contains(group->tableOffset, kTableSlotSize * slots))
        return place.Damaged(PastTheEnd("entry table (" + Counted(slots, "slot", "slots") + ", " +
                                            ByteCount(kTableSlotSize * slots) + " at " + Hex(group->tableOffset) + ")",
                                        size));
    return Status::Ok();
}

Status ContainerWalker::ReadEntry(const ByteView& bytes, uint32_t offset, EntryRecord* record)
{
    Place place(bytes, Place::kEntry, offset);
    EntryRecord entry;
    Status status = ReadEntryAt(bytes, offset, place, &entry);
    if (status)
        *record = entry;
    return status;
}

Status ContainerWalker::ReadEntryAt(const ByteView& bytes, uint32_t offset, Place& place, EntryRecord* entry)
{
    const uint32_t size = bytes.Size();
    entry->offset = offset;
    // The fixed part is checked first, so that offset + field never wraps.
    if (!bytes.Contains(offset, kEntryNameOffset) || !bytes.ReadU16(offset + kEntryKindOffset, &entry->kind) ||
        !bytes.ReadU32(offset + kEntryAttributesOffset, &entry->attributes) ||
        !bytes.ReadU32(offset + kEntryUncompressedSizeOffset, &entry->uncompressedSize) ||
        !bytes.ReadU32(offset + kEntryCompressedSizeOffset, &entry->compressedSize) ||
        !ReadFileTime(bytes, offset + kEntryCreationTimeOffset, &entry->creationTime) ||
        !ReadFileTime(bytes, offset + kEntryLastAccessTimeOffset, &entry->lastAccessTime) ||
        !ReadFileTime(bytes, offset + kEntryLastWriteTimeOffset, &entry->lastWriteTime) ||
        !bytes.ReadU16(offset + kEntryNameLengthOffset, &entry->nameLength))
        return place.Damaged(PastTheEnd("the record (" + ByteCount(kEntryNameOffset) + ")", size));
    if (entry->nameLength > kMaxNameLength)
        return place.Damaged("name of " + ByteCount(entry->nameLength) + " is longer than " +
                             std::to_string(kMaxNameLength) + " bytes");
    entry->nameOffset = offset + kEntryNameOffset;
    const uint32_t storedName = StoredNameSize(entry->nameLength);
    if (!bytes.Contains(entry->nameOffset, storedName))
        return place.Damaged(
            PastTheEnd("name (" + ByteCount(storedName) + " at " + Hex(entry->nameOffset) + ")", size));
    place.Name(entry);
    entry->dataOffset = entry->nameOffset + storedName;
    entry->dataLength = StoredDataLength(entry->uncompressedSize, entry->compressedSize);
    if (!bytes.Contains(entry->dataOffset, entry->dataLength))
        return place.Damaged(PastTheEnd("stored data (" + ByteCount(entry->dataLength) + " at " +
                                            Hex(entry->dataOffset) + ")",
                                        size));
    // At most size - offset: the data ends inside the bytes.
    entry->entryLength = entry->dataOffset - offset + entry->dataLength;
    return Status::Ok();
}

std::string DescribeGroup(const WalkedGroup& group)
{
    return PlaceText("group", group.slot, Quoted(group.name), kNoSlot, "", group.record.offset);
}

std::string DescribeEntry(const WalkedGroup& group, const WalkedEntry& entry)
{
    return PlaceText("entry", entry.slot, Quoted(entry.name), group.slot, Quoted(group.name), entry.record.offset);
}

const WalkedGroup* FindWalkedGroup(const WalkedContainer& contents, const char* name)
{
    if (!name)
        return nullptr;
    for (const WalkedGroup& group : contents.groups) {
        if (CompareNoCase(group.name.c_str(), name) == 0)
            return &group;
    }
    return nullptr;
}

const WalkedEntry* FindWalkedEntry(const WalkedGroup& group, const char* name)
{
    if (!name)
        return nullptr;
    for (const WalkedEntry& entry : group.entries) {
        if (CompareNoCase(entry.name.c_str(), name) == 0)
            return &entry;
    }
    return nullptr;
}

std::vector<bool> ReachableGroups(const WalkedContainer& contents) { return FirstOfEachName(contents.groups); }

std::vector<bool> ReachableEntries(const WalkedGroup& group) { return FirstOfEachName(group.entries); }
