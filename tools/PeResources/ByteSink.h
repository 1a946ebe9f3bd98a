// Where written bytes go: appended in order, with earlier bytes patched once their values are known.
#pragma once

#include <cstdint>

#include "Status.h"

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Appends length bytes after everything appended so far.
    virtual Status Append(const uint8_t* data, uint32_t length) = 0;
    // Overwrites length bytes at offset, all of them appended before
    // (offset + length <= Size()); anything else is refused.
    virtual Status Patch(uint64_t offset, const uint8_t* data, uint32_t length) = 0;
    // Makes everything appended and patched final; nothing is appended after.
    virtual Status Finish() = 0;
    // Drops everything written: the next Append starts at offset 0 again.
    virtual Status Restart() = 0;
    // Bytes appended so far.
    virtual uint64_t Size() const = 0;
};
