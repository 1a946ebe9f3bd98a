// Checked parse of a program image: MZ and PE headers, optional header, data directories, sections.
#include "PeImage.h"

#include <utility>

#include "CFile.h"
#include "PeFormat.h"
#include "PeText.h"

using pe::SizeText;
using pe::Hex;

namespace {

Status Bad(std::string message) { return Status::Error(kErrorBadExeFormat, std::move(message)); }

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// The view has been checked to hold these fields: the reads cannot fail.
uint16_t U16(const ByteView& v, uint32_t offset)
{
    uint16_t value = 0;
    return v.ReadU16(offset, &value) ? value : 0;
}

uint32_t U32(const ByteView& v, uint32_t offset)
{
    uint32_t value = 0;
    return v.ReadU32(offset, &value) ? value : 0;
}

}  // namespace

std::string PeSection::Describe(size_t index) const
{
    return "section " + std::to_string(index + 1) + " (" + name + ")";
}

uint32_t PeImage::SectionTableEnd() const
{
    return sectionTable_ + static_cast<uint32_t>(sections_.size()) * pe::kSectionHeaderSize;
}

PeDirectory PeImage::Directory(uint32_t index) const
{
    return index < directories_.size() ? directories_[index] : PeDirectory();
}

uint32_t PeImage::DirectoryEntryOffset(uint32_t index) const
{
    return directoryTable_ + index * pe::kDataDirectorySize;
}

int PeImage::SectionOfRva(uint32_t rva) const
{
    for (size_t i = 0; i < sections_.size(); ++i) {
        const PeSection& s = sections_[i];
        if (rva >= s.virtualAddress && rva - s.virtualAddress < s.MappedSize())
            return static_cast<int>(i);
    }
    return -1;
}

bool PeImage::RvaToFileOffset(uint32_t rva, uint32_t length, uint32_t* offset) const
{
    int index = SectionOfRva(rva);
    if (index < 0)
        return false;
    const PeSection& s = sections_[static_cast<size_t>(index)];
    uint32_t inside = rva - s.virtualAddress;
    if (uint64_t(inside) + length > s.FileBackedSize())
        return false;
    // Parse checked that the raw data lies inside the file.
    *offset = s.pointerToRawData + inside;
    return true;
}

