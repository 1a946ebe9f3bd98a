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
constexpr uint32_t kCopyPiece = 1u << 20;

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

// The debug directory's entries, when it lies in one section's file data.
struct DebugEntries {
    uint32_t offset = 0;  // file offset of the first entry
    uint32_t count = 0;
    std::vector<uint8_t> bytes;

    uint32_t Field(uint32_t entry, uint32_t field) const
    {
        return ReadU32(ByteView(bytes.data(), static_cast<uint32_t>(bytes.size())), entry * pe::kDebugEntrySize + field);
    }
};

Status ReadDebugEntries(const PeImage& image, DebugEntries* debug)
{
    const PeDirectory directory = image.Directory(pe::kDebugDirectoryIndex);
    if (directory.address == 0 || directory.size == 0 ||
        !image.RvaToFileOffset(directory.address, directory.size, &debug->offset))
        return Status::Ok();
    debug->count = directory.size / pe::kDebugEntrySize;
    debug->bytes.resize(size_t(debug->count) * pe::kDebugEntrySize);
    return image.ReadAt(debug->offset, debug->bytes.data(), static_cast<uint32_t>(debug->bytes.size()));
}

// Whether section old, holding the resource directory, can be rewritten in
// place: the last section both in the address space and in the file, starting
// with the directory, and nothing else pointing into it.
bool CanRewriteInPlace(const PeImage& image, size_t old, const DebugEntries& debug)
{
    const std::vector<PeSection>& sections = image.Sections();
    const PeSection& s = sections[old];
    const uint32_t dataEnd = image.SectionDataEnd();
    if (old + 1 != sections.size() || image.Directory(pe::kResourceDirectoryIndex).address != s.virtualAddress ||
        s.sizeOfRawData == 0 || s.pointerToRawData + s.sizeOfRawData != dataEnd)
        return false;
    for (size_t j = 0; j < sections.size(); ++j) {
        if (j != old && sections[j].sizeOfRawData != 0 &&
            sections[j].pointerToRawData + sections[j].sizeOfRawData > s.pointerToRawData)
            return false;
    }
    for (uint32_t d = 0; d < image.DirectoryCount(); ++d) {
        const PeDirectory other = image.Directory(d);
        if (d != pe::kResourceDirectoryIndex && d != pe::kCertificateDirectoryIndex &&
            Overlaps(other.address, other.size, s.virtualAddress, s.MappedSize()))
            return false;
    }
    for (uint32_t e = 0; e < debug.count; ++e) {
        const uint32_t size = debug.Field(e, pe::kDebugSizeOfData);
        if (Overlaps(debug.Field(e, pe::kDebugAddressOfRawData), size, s.virtualAddress, s.MappedSize()) ||
            Overlaps(debug.Field(e, pe::kDebugPointerToRawData), size, s.pointerToRawData, s.sizeOfRawData))
            return false;
    }
    return !(image.SymbolTableOffset() >= s.pointerToRawData && image.SymbolTableOffset() < dataEnd);
}

// Checks that 40 unused (zero) bytes follow the section table inside the headers.
Status CheckRoomForHeader(const PeImage& image, int old)
{
    const uint32_t at = image.SectionTableEnd();
    const uint8_t* room = nullptr;
    if (uint64_t(at) + pe::kSectionHeaderSize > image.SizeOfHeaders() ||
        !image.Bytes().Bytes(at, pe::kSectionHeaderSize, &room))
        return Bad("no room for another section header: the section table ends at " + Hex(at) + " and the headers at " +
                   Hex(image.SizeOfHeaders()) + " (the resources cannot grow in place: " +
                   (old < 0 ? std::string("the program has no resource section")
                            : image.Sections()[static_cast<size_t>(old)].Describe(static_cast<size_t>(old)) +
                                  " is not the last section or holds more than the resources") +
                   ")");
    for (uint32_t i = 0; i < pe::kSectionHeaderSize; ++i) {
        if (room[i] != 0)
            return Bad("no room for another section header: the bytes at " + Hex(at + i) +
                       ", after the section table, are in use");
    }
    return Status::Ok();
}

}  // namespace

