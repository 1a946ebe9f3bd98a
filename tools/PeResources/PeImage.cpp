// Checked parse of a program image: MZ and PE headers, optional header, data directories, sections.
#include "PeImage.h"

#include <cstring>
#include <utility>

#include "CFile.h"
#include "FileRangeSource.h"
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

// [offset, offset + length) lies inside a file of size bytes.
bool InFile(uint32_t size, uint32_t offset, uint32_t length) { return offset <= size && length <= size - offset; }

Status TooLarge(const char* path, uint64_t length)
{
    return Status::Error(kErrorFileTooLarge, std::string(path) + ": the program is " + SizeText(length) +
                                                 "; at most " + SizeText(PeImage::kMaxImageSize) + " are read");
}

PeSection ReadSectionHeader(const ByteView& v, uint32_t at)
{
    PeSection s;
    s.headerOffset = at;
    const uint8_t* name = nullptr;
    if (v.Bytes(at + pe::kSectionName, pe::kSectionNameSize, &name)) {
        for (uint32_t c = 0; c < pe::kSectionNameSize && name[c] != 0; ++c)
            s.name += static_cast<char>(name[c]);
    }
    s.virtualSize = U32(v, at + pe::kSectionVirtualSize);
    s.virtualAddress = U32(v, at + pe::kSectionVirtualAddress);
    s.sizeOfRawData = U32(v, at + pe::kSectionSizeOfRawData);
    s.pointerToRawData = U32(v, at + pe::kSectionPointerToRawData);
    s.characteristics = U32(v, at + pe::kSectionCharacteristics);
    return s;
}

// Reads the first bytes of a file of size bytes into *bytes: as far as every
// header field Parse reads, found step by step (MZ header, PE header, optional
// header and section table, SizeOfHeaders), never past the file's end. What
// is malformed is left for Parse to name.
Status ReadHeaderBytes(FileRangeSource& file, uint32_t size, std::vector<uint8_t>* bytes)
{
    Status s;
    auto extend = [&](uint64_t want) {
        const uint64_t end = want < size ? want : size;
        const size_t held = bytes->size();
        if (s && end > held) {
            bytes->resize(static_cast<size_t>(end));
            s = file.Read(held, bytes->data() + held, static_cast<uint32_t>(end - held));
        }
        return ByteView(bytes->data(), static_cast<uint32_t>(bytes->size()));
    };
    ByteView v = extend(pe::kDosHeaderSize);
    if (!s || v.Size() < pe::kDosHeaderSize || U16(v, 0) != pe::kDosSignature)
        return s;
    const uint64_t coff = uint64_t(U32(v, pe::kDosNewHeaderField)) + pe::kPeSignatureSize;
    v = extend(coff + pe::kCoffHeaderSize);
    if (!s || coff + pe::kCoffHeaderSize > v.Size())
        return s;
    const uint32_t at = static_cast<uint32_t>(coff);
    const uint64_t optional = coff + pe::kCoffHeaderSize;
    const uint32_t optionalSize = U16(v, at + pe::kCoffSizeOfOptionalHeader);
    v = extend(optional + optionalSize + uint64_t(U16(v, at + pe::kCoffNumberOfSections)) * pe::kSectionHeaderSize);
    if (s && optionalSize >= pe::kOptSizeOfHeaders + 4 && optional + optionalSize <= v.Size())
        extend(U32(v, static_cast<uint32_t>(optional) + pe::kOptSizeOfHeaders));
    return s;
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
    image.size_ = static_cast<uint32_t>(image.bytes_.size());
    Status s = image.ParseHeaders(image.Bytes(), image.size_);
    if (!s)
        return s;
    *out = std::move(image);
    return Status::Ok();
}