Status PeImage::Parse(std::vector<uint8_t> bytes, PeImage* out)
{
    if (uint64_t{bytes.size()} > kMaxImageSize)
        return Status::Error(kErrorFileTooLarge, "the program is " + SizeText(bytes.size()) + "; at most " +
                                                         SizeText(kMaxImageSize) + " are read");
    PeImage image;
    image.bytes_ = std::move(bytes);
    const ByteView v = image.Bytes();
    const uint32_t size = v.Size();

    if (size < pe::kDosHeaderSize)
        return Bad("not a Windows program: the file is " + SizeText(size) + ", too short for an MZ header (" +
                   SizeText(pe::kDosHeaderSize) + ")");
    if (U16(v, 0) != pe::kDosSignature)
        return Bad("not a Windows program: no MZ signature at offset 0");
    const uint32_t peOffset = U32(v, pe::kDosNewHeaderField);
    if (!v.Contains(peOffset, pe::kPeSignatureSize + pe::kCoffHeaderSize))
        return Bad("not a Windows program: the PE header at " + Hex(peOffset) +
                   " (e_lfanew) lies outside the file (" + SizeText(size) + ")");
    if (U32(v, peOffset) != pe::kPeSignature)
        return Bad("not a Windows program: no PE signature at " + Hex(peOffset));

    const uint32_t coff = peOffset + pe::kPeSignatureSize;
    const uint32_t sectionCount = U16(v, coff + pe::kCoffNumberOfSections);
    const uint32_t optionalSize = U16(v, coff + pe::kCoffSizeOfOptionalHeader);
    const uint32_t optional = coff + pe::kCoffHeaderSize;
    if (!v.Contains(optional, optionalSize))
        return Bad("the optional header (" + SizeText(optionalSize) + " at " + Hex(optional) +
                   ") reaches past the end of the file (" + SizeText(size) + ")");
    if (optionalSize < 2)
        return Bad("the optional header at " + Hex(optional) + " is " + SizeText(optionalSize) +
                   ", too short for its magic number");
    const uint16_t magic = U16(v, optional);
    if (magic != pe::kPe32Magic && magic != pe::kPe32PlusMagic)
        return Bad("the optional header at " + Hex(optional) + " has magic " + Hex(magic) +
                   ", neither PE32 (0x10B) nor PE32+ (0x20B)");
    const bool plus = magic == pe::kPe32PlusMagic;
    const uint32_t countField = plus ? pe::kOpt64NumberOfRvaAndSizes : pe::kOpt32NumberOfRvaAndSizes;
    const uint32_t directoryTable = plus ? pe::kOpt64DataDirectories : pe::kOpt32DataDirectories;
    if (optionalSize < directoryTable)
        return Bad("the optional header is " + SizeText(optionalSize) + ", too short for " +
                   (plus ? "PE32+ (" : "PE32 (") + SizeText(directoryTable) + ")");
    const uint32_t directoryCount = U32(v, optional + countField);
    if (uint64_t(directoryCount) * pe::kDataDirectorySize > optionalSize - directoryTable)
        return Bad("the optional header (" + SizeText(optionalSize) + ") is too short for its " +
                   std::to_string(directoryCount) + " data directories");

    image.pe32Plus_ = plus;
    image.coffHeader_ = coff;
    image.optionalHeader_ = optional;
    image.directoryTable_ = optional + directoryTable;
    image.symbolTable_ = U32(v, coff + pe::kCoffPointerToSymbolTable);
    image.fileAlignment_ = U32(v, optional + pe::kOptFileAlignment);
    image.sectionAlignment_ = U32(v, optional + pe::kOptSectionAlignment);
    image.sizeOfHeaders_ = U32(v, optional + pe::kOptSizeOfHeaders);
    const uint32_t usedDirectories = directoryCount < pe::kMaxDataDirectories ? directoryCount : pe::kMaxDataDirectories;
    for (uint32_t i = 0; i < usedDirectories; ++i) {
        const uint32_t entry = image.directoryTable_ + i * pe::kDataDirectorySize;
        image.directories_.push_back(PeDirectory{U32(v, entry), U32(v, entry + 4)});
    }

    if (!IsPowerOfTwo(image.fileAlignment_) || image.fileAlignment_ > pe::kMaxFileAlignment)
        return Bad("FileAlignment " + Hex(image.fileAlignment_) + " is not a power of two up to " +
                   Hex(pe::kMaxFileAlignment));
    if (!IsPowerOfTwo(image.sectionAlignment_) || image.sectionAlignment_ < image.fileAlignment_)
        return Bad("SectionAlignment " + Hex(image.sectionAlignment_) +
                   " is not a power of two at least as large as FileAlignment (" + Hex(image.fileAlignment_) +
                   ")");
    if (image.sizeOfHeaders_ > size)
        return Bad("SizeOfHeaders " + Hex(image.sizeOfHeaders_) + " reaches past the end of the file (" +
                   SizeText(size) + ")");

    image.sectionTable_ = optional + optionalSize;
    if (sectionCount > pe::kMaxSections)
        return Bad("the file has " + std::to_string(sectionCount) + " sections, more than the " +
                   std::to_string(pe::kMaxSections) + " the loader accepts");
    const uint64_t tableEnd = uint64_t(image.sectionTable_) + uint64_t(sectionCount) * pe::kSectionHeaderSize;
    if (tableEnd > image.sizeOfHeaders_)
        return Bad("the section table (" + std::to_string(sectionCount) + " sections at " +
                   Hex(image.sectionTable_) + ") ends at " + Hex(tableEnd) + ", past SizeOfHeaders (" +
                   Hex(image.sizeOfHeaders_) + ")");

    image.sectionDataEnd_ = image.sizeOfHeaders_;
    uint64_t previousEnd = image.sizeOfHeaders_;  // the headers are mapped at RVA 0
    std::string previous = "the headers";
    for (uint32_t i = 0; i < sectionCount; ++i) {
        PeSection s;
        s.headerOffset = image.sectionTable_ + i * pe::kSectionHeaderSize;
        const uint8_t* name = nullptr;
        if (v.Bytes(s.headerOffset + pe::kSectionName, pe::kSectionNameSize, &name)) {
            for (uint32_t c = 0; c < pe::kSectionNameSize && name[c] != 0; ++c)
                s.name += static_cast<char>(name[c]);
        }
        s.virtualSize = U32(v, s.headerOffset + pe::kSectionVirtualSize);
        s.virtualAddress = U32(v, s.headerOffset + pe::kSectionVirtualAddress);
        s.sizeOfRawData = U32(v, s.headerOffset + pe::kSectionSizeOfRawData);
        s.pointerToRawData = U32(v, s.headerOffset + pe::kSectionPointerToRawData);
        s.characteristics = U32(v, s.headerOffset + pe::kSectionCharacteristics);
        const std::string what = s.Describe(i);
        if (s.sizeOfRawData != 0) {
            if (!v.Contains(s.pointerToRawData, s.sizeOfRawData))
                return Bad(what + ": raw data at " + Hex(s.pointerToRawData) + " (" + SizeText(s.sizeOfRawData) +
                           ") reaches past the end of the file (" + SizeText(size) + ")");
            if (s.pointerToRawData < image.sizeOfHeaders_)
                return Bad(what + ": raw data at " + Hex(s.pointerToRawData) + " overlaps the headers (" +
                           Hex(image.sizeOfHeaders_) + " bytes)");
            const uint32_t end = s.pointerToRawData + s.sizeOfRawData;
            if (end > image.sectionDataEnd_)
                image.sectionDataEnd_ = end;
        }
        const uint64_t mappedEnd = uint64_t(s.virtualAddress) + s.MappedSize();
        if (mappedEnd > 0xFFFFFFFFu)
            return Bad(what + ": RVA " + Hex(s.virtualAddress) + " plus size " + Hex(s.MappedSize()) +
                       " passes 4 GiB");
        if (s.virtualAddress < previousEnd)
            return Bad(what + " at RVA " + Hex(s.virtualAddress) + " overlaps " + previous + " (up to RVA " +
                       Hex(previousEnd) + ")");
        previousEnd = mappedEnd;
        previous = what;
        image.sections_.push_back(std::move(s));
    }

    if (image.symbolTable_ > size)
        return Bad("the COFF symbol table offset " + Hex(image.symbolTable_) + " lies past the end of the file (" +
                   SizeText(size) + ")");
    const PeDirectory certificate = image.Directory(pe::kCertificateDirectoryIndex);
    if (certificate.size != 0) {
        if (!v.Contains(certificate.address, certificate.size))
            return Bad("the certificate table at " + Hex(certificate.address) + " (" + SizeText(certificate.size) +
                       ") reaches past the end of the file (" + SizeText(size) + ")");
        if (certificate.address < image.sectionDataEnd_)
            return Bad("the certificate table at " + Hex(certificate.address) +
                       " overlaps the sections' data, which ends at " + Hex(image.sectionDataEnd_));
    }
    *out = std::move(image);
    return Status::Ok();
}

Status PeImage::Load(const char* path, PeImage* image)
{
    std::vector<uint8_t> bytes;
    try {
        CFile file;
        CFileException error;
        if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite, &error))
            return Status::Error(static_cast<uint32_t>(error.m_lOsError), std::string("cannot open ") + path);
        const uint64_t length = file.GetLength();
        if (length > kMaxImageSize)
            return Status::Error(kErrorFileTooLarge, std::string(path) + ": the program is " + SizeText(length) +
                                                             "; at most " + SizeText(kMaxImageSize) + " are read");
        bytes.resize(static_cast<size_t>(length));
        if (length != 0 && file.Read(bytes.data(), static_cast<unsigned>(length)) != length)
            return Status::Error(kErrorBadExeFormat, std::string(path) + ": the file changed while it was read");
    } catch (const CFileException& e) {
        return Status::Error(static_cast<uint32_t>(e.m_lOsError), std::string("cannot read ") + path);
    }
    return Parse(std::move(bytes), image).WithContext(path);
}
