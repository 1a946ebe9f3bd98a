// A program image held in memory, with its headers, sections and data directories checked.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ByteView.h"
#include "Status.h"

// One section header as read (numbers 1-based in messages, 0-based here).
struct PeSection {
    std::string name;             // the 8 name bytes up to the first NUL ("/4" for a long name)
    uint32_t headerOffset = 0;    // file offset of the section header
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t sizeOfRawData = 0;
    uint32_t pointerToRawData = 0;
    uint32_t characteristics = 0;

    // Bytes the loader maps: VirtualSize, or SizeOfRawData when VirtualSize is 0.
    uint32_t MappedSize() const { return virtualSize != 0 ? virtualSize : sizeOfRawData; }
    // Bytes of the mapping that come from the file.
    uint32_t FileBackedSize() const { return sizeOfRawData < MappedSize() ? sizeOfRawData : MappedSize(); }
    // "section 9 (.rsrc)", for messages.
    std::string Describe(size_t index) const;
};

struct PeDirectory {
    uint32_t address = 0;  // an RVA; for the certificate table a file offset
    uint32_t size = 0;
};

class FileRangeSource;

class PeImage {
public:
    // Files larger than this are not read: PE offsets are 32-bit.
    static constexpr uint32_t kMaxImageSize = 0xFFFFFFFFu;

    // Takes the file's bytes and checks what the resource writer relies on: the
    // MZ and PE headers, the optional header with its alignments and data
    // directories, the section table (inside SizeOfHeaders, sections in rising
    // RVA order without overlap, their raw data inside the file), the
    // certificate table (inside the file, after the sections' data) and the
    // COFF symbol table offset (inside the file). Every failure is
    // kErrorBadExeFormat with a message that names the field and its value.
    static Status Parse(std::vector<uint8_t> bytes, PeImage* image);
    // Reads the file at path (at most kMaxImageSize bytes) and parses it.
    static Status Load(const char* path, PeImage* image);
    // Like Load, with the same checks and messages, but reads only the headers
    // (up to SizeOfHeaders and the end of the section table); everything else
    // is read from the file when asked for (ReadAt), so a stamped program of
    // any size costs no more memory than its headers. The file stays open,
    // shared for reading, while the image (or a copy of it) lives.
    static Status Open(const char* path, PeImage* image);

    // The bytes held in memory: the whole file for Parse and Load, the
    // headers for Open.
    ByteView Bytes() const { return ByteView(bytes_.data(), static_cast<uint32_t>(bytes_.size())); }
    // The file's size.
    uint32_t Size() const { return size_; }
    // Copies the file's [offset, offset + length) into buffer: from memory when
    // held there, else read from the file (its failure comes back with its code).
    Status ReadAt(uint32_t offset, uint8_t* buffer, uint32_t length) const;

    bool IsPe32Plus() const { return pe32Plus_; }
    // The COFF header's Machine field as it stands (pe::kMachineI386,
    // pe::kMachineAmd64 or any other value: it is not checked).
    uint16_t Machine() const { return machine_; }
    // The COFF header's Characteristics flags as they stand (pe::kCoffDll, ...).
    uint16_t Characteristics() const { return characteristics_; }
    uint32_t CoffHeaderOffset() const { return coffHeader_; }
    uint32_t OptionalHeaderOffset() const { return optionalHeader_; }
    uint32_t SectionTableOffset() const { return sectionTable_; }
    // End of the section table: where another section header would go.
    uint32_t SectionTableEnd() const;
    uint32_t SizeOfHeaders() const { return sizeOfHeaders_; }
    uint32_t FileAlignment() const { return fileAlignment_; }
    uint32_t SectionAlignment() const { return sectionAlignment_; }
    uint32_t SymbolTableOffset() const { return symbolTable_; }

    // NumberOfRvaAndSizes, at most kMaxDataDirectories.
    uint32_t DirectoryCount() const { return static_cast<uint32_t>(directories_.size()); }
    // The directory; {0, 0} for an index at or past DirectoryCount().
    PeDirectory Directory(uint32_t index) const;
    // File offset of directory entry index (index < DirectoryCount()).
    uint32_t DirectoryEntryOffset(uint32_t index) const;

    const std::vector<PeSection>& Sections() const { return sections_; }
    // End of the last section's raw data, at least SizeOfHeaders: what follows
    // is the overlay (COFF symbols, certificate table, appended data).
    uint32_t SectionDataEnd() const { return sectionDataEnd_; }

    // The section whose mapping holds rva, or -1.
    int SectionOfRva(uint32_t rva) const;
    // The file offset of [rva, rva + length) when all of it lies in the
    // file-backed part of one section's mapping (for length 0: when rva lies
    // in a section's mapping). False otherwise.
    bool RvaToFileOffset(uint32_t rva, uint32_t length, uint32_t* offset) const;

private:
    // The steps of Parse, on the bytes held (at least the headers) of a file of size bytes.
    Status ParseHeaders(ByteView v, uint32_t size);
    Status ParseOptionalHeader(ByteView v, uint32_t size, uint32_t optionalSize);
    Status CheckAlignments(uint32_t size) const;
    Status ParseSections(ByteView v, uint32_t size, uint32_t sectionCount);
    Status CheckOverlay(uint32_t size) const;

    std::vector<uint8_t> bytes_;
    uint32_t size_ = 0;
    std::shared_ptr<FileRangeSource> file_;  // Open: where the bytes not held are read
    bool pe32Plus_ = false;
    uint16_t machine_ = 0;
    uint16_t characteristics_ = 0;
    uint32_t coffHeader_ = 0;
    uint32_t optionalHeader_ = 0;
    uint32_t sectionTable_ = 0;
    uint32_t sizeOfHeaders_ = 0;
    uint32_t fileAlignment_ = 0;
    uint32_t sectionAlignment_ = 0;
    uint32_t symbolTable_ = 0;
    uint32_t sectionDataEnd_ = 0;
    uint32_t directoryTable_ = 0;
    std::vector<PeDirectory> directories_;
    std::vector<PeSection> sections_;
};
