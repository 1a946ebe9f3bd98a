// Turns a package plan into a container image with the container library, optionally LZW-compressed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "MappedFile.h"
#include "PackagePlan.h"
#include "Status.h"

class PackageDirectory;

// Called with the number of source bytes handled so far.
using ByteProgress = std::function<void(uint64_t done)>;

struct WriteStats {
    uint32_t entries = 0;
    uint32_t compressedEntries = 0;  // entries stored as an LZW stream
    uint64_t sourceBytes = 0;
    uint64_t storedBytes = 0;        // data bytes as stored in the container
    std::vector<std::string> warnings;
};

// Builds every entry of the plan and adds it (owned) to directory. File
// entries take their content and times from the file and their attributes
// from its path; entries held in memory get the archive attribute and the
// current time. The plan's time limit, when set, bounds every time. With compress, an entry is stored as an LZW stream when that
// stream is shorter than the content and decodes back to it.
// A failure names the input that failed.
Status BuildDirectory(const PackagePlan& plan, bool compress, PackageDirectory& directory,
                      const ByteProgress& progress, WriteStats* stats);

// BuildDirectory, then the whole container image into image (closed on
// entry). Refuses a container of 4 GiB or more.
Status BuildPackageImage(const PackagePlan& plan, bool compress, MappedFile& image, const ByteProgress& progress,
                         WriteStats* stats);
