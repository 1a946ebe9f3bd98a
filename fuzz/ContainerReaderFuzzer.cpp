// Fuzz target: arbitrary bytes opened as a container file and walked group by group, entry by entry.
//
// Checks: the reader opens exactly what the validator accepts for reading,
// and every entry it lists can be sized and read consistently.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ContainerFormat.h"
#include "PackageReader.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

const std::string& ScratchPath()
{
    static const std::string path = "/tmp/container_reader_fuzzer_" + std::to_string(getpid()) + ".oem";
    static const bool cleanup = std::atexit([] { std::remove(ScratchPath().c_str()); }) == 0;
    (void)cleanup;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > UINT32_MAX)
        return 0;
    FILE* file = std::fopen(ScratchPath().c_str(), "wb");
    if (!file)
        return 0;
    const bool written = std::fwrite(data, 1, size, file) == size;
    std::fclose(file);
    if (!written)
        return 0;

    const bool valid = ValidateContainer(ByteView(data, static_cast<uint32_t>(size)), ContainerCheck::kRead);
    PackageReader reader;
    // A file of 0 bytes cannot be mapped, so only non-empty input must open.
    Require(reader.Open(ScratchPath().c_str()) == (valid && size > 0 ? 1 : 0));
    if (!reader.IsOpen())
        return 0;
    Require(ValidateContainer(ByteView(data, static_cast<uint32_t>(size)), ContainerCheck::kLoad));
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
