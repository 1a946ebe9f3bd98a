// Lists a container image through the container walk and checks every compressed stream.
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

}  // namespace

bool ReadPackageListing(const ByteView& image, bool strict, PackageListing* listing, std::string* fault)
{
    const Status walked = ContainerWalker(image, strict ? ContainerCheck::kRead : ContainerCheck::kLoad).Walk(listing);
    if (!walked) {
        *fault = PackageFaultText(walked);
        return false;
    }
    return true;
}

std::string PackageFaultText(const Status& refusal)
{
    switch (refusal.Code()) {
    case kErrorBadFormat:
        return "not a package: " + refusal.Message();
    case kErrorInvalidData:
        return "damaged: " + refusal.Message();
    default:
        return refusal.Message();
    }
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
    for (const ListedGroup& g : listing.groups) {
        if (g.skippedChildren)
            report->notes.push_back(DescribeGroup(g) + ": " + std::to_string(g.skippedChildren) +
                                    " children are not file entries; readers skip them");
        const std::vector<bool> reachable = ReachableEntries(g);
        for (size_t j = 0; j < g.entries.size(); ++j) {
            const ListedEntry& e = g.entries[j];
            if (!reachable[j])
                report->notes.push_back(DescribeEntry(g, e) +
                                        ": an earlier entry has the same name; readers find only the first");
            if (e.record.compressedSize != 0) {
                if (CheckCompressedEntry(image, e.record))
                    ++report->decodedEntries;
                else
                    report->faults.push_back(DescribeEntry(g, e) + ": the compressed data does not decode to its " +
                                             std::to_string(e.record.uncompressedSize) + " bytes");
            }
            done += e.record.dataLength;
            if (progress)
                progress(done, total);
        }
    }
}
