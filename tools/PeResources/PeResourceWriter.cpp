// Plans the rewritten program (headers, resource section, what follows) and streams it out.
#include "PeResourceWriter.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "PeChecksum.h"
#include "PeFormat.h"
#include "PeText.h"
#include "SystemApi.h"

using pe::SizeText;
using pe::Hex;

const char PeResourceWriter::kOldResourceSectionName[] = ".oldrsrc";
static_assert(sizeof(PeResourceWriter::kOldResourceSectionName) - 1 == pe::kSectionNameSize,
              "the old section's new name fills the 8 name bytes");

namespace {

constexpr char kResourceSectionName[] = ".rsrc";
constexpr uint32_t kCopyPiece = 64u << 10;

Status Bad(std::string message) { return Status::Error(kErrorBadExeFormat, std::move(message)); }

uint64_t AlignUp(uint64_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// Whether [start, start + length) and [otherStart, otherStart + otherLength)
// share a byte. A start of 0 is how directories and debug entries say "none".
bool Overlaps(uint64_t start, uint64_t length, uint64_t otherStart, uint64_t otherLength)
{
    return start != 0 && length != 0 && otherLength != 0 && start < otherStart + otherLength &&
           otherStart < start + length;
}

// Where the bytes after the sections' data (the overlay) go: right after the
// new resource data, without the certificate table.
class OverlayMap {
public:
    OverlayMap(uint32_t start, uint64_t newStart, PeDirectory certificate)
        : start_(start), newStart_(newStart), certificate_(certificate)
    {
    }
    bool Contains(uint32_t offset) const { return offset >= start_; }
    // False for an offset inside the dropped certificate table.
    bool Map(uint32_t offset, uint64_t* mapped) const
    {
        const uint64_t certificateEnd = uint64_t(certificate_.address) + certificate_.size;
        if (certificate_.size != 0 && offset >= certificate_.address && offset < certificateEnd)
            return false;
        *mapped = newStart_ + (offset - start_) -
                  (certificate_.size != 0 && offset >= certificateEnd ? certificate_.size : 0);
        return true;
    }

private:
    uint32_t start_;
    uint64_t newStart_;
    PeDirectory certificate_;
};

// Puts 32-bit fields into the patched copy; every offset lies in the headers
// or a debug directory that PeImage checked.
class Patcher {
public:
    explicit Patcher(std::vector<uint8_t>* bytes) : span_(bytes->data(), static_cast<uint32_t>(bytes->size())) {}
    void U16(uint32_t offset, uint16_t value) { ok_ = span_.WriteU16(offset, value) && ok_; }
    void U32(uint32_t offset, uint32_t value) { ok_ = span_.WriteU32(offset, value) && ok_; }
    void Copy(uint32_t offset, const void* bytes, uint32_t length) { ok_ = span_.WriteBytes(offset, bytes, length) && ok_; }
    bool Ok() const { return ok_; }

private:
    ByteSpan span_;
    bool ok_ = true;
};

uint32_t ReadU32(const ByteView& view, uint32_t offset)
{
    uint32_t value = 0;
    return view.ReadU32(offset, &value) ? value : 0;
}

}  // namespace

Status PeResourceWriter::Prepare(const PeImage& image, const ResourceTree& tree, PeResourceWriter* writer)
{
    const ByteView bytes = image.Bytes();
    const std::vector<PeSection>& sections = image.Sections();
    const uint32_t optional = image.OptionalHeaderOffset();
    if (image.DirectoryCount() <= pe::kResourceDirectoryIndex)
        return Bad("the optional header has no resource directory entry (NumberOfRvaAndSizes " +
                   std::to_string(image.DirectoryCount()) + ")");

    const PeDirectory resources = image.Directory(pe::kResourceDirectoryIndex);
    const PeDirectory certificate = image.Directory(pe::kCertificateDirectoryIndex);
    const PeDirectory debug = image.Directory(pe::kDebugDirectoryIndex);
    const uint32_t dataEnd = image.SectionDataEnd();
    uint32_t debugOffset = 0;
    const bool debugReadable = debug.address != 0 && debug.size != 0 &&
                               image.RvaToFileOffset(debug.address, debug.size, &debugOffset);
    const uint32_t debugEntries = debugReadable ? debug.size / pe::kDebugEntrySize : 0;

    // Can the resource section be rewritten in place?
    int old = resources.address != 0 ? image.SectionOfRva(resources.address) : -1;
    bool inPlace = false;
    if (old >= 0) {
        const size_t k = static_cast<size_t>(old);
        const PeSection& s = sections[k];
        inPlace = k + 1 == sections.size() && resources.address == s.virtualAddress && s.sizeOfRawData != 0 &&
                  s.pointerToRawData + s.sizeOfRawData == dataEnd;
        for (size_t j = 0; inPlace && j < sections.size(); ++j) {
            if (j != k && sections[j].sizeOfRawData != 0 &&
                sections[j].pointerToRawData + sections[j].sizeOfRawData > s.pointerToRawData)
                inPlace = false;
        }
        for (uint32_t d = 0; inPlace && d < image.DirectoryCount(); ++d) {
            const PeDirectory other = image.Directory(d);
            if (d != pe::kResourceDirectoryIndex && d != pe::kCertificateDirectoryIndex &&
                Overlaps(other.address, other.size, s.virtualAddress, s.MappedSize()))
                inPlace = false;
        }
        for (uint32_t e = 0; inPlace && e < debugEntries; ++e) {
            const uint32_t entry = debugOffset + e * pe::kDebugEntrySize;
            const uint32_t size = ReadU32(bytes, entry + pe::kDebugSizeOfData);
            if (Overlaps(ReadU32(bytes, entry + pe::kDebugAddressOfRawData), size, s.virtualAddress, s.MappedSize()) ||
                Overlaps(ReadU32(bytes, entry + pe::kDebugPointerToRawData), size, s.pointerToRawData, s.sizeOfRawData))
                inPlace = false;
        }
        if (image.SymbolTableOffset() >= s.pointerToRawData && image.SymbolTableOffset() < dataEnd)
            inPlace = false;
    }

    PeResourceWriter w;
    w.image_ = &image;
    w.patched_.assign(bytes.Data(), bytes.Data() + bytes.Size());
    Patcher patch(&w.patched_);

    // Where the new resource section goes.
    uint32_t sectionHeader = 0;
    uint64_t sectionRva = 0;
    uint64_t sectionFile = 0;
    uint32_t oldRawSize = 0;
    uint32_t prefixEnd = 0;  // image bytes copied before the section data
    if (inPlace) {
        const PeSection& s = sections[static_cast<size_t>(old)];
        sectionHeader = s.headerOffset;
        sectionRva = s.virtualAddress;
        sectionFile = s.pointerToRawData;
        oldRawSize = s.sizeOfRawData;
        prefixEnd = s.pointerToRawData;
    } else {
        if (sections.size() >= pe::kMaxSections)
            return Bad("no room for another section: the file has " + std::to_string(sections.size()) +
                       " sections, the most the loader accepts");
        sectionHeader = image.SectionTableEnd();
        const uint8_t* room = nullptr;
        if (uint64_t(sectionHeader) + pe::kSectionHeaderSize > image.SizeOfHeaders() ||
            !bytes.Bytes(sectionHeader, pe::kSectionHeaderSize, &room))
            return Bad("no room for another section header: the section table ends at " + Hex(sectionHeader) +
                       " and the headers at " + Hex(image.SizeOfHeaders()) +
                       " (the resources cannot grow in place: " +
                       (old < 0 ? std::string("the program has no resource section")
                                : sections[static_cast<size_t>(old)].Describe(static_cast<size_t>(old)) +
                                      " is not the last section or holds more than the resources") +
                       ")");
        for (uint32_t i = 0; i < pe::kSectionHeaderSize; ++i) {
            if (room[i] != 0)
                return Bad("no room for another section header: the bytes at " + Hex(sectionHeader + i) +
                           ", after the section table, are in use");
        }
        uint64_t imageEnd = image.SizeOfHeaders();
        for (const PeSection& s : sections)
            imageEnd = std::max<uint64_t>(imageEnd, uint64_t(s.virtualAddress) + s.MappedSize());
        sectionRva = AlignUp(imageEnd, image.SectionAlignment());
        sectionFile = AlignUp(dataEnd, image.FileAlignment());
        prefixEnd = dataEnd;
    }
    if (sectionRva > 0xFFFFFFFFu)
        return Status::Error(kErrorFileTooLarge, "the image has no room for another section below 4 GiB");

    Status s = ResourceLayout::Build(tree, static_cast<uint32_t>(sectionRva), &w.layout_);
    if (!s)
        return s;
    const uint32_t contentSize = w.layout_.Size();
    const uint64_t rawSize = AlignUp(contentSize, image.FileAlignment());
    const uint64_t imageSize = AlignUp(sectionRva + contentSize, image.SectionAlignment());
    if (imageSize > 0xFFFFFFFFu)
        return Status::Error(kErrorFileTooLarge, "the image would end at RVA " + Hex(imageSize) +
                                                         "; SizeOfImage is 32-bit");
    const uint64_t overlayStart = sectionFile + rawSize;
    const uint64_t overlaySize = uint64_t(image.Size()) - dataEnd - certificate.size;
    const uint64_t outputSize = overlayStart + overlaySize;
    if (outputSize > 0xFFFFFFFFu)
        return Status::Error(kErrorFileTooLarge, "the program would be " + SizeText(outputSize) +
                                                         "; PE file offsets are 32-bit (at most 4 GiB - 1)");
    const OverlayMap overlay(dataEnd, overlayStart, certificate);

    // Headers.
    const uint32_t coff = image.CoffHeaderOffset();
    patch.U32(optional + pe::kOptCheckSum, 0);
    patch.U32(optional + pe::kOptSizeOfImage, static_cast<uint32_t>(imageSize));
    patch.U32(image.DirectoryEntryOffset(pe::kResourceDirectoryIndex), static_cast<uint32_t>(sectionRva));
    patch.U32(image.DirectoryEntryOffset(pe::kResourceDirectoryIndex) + 4, contentSize);
    if (certificate.size != 0) {
        patch.U32(image.DirectoryEntryOffset(pe::kCertificateDirectoryIndex), 0);
        patch.U32(image.DirectoryEntryOffset(pe::kCertificateDirectoryIndex) + 4, 0);
    }
    // An informative sum of the initialized sections' raw sizes; kept as it is
    // when it was not consistent enough to adjust.
    const uint32_t initialized = ReadU32(bytes, optional + pe::kOptSizeOfInitializedData);
    const int64_t grown = int64_t(rawSize) - oldRawSize;
    const bool countsAsInitialized =
        !inPlace || (sections[static_cast<size_t>(old)].characteristics & pe::kSectionContainsInitializedData) != 0;
    if (countsAsInitialized && int64_t(initialized) + grown >= 0 && int64_t(initialized) + grown <= 0xFFFFFFFF)
        patch.U32(optional + pe::kOptSizeOfInitializedData, static_cast<uint32_t>(int64_t(initialized) + grown));

    if (inPlace) {
        patch.U32(sectionHeader + pe::kSectionVirtualSize, contentSize);
        patch.U32(sectionHeader + pe::kSectionSizeOfRawData, static_cast<uint32_t>(rawSize));
    } else {
        uint8_t header[pe::kSectionHeaderSize] = {};
        std::memcpy(header + pe::kSectionName, kResourceSectionName, sizeof kResourceSectionName - 1);
        patch.Copy(sectionHeader, header, sizeof header);
        patch.U32(sectionHeader + pe::kSectionVirtualSize, contentSize);
        patch.U32(sectionHeader + pe::kSectionVirtualAddress, static_cast<uint32_t>(sectionRva));
        patch.U32(sectionHeader + pe::kSectionSizeOfRawData, static_cast<uint32_t>(rawSize));
        patch.U32(sectionHeader + pe::kSectionPointerToRawData, static_cast<uint32_t>(sectionFile));
        patch.U32(sectionHeader + pe::kSectionCharacteristics,
                  pe::kSectionContainsInitializedData | pe::kSectionMemoryRead);
        patch.U16(coff + pe::kCoffNumberOfSections, static_cast<uint16_t>(sections.size() + 1));
        if (old >= 0 && sections[static_cast<size_t>(old)].name == kResourceSectionName)
            patch.Copy(sections[static_cast<size_t>(old)].headerOffset + pe::kSectionName, kOldResourceSectionName,
                        pe::kSectionNameSize);
    }

    // File offsets into what moves.
    const uint32_t symbols = image.SymbolTableOffset();
    if (symbols != 0 && overlay.Contains(symbols)) {
        uint64_t moved = 0;
        if (!overlay.Map(symbols, &moved))
            return Bad("the COFF symbol table offset " + Hex(symbols) + " points into the certificate table");
        patch.U32(coff + pe::kCoffPointerToSymbolTable, static_cast<uint32_t>(moved));
    }
    for (uint32_t e = 0; e < debugEntries; ++e) {
        const uint32_t field = debugOffset + e * pe::kDebugEntrySize + pe::kDebugPointerToRawData;
        const uint32_t pointer = ReadU32(bytes, field);
        if (pointer == 0 || !overlay.Contains(pointer))
            continue;
        uint64_t moved = 0;
        if (!overlay.Map(pointer, &moved))
            return Bad("debug directory entry " + std::to_string(e + 1) + " points into the certificate table at " +
                       Hex(pointer));
        patch.U32(field, static_cast<uint32_t>(moved));
    }
    if (!patch.Ok())
        return Status::Error(kErrorInvalidParameter, "internal error: a header field lies outside the image");

    // The output, piece by piece.
    auto add = [&w](PieceKind kind, uint32_t offset, uint64_t length) {
        if (length != 0 || kind == PieceKind::kResource) {
            Piece piece;
            piece.kind = kind;
            piece.offset = offset;
            piece.length = length;
            w.pieces_.push_back(std::move(piece));
        }
    };
    add(PieceKind::kImage, 0, prefixEnd);
    add(PieceKind::kZeros, 0, sectionFile - prefixEnd);
    add(PieceKind::kDirectory, 0, w.layout_.Directory().size());
    // The layout places the resources in directory order; their names are for messages.
    std::vector<std::string> names;
    for (const auto& type : tree.Types()) {
        for (const auto& name : type.second.names) {
            for (const auto& language : name.second.languages)
                names.push_back(type.first.Describe() + "/" + name.first.Describe() + "/" +
                                std::to_string(language.first));
        }
    }
    uint64_t at = w.layout_.Directory().size();
    for (size_t i = 0; i < w.layout_.Placements().size(); ++i) {
        const ResourceLayout::Placement& placement = w.layout_.Placements()[i];
        add(PieceKind::kZeros, 0, placement.offset - at);
        add(PieceKind::kResource, 0, placement.data->size);
        w.pieces_.back().data = placement.data;
        w.pieces_.back().what = i < names.size() ? names[i] : std::string("?");
        at = placement.offset + placement.data->size;
    }
    add(PieceKind::kZeros, 0, rawSize - at);
    if (certificate.size != 0) {
        add(PieceKind::kImage, dataEnd, certificate.address - dataEnd);
        const uint64_t certificateEnd = uint64_t(certificate.address) + certificate.size;
        add(PieceKind::kImage, static_cast<uint32_t>(certificateEnd), image.Size() - certificateEnd);
    } else {
        add(PieceKind::kImage, dataEnd, image.Size() - dataEnd);
    }
    w.checksumOffset_ = optional + pe::kOptCheckSum;
    w.summary_.outputSize = outputSize;
    w.summary_.resourceRva = static_cast<uint32_t>(sectionRva);
    w.summary_.resourceSize = contentSize;
    w.summary_.newSection = !inPlace;
    w.summary_.droppedCertificateSize = certificate.size;
    *writer = std::move(w);
    return Status::Ok();
}

Status PeResourceWriter::Write(ByteSink& sink) const
{
    PeChecksum checksum;
    auto put = [&](const uint8_t* bytes, uint32_t length) {
        checksum.Add(bytes, length);
        return sink.Write(bytes, length).WithContext("writing the program at " + Hex(checksum.Length() - length));
    };
    static const uint8_t kZeros[4096] = {};
    std::vector<uint8_t> buffer;
    const ByteView original = image_->Bytes();
    const ByteView patched(patched_.data(), static_cast<uint32_t>(patched_.size()));

    for (const Piece& piece : pieces_) {
        Status s;
        const uint8_t* bytes = nullptr;
        switch (piece.kind) {
        case PieceKind::kImage:
            if (!patched.Bytes(piece.offset, static_cast<uint32_t>(piece.length), &bytes))
                return Status::Error(kErrorInvalidParameter, "internal error: a piece lies outside the image");
            s = put(bytes, static_cast<uint32_t>(piece.length));
            break;
        case PieceKind::kZeros:
            for (uint64_t done = 0; s && done < piece.length; done += sizeof kZeros)
                s = put(kZeros, static_cast<uint32_t>(std::min<uint64_t>(sizeof kZeros, piece.length - done)));
            break;
        case PieceKind::kDirectory:
            s = put(layout_.Directory().data(), static_cast<uint32_t>(layout_.Directory().size()));
            break;
        case PieceKind::kResource:
            if (piece.data->source == nullptr) {
                if (!original.Bytes(piece.data->imageOffset, static_cast<uint32_t>(piece.length), &bytes))
                    return Status::Error(kErrorInvalidParameter,
                                         "internal error: resource " + piece.what + " lies outside the image");
                s = put(bytes, static_cast<uint32_t>(piece.length));
                break;
            }
            if (piece.data->source->Size() != piece.length)
                return Status::Error(kErrorInvalidParameter, "resource " + piece.what + " changed its size from " +
                                                                 SizeText(piece.length) + " to " +
                                                                 SizeText(piece.data->source->Size()));
            buffer.resize(kCopyPiece);
            for (uint64_t done = 0; s && done < piece.length; done += kCopyPiece) {
                const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(kCopyPiece, piece.length - done));
                s = piece.data->source->Read(done, buffer.data(), length)
                        .WithContext("reading resource " + piece.what + " at " + Hex(done));
                if (s)
                    s = put(buffer.data(), length);
            }
            break;
        }
        if (!s)
            return s;
    }
    if (checksum.Length() != summary_.outputSize)
        return Status::Error(kErrorInvalidParameter, "internal error: wrote " + SizeText(checksum.Length()) +
                                                         " of a planned " + SizeText(summary_.outputSize));
    const uint32_t value = checksum.Value();
    const uint8_t field[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    return sink.Rewrite(checksumOffset_, field, sizeof field).WithContext("writing the checksum");
}
