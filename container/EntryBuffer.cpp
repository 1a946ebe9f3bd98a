// Decoded, bounds-checked access to an entry held in a memory block.
#include "EntryBuffer.h"

int EntryBuffer::CreateFromEntry(const uint8_t* entry, uint32_t length)
{
    if (!IsClosed())
        return 0;
    EntryRecord record;
    ByteView source(entry, length);
    if (!ParseEntry(source, 0, &record) || record.entryLength != length) {
        SetLastErrorValue(kErrorInvalidData);
        return 0;
    }
    if (!CreateMemory(nullptr, length, 0))
        return 0;
    ByteSpan(GetData(), GetCapacity()).WriteBytes(0, entry, length);
    return 1;
}

bool EntryBuffer::GetRecord(EntryRecord* record) const
{
    return ParseEntry(Bytes(), 0, record);
}

bool EntryBuffer::IsValidEntry() const
{
    EntryRecord record;
    return GetRecord(&record);
}

uint16_t EntryBuffer::GetKind() const
{
    EntryRecord record;
    return GetRecord(&record) ? record.kind : 0;
}

uint32_t EntryBuffer::GetAttributes() const
{
    EntryRecord record;
    return GetRecord(&record) ? record.attributes : 0;
}

uint32_t EntryBuffer::GetUncompressedSize() const
{
    EntryRecord record;
    return GetRecord(&record) ? record.uncompressedSize : 0;
}

uint32_t EntryBuffer::GetCompressedSize() const
{
    EntryRecord record;
    return GetRecord(&record) ? record.compressedSize : 0;
}

FileTime EntryBuffer::GetCreationTime() const
{
    EntryRecord record;
    return GetRecord(&record) ? record.creationTime : FileTime{0, 0};
}

FileTime EntryBuffer::GetLastAccessTime() const
{
    EntryRecord record;
    return GetRecord(&record) ? record.lastAccessTime : FileTime{0, 0};
}

FileTime EntryBuffer::GetLastWriteTime() const
{
    EntryRecord record;
    return GetRecord(&record) ? record.lastWriteTime : FileTime{0, 0};
}

bool EntryBuffer::GetName(char (&name)[kMaxPath]) const
{
    name[0] = '\0';
    EntryRecord record;
    return GetRecord(&record) && CopyName(Bytes(), record.nameOffset, record.nameLength, name);
}

CString EntryBuffer::GetName() const
{
    char name[kMaxPath];
    GetName(name);
    return CString(name);
}

const uint8_t* EntryBuffer::GetStoredData() const
{
    EntryRecord record;
    const uint8_t* data = nullptr;
    if (!GetRecord(&record) || !Bytes().Bytes(record.dataOffset, record.dataLength, &data))
        return nullptr;
    return data;
}

uint32_t EntryBuffer::GetStoredLength() const
{
    EntryRecord record;
    return GetRecord(&record) ? record.dataLength : 0;
}

uint32_t EntryBuffer::GetEntryLength() const
{
    EntryRecord record;
    return GetRecord(&record) ? record.entryLength : 0;
}

int EntryBuffer::SetAttributes(uint32_t attributes)
{
    // Only a memory block is writable; a file view may be read-only.
    if (!IsMemory() || !IsValidEntry())
        return 0;
    return ByteSpan(GetData(), GetCapacity()).WriteU32(kEntryAttributesOffset, attributes) ? 1 : 0;
}

int EntryBuffer::SetTimes(const FileTime& creation, const FileTime& lastAccess, const FileTime& lastWrite)
{
    if (!IsMemory() || !IsValidEntry())
        return 0;
    ByteSpan record(GetData(), GetCapacity());
    return record.WriteU32(kEntryCreationTimeOffset, creation.lowDateTime) &&
                   record.WriteU32(kEntryCreationTimeOffset + 4, creation.highDateTime) &&
                   record.WriteU32(kEntryLastAccessTimeOffset, lastAccess.lowDateTime) &&
                   record.WriteU32(kEntryLastAccessTimeOffset + 4, lastAccess.highDateTime) &&
                   record.WriteU32(kEntryLastWriteTimeOffset, lastWrite.lowDateTime) &&
                   record.WriteU32(kEntryLastWriteTimeOffset + 4, lastWrite.highDateTime)
               ? 1
               : 0;
}
