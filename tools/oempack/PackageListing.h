// A container image as the packaging tool lists it, and its verification entry by entry.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ByteView.h"
#include "ContainerWalker.h"
#include "Status.h"

// The listing is what the container walk found: groups with the signature in
// table order, each with its file entries in table order.
using ListedEntry = WalkedEntry;
using ListedGroup = WalkedGroup;
using PackageListing = WalkedContainer;

// Walks the whole image (ContainerWalker). strict demands what the direct
// reader demands (version 0x0200, every slot a signed group record);
// otherwise unsigned groups and other children are skipped as the directory
// loader skips them. true with the listing; false with the walker's diagnosis
// in words (PackageFaultText).
bool ReadPackageListing(const ByteView& image, bool strict, PackageListing* listing, std::string* fault);

// A refusal of the walker as the tool reports it: "not a package: ..." when
// the image lacks the magic, "damaged: ..." for damage, the diagnosis alone
// for an unsupported version.
std::string PackageFaultText(const Status& refusal);

struct VerifyReport {
    std::vector<std::string> faults;  // any fault makes the package invalid
    std::vector<std::string> notes;   // legal but worth knowing
    PackageListing listing;
    uint32_t decodedEntries = 0;
};

// Strict listing, entry total against the entries found, and every compressed
// entry decoded to exactly its uncompressed size. progress gets the stored
// bytes examined so far and their total.
void VerifyPackageImage(const ByteView& image, VerifyReport* report,
                        const std::function<void(uint64_t, uint64_t)>& progress = nullptr);

// Decodes a compressed entry's stream into out (resized to the uncompressed
// size). false when the stream is faulty or does not decode to exactly that size.
bool DecodeEntry(const ByteView& image, const EntryRecord& record, std::vector<uint8_t>* out);
// Checks a compressed entry's stream without keeping the bytes.
bool CheckCompressedEntry(const ByteView& image, const EntryRecord& record);
