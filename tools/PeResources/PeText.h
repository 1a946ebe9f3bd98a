// Number formatting for the PE code's error messages.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace pe {

// "0x1A2B".
inline std::string Hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

// "1234 bytes".
inline std::string SizeText(uint64_t count)
{
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

}  // namespace pe
