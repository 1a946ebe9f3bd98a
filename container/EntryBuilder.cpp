// Entry builder: one source file or memory block into one entry block.
#include "EntryBuilder.h"

#include <cstring>

#include "ByteView.h"
#include "ContainerFormat.h"
#include "SystemApi.h"

namespace {

constexpr uint32_t kSmallSourceLimit = 1024;
constexpr uint32_t kSmallSourceCapacity = 4096;

bool WriteFileTime(ByteSpan& record, uint32_t offset, const FileTime& time)
{
    return record.WriteU32(offset, time.lowDateTime) && record.WriteU32(offset + 4, time.highDateTime);
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
    if (nameLength > kMaxNameLength) {
        SetLastErrorValue(kErrorFilenameExcedRange);
        return 0;
    }
    uint32_t capacity = kSmallSourceCapacity;
    if (sourceSize > kSmallSourceLimit) {
        if (sourceSize > UINT32_MAX / 3) {
            SetLastErrorValue(kErrorNotEnoughMemory);
            return 0;
        }
        capacity = 3 * sourceSize;
    }
    // The capacity always covers record, name and data: 4096 >= 40 + 259 + 1024,
    // and 3 x S >= 40 + 259 + S once S > 1024.
    static_assert(kSmallSourceCapacity >= EntrySize(kMaxNameLength, kSmallSourceLimit), "small capacity");
    if (!target.CreateMemory(nullptr, capacity, 0))
        return 0;

    ByteSpan block(target.GetData(), target.GetCapacity());
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

    block.WriteU16(kEntryNameLengthOffset, static_cast<uint16_t>(nameLength));
    block.WriteBytes(kEntryNameOffset, name, static_cast<uint32_t>(nameLength));
    const uint32_t dataOffset = kEntryNameOffset + StoredNameSize(static_cast<uint32_t>(nameLength));
    block.WriteBytes(dataOffset, source.GetData(), sourceSize);
    block.WriteU32(kEntryCompressedSizeOffset, 0);
    target.Seek(static_cast<int32_t>(dataOffset + sourceSize), MappedFile::kBegin);
    return 1;
}
