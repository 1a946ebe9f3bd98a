// Walks a container image with the container library's parsers and checks every compressed stream.
#include "PackageListing.h"

#include <cstdio>

#include "LzwCodec.h"
#include "PackageResources.h"

namespace {

std::string Hex(uint32_t value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string GroupLabel(uint32_t index, const std::string& name)
{
    return "group " + std::to_string(index + 1) + (name.empty() ? std::string(" (no name)") : " '" + name + "'");
}

}  // namespace

bool ReadPackageListing(const ByteView& image, bool strict, PackageListing* listing, std::string* fault)
{
    *listing = PackageListing();
    listing->imageSize = image.Size();
    ContainerHeader& header = listing->header;
    uint32_t magic = 0;
    if (!image.ReadU32(kHeaderMagicOffset, &magic) || magic != kContainerMagic) {
        *fault = "not a package: it does not start with \"BOEM\"";
        return false;
    }
    if (!ParseHeader(image, &header)) {
        *fault = "damaged: the header or its group table reaches past the end of the file";
        return false;
    }
    if (strict && header.version != kContainerVersion) {
        *fault = "unsupported version " + Hex(header.version, 4) + " (expected " + Hex(kContainerVersion, 4) + ")";
        return false;
    }
    for (uint32_t i = 0; i < header.groupCount; ++i) {
        uint32_t offset = 0;
        uint16_t signature = 0;
        if (!GroupOffsetAt(image, i, &offset) || !image.ReadU16(offset, &signature)) {
            *fault = "damaged: group " + std::to_string(i + 1) + " lies outside the file";
            return false;
        }
        if (signature != kGroupSignature) {
            if (strict) {
                *fault = "damaged: group " + std::to_string(i + 1) + " at offset " + std::to_string(offset) +
                         " has no group signature";
                return false;
            }
            ++listing->skippedGroups;
            continue;
        }
        GroupRecord record;
        char name[kMaxPath];
        if (!ParseGroup(image, offset, &record) || !CopyName(image, record.nameOffset, record.nameLength, name)) {
            *fault = "damaged: group " + std::to_string(i + 1) +
                     " has a record, name or entry table outside the file, or a name over 259 bytes";
            return false;
        }
        ListedGroup group;
        group.name = name;
        group.offset = offset;
        for (uint32_t j = 0; j < record.entryCount; ++j) {
            uint32_t entryOffset = 0;
            uint16_t kind = 0;
            if (!EntryOffsetAt(image, record, j, &entryOffset) || !image.ReadU16(entryOffset, &kind)) {
                *fault = "damaged: " + GroupLabel(i, group.name) + ", entry " + std::to_string(j + 1) +
                         " lies outside the file";
                return false;
            }
            if (kind != kFileEntryKind) {
                ++group.skippedChildren;
                continue;
            }
            ListedEntry entry;
            char entryName[kMaxPath];
            if (!ParseEntry(image, entryOffset, &entry.record) ||
                !CopyName(image, entry.record.nameOffset, entry.record.nameLength, entryName)) {
                *fault = "damaged: " + GroupLabel(i, group.name) + ", entry " + std::to_string(j + 1) +
                         " has a record, name or data outside the file, or a name over 259 bytes";
                return false;
            }
            entry.name = entryName;
            group.entries.push_back(entry);
            ++listing->fileEntries;
        }
        listing->groups.push_back(std::move(group));
    }
    if (!ValidateContainer(image, strict ? ContainerCheck::kRead : ContainerCheck::kLoad)) {
        *fault = "damaged: entries overlap or the tables hold more entries than a package can";
        return false;
    }
    return true;
}

bool DecodeEntry(const ByteView& image, const EntryRecord& record, std::vector<uint8_t>* out)
{
    const uint8_t* stored = nullptr;
    if (!image.Bytes(record.dataOffset, record.dataLength, &stored))
        return false;
    if (record.compressedSize == 0) {
        out->assign(stored, stored + record.dataLength);
        return true;
    }
    // Checked first: a record may claim any uncompressed size, and only a
    // stream that really yields it is worth that much memory.
    if (!CheckCompressedEntry(image, record))
        return false;
    out->assign(record.uncompressedSize, 0);
    uint32_t produced = 0;
    return LzwDecodeBuffer(stored, record.compressedSize, out->data(), record.uncompressedSize, &produced) &&
           produced == record.uncompressedSize;
}

bool CheckCompressedEntry(const ByteView& image, const EntryRecord& record)
{
    const uint8_t* stored = nullptr;
    if (!image.Bytes(record.dataOffset, record.dataLength, &stored))
        return false;
    uint8_t scratch = 0;
    uint32_t produced = 0;
    return LzwDecodeBuffer(stored, record.compressedSize, &scratch, 0, &produced) &&
           produced == record.uncompressedSize;
}

void VerifyPackageImage(const ByteView& image, VerifyReport* report,
                        const std::function<void(uint64_t, uint64_t)>& progress)
{
    *report = VerifyReport();
    std::string fault;
    if (!ReadPackageListing(image, true, &report->listing, &fault)) {
        report->faults.push_back(fault);
        return;
    }
    const PackageListing& listing = report->listing;
    if (listing.header.entryTotal != listing.fileEntries)
        report->faults.push_back("the header counts " + std::to_string(listing.header.entryTotal) +
                                 " entries, the groups hold " + std::to_string(listing.fileEntries));
    if (listing.header.reserved != 0)
        report->notes.push_back("the reserved header field is " + Hex(listing.header.reserved, 8) + ", not 0");
    if (image.Size() < kMinimumPackageSize)
        report->notes.push_back("the package is " + std::to_string(image.Size()) +
                                " bytes; the launcher refuses packages under 1024 bytes");

    uint64_t total = 0;
    for (const ListedGroup& g : listing.groups)
        for (const ListedEntry& e : g.entries)
            total += e.record.dataLength;
    uint64_t done = 0;
    for (size_t i = 0; i < listing.groups.size(); ++i) {
        const ListedGroup& g = listing.groups[i];
        const std::string label = GroupLabel(static_cast<uint32_t>(i), g.name);
        if (g.skippedChildren)
            report->notes.push_back(label + ": " + std::to_string(g.skippedChildren) +
                                    " children are not file entries; readers skip them");
        for (size_t j = 0; j < g.entries.size(); ++j) {
            const ListedEntry& e = g.entries[j];
            for (size_t k = 0; k < j; ++k) {
                if (CompareNoCase(g.entries[k].name.c_str(), e.name.c_str()) == 0) {
                    report->notes.push_back(label + ": entry '" + e.name +
                                            "' appears again; readers find only the first");
                    break;
                }
            }
            if (e.record.compressedSize != 0) {
                if (CheckCompressedEntry(image, e.record))
                    ++report->decodedEntries;
                else
                    report->faults.push_back(label + ", entry '" + e.name +
                                             "': the compressed data does not decode to its " +
                                             std::to_string(e.record.uncompressedSize) + " bytes");
            }
            done += e.record.dataLength;
            if (progress)
                progress(done, total);
        }
    }
}