// v holds the file's first bytes, at least every header field read here.
// Checks against the file's end use size, not v.
Status PeImage::ParseHeaders(ByteView v, uint32_t size)
{
    if (size < pe::kDosHeaderSize)
        return Bad("not a Windows program: the file is " + SizeText(size) + ", too short for an MZ header (" +
                   SizeText(pe::kDosHeaderSize) + ")");
    if (U16(v, 0) != pe::kDosSignature)
        return Bad("not a Windows program: no MZ signature at offset 0");
    const uint32_t peOffset = U32(v, pe::kDosNewHeaderField);
    if (!InFile(size, peOffset, pe::kPeSignatureSize + pe::kCoffHeaderSize))
        return Bad("not a Windows program: the PE header at " + Hex(peOffset) +
                   " (e_lfanew) lies outside the file (" + SizeText(size) + ")");
    if (U32(v, peOffset) != pe::kPeSignature)
        return Bad("not a Windows program: no PE signature at " + Hex(peOffset));

    coffHeader_ = peOffset + pe::kPeSignatureSize;
    machine_ = U16(v, coffHeader_ + pe::kCoffMachine);
    characteristics_ = U16(v, coffHeader_ + pe::kCoffCharacteristics);
    const uint32_t sectionCount = U16(v, coffHeader_ + pe::kCoffNumberOfSections);
    Status s = ParseOptionalHeader(v, size, U16(v, coffHeader_ + pe::kCoffSizeOfOptionalHeader));
    if (s)
        s = CheckAlignments(size);
    if (s)
        s = ParseSections(v, size, sectionCount);
    if (s)
        s = CheckOverlay(size);
    return s;
}

Status PeImage::ParseOptionalHeader(ByteView v, uint32_t size, uint32_t optionalSize)
{
    const uint32_t optional = coffHeader_ + pe::kCoffHeaderSize;
    if (!InFile(size, optional, optionalSize))
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

    pe32Plus_ = plus;
    optionalHeader_ = optional;
    directoryTable_ = optional + directoryTable;
    sectionTable_ = optional + optionalSize;
    symbolTable_ = U32(v, coffHeader_ + pe::kCoffPointerToSymbolTable);
    fileAlignment_ = U32(v, optional + pe::kOptFileAlignment);
    sectionAlignment_ = U32(v, optional + pe::kOptSectionAlignment);
    sizeOfHeaders_ = U32(v, optional + pe::kOptSizeOfHeaders);
    const uint32_t usedDirectories = directoryCount < pe::kMaxDataDirectories ? directoryCount : pe::kMaxDataDirectories;
    for (uint32_t i = 0; i < usedDirectories; ++i) {
        const uint32_t entry = directoryTable_ + i * pe::kDataDirectorySize;
        directories_.push_back(PeDirectory{U32(v, entry), U32(v, entry + 4)});
    }
    return Status::Ok();
}

Status PeImage::CheckAlignments(uint32_t size) const
{
    if (!IsPowerOfTwo(fileAlignment_) || fileAlignment_ > pe::kMaxFileAlignment)
        return Bad("FileAlignment " + Hex(fileAlignment_) + " is not a power of two up to " +
                   Hex(pe::kMaxFileAlignment));
    if (!IsPowerOfTwo(sectionAlignment_) || sectionAlignment_ < fileAlignment_)
        return Bad("SectionAlignment " + Hex(sectionAlignment_) +
                   " is not a power of two at least as large as FileAlignment (" + Hex(fileAlignment_) + ")");
    if (sizeOfHeaders_ > size)
        return Bad("SizeOfHeaders " + Hex(sizeOfHeaders_) + " reaches past the end of the file (" +
                   SizeText(size) + ")");
    return Status::Ok();
}

