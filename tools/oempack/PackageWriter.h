// Writes a package plan as a container, entry by entry, optionally LZW-compressed on several threads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ByteSink.h"
#include "FileSink.h"
#include "LzwCodec.h"
#include "MappedFile.h"
#include "PackagePlan.h"
#include "PieceIndex.h"
#include "Status.h"

// Called with the number of source bytes handled so far.
using ByteProgress = std::function<void(uint64_t done)>;

struct WriteStats {
    uint32_t entries = 0;
    uint32_t compressedEntries = 0;  // entries stored as an LZW stream
    uint64_t sourceBytes = 0;
    uint64_t storedBytes = 0;        // data bytes as stored in the container
    std::vector<std::string> warnings;
    // Where the pieces of each entry stored split start (PieceIndex.h).
    PieceIndex pieceIndex;
};

struct WriteSettings {
    // Store an entry as an LZW stream when that stream is shorter than the
    // content and decodes back to it.
    bool compress = false;
    // Entries compressed at the same time (1: one after the other). The
    // output does not depend on it.
    unsigned jobs = 1;
    // Where compressed streams too large to keep in memory wait for their
    // turn; empty keeps them in memory.
    std::string spillFolder;
    // The coder of stream pieces; null for the codec's own. Every piece is
    // decoded back and compared with its input, whoever coded it: an entry
    // whose pieces do not come back is stored uncompressed, with a warning.
    LzwPieceEncoder encodePiece = nullptr;
};

// Entries above this size are compressed as a stream split into pieces of
// kSplitPiece input bytes (LzwEncodeBuffer with that piece size), coded and
// checked on all jobs, whole pieces of one repeated byte value together as
// one; up to it, as one piece: the stream of the unsplit encoder.
constexpr uint32_t kSplitThreshold = 8u << 20;
constexpr uint32_t kSplitPiece = 4u << 20;

// Most jobs -j accepts. While it compresses, each job holds an entry of up to
// 8 MiB, its stream and its decoded check (up to some 26 MiB), and jobs + 1
// pieces of split entries are under way at a time (4 MiB of input, its stream
// and its decoded check each), which a 32-bit process must afford.
constexpr unsigned kMaxJobs = 64;

// Size of the pieces files are read in: a file sink's buffer, so that a whole
// piece goes out without a copy.
constexpr uint32_t kPackageIoPiece = FileSink::kBufferSize;

// The number of processors (at least 1): the default of -j.
unsigned DefaultJobCount();

// Writes the container of the plan into sink (empty on entry) and finishes
// the sink. Groups come in the order a PackageDirectory holding them
// iterates, entries in plan order. File entries take their content and times
// from the file and their attributes from its path; entries held in memory
// get the archive attribute and the current time. The plan's time limit,
// when set, bounds every time. Memory use does not grow with the size of the
// files: they are read in pieces, and only the entries being compressed are
// held, up to a bound each. Refuses a container above 4 GiB - 1; a failure
// names the input that failed, and leaves the sink's content undefined.
Status WritePackage(const PackagePlan& plan, const WriteSettings& settings, ByteSink& sink,
                    const ByteProgress& progress, WriteStats* stats);

// WritePackage (one job, in memory), then the image into image (closed on entry).
Status BuildPackageImage(const PackagePlan& plan, bool compress, MappedFile& image, const ByteProgress& progress,
                         WriteStats* stats);
