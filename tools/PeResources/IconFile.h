// An icon file (.ico) read with every offset checked, and the icon group and image resources made from it.
#pragma once

#include <cstdint>
#include <vector>

#include "ByteView.h"
#include "Status.h"

// One image as its directory entry describes it (width and height 0 mean 256).
struct IconImageInfo {
    uint8_t width = 0;
    uint8_t height = 0;
    uint8_t colorCount = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    uint32_t size = 0;
};

class IconFile {
public:
    // The most images an icon group may hold (its count is read as one byte by some readers).
    static constexpr uint32_t kMaxImages = 255;

    // Reads an icon file: the 6-byte header (reserved 0, type 1, count), one
    // 16-byte entry per image, and each image's bytes (BMP or PNG alike, kept
    // as they are). Refused (kErrorInvalidData, with what is wrong): a file
    // shorter than its header or entries, a type other than 1 (a cursor or no
    // icon), no images or more than kMaxImages, an image of 0 bytes or one
    // reaching outside the file.
    static Status Parse(ByteView file, IconFile* icon);

    size_t ImageCount() const { return images_.size(); }
    const IconImageInfo& Info(size_t index) const { return images_[index].info; }
    // The bytes of image index, as in the file: an RT_ICON resource's data.
    const std::vector<uint8_t>& ImageBytes(size_t index) const { return images_[index].bytes; }

    // The RT_GROUP_ICON resource naming the images as RT_ICON ids[0..n-1]
    // (ids.size() == ImageCount()).
    std::vector<uint8_t> GroupResource(const std::vector<uint16_t>& ids) const;

    // The images an RT_GROUP_ICON resource lists, with their RT_ICON ids.
    // Refused (kErrorInvalidData): a group cut short or of another type.
    static Status ReadGroup(ByteView group, std::vector<IconImageInfo>* images, std::vector<uint16_t>* ids);

private:
    struct Image {
        IconImageInfo info;
        std::vector<uint8_t> bytes;
    };
    std::vector<Image> images_;
};