struct ResourceSectionPlan {
    int old = -1;          // the section holding the resource directory, or -1
    bool inPlace = false;  // the old section is rewritten
    uint32_t header = 0;   // file offset of the section header written
    uint64_t rva = 0;
    uint64_t file = 0;     // file offset of the section's data
    uint32_t oldRawSize = 0;
    uint32_t prefixEnd = 0;  // image bytes copied before the section data
    uint32_t contentSize = 0;
    uint64_t rawSize = 0;
    uint64_t imageSize = 0;
    uint64_t outputSize = 0;
    DebugEntries debug;
};

namespace {

// Places the resource section: over the old one when it can be rewritten in
// place, else as a new section after the last one.
Status PlaceSection(const PeImage& image, ResourceSectionPlan* plan)
{
    const std::vector<PeSection>& sections = image.Sections();
    const PeDirectory resources = image.Directory(pe::kResourceDirectoryIndex);
    plan->old = resources.address != 0 ? image.SectionOfRva(resources.address) : -1;
    plan->inPlace = plan->old >= 0 && CanRewriteInPlace(image, static_cast<size_t>(plan->old), plan->debug);
    if (plan->inPlace) {
        const PeSection& s = sections[static_cast<size_t>(plan->old)];
        plan->header = s.headerOffset;
        plan->rva = s.virtualAddress;
        plan->file = s.pointerToRawData;
        plan->oldRawSize = s.sizeOfRawData;
        plan->prefixEnd = s.pointerToRawData;
        return Status::Ok();
    }
    if (sections.size() >= pe::kMaxSections)
        return Bad("no room for another section: the file has " + std::to_string(sections.size()) +
                   " sections, the most the loader accepts");
    Status s = CheckRoomForHeader(image, plan->old);
    if (!s)
        return s;
    plan->header = image.SectionTableEnd();
    uint64_t imageEnd = image.SizeOfHeaders();
    for (const PeSection& section : sections)
        imageEnd = std::max<uint64_t>(imageEnd, uint64_t(section.virtualAddress) + section.MappedSize());
    plan->rva = AlignUp(imageEnd, image.SectionAlignment());
    // The data starts on a page boundary of the file: a loader can then map it
    // straight from the file rather than read it into private memory, which
    // matters for a package of hundreds of megabytes (Wine maps a section whose
    // file offset is page-aligned, and copies one that is not).
    const uint32_t dataAlignment = image.SectionAlignment() >= pe::kPageSize
                                       ? std::max<uint32_t>(image.FileAlignment(), pe::kPageSize)
                                       : image.FileAlignment();
    plan->file = AlignUp(image.SectionDataEnd(), dataAlignment);
    plan->prefixEnd = image.SectionDataEnd();
    if (plan->rva > 0xFFFFFFFFu)
        return Status::Error(kErrorFileTooLarge, "the image has no room for another section below 4 GiB");
    return Status::Ok();
}

// The sizes that follow from the laid-out resources; refused past 32 bits.
Status PlanSizes(const PeImage& image, uint32_t contentSize, ResourceSectionPlan* plan)
{
    plan->contentSize = contentSize;
    plan->rawSize = AlignUp(contentSize, image.FileAlignment());
    plan->imageSize = AlignUp(plan->rva + contentSize, image.SectionAlignment());
    if (plan->imageSize > 0xFFFFFFFFu)
        return Status::Error(kErrorFileTooLarge, "the image would end at RVA " + Hex(plan->imageSize) +
                                                         "; SizeOfImage is 32-bit");
    const uint64_t overlaySize =
        uint64_t(image.Size()) - image.SectionDataEnd() - image.Directory(pe::kCertificateDirectoryIndex).size;
    plan->outputSize = plan->file + plan->rawSize + overlaySize;
    if (plan->outputSize > 0xFFFFFFFFu)
        return Status::Error(kErrorFileTooLarge, "the program would be " + SizeText(plan->outputSize) +
                                                         "; PE file offsets are 32-bit (at most 4 GiB - 1)");
    return Status::Ok();
}

// The optional header's sizes and directories, and the section header.
void PatchHeaders(const PeImage& image, const ResourceSectionPlan& plan, Patcher& patch)
{
    const std::vector<PeSection>& sections = image.Sections();
    const uint32_t optional = image.OptionalHeaderOffset();
    patch.U32(optional + pe::kOptCheckSum, 0);
    patch.U32(optional + pe::kOptSizeOfImage, static_cast<uint32_t>(plan.imageSize));
    patch.U32(image.DirectoryEntryOffset(pe::kResourceDirectoryIndex), static_cast<uint32_t>(plan.rva));
    patch.U32(image.DirectoryEntryOffset(pe::kResourceDirectoryIndex) + 4, plan.contentSize);
    if (image.Directory(pe::kCertificateDirectoryIndex).size != 0) {
        patch.U32(image.DirectoryEntryOffset(pe::kCertificateDirectoryIndex), 0);
        patch.U32(image.DirectoryEntryOffset(pe::kCertificateDirectoryIndex) + 4, 0);
    }
    // An informative sum of the initialized sections' raw sizes; kept as it is
    // when it was not consistent enough to adjust.
    const uint32_t initialized = ReadU32(image.Bytes(), optional + pe::kOptSizeOfInitializedData);
    const int64_t grown = int64_t(plan.rawSize) - plan.oldRawSize;
    const bool countsAsInitialized =
        !plan.inPlace ||
        (sections[static_cast<size_t>(plan.old)].characteristics & pe::kSectionContainsInitializedData) != 0;
    if (countsAsInitialized && int64_t(initialized) + grown >= 0 && int64_t(initialized) + grown <= 0xFFFFFFFF)
        patch.U32(optional + pe::kOptSizeOfInitializedData, static_cast<uint32_t>(int64_t(initialized) + grown));

    if (!plan.inPlace) {
        uint8_t header[pe::kSectionHeaderSize] = {};
        std::memcpy(header + pe::kSectionName, kResourceSectionName, sizeof kResourceSectionName - 1);
        patch.Copy(plan.header, header, sizeof header);
        patch.U32(plan.header + pe::kSectionVirtualAddress, static_cast<uint32_t>(plan.rva));
        patch.U32(plan.header + pe::kSectionPointerToRawData, static_cast<uint32_t>(plan.file));
        patch.U32(plan.header + pe::kSectionCharacteristics,
                  pe::kSectionContainsInitializedData | pe::kSectionMemoryRead);
        patch.U16(image.CoffHeaderOffset() + pe::kCoffNumberOfSections, static_cast<uint16_t>(sections.size() + 1));
        if (plan.old >= 0 && sections[static_cast<size_t>(plan.old)].name == kResourceSectionName)
            patch.Copy(sections[static_cast<size_t>(plan.old)].headerOffset + pe::kSectionName,
                       PeResourceWriter::kOldResourceSectionName, pe::kSectionNameSize);
    }
    patch.U32(plan.header + pe::kSectionVirtualSize, plan.contentSize);
    patch.U32(plan.header + pe::kSectionSizeOfRawData, static_cast<uint32_t>(plan.rawSize));
}

}  // namespace

