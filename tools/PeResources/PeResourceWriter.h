// Writes a program with a new resource tree: the resource section laid out again, everything else kept.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ByteSink.h"
#include "PeImage.h"
#include "ResourceLayout.h"
#include "ResourceTree.h"
#include "Status.h"

struct PeWriteSummary {
    uint64_t outputSize = 0;
    uint32_t resourceRva = 0;    // where the resource directory now starts
    uint32_t resourceSize = 0;   // its size, data included
    // The old resource section was not the last one (or there was none), so the
    // resources went into a new section at the end; the old one stays as it was,
    // renamed ".oldrsrc" when it was ".rsrc".
    bool newSection = false;
    // The input was signed: its certificate table (this many bytes) was dropped.
    uint32_t droppedCertificateSize = 0;
};

// Where Prepare puts the resource section, and the output's sizes (PeResourceWriter.cpp).
struct ResourceSectionPlan;

class PeResourceWriter {
public:
    // The name the old resource section gets when the resources move to a new one.
    static const char kOldResourceSectionName[];  // ".oldrsrc"

    // Plans the output: image with tree as its resources. Everything that can be
    // checked before a byte is written is checked here.
    //
    // The resource section is rewritten in place, grown or shrunk, when it is the
    // last section both in the address space and in the file, starts with the
    // resource directory and holds nothing that another data directory, a debug
    // entry or the COFF symbol table points at. Otherwise the resources go into a
    // new ".rsrc" section after the last one: growing a section in the middle
    // would move every later section to new addresses, which code, relocations
    // and imports refer to. Then the old section is kept as it was (renamed when it
    // was ".rsrc", so that tools looking for the resources by section name find
    // the new ones), and the new header needs 40 unused (zero) bytes after the
    // section table, inside SizeOfHeaders; without them the output is refused.
    //
    // Also updated: the resource data directory, SizeOfImage,
    // SizeOfInitializedData, NumberOfSections, the COFF symbol table offset and
    // the file offsets in debug directory entries (for what lies after the
    // sections and so moves), and the CheckSum. A certificate table is dropped
    // (its directory entry cleared, its bytes left out): the signature would no
    // longer match; the summary says so. Other bytes after the sections (symbol
    // table, appended data) follow the new section data unchanged.
    //
    // Refused: an optional header without a resource directory entry, no room
    // for a section header (kErrorBadExeFormat); an output or image that would
    // not fit 32-bit offsets (kErrorFileTooLarge).
    //
    // image and tree (and the sources in it) must outlive the writer's use.
    static Status Prepare(const PeImage& image, const ResourceTree& tree, PeResourceWriter* writer);

    const PeWriteSummary& Summary() const { return summary_; }

    // Streams the planned output into sink, reading the image's file and the
    // caller's sources in pieces of at most 1 MiB: memory use does not grow
    // with their size. The
    // checksum is filled in at the end with one Patch; finishing the sink is
    // the caller's. Failures of a source
    // or of the sink come back with their own code and a note of what was read
    // or written.
    Status Write(ByteSink& sink) const;

private:
    enum class PieceKind { kImage, kZeros, kDirectory, kResource };
    struct Piece {
        PieceKind kind = PieceKind::kZeros;
        uint32_t offset = 0;  // kImage: in the patched image
        uint64_t length = 0;
        const ResourceData* data = nullptr;  // kResource
        std::string what;                    // kResource: "OEMDATA/DEFAULT/0", for messages
    };

    // A 32-bit field of the image replaced as it is copied out.
    struct FieldPatch {
        uint32_t offset = 0;
        uint32_t value = 0;
    };

    Status PatchMovedOffsets(const ResourceSectionPlan& plan);
    void PlanPieces(const ResourceTree& tree, const ResourceSectionPlan& plan);
    Status WriteImagePiece(const Piece& piece, std::vector<uint8_t>& buffer,
                           const std::function<Status(const uint8_t*, uint32_t)>& put) const;
    Status WriteResourcePiece(const Piece& piece, std::vector<uint8_t>& buffer,
                              const std::function<Status(const uint8_t*, uint32_t)>& put) const;

    const PeImage* image_ = nullptr;
    std::vector<uint8_t> patched_;  // the image's headers, updated
    std::vector<FieldPatch> fieldPatches_;  // debug entries' file offsets, wherever they lie
    ResourceLayout layout_;
    std::vector<Piece> pieces_;
    uint32_t checksumOffset_ = 0;
    PeWriteSummary summary_;
};
