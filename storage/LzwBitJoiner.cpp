// Joining bit strings, MSB first, into bytes.
#include "LzwBitJoiner.h"

#include <cstddef>

void LzwBitJoiner::Append(const uint8_t* bits, uint64_t bitLength, std::vector<uint8_t>* out)
{
    const uint64_t whole = bitLength / 8;
    const uint32_t rest = static_cast<uint32_t>(bitLength % 8);
    if (pendingBits_ == 0) {
        out->insert(out->end(), bits, bits + whole);
    } else {
        // Each byte completes the pending one and leaves its low bits pending.
        const uint32_t shift = pendingBits_;
        size_t at = out->size();
        out->resize(at + whole);
        uint8_t* to = out->data() + at;
        uint32_t pending = pending_;
        for (uint64_t i = 0; i < whole; ++i) {
            const uint32_t b = bits[i];
            to[i] = static_cast<uint8_t>(pending | b >> shift);
            pending = (b << (8 - shift)) & 0xFF;
        }
        pending_ = static_cast<uint8_t>(pending);
    }
    if (rest > 0) {
        // The first rest bits of the last byte, behind the pending bits.
        const uint32_t b = bits[whole] & (0xFF00u >> rest);
        const uint32_t total = pendingBits_ + rest;
        const uint32_t merged = pending_ | b >> pendingBits_;
        if (total >= 8) {
            out->push_back(static_cast<uint8_t>(merged));
            pending_ = static_cast<uint8_t>((b << (8 - pendingBits_)) & 0xFF);
            pendingBits_ = total - 8;
        } else {
            pending_ = static_cast<uint8_t>(merged);
            pendingBits_ = total;
        }
    }
    bitCount_ += bitLength;
}

void LzwBitJoiner::Finish(std::vector<uint8_t>* out)
{
    if (pendingBits_ > 0)
        out->push_back(pending_);
    pending_ = 0;
    pendingBits_ = 0;
}
