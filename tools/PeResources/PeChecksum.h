// The optional header's CheckSum, computed over a file fed in pieces of any size.
#pragma once

#include <cstdint>

class PeChecksum {
public:
    // The next length bytes of the file. The checksum field itself must be fed as zeros.
    void Add(const uint8_t* bytes, uint32_t length);
    // The value for the bytes fed so far: their 16-bit little-endian words (an
    // odd last byte as a word of its own) added with end-around carry, plus the
    // file length.
    uint32_t Value() const;
    uint64_t Length() const { return length_; }

private:
    uint64_t sum_ = 0;
    uint64_t length_ = 0;
};
