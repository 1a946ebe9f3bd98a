// PE checksum: a ones'-complement sum of 16-bit words, folded at the end, plus the file length.
#include "PeChecksum.h"

namespace {

// The four bytes at p as a little-endian word, assembled byte by byte (the
// compiler makes one load of it).
inline uint32_t LoadU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

void PeChecksum::Add(const uint8_t* bytes, uint32_t length)
{
    // Since 2^16 = 1 modulo 0xFFFF, a 32-bit little-endian word at an even
    // file offset counts as its two 16-bit halves added, and the sum may be
    // taken in any grouping: a byte at an odd offset counts << 8, at an even
    // one as itself. Folding keeps the value modulo 0xFFFF and never turns a
    // non-zero sum into 0, so the result equals adding 16-bit words with
    // end-around carry.
    uint32_t i = 0;
    if (length != 0 && (length_ & 1) != 0) {
        sum_ += uint64_t(bytes[0]) << 8;
        i = 1;
    }
    // At most 2^30 words below 2^32 each: far below 2^64 on top of a folded sum.
    uint64_t words = 0;
    for (; length - i >= 4; i += 4)
        words += LoadU32(bytes + i);
    sum_ += words;
    for (; i < length; ++i)
        sum_ += uint64_t(bytes[i]) << (8 * ((length_ + i) & 1));
    sum_ = (sum_ & 0xFFFFFFFFu) + (sum_ >> 32);
    length_ += length;
}

uint32_t PeChecksum::Value() const
{
    uint64_t sum = sum_;
    while (sum > 0xFFFF)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum) + static_cast<uint32_t>(length_);
}