Status PeResourceWriter::Prepare(const PeImage& image, const ResourceTree& tree, PeResourceWriter* writer)
{
    if (image.DirectoryCount() <= pe::kResourceDirectoryIndex)
        return Bad("the optional header has no resource directory entry (NumberOfRvaAndSizes " +
                   std::to_string(image.DirectoryCount()) + ")");
    ResourceSectionPlan plan;
    Status s = ReadDebugEntries(image, &plan.debug);
    if (s)
        s = PlaceSection(image, &plan);
    PeResourceWriter w;
    if (s)
        s = ResourceLayout::Build(tree, static_cast<uint32_t>(plan.rva), &w.layout_);
    if (s)
        s = PlanSizes(image, w.layout_.Size(), &plan);
    if (!s)
        return s;

    w.image_ = &image;
    const ByteView headers = image.Bytes();
    w.patched_.assign(headers.Data(), headers.Data() + std::min(headers.Size(), image.SizeOfHeaders()));
    Patcher patch(&w.patched_);
    PatchHeaders(image, plan, patch);
    s = w.PatchMovedOffsets(plan);
    if (!s)
        return s;
    if (!patch.Ok())
        return Status::Error(kErrorInvalidParameter, "internal error: a header field lies outside the image");
    w.PlanPieces(tree, plan);
    w.checksumOffset_ = image.OptionalHeaderOffset() + pe::kOptCheckSum;
    w.summary_.outputSize = plan.outputSize;
    w.summary_.resourceRva = static_cast<uint32_t>(plan.rva);
    w.summary_.resourceSize = plan.contentSize;
    w.summary_.newSection = !plan.inPlace;
    w.summary_.droppedCertificateSize = image.Directory(pe::kCertificateDirectoryIndex).size;
    *writer = std::move(w);
    return Status::Ok();
}

