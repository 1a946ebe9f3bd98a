// Joining bit strings, MSB first, into bytes.
#pragma once

#include <cstdint>
#include <vector>

// Puts bit strings (MSB first) together, each starting at the bit where the
// one before ended, and hands on whole bytes.
class LzwBitJoiner {
public:
    // Appends bitLength bits from bits; the whole bytes they complete go to the end of *out.
    void Append(const uint8_t* bits, uint64_t bitLength, std::vector<uint8_t>* out);
    // The last, partial byte (0 bits after the joined ones) to the end of *out, if there is one.
    void Finish(std::vector<uint8_t>* out);
    // Bits appended so far.
    uint64_t BitCount() const { return bitCount_; }

private:
    uint8_t pending_ = 0;
    uint32_t pendingBits_ = 0;
    uint64_t bitCount_ = 0;
};
