// Reads the fixed file version out of a program's version resource, every offset checked.
#include "ProgramVersion.h"

#include <cstdint>
#include <vector>

#include "PeFormat.h"
#include "PeImage.h"
#include "ResourceTree.h"
#include "VersionResource.h"

namespace {

constexpr char16_t kVersionKey[] = u"VS_VERSION_INFO";  // with its terminating NUL
constexpr uint32_t kFixedInfoSignature = VersionResource::kFixedInfoSignature;
constexpr uint32_t kFixedInfoSize = VersionResource::kFixedInfoSize;
constexpr uint32_t kKeyOffset = 6;  // after wLength, wValueLength, wType

}  // namespace

std::string FileVersionOfBlock(const ByteView& block)
{
    uint16_t length = 0;
    uint16_t valueLength = 0;
    if (!block.ReadU16(0, &length) || !block.ReadU16(2, &valueLength) || valueLength < kFixedInfoSize)
        return std::string();
    // Only the block's own length counts, even when the resource holds more.
    const ByteView own(block.Data(), length < block.Size() ? length : block.Size());
    uint32_t at = kKeyOffset;
    for (char16_t expected : kVersionKey) {
        uint16_t unit = 0;
        if (!own.ReadU16(at, &unit) || unit != expected)
            return std::string();
        at += 2;
    }
    at = (at + 3) & ~3u;  // the value starts on a 32-bit boundary
    uint32_t signature = 0;
    uint32_t mostSignificant = 0;
    uint32_t leastSignificant = 0;
    if (!own.Contains(at, kFixedInfoSize) || !own.ReadU32(at, &signature) || signature != kFixedInfoSignature ||
        !own.ReadU32(at + 8, &mostSignificant) || !own.ReadU32(at + 12, &leastSignificant))
        return std::string();
    return std::to_string(mostSignificant >> 16) + "." + std::to_string(mostSignificant & 0xFFFF) + "." +
           std::to_string(leastSignificant >> 16) + "." + std::to_string(leastSignificant & 0xFFFF);
}

std::string ReadProgramFileVersion(const std::string& path)
{
    PeImage image;
    ResourceTree tree;
    if (!PeImage::Open(path.c_str(), &image) || !ResourceTree::Read(image, &tree))
        return std::string();
    const auto type = tree.Types().find(ResourceId::Number(pe::kResourceTypeVersion));
    if (type == tree.Types().end() || type->second.names.empty())
        return std::string();
    const auto& languages = type->second.names.begin()->second.languages;
    if (languages.empty())
        return std::string();
    const ResourceData& data = languages.begin()->second;
    // A version block's length is a 16-bit field: nothing beyond that is read.
    const uint32_t size = static_cast<uint32_t>(data.size < 0xFFFF ? data.size : 0xFFFF);
    std::vector<uint8_t> bytes(size);
    if (data.source != nullptr || !image.ReadAt(data.imageOffset, bytes.data(), size))
        return std::string();
    return FileVersionOfBlock(ByteView(bytes.data(), size));
}