// The COFF symbol table offset and the debug entries' file offsets, for what
// lies after the sections and so moves.
Status PeResourceWriter::PatchMovedOffsets(const ResourceSectionPlan& plan)
{
    const PeImage& image = *image_;
    const OverlayMap overlay(image.SectionDataEnd(), plan.file + plan.rawSize,
                             image.Directory(pe::kCertificateDirectoryIndex));
    const uint32_t symbols = image.SymbolTableOffset();
    if (symbols != 0 && overlay.Contains(symbols)) {
        uint64_t moved = 0;
        if (!overlay.Map(symbols, &moved))
            return Bad("the COFF symbol table offset " + Hex(symbols) + " points into the certificate table");
        fieldPatches_.push_back(
            FieldPatch{image.CoffHeaderOffset() + pe::kCoffPointerToSymbolTable, static_cast<uint32_t>(moved)});
    }
    for (uint32_t e = 0; e < plan.debug.count; ++e) {
        const uint32_t pointer = plan.debug.Field(e, pe::kDebugPointerToRawData);
        if (pointer == 0 || !overlay.Contains(pointer))
            continue;
        uint64_t moved = 0;
        if (!overlay.Map(pointer, &moved))
            return Bad("debug directory entry " + std::to_string(e + 1) + " points into the certificate table at " +
                       Hex(pointer));
        fieldPatches_.push_back(FieldPatch{plan.debug.offset + e * pe::kDebugEntrySize + pe::kDebugPointerToRawData,
                                           static_cast<uint32_t>(moved)});
    }
    return Status::Ok();
}

// The output, piece by piece: the image up to the section data, the
// directory, each resource at its place, padding, then the overlay without the
// certificate table.
void PeResourceWriter::PlanPieces(const ResourceTree& tree, const ResourceSectionPlan& plan)
{
    auto add = [this](PieceKind kind, uint32_t offset, uint64_t length) {
        if (length != 0 || kind == PieceKind::kResource) {
            Piece piece;
            piece.kind = kind;
            piece.offset = offset;
            piece.length = length;
            pieces_.push_back(std::move(piece));
        }
    };
    add(PieceKind::kImage, 0, plan.prefixEnd);
    add(PieceKind::kZeros, 0, plan.file - plan.prefixEnd);
    add(PieceKind::kDirectory, 0, layout_.Directory().size());
    // The layout places the resources in directory order; their names are for messages.
    std::vector<std::string> names;
    for (const auto& type : tree.Types()) {
        for (const auto& name : type.second.names) {
            for (const auto& language : name.second.languages)
                names.push_back(type.first.Describe() + "/" + name.first.Describe() + "/" +
                                std::to_string(language.first));
        }
    }
    uint64_t at = layout_.Directory().size();
    for (size_t i = 0; i < layout_.Placements().size(); ++i) {
        const ResourceLayout::Placement& placement = layout_.Placements()[i];
        add(PieceKind::kZeros, 0, placement.offset - at);
        add(PieceKind::kResource, 0, placement.data->size);
        pieces_.back().data = placement.data;
        pieces_.back().what = i < names.size() ? names[i] : std::string("?");
        at = placement.offset + placement.data->size;
    }
    add(PieceKind::kZeros, 0, plan.rawSize - at);
    const uint32_t dataEnd = image_->SectionDataEnd();
    const PeDirectory certificate = image_->Directory(pe::kCertificateDirectoryIndex);
    if (certificate.size != 0) {
        add(PieceKind::kImage, dataEnd, certificate.address - dataEnd);
        const uint64_t certificateEnd = uint64_t(certificate.address) + certificate.size;
        add(PieceKind::kImage, static_cast<uint32_t>(certificateEnd), image_->Size() - certificateEnd);
    } else {
        add(PieceKind::kImage, dataEnd, image_->Size() - dataEnd);
    }
}

