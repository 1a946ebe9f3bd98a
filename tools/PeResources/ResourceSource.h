// Where the bytes of a resource come from: read in pieces, so that a payload never has to be in memory.
#pragma once

#include <cstdint>

#include "ByteView.h"
#include "Status.h"

class ResourceSource {
public:
    virtual ~ResourceSource() = default;
    // The resource's size in bytes; the writer refuses more than 32 bits hold.
    virtual uint64_t Size() const = 0;
    // Copies the length bytes at offset into buffer; offset + length <= Size().
    // The writer reads from 0 to Size() in order, in pieces of at most 1 MiB;
    // writing the output again starts again at 0.
    virtual Status Read(uint64_t offset, uint8_t* buffer, uint32_t length) = 0;
    // The length bytes at offset where the source already holds them in
    // memory (read in place instead of copied), else null; the same range
    // rules as Read.
    virtual const uint8_t* InPlace(uint64_t offset, uint32_t length) const
    {
        (void)offset;
        (void)length;
        return nullptr;
    }
};

// Bytes in memory that outlive the source.
class MemorySource : public ResourceSource {
public:
    explicit MemorySource(ByteView bytes) : bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.Size(); }
    Status Read(uint64_t offset, uint8_t* buffer, uint32_t length) override;
    const uint8_t* InPlace(uint64_t offset, uint32_t length) const override;

private:
    ByteView bytes_;
};
