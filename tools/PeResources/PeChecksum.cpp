// PE checksum: a ones'-complement sum of 16-bit words, folded at the end, plus the file length.
#include "PeChecksum.h"

void PeChecksum::Add(const uint8_t* bytes, uint32_t length)
{
    // Up to 2^32 bytes of at most 0xFF00 each: the sum stays far below 2^64,
    // so folding once at the end gives what folding after every word gives.
    uint32_t i = 0;
    if (length != 0 && (length_ & 1) != 0) {
        sum_ += uint64_t(bytes[0]) << 8;
        i = 1;
    }
    for (; i + 1 < length; i += 2)
        sum_ += uint64_t(bytes[i]) | (uint64_t(bytes[i + 1]) << 8);
    if (i < length)
        sum_ += bytes[i];
    length_ += length;
}

uint32_t PeChecksum::Value() const
{
    uint64_t sum = sum_;
    while (sum > 0xFFFF)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum) + static_cast<uint32_t>(length_);
}
