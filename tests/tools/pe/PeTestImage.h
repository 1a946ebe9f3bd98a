// Small program images built from bytes for the PE tests, with a resource directory encoder of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ResourceId.h"

namespace petest {

// One resource to encode.
struct Resource {
    ResourceId type;
    ResourceId name;
    uint16_t language = 0;
    std::string bytes;
    uint32_t codePage = 0;
};

// Encodes resources as a directory for a section at sectionRva, laid out
// depth first (each type table followed by its name tables and their data
// entries), unlike the writer, with entries in the order given.
std::vector<uint8_t> EncodeResources(const std::vector<Resource>& resources, uint32_t sectionRva);

struct Section {
    std::string name;
    uint32_t rva = 0;
    uint32_t virtualSize = 0;  // 0: the raw size
    std::vector<uint8_t> raw;  // padded to FileAlignment in the file
    uint32_t characteristics = 0x40000040;
};

struct ImageLayout {
    bool pe32Plus = false;
    // The COFF Machine field; 0: i386 for PE32, AMD64 for PE32+.
    uint16_t machine = 0;
    uint32_t fileAlignment = 0x200;
    uint32_t sectionAlignment = 0x1000;
    uint32_t sizeOfHeaders = 0x400;
    std::vector<Section> sections;
    uint32_t directoryRva[16] = {};
    uint32_t directorySize[16] = {};
    // Bytes after the sections' data; the COFF symbol table points at
    // symbolsAt inside them when symbolsAt is not -1.
    std::string overlay;
    int64_t symbolsAt = -1;
    // A certificate table appended (8-byte aligned) after the overlay when not empty.
    std::string certificate;
};

struct Image {
    std::vector<uint8_t> bytes;
    uint32_t optionalHeader = 0;
    uint32_t sectionTable = 0;
    std::vector<uint32_t> sectionFileOffsets;
};

Image BuildImage(const ImageLayout& shape);

// A typical launcher-like image: ".text" at 0x1000, ".rsrc" at 0x2000 holding
// resources, and, when relocAfter, a ".reloc" section after the resources.
ImageLayout LauncherLike(const std::vector<Resource>& resources, bool relocAfter);
// The resources LauncherLike images carry: an icon group, dialog 101, a string
// block, a version block, a manifest and a named type with a UTF-16 name.
std::vector<Resource> LauncherResources();

// Little-endian access to built bytes.
uint32_t GetU32(const std::vector<uint8_t>& bytes, uint32_t offset);
void PutU32(std::vector<uint8_t>* bytes, uint32_t offset, uint32_t value);
void PutU16(std::vector<uint8_t>* bytes, uint32_t offset, uint16_t value);

// The standard checksum, word by word with the carry folded after each word,
// over bytes with the CheckSum field taken as zero.
uint32_t ReferenceChecksum(const std::vector<uint8_t>& bytes, uint32_t checksumOffset);

}  // namespace petest
