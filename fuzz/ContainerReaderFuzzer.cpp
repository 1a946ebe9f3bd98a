// Fuzz target: arbitrary bytes opened as a container image and walked group by group, entry by entry.
//
// Checks: the reader opens the bytes in place exactly when the walk for
// reading accepts them, and then so does the walk for loading; a refusal
// carries a diagnosis that names an offset; every entry the reader lists can
// be sized and read consistently.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ContainerWalker.h"
#include "PackageReader.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > UINT32_MAX)
        return 0;
    const ByteView image(data, static_cast<uint32_t>(size));
    const Status walked = ContainerWalker(image, ContainerCheck::kRead).Walk();
    PackageReader reader;
    Require(reader.Open(data, static_cast<uint32_t>(size)) == (walked ? 1 : 0));
    Require(reader.GetOpenStatus().Code() == walked.Code() && reader.GetOpenStatus().Message() == walked.Message());
    if (!reader.IsOpen()) {
        Require(walked.Message().find(" at offset 0x") != std::string::npos);
        return 0;
    }
    Require(ContainerWalker(image, ContainerCheck::kLoad).Walk().IsOk());
    Require(reader.GetEntryTotal() >= 0);

    CStringArray groups;
    Require(reader.ListGroups(groups) == 1);
    for (int g = 0; g < groups.GetSize(); ++g) {
        CStringArray entries;
        Require(reader.ListEntries(groups[g], entries) == 1);
        for (int e = 0; e < entries.GetSize(); ++e) {
            const uint32_t expected = reader.GetEntrySize(entries[e], groups[g]);
            reader.GetEntrySize(entries[e], nullptr);
            MappedFile block;
            if (reader.ReadEntry(entries[e], groups[g], block)) {
                Require(block.GetLength() == expected);
                // A compressed entry may claim any size; copy only modest ones.
                if (expected > (1u << 20))
                    continue;
                std::vector<uint8_t> copy(expected);
                Require(reader.ReadEntryToBuffer(entries[e], groups[g], copy.data(), expected) ==
                        static_cast<int>(expected));
            }
        }
    }
    return 0;
}
