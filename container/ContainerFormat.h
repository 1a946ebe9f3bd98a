// The package container format: record layouts, size rules and decoded records.
//
// A container is a header with a group offset table, group records with entry
// offset tables, and entry records each followed by the entry's stored data.
// All integers are little-endian; records are packed and may start anywhere.
// A count-prefixed table occupies max(count, 1) slots and a counted string
// max(length, 1) bytes. Images are read by ContainerWalker only, through
// ByteView, so no offset, count or length read from the bytes can reach
// outside the image.
#pragma once

#include <cstdint>

#include "ByteView.h"
#include "SystemApi.h"

constexpr uint32_t kContainerMagic = 0x4D454F42;  // "BOEM"
constexpr uint16_t kContainerVersion = 0x0200;
constexpr uint16_t kGroupSignature = 0xFCEC;
constexpr uint16_t kFileEntryKind = 0xFFFF;
// Consumers copy names into 260-byte buffers with a terminating zero.
constexpr uint32_t kMaxNameLength = kMaxPath - 1;
// Field widths: groups, entries of a group and entries in all are u16 counts.
constexpr uint32_t kMaxCount = 0xFFFF;
// Largest container the format can describe: every offset and size is 32 bits.
constexpr uint64_t kMaxPackageSize = 0xFFFFFFFFull;

// Header.
constexpr uint32_t kHeaderMagicOffset = 0;
constexpr uint32_t kHeaderVersionOffset = 4;
constexpr uint32_t kHeaderEntryTotalOffset = 6;
constexpr uint32_t kHeaderReservedOffset = 8;
constexpr uint32_t kHeaderGroupCountOffset = 12;
constexpr uint32_t kHeaderGroupTableOffset = 14;
static_assert(kHeaderVersionOffset == kHeaderMagicOffset + 4, "magic is a u32");
static_assert(kHeaderEntryTotalOffset == kHeaderVersionOffset + 2, "version is a u16");
static_assert(kHeaderReservedOffset == kHeaderEntryTotalOffset + 2, "entry total is a u16");
static_assert(kHeaderGroupCountOffset == kHeaderReservedOffset + 4, "reserved is a u32");
static_assert(kHeaderGroupTableOffset == kHeaderGroupCountOffset + 2, "group count is a u16");

// Group record; the entry count follows the name, the entry offset table the count.
constexpr uint32_t kGroupSignatureOffset = 0;
constexpr uint32_t kGroupNameLengthOffset = 2;
constexpr uint32_t kGroupNameOffset = 4;
static_assert(kGroupNameLengthOffset == kGroupSignatureOffset + 2, "signature is a u16");
static_assert(kGroupNameOffset == kGroupNameLengthOffset + 2, "name length is a u16");

// Entry record; the stored data follows the name.
constexpr uint32_t kEntryKindOffset = 0;
constexpr uint32_t kEntryAttributesOffset = 2;
constexpr uint32_t kEntryUncompressedSizeOffset = 6;
constexpr uint32_t kEntryCompressedSizeOffset = 10;
constexpr uint32_t kEntryCreationTimeOffset = 14;
constexpr uint32_t kEntryLastAccessTimeOffset = 22;
constexpr uint32_t kEntryLastWriteTimeOffset = 30;
constexpr uint32_t kEntryNameLengthOffset = 38;
constexpr uint32_t kEntryNameOffset = 40;
static_assert(kEntryAttributesOffset == kEntryKindOffset + 2, "kind is a u16");
static_assert(kEntryUncompressedSizeOffset == kEntryAttributesOffset + 4, "attributes are a u32");
static_assert(kEntryCompressedSizeOffset == kEntryUncompressedSizeOffset + 4, "sizes are u32");
static_assert(kEntryCreationTimeOffset == kEntryCompressedSizeOffset + 4, "sizes are u32");
static_assert(kEntryLastAccessTimeOffset == kEntryCreationTimeOffset + sizeof(FileTime), "FILETIME");
static_assert(kEntryLastWriteTimeOffset == kEntryLastAccessTimeOffset + sizeof(FileTime), "FILETIME");
static_assert(kEntryNameLengthOffset == kEntryLastWriteTimeOffset + sizeof(FileTime), "FILETIME");
static_assert(kEntryNameOffset == kEntryNameLengthOffset + 2, "name length is a u16");

