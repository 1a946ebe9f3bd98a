// String table blocks: sixteen counted UTF-16 strings.
#include "StringTableBlock.h"

Status StringTableBlock::Parse(ByteView block, StringTableBlock* out)
{
    StringTableBlock parsed;
    uint32_t at = 0;
    for (uint32_t i = 0; i < kStringsPerBlock; ++i) {
        uint16_t count = 0;
        if (!block.ReadU16(at, &count) || !block.Contains(at + 2, uint32_t(count) * 2))
            return Status::Error(kErrorInvalidData, "string table block: string " + std::to_string(i) +
                                                        " reaches past its " + std::to_string(block.Size()) +
                                                        " bytes");
        at += 2;
        for (uint32_t k = 0; k < count; ++k, at += 2) {
            uint16_t unit = 0;
            block.ReadU16(at, &unit);
            parsed.strings_[i] += static_cast<char16_t>(unit);
        }
    }
    *out = std::move(parsed);
    return Status::Ok();
}

std::vector<uint8_t> StringTableBlock::Encode() const
{
    std::vector<uint8_t> bytes;
    for (const std::u16string& text : strings_) {
        bytes.push_back(static_cast<uint8_t>(text.size()));
        bytes.push_back(static_cast<uint8_t>(text.size() >> 8));
        for (char16_t unit : text) {
            bytes.push_back(static_cast<uint8_t>(unit));
            bytes.push_back(static_cast<uint8_t>(unit >> 8));
        }
    }
    return bytes;
}
