// Parsing and validation of package container images.
#include "ContainerFormat.h"

#include <cstring>

namespace {

bool ReadFileTime(const ByteView& bytes, uint32_t offset, FileTime* time)
{
    return bytes.ReadU32(offset, &time->lowDateTime) && bytes.ReadU32(offset + 4, &time->highDateTime);
}

}  // namespace

bool ParseHeader(const ByteView& image, ContainerHeader* header)
{
    ContainerHeader h;
    if (!image.ReadU32(kHeaderMagicOffset, &h.magic) || !image.ReadU16(kHeaderVersionOffset, &h.version) ||
        !image.ReadU16(kHeaderEntryTotalOffset, &h.entryTotal) ||
        !image.ReadU32(kHeaderReservedOffset, &h.reserved) ||
        !image.ReadU16(kHeaderGroupCountOffset, &h.groupCount))
        return false;
    if (!image.Contains(0, HeaderSize(h.groupCount)))
        return false;
    *header = h;
    return true;
}

bool GroupOffsetAt(const ByteView& image, uint32_t index, uint32_t* offset)
{
    if (index >= kMaxCount)
        return false;
    return image.ReadU32(kHeaderGroupTableOffset + 4 * index, offset);
}

bool ParseGroup(const ByteView& image, uint32_t offset, GroupRecord* group)
{
    // Checked first, so that offset + field never wraps.
    if (!image.Contains(offset, kGroupNameOffset))
        return false;
    GroupRecord g;
    g.offset = offset;
    if (!image.ReadU16(offset + kGroupNameLengthOffset, &g.nameLength) || g.nameLength > kMaxNameLength)
        return false;
    g.nameOffset = offset + kGroupNameOffset;
    if (!image.Contains(g.nameOffset, StoredNameSize(g.nameLength)))
        return false;
    uint32_t countOffset = g.nameOffset + StoredNameSize(g.nameLength);
    if (!image.ReadU16(countOffset, &g.entryCount))
        return false;
    // The whole record, entry table included.
    if (!image.Contains(offset, GroupRecordSize(g.nameLength, g.entryCount)))
        return false;
    g.tableOffset = countOffset + 2;
    *group = g;
    return true;
}

bool EntryOffsetAt(const ByteView& image, const GroupRecord& group, uint32_t index, uint32_t* offset)
{
    if (index >= group.entryCount)
        return false;
    uint32_t relative = 0;
    if (!image.ReadU32(group.tableOffset + 4 * index, &relative))
        return false;
    // The table holds offsets from the group record; the sum must stay in the image.
    if (relative > image.Size() || group.offset > image.Size() - relative)
        return false;
    *offset = group.offset + relative;
    return true;
}

bool ParseEntry(const ByteView& image, uint32_t offset, EntryRecord* entry)
{
    EntryRecord e;
    e.offset = offset;
    if (!image.Contains(offset, kEntryNameOffset))
        return false;
    if (!image.ReadU16(offset + kEntryKindOffset, &e.kind) ||
        !image.ReadU32(offset + kEntryAttributesOffset, &e.attributes) ||
        !image.ReadU32(offset + kEntryUncompressedSizeOffset, &e.uncompressedSize) ||
        !image.ReadU32(offset + kEntryCompressedSizeOffset, &e.compressedSize) ||
        !ReadFileTime(image, offset + kEntryCreationTimeOffset, &e.creationTime) ||
        !ReadFileTime(image, offset + kEntryLastAccessTimeOffset, &e.lastAccessTime) ||
        !ReadFileTime(image, offset + kEntryLastWriteTimeOffset, &e.lastWriteTime) ||
        !image.ReadU16(offset + kEntryNameLengthOffset, &e.nameLength))
        return false;
    if (e.nameLength > kMaxNameLength)
        return false;
    e.dataLength = StoredDataLength(e.uncompressedSize, e.compressedSize);
    uint64_t length = EntrySize(e.nameLength, e.dataLength);
    if (length > image.Size() - offset)
        return false;
    e.nameOffset = offset + kEntryNameOffset;
    e.dataOffset = e.nameOffset + StoredNameSize(e.nameLength);
    e.entryLength = static_cast<uint32_t>(length);
    *entry = e;
    return true;
}

