// What the LZW encoder and decoder share inside storage: the code values and widths.
#pragma once

#include <cstdint>

constexpr uint32_t kClearCode = 256;
constexpr uint32_t kEndCode = 257;
constexpr uint32_t kFirstFreeCode = 258;
constexpr uint32_t kTableSize = 4096;

// w(n): the bit length of n, never less than 9 (12 for anything wider).
inline uint32_t CodeWidth(uint32_t n)
{
    if (n < 512)
        return 9;
    if (n < 1024)
        return 10;
    if (n < 2048)
        return 11;
    return 12;
}
