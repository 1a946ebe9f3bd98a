// One block of a string table (RT_STRING): sixteen counted UTF-16 strings, read with every length checked.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ByteView.h"
#include "Status.h"

class StringTableBlock {
public:
    static constexpr uint32_t kStringsPerBlock = 16;

    // The resource name of the block holding string id, and its place there.
    static uint16_t BlockOf(uint16_t id) { return static_cast<uint16_t>(id / kStringsPerBlock + 1); }
    static uint32_t IndexOf(uint16_t id) { return id % kStringsPerBlock; }

    // Reads the sixteen strings, each a 16-bit count of units and the units.
    // Refused (kErrorInvalidData): a count or string reaching past the data.
    // Bytes after the sixteenth string (padding) are ignored.
    static Status Parse(ByteView block, StringTableBlock* out);

    const std::u16string& String(uint32_t index) const { return strings_[index]; }
    void SetString(uint32_t index, std::u16string text) { strings_[index] = std::move(text); }
    std::vector<uint8_t> Encode() const;

private:
    std::array<std::u16string, kStringsPerBlock> strings_;
};
