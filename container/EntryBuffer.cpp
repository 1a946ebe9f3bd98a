// An entry held in a memory block, decoded once and decoded again only when its record bytes change.
#include "EntryBuffer.h"

#include <cstring>

#include "ContainerWalker.h"

int EntryBuffer::CreateFromEntry(const uint8_t* entry, uint32_t length)
{
    if (!IsClosed())
        return 0;
    EntryRecord record;
    if (!ContainerWalker::ReadEntry(ByteView(entry, length), 0, &record) || record.entryLength != length) {
        SetLastErrorValue(kErrorInvalidData);
        return 0;
    }
    if (!CreateMemory(nullptr, length, 0))
        return 0;
    ByteSpan(GetData(), GetCapacity()).WriteBytes(0, entry, length);
    return 1;
}

int EntryBuffer::CreateView(std::shared_ptr<const MappedFile> file, uint32_t offset, uint32_t length)
{
    if (!IsClosed() || !file)
        return 0;
    const ByteView whole(file->GetData(), file->IsClosed() ? 0 : file->GetCapacity());
    const uint8_t* bytes = nullptr;
    EntryRecord record;
    if (!whole.Bytes(offset, length, &bytes) || !ContainerWalker::ReadEntry(ByteView(bytes, length), 0, &record) ||
        record.entryLength != length) {
        SetLastErrorValue(kErrorInvalidData);
        return 0;
    }
    return OpenView(std::move(file), offset, length);
}

int EntryBuffer::MakeWritable()
{
    if (IsMemory())
        return 1;
    if (!IsView())
        return 0;
    // Held here so that the bytes outlive the view while they are copied.
    const std::shared_ptr<const MappedFile> owner = GetViewOwner();
    const uint32_t offset = static_cast<uint32_t>(GetData() - owner->GetData());
    const uint32_t length = GetCapacity();
    Close();
    if (!CreateMemory(nullptr, length, 0)) {
        LastErrorGuard keep;
        OpenView(owner, offset, length);
        return 0;
    }
    ByteSpan(GetData(), GetCapacity()).WriteBytes(0, owner->GetData() + offset, length);
    return 1;
}

int EntryBuffer::MoveTo(std::shared_ptr<const MappedFile> file, uint32_t offset)
{
    const uint32_t length = GetEntryLength();
    if (length == 0 || !file || file->IsClosed())
        return 0;
    const ByteView whole(file->GetData(), file->GetCapacity());
    const uint8_t* bytes = nullptr;
    // The record decides the entry's length and meaning; the rest was copied from here.
    if (!whole.Bytes(offset, length, &bytes) || std::memcmp(bytes, GetData(), kEntryNameOffset) != 0)
        return 0;
    Close();
    return OpenView(std::move(file), offset, length);
}

const EntryRecord* EntryBuffer::Record() const
{
    const ByteView bytes = Bytes();
    const uint8_t* fixed = nullptr;
    // Closed, or too short for the fixed part of a record: never a whole entry.
    if (!bytes.Bytes(0, kEntryNameOffset, &fixed))
        return nullptr;
    if (!decoded_.done || decoded_.capacity != bytes.Size() ||
        std::memcmp(decoded_.fixed, fixed, kEntryNameOffset) != 0) {
        decoded_.done = true;
        decoded_.capacity = bytes.Size();
        std::memcpy(decoded_.fixed, fixed, kEntryNameOffset);
        decoded_.valid = ContainerWalker::ReadEntry(bytes, 0, &decoded_.record).IsOk();
    }
    return decoded_.valid ? &decoded_.record : nullptr;
}

bool EntryBuffer::GetRecord(EntryRecord* record) const
{
    const EntryRecord* decoded = Record();
    if (decoded)
        *record = *decoded;
    return decoded != nullptr;
}

uint16_t EntryBuffer::GetKind() const
{
    const EntryRecord* record = Record();
    return record ? record->kind : 0;
}

uint32_t EntryBuffer::GetAttributes() const
{
    const EntryRecord* record = Record();
    return record ? record->attributes : 0;
}

uint32_t EntryBuffer::GetUncompressedSize() const
{
    const EntryRecord* record = Record();
    return record ? record->uncompressedSize : 0;
}

uint32_t EntryBuffer::GetCompressedSize() const
{
    const EntryRecord* record = Record();
    return record ? record->compressedSize : 0;
}

FileTime EntryBuffer::GetCreationTime() const
{
    const EntryRecord* record = Record();
    return record ? record->creationTime : FileTime{0, 0};
}

FileTime EntryBuffer::GetLastAccessTime() const
{
    const EntryRecord* record = Record();
    return record ? record->lastAccessTime : FileTime{0, 0};
}

FileTime EntryBuffer::GetLastWriteTime() const
{
    const EntryRecord* record = Record();
    return record ? record->lastWriteTime : FileTime{0, 0};
}

bool EntryBuffer::GetName(char (&name)[kMaxPath]) const
{
    name[0] = '\0';
    const EntryRecord* record = Record();
    return record && CopyName(Bytes(), record->nameOffset, record->nameLength, name);
}

CString EntryBuffer::GetName() const
{
    char name[kMaxPath];
    GetName(name);
    return CString(name);
}

const uint8_t* EntryBuffer::GetStoredData() const
{
    const EntryRecord* record = Record();
    const uint8_t* data = nullptr;
    if (!record || !Bytes().Bytes(record->dataOffset, record->dataLength, &data))
        return nullptr;
    return data;
}

uint32_t EntryBuffer::GetStoredLength() const
{
    const EntryRecord* record = Record();
    return record ? record->dataLength : 0;
}

uint32_t EntryBuffer::GetEntryLength() const
{
    const EntryRecord* record = Record();
    return record ? record->entryLength : 0;
}

int EntryBuffer::SetAttributes(uint32_t attributes)
{
    // Only a memory block is writable: a view is copied first, a file mapping refused.
    if (!IsValidEntry() || (IsView() && !MakeWritable()) || !IsMemory())
        return 0;
    return ByteSpan(GetData(), GetCapacity()).WriteU32(kEntryAttributesOffset, attributes) ? 1 : 0;
}

int EntryBuffer::SetTimes(const FileTime& creation, const FileTime& lastAccess, const FileTime& lastWrite)
{
    if (!IsValidEntry() || (IsView() && !MakeWritable()) || !IsMemory())
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