Status PeImage::ParseSections(ByteView v, uint32_t size, uint32_t sectionCount)
{
    if (sectionCount > pe::kMaxSections)
        return Bad("the file has " + std::to_string(sectionCount) + " sections, more than the " +
                   std::to_string(pe::kMaxSections) + " the loader accepts");
    const uint64_t tableEnd = uint64_t(sectionTable_) + uint64_t(sectionCount) * pe::kSectionHeaderSize;
    if (tableEnd > sizeOfHeaders_)
        return Bad("the section table (" + std::to_string(sectionCount) + " sections at " + Hex(sectionTable_) +
                   ") ends at " + Hex(tableEnd) + ", past SizeOfHeaders (" + Hex(sizeOfHeaders_) + ")");

    sectionDataEnd_ = sizeOfHeaders_;
    uint64_t previousEnd = sizeOfHeaders_;  // the headers are mapped at RVA 0
    std::string previous = "the headers";
    for (uint32_t i = 0; i < sectionCount; ++i) {
        PeSection s = ReadSectionHeader(v, sectionTable_ + i * pe::kSectionHeaderSize);
        const std::string what = s.Describe(i);
        if (s.sizeOfRawData != 0) {
            if (!InFile(size, s.pointerToRawData, s.sizeOfRawData))
                return Bad(what + ": raw data at " + Hex(s.pointerToRawData) + " (" + SizeText(s.sizeOfRawData) +
                           ") reaches past the end of the file (" + SizeText(size) + ")");
            if (s.pointerToRawData < sizeOfHeaders_)
                return Bad(what + ": raw data at " + Hex(s.pointerToRawData) + " overlaps the headers (" +
                           Hex(sizeOfHeaders_) + " bytes)");
            const uint32_t end = s.pointerToRawData + s.sizeOfRawData;
            if (end > sectionDataEnd_)
                sectionDataEnd_ = end;
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
        sections_.push_back(std::move(s));
    }
    return Status::Ok();
}

Status PeImage::CheckOverlay(uint32_t size) const
{
    if (symbolTable_ > size)
        return Bad("the COFF symbol table offset " + Hex(symbolTable_) + " lies past the end of the file (" +
                   SizeText(size) + ")");
    const PeDirectory certificate = Directory(pe::kCertificateDirectoryIndex);
    if (certificate.size != 0) {
        if (!InFile(size, certificate.address, certificate.size))
            return Bad("the certificate table at " + Hex(certificate.address) + " (" + SizeText(certificate.size) +
                       ") reaches past the end of the file (" + SizeText(size) + ")");
        if (certificate.address < sectionDataEnd_)
            return Bad("the certificate table at " + Hex(certificate.address) +
                       " overlaps the sections' data, which ends at " + Hex(sectionDataEnd_));
    }
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
            return TooLarge(path, length);
        bytes.resize(static_cast<size_t>(length));
        if (length != 0 && file.Read(bytes.data(), static_cast<unsigned>(length)) != length)
            return Status::Error(kErrorBadExeFormat, std::string(path) + ": the file changed while it was read");
    } catch (const CFileException& e) {
        return Status::Error(static_cast<uint32_t>(e.m_lOsError), std::string("cannot read ") + path);
    }
    return Parse(std::move(bytes), image).WithContext(path);
}

Status PeImage::Open(const char* path, PeImage* out)
{
    auto file = std::make_shared<FileRangeSource>();
    Status s = file->Open(path);
    if (!s)
        return s;
    if (file->Size() > kMaxImageSize)
        return TooLarge(path, file->Size());
    PeImage image;
    image.size_ = static_cast<uint32_t>(file->Size());
    s = ReadHeaderBytes(*file, image.size_, &image.bytes_);
    if (s)
        s = image.ParseHeaders(image.Bytes(), image.size_).WithContext(path);
    if (!s)
        return s;
    image.file_ = std::move(file);
    *out = std::move(image);
    return Status::Ok();
}

Status PeImage::ReadAt(uint32_t offset, uint8_t* buffer, uint32_t length) const
{
    const uint8_t* held = nullptr;
    if (Bytes().Bytes(offset, length, &held)) {
        if (length != 0)
            std::memcpy(buffer, held, length);
        return Status::Ok();
    }
    if (file_ == nullptr || !InFile(size_, offset, length))
        return Status::Error(kErrorInvalidParameter, "internal error: a read at " + Hex(offset) + " (" +
                                                         SizeText(length) + ") passes the end of the program");
    return file_->Read(offset, buffer, length);
}