bool CopyName(const ByteView& bytes, uint32_t offset, uint32_t length, char (&name)[kMaxPath])
{
    const uint8_t* source = nullptr;
    if (length > kMaxNameLength || !bytes.Bytes(offset, length, &source))
        return false;
    if (length)
        std::memcpy(name, source, length);
    name[length] = '\0';
    return true;
}

bool ValidateContainer(const ByteView& image, ContainerCheck check)
{
    ContainerHeader header;
    if (!ParseHeader(image, &header) || header.magic != kContainerMagic)
        return false;
    if (check == ContainerCheck::kRead && header.version != kContainerVersion)
        return false;

    uint32_t slotsExamined = 0;
    uint64_t fileEntryBytes = 0;
    for (uint32_t i = 0; i < header.groupCount; ++i) {
        uint32_t groupOffset = 0;
        uint16_t signature = 0;
        if (!GroupOffsetAt(image, i, &groupOffset) || !image.ReadU16(groupOffset, &signature))
            return false;
        if (signature != kGroupSignature) {
            if (check == ContainerCheck::kRead)
                return false;
            continue;
        }
        GroupRecord group;
        char name[kMaxPath];
        if (!ParseGroup(image, groupOffset, &group) || !CopyName(image, group.nameOffset, group.nameLength, name))
            return false;
        slotsExamined += group.entryCount;
        if (slotsExamined > kMaxCount)
            return false;
        for (uint32_t j = 0; j < group.entryCount; ++j) {
            uint32_t entryOffset = 0;
            uint16_t kind = 0;
            if (!EntryOffsetAt(image, group, j, &entryOffset) || !image.ReadU16(entryOffset, &kind))
                return false;
            if (kind != kFileEntryKind)
                continue;
            EntryRecord entry;
            if (!ParseEntry(image, entryOffset, &entry))
                return false;
            fileEntryBytes += entry.entryLength;
            if (fileEntryBytes > image.Size())
                return false;
        }
    }
    return true;
}

bool FindGroupRecord(const ByteView& image, const char* name, GroupRecord* group)
{
    ContainerHeader header;
    if (!name || !ParseHeader(image, &header))
        return false;
    for (uint32_t i = 0; i < header.groupCount; ++i) {
        uint32_t offset = 0;
        uint16_t signature = 0;
        if (!GroupOffsetAt(image, i, &offset) || !image.ReadU16(offset, &signature) ||
            signature != kGroupSignature)
            continue;
        GroupRecord candidate;
        char candidateName[kMaxPath];
        if (!ParseGroup(image, offset, &candidate) ||
            !CopyName(image, candidate.nameOffset, candidate.nameLength, candidateName))
            continue;
        if (CompareNoCase(candidateName, name) == 0) {
            *group = candidate;
            return true;
        }
    }
    return false;
}

bool FindEntryRecord(const ByteView& image, const GroupRecord& group, const char* name, EntryRecord* entry)
{
    if (!name)
        return false;
    for (uint32_t j = 0; j < group.entryCount; ++j) {
        uint32_t offset = 0;
        uint16_t kind = 0;
        if (!EntryOffsetAt(image, group, j, &offset) || !image.ReadU16(offset, &kind) || kind != kFileEntryKind)
            continue;
        EntryRecord candidate;
        char candidateName[kMaxPath];
        if (!ParseEntry(image, offset, &candidate) ||
            !CopyName(image, candidate.nameOffset, candidate.nameLength, candidateName))
            continue;
        if (CompareNoCase(candidateName, name) == 0) {
            *entry = candidate;
            return true;
        }
    }
    return false;
}
