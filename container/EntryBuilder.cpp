// Entry builder: one source file or memory block into one entry block.
#include "EntryBuilder.h"

#include <cstring>

#include "ByteView.h"
#include "ContainerFormat.h"
#include "Status.h"
#include "SystemApi.h"

namespace {

constexpr uint32_t kSmallSourceLimit = 1024;
constexpr uint32_t kSmallSourceCapacity = 4096;

bool WriteFileTime(ByteSpan& record, uint32_t offset, const FileTime& time)
{
    return record.WriteU32(offset, time.lowDateTime) && record.WriteU32(offset + 4, time.highDateTime);
}

// The capacity of the block for an entry named by nameLength bytes holding
// sourceSize bytes: 4096 for small sources, else 3 x the source size.
Status EntryCapacity(size_t nameLength, uint32_t sourceSize, uint32_t* capacity)
{
    if (nameLength > kMaxNameLength)
        return Status::Error(kErrorFilenameExcedRange);
    // The capacity always covers record, name and data: 4096 >= 40 + 259 + 1024,
    // and 3 x S >= 40 + 259 + S once S > 1024.
    static_assert(kSmallSourceCapacity >= EntrySize(kMaxNameLength, kSmallSourceLimit), "small capacity");
    *capacity = kSmallSourceCapacity;
    if (sourceSize > kSmallSourceLimit) {
        if (sourceSize > UINT32_MAX / 3)
            return Status::Error(kErrorNotEnoughMemory);
        *capacity = 3 * sourceSize;
    }
    return Status::Ok();
}

// The record's fields taken from the source: kind, attributes of the source
// path, uncompressed size and the three times.
void WriteRecordFields(ByteSpan& block, const MappedFile& source, const char* sourcePath, uint32_t sourceSize)
{
    block.Fill(0, 0, kEntryNameOffset + 1);
    block.WriteU16(kEntryKindOffset, kFileEntryKind);

    uint32_t attributes = 0;
    if (sourcePath) {
        attributes = GetPathAttributes(sourcePath);
        if (attributes == kInvalidFileAttributes)
            attributes = 0;
    }
    block.WriteU32(kEntryAttributesOffset, attributes);
    block.WriteU32(kEntryUncompressedSizeOffset, sourceSize);

    FileTime creation = {0, 0}, lastAccess = {0, 0}, lastWrite = {0, 0};
    if (source.IsFile()) {
        GetHandleTimes(source.GetFileHandle(), &creation, &lastAccess, &lastWrite);
    } else {
        creation = lastAccess = lastWrite = GetSystemFileTime();
    }
    WriteFileTime(block, kEntryCreationTimeOffset, creation);
    WriteFileTime(block, kEntryLastAccessTimeOffset, lastAccess);
    WriteFileTime(block, kEntryLastWriteTimeOffset, lastWrite);
}

// The name after the record and the source's bytes after the name, stored
// uncompressed. Returns the entry's length.
uint32_t WriteNameAndData(ByteSpan& block, const char* name, uint32_t nameLength, const MappedFile& source,
                          uint32_t sourceSize)
{
    block.WriteU16(kEntryNameLengthOffset, static_cast<uint16_t>(nameLength));
    block.WriteBytes(kEntryNameOffset, name, nameLength);
    const uint32_t dataOffset = kEntryNameOffset + StoredNameSize(nameLength);
    block.WriteBytes(dataOffset, source.GetData(), sourceSize);
    block.WriteU32(kEntryCompressedSizeOffset, 0);
    return dataOffset + sourceSize;
}

}  // namespace

const char* FileNamePart(const char* path)
{
    const char* name = path;
    for (const char* p = path; *p; ++p) {
        // The trail byte of a double-byte character may have the value of '\\'.
        if (IsLeadByte(static_cast<uint8_t>(*p)) && p[1]) {
            ++p;
            continue;
        }
        if (*p == '\\' || *p == '/' || *p == ':')
            name = p + 1;
    }
    return name;
}

int BuildEntry(MappedFile& source, const char* sourcePath, EntryBuffer& target, int compress)
{
    (void)compress;  // every entry is stored uncompressed
    if (!target.IsClosed())
        return 0;
    const uint32_t sourceSize = source.GetSize();
    if (source.IsClosed() || sourceSize > source.GetCapacity()) {
        SetLastErrorValue(kErrorInvalidParameter);
        return 0;
    }
    const char* name = sourcePath ? FileNamePart(sourcePath) : "";
    const size_t nameLength = std::strlen(name);
    uint32_t capacity = 0;
    const Status sized = EntryCapacity(nameLength, sourceSize, &capacity);
    if (!sized) {
        SetLastErrorValue(sized.Code());
        return 0;
    }
    if (!target.CreateMemory(nullptr, capacity, 0))
        return 0;

    ByteSpan block(target.GetData(), target.GetCapacity());
    WriteRecordFields(block, source, sourcePath, sourceSize);
    const uint32_t length = WriteNameAndData(block, name, static_cast<uint32_t>(nameLength), source, sourceSize);
    target.Seek(static_cast<int32_t>(length), MappedFile::kBegin);
    return 1;
}
