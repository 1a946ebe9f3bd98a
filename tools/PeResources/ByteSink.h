// Where the writer's output goes: appended in pieces, with one look back to fill in the checksum.
#pragma once

#include <cstdint>
#include <vector>

#include "Status.h"

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Appends length bytes.
    virtual Status Write(const uint8_t* bytes, uint32_t length) = 0;
    // Overwrites length bytes at offset, all of them written before. The PE
    // writer does this once, for the 4 checksum bytes, after the last Write.
    virtual Status Rewrite(uint64_t offset, const uint8_t* bytes, uint32_t length) = 0;
};

// Collects the output in memory (tests, small images).
class VectorSink : public ByteSink {
public:
    Status Write(const uint8_t* bytes, uint32_t length) override;
    Status Rewrite(uint64_t offset, const uint8_t* bytes, uint32_t length) override;
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};
