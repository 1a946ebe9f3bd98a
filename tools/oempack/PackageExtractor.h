// Writes the entries of a package to disk with the shared extraction rules.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ByteView.h"
#include "Status.h"

class PieceIndex;

struct ExtractRequest {
    std::string destination;           // created when missing (its parent must exist)
    std::string group;                 // empty: every group
    std::vector<std::string> entries;  // empty: every entry of the chosen groups
    int overwriteMode = 0;
    // Where the pieces of split entries start (null: none); they are then
    // decoded on every processor.
    const PieceIndex* pieceIndex = nullptr;
};

struct ExtractOutcome {
    uint32_t written = 0;              // entries written or kept by the overwrite rule
    std::vector<std::string> errors;   // one line per entry or group that failed
    std::vector<std::string> warnings;
};

// Each entry of group G goes to destination\G\name (entries of a group with
// the empty name to destination itself). Groups are chosen by name ignoring
// case; a group whose name is not a bare folder name is refused, as is a
// faulty compressed entry. A later entry of the same name in a group is
// skipped, as readers find only the first. Entries named in the request that
// are not found are errors. A failure only when the package cannot be read at
// all, the group is missing or the destination cannot be made; per-entry
// failures land in outcome->errors.
Status ExtractPackage(const ByteView& image, const ExtractRequest& request, ExtractOutcome* outcome,
                      const std::function<void(uint64_t, uint64_t)>& progress);
