// Field offsets, sizes and flags of the PE/COFF structures the resource writer reads and writes.
//
// Nothing here is a struct laid over bytes: every field is read and written
// through ByteView / ByteSpan at the offsets below, relative to the start of its
// structure. The static_asserts pin each structure's size to the sum of its fields.
#pragma once

#include <cstdint>

#include "SystemApi.h"

namespace pe {

// DOS header: "MZ", and at 0x3C the file offset of the PE signature (e_lfanew).
constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kDosNewHeaderField = 0x3C;
constexpr uint16_t kDosSignature = 0x5A4D;  // "MZ"

// "PE\0\0", then the COFF file header.
constexpr uint32_t kPeSignature = 0x00004550;
constexpr uint32_t kPeSignatureSize = 4;
constexpr uint32_t kCoffMachine = 0;                 // u16
constexpr uint32_t kCoffNumberOfSections = 2;        // u16
constexpr uint32_t kCoffTimeDateStamp = 4;           // u32
constexpr uint32_t kCoffPointerToSymbolTable = 8;    // u32, a file offset
constexpr uint32_t kCoffNumberOfSymbols = 12;        // u32
constexpr uint32_t kCoffSizeOfOptionalHeader = 16;   // u16
constexpr uint32_t kCoffCharacteristics = 18;        // u16
constexpr uint32_t kCoffHeaderSize = 20;
static_assert(kCoffCharacteristics + 2 == kCoffHeaderSize, "COFF file header: 2+2+4+4+4+2+2 bytes");
// Characteristics flags: a program or DLL the loader may map, and a DLL.
constexpr uint16_t kCoffExecutableImage = 0x0002;
constexpr uint16_t kCoffDll = 0x2000;
// Machine values: 32-bit x86, x64 and ARM64.
constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kMachineArm64 = 0xAA64;
// The loader refuses more sections than this.
constexpr uint32_t kMaxSections = 96;

// Optional header (PE32 and PE32+ agree on every field used here except the
// place of the data directories).
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kOptSizeOfInitializedData = 8;
constexpr uint32_t kOptSectionAlignment = 32;
constexpr uint32_t kOptFileAlignment = 36;
constexpr uint32_t kOptSizeOfImage = 56;
constexpr uint32_t kOptSizeOfHeaders = 60;
constexpr uint32_t kOptCheckSum = 64;
constexpr uint32_t kOpt32NumberOfRvaAndSizes = 92;
constexpr uint32_t kOpt32DataDirectories = 96;
constexpr uint32_t kOpt64NumberOfRvaAndSizes = 108;
constexpr uint32_t kOpt64DataDirectories = 112;
static_assert(kOpt32DataDirectories == kOpt32NumberOfRvaAndSizes + 4, "PE32: directories follow their count");
static_assert(kOpt64DataDirectories == kOpt64NumberOfRvaAndSizes + 4, "PE32+: directories follow their count");
// Largest file and section alignment the format allows.
constexpr uint32_t kMaxFileAlignment = 0x10000;
// The page size of the 32-bit Windows loader.
constexpr uint32_t kPageSize = 0x1000;

// Data directory: an RVA (for the certificate table a file offset) and a size.
constexpr uint32_t kDataDirectorySize = 8;
constexpr uint32_t kMaxDataDirectories = 16;  // the loader reads no more than these
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kCertificateDirectoryIndex = 4;
constexpr uint32_t kDebugDirectoryIndex = 6;

// Section header.
constexpr uint32_t kSectionName = 0;  // 8 bytes, NUL-padded
constexpr uint32_t kSectionNameSize = 8;
constexpr uint32_t kSectionVirtualSize = 8;
constexpr uint32_t kSectionVirtualAddress = 12;
constexpr uint32_t kSectionSizeOfRawData = 16;
constexpr uint32_t kSectionPointerToRawData = 20;
constexpr uint32_t kSectionPointerToRelocations = 24;
constexpr uint32_t kSectionPointerToLinenumbers = 28;
constexpr uint32_t kSectionNumberOfRelocations = 32;  // u16
constexpr uint32_t kSectionNumberOfLinenumbers = 34;  // u16
constexpr uint32_t kSectionCharacteristics = 36;
constexpr uint32_t kSectionHeaderSize = 40;
static_assert(kSectionCharacteristics + 4 == kSectionHeaderSize, "section header: 8 + 6*4 + 2*2 + 4 bytes");
constexpr uint32_t kSectionContainsInitializedData = 0x00000040;
constexpr uint32_t kSectionMemoryRead = 0x40000000;

// Debug directory entry: where its data lies, as an RVA and as a file offset.
constexpr uint32_t kDebugSizeOfData = 16;
constexpr uint32_t kDebugAddressOfRawData = 20;
constexpr uint32_t kDebugPointerToRawData = 24;
constexpr uint32_t kDebugEntrySize = 28;
static_assert(kDebugPointerToRawData + 4 == kDebugEntrySize, "debug directory entry: 4+4+2+2+4+4+4+4 bytes");

// Resource directory table, followed by its entries (named ones first).
constexpr uint32_t kResourceTableCharacteristics = 0;
constexpr uint32_t kResourceTableTimeDateStamp = 4;
constexpr uint32_t kResourceTableMajorVersion = 8;    // u16
constexpr uint32_t kResourceTableMinorVersion = 10;   // u16
constexpr uint32_t kResourceTableNamedEntries = 12;   // u16
constexpr uint32_t kResourceTableIdEntries = 14;      // u16
constexpr uint32_t kResourceTableSize = 16;
static_assert(kResourceTableIdEntries + 2 == kResourceTableSize, "resource table: 4+4+2+2+2+2 bytes");
// Entry: a name offset (high bit set) or a 16-bit id, then a subdirectory
// offset (high bit set) or a data entry offset; offsets count from the root table.
constexpr uint32_t kResourceEntryName = 0;
constexpr uint32_t kResourceEntryOffset = 4;
constexpr uint32_t kResourceEntrySize = 8;
static_assert(kResourceEntryOffset + 4 == kResourceEntrySize, "resource entry: two 32-bit words");
constexpr uint32_t kResourceHighBit = 0x80000000u;
// Data entry: the data's RVA, its size, its code page, a reserved word.
constexpr uint32_t kResourceDataRva = 0;
constexpr uint32_t kResourceDataSize = 4;
constexpr uint32_t kResourceDataCodePage = 8;
constexpr uint32_t kResourceDataReserved = 12;
constexpr uint32_t kResourceDataEntrySize = 16;
static_assert(kResourceDataReserved + 4 == kResourceDataEntrySize, "resource data entry: four 32-bit words");
// A name: a 16-bit count of UTF-16 units, then the units (no terminator).
constexpr uint32_t kResourceNameLengthSize = 2;
// The tree has three levels: type, name, language.
constexpr int kResourceLevels = 3;
// Resource types by number (RT_ICON, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST).
constexpr uint16_t kResourceTypeIcon = 3;
constexpr uint16_t kResourceTypeString = 6;
constexpr uint16_t kResourceTypeGroupIcon = 14;
constexpr uint16_t kResourceTypeVersion = 16;
constexpr uint16_t kResourceTypeManifest = 24;
// The manifest the loader reads for a program (CREATEPROCESS_MANIFEST_RESOURCE_ID).
constexpr uint16_t kProgramManifestId = 1;
// Where each resource's bytes start in the section we write.
constexpr uint32_t kResourceDataAlignment = 8;

}  // namespace pe