// Copies an image range: the updated headers from memory, the rest read from
// the image, with the moved file offsets put over it.
Status PeResourceWriter::WriteImagePiece(const Piece& piece, std::vector<uint8_t>& buffer,
                                         const std::function<Status(const uint8_t*, uint32_t)>& put) const
{
    const uint32_t headers = static_cast<uint32_t>(patched_.size());
    Status s;
    for (uint64_t done = 0; s && done < piece.length;) {
        const uint32_t at = static_cast<uint32_t>(piece.offset + done);
        uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(kCopyPiece, piece.length - done));
        if (at < headers) {
            length = std::min(length, headers - at);
            std::memcpy(buffer.data(), patched_.data() + at, length);
        } else {
            s = image_->ReadAt(at, buffer.data(), length).WithContext("reading the program at " + Hex(at));
        }
        for (const FieldPatch& patch : fieldPatches_) {
            for (uint32_t b = 0; b < 4; ++b) {
                const uint64_t where = uint64_t(patch.offset) + b;
                if (where >= at && where < uint64_t(at) + length)
                    buffer[static_cast<size_t>(where - at)] = static_cast<uint8_t>(patch.value >> (8 * b));
            }
        }
        if (s)
            s = put(buffer.data(), length);
        done += length;
    }
    return s;
}

// Copies a resource's bytes from the caller's source or, for one kept, from the image.
Status PeResourceWriter::WriteResourcePiece(const Piece& piece, std::vector<uint8_t>& buffer,
                                            const std::function<Status(const uint8_t*, uint32_t)>& put) const
{
    ResourceSource* source = piece.data->source;
    if (source != nullptr && source->Size() != piece.length)
        return Status::Error(kErrorInvalidParameter, "resource " + piece.what + " changed its size from " +
                                                         SizeText(piece.length) + " to " + SizeText(source->Size()));
    if (source == nullptr && uint64_t(piece.data->imageOffset) + piece.length > image_->Size())
        return Status::Error(kErrorInvalidParameter, "internal error: resource " + piece.what + " lies outside the image");
    Status s;
    for (uint64_t done = 0; s && done < piece.length; done += kCopyPiece) {
        const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(kCopyPiece, piece.length - done));
        const uint8_t* inPlace = source != nullptr ? source->InPlace(done, length) : nullptr;
        if (inPlace != nullptr)
            s = put(inPlace, length);
        else if (source != nullptr)
            s = source->Read(done, buffer.data(), length).WithContext("reading resource " + piece.what + " at " + Hex(done));
        else
            s = image_->ReadAt(static_cast<uint32_t>(piece.data->imageOffset + done), buffer.data(), length)
                    .WithContext("reading resource " + piece.what + " at " + Hex(done));
        if (s && inPlace == nullptr)
            s = put(buffer.data(), length);
    }
    return s;
}

Status PeResourceWriter::Write(ByteSink& sink) const
{
    PeChecksum checksum;
    const std::function<Status(const uint8_t*, uint32_t)> put = [&](const uint8_t* bytes, uint32_t length) {
        checksum.Add(bytes, length);
        return sink.Append(bytes, length).WithContext("writing the program at " + Hex(checksum.Length() - length));
    };
    static const uint8_t kZeros[4096] = {};
    std::vector<uint8_t> buffer(kCopyPiece);
    for (const Piece& piece : pieces_) {
        Status s;
        switch (piece.kind) {
        case PieceKind::kImage:
            s = WriteImagePiece(piece, buffer, put);
            break;
        case PieceKind::kZeros:
            for (uint64_t done = 0; s && done < piece.length; done += sizeof kZeros)
                s = put(kZeros, static_cast<uint32_t>(std::min<uint64_t>(sizeof kZeros, piece.length - done)));
            break;
        case PieceKind::kDirectory:
            s = put(layout_.Directory().data(), static_cast<uint32_t>(layout_.Directory().size()));
            break;
        case PieceKind::kResource:
            s = WriteResourcePiece(piece, buffer, put);
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
    return sink.Patch(checksumOffset_, field, sizeof field).WithContext("writing the checksum");
}
