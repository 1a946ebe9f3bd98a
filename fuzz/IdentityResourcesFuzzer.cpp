// The readers of the vendor's identity on any bytes: icon files, version blocks, string table blocks.
// Each refuses or reads without a step outside the input; what it reads writes back to bytes it reads the same.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "IconFile.h"
#include "StringTableBlock.h"
#include "VersionResource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0xFFFFFFFFu)
        return 0;
    const ByteView input(data, static_cast<uint32_t>(size));

    IconFile icon;
    if (IconFile::Parse(input, &icon)) {
        std::vector<uint16_t> ids;
        for (size_t i = 0; i < icon.ImageCount(); ++i)
            ids.push_back(static_cast<uint16_t>(i + 1));
        const std::vector<uint8_t> group = icon.GroupResource(ids);
        std::vector<IconImageInfo> images;
        std::vector<uint16_t> readIds;
        if (!IconFile::ReadGroup(ByteView(group.data(), static_cast<uint32_t>(group.size())), &images, &readIds) ||
            readIds != ids || images.size() != icon.ImageCount())
            std::abort();
    }

    VersionResource version;
    if (VersionResource::Parse(input, &version)) {
        std::vector<uint8_t> first, second;
        VersionResource again;
        if (version.Encode(&first)) {
            if (!VersionResource::Parse(ByteView(first.data(), static_cast<uint32_t>(first.size())), &again) ||
                !again.Encode(&second) || second != first || again.Strings() != version.Strings())
                std::abort();
        }
    }

    StringTableBlock strings;
    if (StringTableBlock::Parse(input, &strings)) {
        const std::vector<uint8_t> bytes = strings.Encode();
        StringTableBlock again;
        if (!StringTableBlock::Parse(ByteView(bytes.data(), static_cast<uint32_t>(bytes.size())), &again) ||
            again.Encode() != bytes)
            std::abort();
    }
    return 0;
}