// Every offset table holds u32 slots.
constexpr uint32_t kTableSlotSize = 4;

// Bytes a counted string of the given length occupies.
constexpr uint32_t StoredNameSize(uint32_t length) { return length ? length : 1; }
// 14 + 4 * max(G, 1); G is at most 65535.
constexpr uint32_t HeaderSize(uint32_t groupCount)
{
    return kHeaderGroupTableOffset + kTableSlotSize * (groupCount ? groupCount : 1);
}
// 6 + max(N, 1) + 4 * max(C, 1); N and C are at most 65535.
constexpr uint32_t GroupRecordSize(uint32_t nameLength, uint32_t entryCount)
{
    return kGroupNameOffset + StoredNameSize(nameLength) + 2 + kTableSlotSize * (entryCount ? entryCount : 1);
}
// Stored data length: the compressed size when not 0, else the uncompressed size.
constexpr uint32_t StoredDataLength(uint32_t uncompressedSize, uint32_t compressedSize)
{
    return compressedSize ? compressedSize : uncompressedSize;
}
// 40 + max(M, 1) + S, computed in 64 bits so that no field value can wrap it.
constexpr uint64_t EntrySize(uint32_t nameLength, uint32_t storedLength)
{
    return uint64_t{kEntryNameOffset} + StoredNameSize(nameLength) + storedLength;
}
static_assert(HeaderSize(0) == 18 && HeaderSize(1) == 18 && HeaderSize(3) == 26, "header size");
static_assert(GroupRecordSize(5, 1) == 15 && GroupRecordSize(0, 0) == 11, "group size");
static_assert(EntrySize(5, 5) == 50 && EntrySize(0, 0) == 41, "entry size");

// Decoded header (the fixed 14 bytes).
struct ContainerHeader {
    uint32_t magic = 0;
    uint16_t version = 0;
    uint16_t entryTotal = 0;
    uint32_t reserved = 0;
    uint16_t groupCount = 0;
};

// A decoded group record; offsets are from the start of the image.
struct GroupRecord {
    uint32_t offset = 0;
    uint16_t nameLength = 0;
    uint32_t nameOffset = 0;
    uint16_t entryCount = 0;
    uint32_t tableOffset = 0;
};

// A decoded entry record; offsets are from the start of the image.
struct EntryRecord {
    uint32_t offset = 0;
    uint16_t kind = 0;
    uint32_t attributes = 0;
    uint32_t uncompressedSize = 0;
    uint32_t compressedSize = 0;
    FileTime creationTime = {0, 0};
    FileTime lastAccessTime = {0, 0};
    FileTime lastWriteTime = {0, 0};
    uint16_t nameLength = 0;
    uint32_t nameOffset = 0;
    uint32_t dataOffset = 0;
    uint32_t dataLength = 0;
    // Record, name and data: 40 + max(M, 1) + S.
    uint32_t entryLength = 0;
};

// Copies a counted name into a zero-terminated 260-byte buffer; false when the
// name is longer than 259 bytes or lies outside the range.
bool CopyName(const ByteView& bytes, uint32_t offset, uint32_t length, char (&name)[kMaxPath]);

// Which consumer a container is validated for.
enum class ContainerCheck {
    // Directory loader: magic only; groups without the signature and children
    // that are not file entries are skipped (not examined further).
    kLoad,
    // Reader: magic, version exactly 0x0200 and every group's signature.
    kRead,
};

// True when ContainerWalker accepts the image for that consumer; the walker
// (ContainerWalker.h) lists what it refuses and says why.
bool ValidateContainer(const ByteView& image, ContainerCheck check);
