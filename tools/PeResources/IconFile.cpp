// Icon files and icon group resources, every offset checked.
#include "IconFile.h"

#include <string>

namespace {

constexpr uint32_t kHeaderSize = 6;      // reserved, type, count
constexpr uint32_t kFileEntrySize = 16;  // ... bytes in image, offset in file
constexpr uint32_t kGroupEntrySize = 14; // ... bytes in image, resource id
constexpr uint16_t kIconType = 1;

Status Bad(const std::string& message) { return Status::Error(kErrorInvalidData, message); }

// Reads the header's fields shared by files and groups.
bool ReadHeader(ByteView bytes, uint16_t* reserved, uint16_t* type, uint16_t* count)
{
    return bytes.ReadU16(0, reserved) && bytes.ReadU16(2, type) && bytes.ReadU16(4, count);
}

// The fields an icon file entry and a group entry share, at offset.
IconImageInfo ReadInfo(ByteView bytes, uint32_t offset)
{
    IconImageInfo info;
    const uint8_t* fields = nullptr;
    if (bytes.Bytes(offset, 4, &fields)) {
        info.width = fields[0];
        info.height = fields[1];
        info.colorCount = fields[2];
    }
    bytes.ReadU16(offset + 4, &info.planes);
    bytes.ReadU16(offset + 6, &info.bitCount);
    bytes.ReadU32(offset + 8, &info.size);
    return info;
}

void PutU16(std::vector<uint8_t>* out, uint16_t value)
{
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

}  // namespace

Status IconFile::Parse(ByteView file, IconFile* icon)
{
    uint16_t reserved = 0, type = 0, count = 0;
    if (!ReadHeader(file, &reserved, &type, &count))
        return Bad("not an icon file: " + std::to_string(file.Size()) + " bytes, shorter than its header");
    if (reserved != 0 || type != kIconType)
        return Bad("not an icon file (its header says type " + std::to_string(type) + ", an icon is type 1)");
    if (count == 0)
        return Bad("the icon file holds no images");
    if (count > kMaxImages)
        return Bad("the icon file holds " + std::to_string(count) + " images, more than " +
                   std::to_string(kMaxImages));
    if (!file.Contains(kHeaderSize, uint32_t(count) * kFileEntrySize))
        return Bad("the icon file is cut short: its " + std::to_string(count) + " image entries need " +
                   std::to_string(kHeaderSize + uint32_t(count) * kFileEntrySize) + " bytes, it has " +
                   std::to_string(file.Size()));
    IconFile parsed;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t entry = kHeaderSize + i * kFileEntrySize;
        Image image;
        image.info = ReadInfo(file, entry);
        uint32_t offset = 0;
        file.ReadU32(entry + 12, &offset);
        const uint8_t* bytes = nullptr;
        const std::string which = "image " + std::to_string(i + 1) + " of the icon file";
        if (image.info.size == 0)
            return Bad(which + " has 0 bytes");
        if (!file.Bytes(offset, image.info.size, &bytes))
            return Bad(which + " (" + std::to_string(image.info.size) + " bytes at offset " + std::to_string(offset) +
                       ") reaches outside the file of " + std::to_string(file.Size()) + " bytes");
        image.bytes.assign(bytes, bytes + image.info.size);
        parsed.images_.push_back(std::move(image));
    }
    *icon = std::move(parsed);
    return Status::Ok();
}

std::vector<uint8_t> IconFile::GroupResource(const std::vector<uint16_t>& ids) const
{
    std::vector<uint8_t> group;
    PutU16(&group, 0);
    PutU16(&group, kIconType);
    PutU16(&group, static_cast<uint16_t>(images_.size()));
    for (size_t i = 0; i < images_.size() && i < ids.size(); ++i) {
        const IconImageInfo& info = images_[i].info;
        group.push_back(info.width);
        group.push_back(info.height);
        group.push_back(info.colorCount);
        group.push_back(0);
        PutU16(&group, info.planes);
        PutU16(&group, info.bitCount);
        for (int b = 0; b < 4; ++b)
            group.push_back(static_cast<uint8_t>(info.size >> (8 * b)));
        PutU16(&group, ids[i]);
    }
    return group;
}

Status IconFile::ReadGroup(ByteView group, std::vector<IconImageInfo>* images, std::vector<uint16_t>* ids)
{
    uint16_t reserved = 0, type = 0, count = 0;
    if (!ReadHeader(group, &reserved, &type, &count) || type != kIconType)
        return Bad("not an icon group");
    if (!group.Contains(kHeaderSize, uint32_t(count) * kGroupEntrySize))
        return Bad("the icon group is cut short");
    images->clear();
    ids->clear();
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t entry = kHeaderSize + i * kGroupEntrySize;
        uint16_t id = 0;
        group.ReadU16(entry + 12, &id);
        images->push_back(ReadInfo(group, entry));
        ids->push_back(id);
    }
    return Status::Ok();
}
